// Conversion of a column value into an index key field: upper or lower case,
// the phonetic key, or the translation through an installed collation, and
// for a negative code the complement that makes the key sort descending.
// XLConvertPlain does the same for a bare string (no indicator, no null).
#include <algorithm>
#include <array>
#include <cstring>

#include "du/collation.h"
#include "platform/soundex.h"

namespace {

int64_t magnitude(int32_t code) {
  return code < 0 ? -int64_t{code} : int64_t{code};
}

void translate(ByteSpan area, int32_t offset, int32_t n, CollationTable table) {
  for (int32_t i = 0; i < n; ++i) area[offset + i] = table[area[offset + i]];
}

void complement(ByteSpan area, int32_t offset, int32_t n) {
  for (int32_t i = 0; i < n; ++i) area[offset + i] ^= 0xFF;
}

// The phonetic key of `length` bytes at `offset` of `source`: six characters
// (the routine also writes an ending NUL, which the key field has no room for).
std::array<uint8_t, XL_PHONETIC_KEY + 1> phonetic_key(ConstByteSpan source, int32_t offset,
                                                      int32_t length) {
  std::array<uint8_t, XL_PHONETIC_KEY + 1> key{};
  mdr_soundex(ByteSpan(key), 0, source, offset, length);
  return key;
}

// Copies the source into the whole target field, blank padded, and changes
// `count` bytes from `from` by the code: case, or the collation `table`.
void copy_and_change(int64_t code, CollationTable table, ByteSpan target, int32_t target_offset,
                     int32_t target_length, ConstByteSpan source, int32_t source_offset,
                     int32_t source_length, int32_t from, int32_t count) {
  mdr_move_pad(target, target_offset, target_length, source, source_offset, source_length, ' ');
  if (count <= 0) return;
  if (code == XL_UPPER_CASE) {
    mdr_upper_bytes(target, from, count);
  } else if (code == XL_LOWER_CASE) {
    mdr_lower_bytes(target, from, count);
  } else {
    translate(target, from, count, table);
  }
}

// The collation table of a code that names one; an empty table for the case
// codes. A status other than 0 when the collation is not there.
int32_t table_for(int32_t* base, int64_t code, int32_t* cache, CollationTable* table) {
  if (code == XL_UPPER_CASE || code == XL_LOWER_CASE) return 0;
  int32_t block = 0;
  const int32_t rc = FindCollationBlock(base, code, cache, &block);
  if (rc == 0) *table = CollationTableOf(base, block);
  return rc;
}

// Builds a present value's field; returns the status and the bytes written.
int32_t convert_present(int32_t* base, int64_t code, int32_t* cache, ByteSpan target,
                        int32_t target_offset, int32_t* length_out, int32_t target_length,
                        ConstByteSpan source, int32_t source_offset, int32_t source_length,
                        int32_t* written) {
  if (code == XL_PHONETIC) {
    const auto key = phonetic_key(source, source_offset + 1, source_length - 1);
    const int32_t n = std::min(XL_PHONETIC_FIELD, target_length);
    if (n > 0) target[target_offset] = 0;
    if (n > 1) std::memcpy(&target[target_offset + 1], key.data(), n - 1);
    *length_out = *written = n;
    return 0;
  }
  static constexpr std::array<uint8_t, COLL_TABLE_BYTES> kNoTable{};
  CollationTable table(kNoTable);
  if (const int32_t rc = table_for(base, code, cache, &table); rc != 0) return rc;
  const int32_t n = std::min(source_length, target_length);
  // The indicator byte is copied as it is; only the bytes behind it change.
  copy_and_change(code, table, target, target_offset, target_length, source, source_offset,
                  source_length, target_offset + 1, n - 1);
  *length_out = n;
  *written = target_length;
  return 0;
}

}  // namespace

void XLConvertValue(int32_t* base, int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                    int32_t target_offset, int32_t* length_out, int32_t target_length,
                    ConstByteSpan source, int32_t source_offset, int32_t source_length) {
  if (!field_fits(target, target_offset, target_length) || source_length < 1 ||
      !field_fits(source, source_offset, source_length)) {
    *length_out = 0;
    *status = XL_BAD_ARGUMENT;
    return;
  }
  *length_out = source_length;
  const int64_t kind = magnitude(code);
  int32_t written = 0;
  if (source[source_offset] == kNullIndicator) {
    // Nulls sort after every value in an ascending key.
    std::memset(target.data() + target_offset, kNullIndicator, target_length);
    written = target_length;
    *length_out = kind == XL_PHONETIC ? std::min(XL_PHONETIC_FIELD, target_length) : target_length;
    *status = XL_NULL_VALUE;
  } else {
    *status = convert_present(base, kind, cache, target, target_offset, length_out, target_length,
                              source, source_offset, source_length, &written);
    if (*status != 0) return;
  }
  // Every byte written is complemented, blank padding included, so that a
  // shorter value still sorts as its blank extension does.
  if (code < 0) complement(target, target_offset, written);
}

void XLConvertPlain(int32_t* base, int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                    int32_t target_offset, int32_t* length_out, int32_t target_length,
                    ConstByteSpan source, int32_t source_offset, int32_t source_length) {
  if (!field_fits(target, target_offset, target_length) ||
      !field_fits(source, source_offset, source_length)) {
    *length_out = 0;
    *status = XL_BAD_ARGUMENT;
    return;
  }
  const int64_t kind = magnitude(code);
  if (kind == XL_PHONETIC) {
    const auto key = phonetic_key(source, source_offset, source_length);
    const int32_t n = std::min(XL_PHONETIC_KEY, target_length);
    if (n > 0) std::memcpy(&target[target_offset], key.data(), n);
    *length_out = n;
    return;
  }
  static constexpr std::array<uint8_t, COLL_TABLE_BYTES> kNoTable{};
  CollationTable table(kNoTable);
  if (const int32_t rc = table_for(base, kind, cache, &table); rc != 0) {
    *length_out = std::min(source_length, target_length);
    *status = rc;
    return;
  }
  const int32_t n = std::min(source_length, target_length);
  copy_and_change(kind, table, target, target_offset, target_length, source, source_offset,
                  source_length, target_offset, n);
  *length_out = n;
}
