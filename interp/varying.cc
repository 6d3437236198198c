// Length fields of varying values: read, written and set null with the
// packed decimal routines, every field checked against the storage first.
#include "interp/varying.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/char_format.h"
#include "platform/packed_decimal.h"

namespace interp {

int32_t LengthPrecision(int32_t maximum) {
  int32_t digits = 1;
  for (int64_t m = maximum; m >= 10; m /= 10) ++digits;
  return digits;
}

int32_t ReadLength(const Run& run, int32_t field, int32_t maximum, int32_t* length) {
  if (field == -1) {
    *length = maximum;
    return 0;
  }
  const value_descriptor d{field, LengthPrecision(maximum)};
  if (!run.fits(field, decimal_bytes(d.precision))) return kDecimalBadArgument;
  const int32_t rc = decimal_to_int(length, run.bytes(), d);
  if (rc == kDecimalNull) {  // not the decoder's placeholder: no caller may copy by it
    *length = 0;
    return 1;
  }
  if (rc < 0) return rc;
  if (*length < 0 || *length > maximum) return kDecimalBadArgument;
  return 0;
}

namespace {

// The stored forms of the lengths a length field of up to 5 digits takes
// most, built once: the string instructions write a length for every value
// they make, and the packed decimal encoder costs more than the rest of
// many of them.
constexpr int32_t kFormedPrecisions = 5;
constexpr int32_t kFormedLengths = 32768;

struct LengthForms {
  std::vector<uint8_t> stored[kFormedPrecisions + 1];
  int32_t count[kFormedPrecisions + 1] = {};
  LengthForms() {
    for (int32_t p = 1, limit = 10; p <= kFormedPrecisions; ++p, limit *= 10) {
      const int32_t width = decimal_bytes(p);
      count[p] = std::min(limit, kFormedLengths);
      stored[p].resize(static_cast<size_t>(count[p] * width));
      for (int32_t n = 0; n < count[p]; ++n)
        int_to_decimal(ByteSpan(stored[p].data(), stored[p].size()), value_descriptor{n * width, p},
                       n);
    }
  }
};

const LengthForms& Forms() {
  static const LengthForms forms;
  return forms;
}

}  // namespace

int32_t WriteLength(Run& run, int32_t field, int32_t maximum, int32_t length) {
  if (field == -1) return 0;
  const value_descriptor d{field, LengthPrecision(maximum)};
  const int32_t width = decimal_bytes(d.precision);
  if (!run.fits(field, width)) return kDecimalBadArgument;
  if (d.precision <= kFormedPrecisions && length >= 0 && length < Forms().count[d.precision]) {
    std::memcpy(run.at(field), Forms().stored[d.precision].data() + length * width,
                static_cast<size_t>(width));
    return 0;
  }
  return int_to_decimal(run.bytes(), d, length);
}

bool SetVaryingNull(Run& run, int32_t value, int32_t maximum, int32_t field, int32_t width) {
  const int64_t bytes = int64_t{width} * maximum;
  if (maximum < 0 || !run.fits(value, bytes + 1)) return false;
  if (field != -1) {
    const value_descriptor d{field, LengthPrecision(maximum)};
    if (!run.fits(field, decimal_bytes(d.precision))) return false;
    decimal_set_null(run.bytes(), d);
  }
  std::memset(run.at(value), 255, static_cast<size_t>(bytes) + 1);
  return true;
}

int32_t ReadWholeNumber(const Run& run, int32_t offset, int32_t precision, int32_t* out) {
  const value_descriptor d{offset, precision};
  if (precision < 1 || precision > kDecimalMaxPrecision ||
      !run.fits(offset, decimal_bytes(precision)))
    return kDecimalBadArgument;
  const int32_t rc = decimal_to_int(out, run.bytes(), d);
  if (rc == kDecimalNull) return 1;
  // *out holds the whole part (0 when the number has none).
  if (rc == kDecimalDigitsLost) return 0;
  return rc < 0 ? rc : 0;
}

namespace {

// The data lengths of two varying values of `width` bytes a unit: 0 with
// both lengths, 1 when either value is null, or a negative status.
int32_t ReadBoth(const Run& run, const int32_t a[3], const int32_t b[3], int64_t width, int32_t* al,
                 int32_t* bl) {
  if (a[1] < 0 || b[1] < 0 || !run.fits(a[0], width * a[1] + 1) ||
      !run.fits(b[0], width * b[1] + 1))
    return kDecimalBadArgument;
  if (run.at(a[0])[0] == 255 || run.at(b[0])[0] == 255) return 1;
  int32_t rc = ReadLength(run, a[2], a[1], al);
  if (rc != 0) return rc;
  return ReadLength(run, b[2], b[1], bl);
}

}  // namespace

int32_t CompareVaryingBytes(const Run& run, const int32_t a[3], const int32_t b[3]) {
  int32_t al = 0, bl = 0;
  const int32_t rc = ReadBoth(run, a, b, 1, &al, &bl);
  if (rc != 0) return rc == 1 ? kTruthUnknown : rc;
  const int32_t c =
      mdr_compare_bytes(run.bytes(), a[0] + 1, run.bytes(), b[0] + 1, std::min(al, bl));
  if (c != 0) return c + kTruthEqual;
  return al < bl ? kTruthLess : al == bl ? kTruthEqual : kTruthGreater;
}

int32_t CompareVaryingChars(const Run& run, const int32_t a[3], const int32_t b[3]) {
  int32_t al = 0, bl = 0;
  const int32_t rc = ReadBoth(run, a, b, 3, &al, &bl);
  if (rc != 0) return rc == 1 ? kTruthUnknown : rc;
  return charenc_compare_units3(run.bytes(), a[0] + 1, al, run.bytes(), b[0] + 1, bl);
}

}  // namespace interp
