// Record conversion along a field layout. Character, binary and national
// fields begin with a null-indicator byte (255 null) followed by their text;
// numeric, datetime and interval fields are packed decimals whose first byte
// is 255 when null; 64-bit integer fields are copied as stored.
#include "platform/record_conversion.h"

#include <cstring>

#include "platform/char_format.h"
#include "platform/numeric_services.h"

namespace {

constexpr uint8_t kNull = 255;

int32_t map_decimal_error(int32_t rc) {
  if (rc == kDecimalOverflowPos || rc == kDecimalOverflowNeg) return kConvertOverflow;
  if (rc < -1) return rc - 10300;
  return 0;
}

bool is_approximate_type(int32_t type) {
  return type == 4 || (type >= 8 && type <= 10);
}
bool is_integer_type(int32_t type) {
  return type == 6 || type == 7 || type == 28 || (type >= 8 && type <= 10);
}

// Numeric and datetime values: assign to the target precision, then cut to
// its precision and scale when the assignment was exact or the target is
// approximate.
int32_t convert_decimal(ByteSpan target, const value_descriptor& t, ConstByteSpan source,
                        const value_descriptor& s, int32_t target_type, bool numeric) {
  int32_t rc = decimal_assign(target, t, source, s);
  // The cut to the target's scale runs after a lossy assignment as well: the
  // assignment keeps the source's exponent, which the target's scale may not
  // allow (123456 into DECIMAL(5,2) must overflow, not store 123450).
  if (rc == 0 || rc == kDecimalDigitsLost || (numeric && is_approximate_type(target_type))) {
    int32_t r2 = decimal_round(target, t, t.precision, t.scale);
    if (r2 < -1) rc = r2;
  }
  rc = map_decimal_error(rc);
  if (rc == 0 && numeric && is_integer_type(target_type)) {
    numeric_range_check(&rc, target, t, target_type);
  }
  return rc;
}

// Copies the bytes after the null indicator with fill padding; cut bytes
// that are not the fill give -10311.
int32_t copy_padded(ByteSpan target, int32_t t_offset, int32_t t_length, ConstByteSpan source,
                    int32_t s_offset, int32_t s_length, uint8_t fill) {
  ByteSpan t = clip_field(target, t_offset, t_length);
  ConstByteSpan s = clip_field(source, s_offset, s_length);
  if (static_cast<int32_t>(t.size()) != t_length || static_cast<int32_t>(s.size()) != s_length) {
    return kLayoutOutsideRecord;
  }
  size_t n = std::min(t.size(), s.size());
  std::memmove(t.data(), s.data(), n);
  std::memset(t.data() + n, fill, t.size() - n);
  for (size_t i = n; i < s.size(); ++i) {
    if (s[i] != fill) return kConvertTruncated;
  }
  return 0;
}

// Replaced characters (-1, -2) are accepted; cut characters are not.
int32_t char_status(int32_t rc) {
  if (rc == 1) return kConvertTruncated;
  return rc < -2 ? kLayoutOutsideRecord : 0;
}

}  // namespace

int32_t type_conversion_class(int32_t type, int32_t length, int32_t precision, int32_t scale,
                              ConversionClass* out) {
  ConversionClass c;
  switch (type) {
    case 1:
    case 5:
      c = {1, length + 1, 0};
      break;
    case 2:
    case 3:
    case 11:
      c = {2, precision, scale};
      break;
    case 4:
      c = {2, precision, -1, true};
      break;
    case 6:
    case 7:
    case 28:
      c = {2, precision, scale, false, true};
      break;
    case 8:
    case 9:
    case 10:
      c = {2, precision, -1, true, true};
      break;
    case 12:
      c = {4, length, 0};
      break;
    case 13:
      c = {5, length, scale};
      break;
    case 14:
      c = {6, length, scale};
      break;
    case 15:
    case 21:
      c = {8, length + 2, 0};
      break;
    case 16:
      c = {8, length, 0};
      break;
    case 17:
    case 22:
    case 23:
      c = {7, length + 5, 0};
      break;
    case 18:
    case 25:
      c = {7, length + 4, 0};
      break;
    case 19:
      c = {7, length + 2, 0};
      break;
    case 20:
      c = {7, length + scale, scale};
      break;
    case 24:
      c = {7, length + scale + 5, scale};
      break;
    case 26:
      c = {7, length + scale + 4, scale};
      break;
    case 27:
      c = {7, length + scale + 2, scale};
      break;
    case 29:
    case 30:
      c = {3, length + 1, 0};
      break;
    case 31:
      c = {10, 19, 0};
      break;  // the digits of any 64-bit value fit 19
    case 32:
      c = {9, 19, 0};
      break;
    case 34:
    case 35:
      c = {11, 3 * length + 1, 0};
      break;
    default:
      return kConvertBadType;
  }
  *out = c;
  return 0;
}

void value_convert(int32_t* status, ByteSpan target, int32_t target_offset,
                   std::span<const int32_t> entry, ConstByteSpan source, int32_t source_offset) {
  if (entry.size() < LAY_ENTRY_WORDS) {
    *status = kConvertBadType;
    return;
  }
  const int32_t t_type = entry[LAY_TYPE], s_type = entry[LAY_SOURCE_TYPE];
  const int32_t t_len = entry[LAY_LENGTH], s_len = entry[LAY_SOURCE_LENGTH];
  ConversionClass tc, sc;
  if (type_conversion_class(t_type, t_len, entry[LAY_PRECISION], entry[LAY_SCALE], &tc) != 0 ||
      type_conversion_class(s_type, s_len, entry[LAY_SOURCE_PRECISION], entry[LAY_SOURCE_SCALE],
                            &sc) != 0) {
    *status = kConvertBadType;
    return;
  }
  const value_descriptor t{target_offset, entry[LAY_PRECISION],
                           tc.approximate ? -1 : entry[LAY_SCALE], 0};
  const value_descriptor s{source_offset, entry[LAY_SOURCE_PRECISION],
                           sc.approximate ? -1 : entry[LAY_SOURCE_SCALE], 0};
  const bool decimal_pair =
      (tc.cls == 2 && sc.cls == 2) || (tc.cls == sc.cls && tc.cls >= 4 && tc.cls <= 8);
  const bool indicator_pair =
      (tc.cls == 1 || tc.cls == 3 || tc.cls == 11) && (sc.cls == 1 || sc.cls == 3 || sc.cls == 11);
  const bool int64_pair = tc.cls == sc.cls && (tc.cls == 9 || tc.cls == 10);
  if (!decimal_pair && !indicator_pair && !int64_pair) {
    *status = kConvertBadPair;
    return;
  }
  if (decimal_pair) {
    if (!field_fits(source, source_offset, 1) || !field_fits(target, target_offset, 1)) {
      *status = kLayoutOutsideRecord;
      return;
    }
    if (source[source_offset] == kNull) {
      *status = decimal_set_null(target, t) == 0 ? 0 : kLayoutOutsideRecord;
      return;
    }
    *status = convert_decimal(target, t, source, s, t_type, tc.cls == 2);
    return;
  }
  if (int64_pair) {  // 64-bit integers, as stored
    *status = copy_padded(target, target_offset, t_len, source, source_offset, s_len, 0);
    return;
  }
  // Indicator byte, then the text.
  const int32_t t_bytes = tc.cls == 11 ? 3 * t_len : t_len;
  const int32_t s_bytes = sc.cls == 11 ? 3 * s_len : s_len;
  if (!field_fits(target, target_offset, int64_t{t_bytes} + 1) ||
      !field_fits(source, source_offset, int64_t{s_bytes} + 1)) {
    *status = kLayoutOutsideRecord;
    return;
  }
  target[target_offset] = source[source_offset];
  if (source[source_offset] == kNull) {
    *status = 0;
    return;
  }
  int32_t rc;
  if (tc.cls == 1 && sc.cls == 1) {
    rc = copy_padded(target, target_offset + 1, t_len, source, source_offset + 1, s_len, ' ');
  } else if (tc.cls == 3 && sc.cls == 3) {
    rc = copy_padded(target, target_offset + 1, t_len, source, source_offset + 1, s_len, 0);
  } else if (tc.cls == 1 && sc.cls == 11) {
    rc = char_status(charenc_from_units3(target, target_offset + 1, t_bytes, 1, source,
                                         source_offset + 1, s_bytes));
  } else if (tc.cls == 11 && (sc.cls == 1 || sc.cls == 11)) {
    rc = charenc_to_units3(target, target_offset + 1, t_bytes, source, source_offset + 1, s_bytes,
                           sc.cls == 1 ? 1 : 3);
    rc = char_status(rc);
  } else {
    rc = kConvertBadPair;
  }
  *status = rc;
}

void row_layout_copy(int32_t* status, const RowLayout& layout, ByteSpan record) {
  ByteSpan rec = clip_field(record, 0, layout.record_length);
  std::memset(rec.data(), 0, rec.size());
  *status = 0;
  int32_t pos = 0;
  for (size_t e = 0; e + LAY_ENTRY_WORDS <= layout.words.size(); e += LAY_ENTRY_WORDS) {
    const int32_t* w = &layout.words[e];
    switch (w[LAY_KIND]) {
      case -1:
        return;
      case 3: {
        ConstByteSpan from = clip_field(layout.data, w[LAY_DATA_OFFSET], w[LAY_LENGTH]);
        if (static_cast<int32_t>(from.size()) != w[LAY_LENGTH] ||
            !field_fits(rec, pos, w[LAY_LENGTH])) {
          *status = kLayoutOutsideRecord;
          return;
        }
        std::memcpy(rec.data() + pos, from.data(), from.size());
        pos += w[LAY_LENGTH];
        break;
      }
      case 4:
      case 5:
        pos += w[LAY_STORED_LENGTH];
        break;
      default:
        pos += w[LAY_LENGTH];
        break;
    }
  }
}

void row_layout_convert(int32_t* status, const RowLayout& layout, ByteSpan target,
                        ConstByteSpan source) {
  *status = 0;
  int32_t pos = 0;
  for (size_t e = 0; e + LAY_ENTRY_WORDS <= layout.words.size(); e += LAY_ENTRY_WORDS) {
    int32_t* w = &layout.words[e];
    const int32_t length = w[LAY_LENGTH];
    switch (w[LAY_KIND]) {
      case -1:
        return;
      case 1:
        *status = 1;  // the record asks for a generated key
        break;
      case 2: {
        sequence_next_value(&w[LAY_SEQ_VALUE], 1, &w[LAY_SEQ_STATE], w[LAY_SEQ_START],
                            w[LAY_SEQ_INCREMENT], w[LAY_SEQ_LIMIT], &w[LAY_SEQ_CYCLES], 1);
        const value_descriptor d{pos, w[LAY_PRECISION], w[LAY_SCALE], 0};
        if (!field_fits(target, pos, length) || int_to_decimal(target, d, w[LAY_SEQ_VALUE]) != 0) {
          *status = kConvertOverflow;
          return;
        }
        break;
      }
      case 3:
      case 5:
        break;
      case 4: {
        int32_t rc = 0;
        value_convert(&rc, target, pos, std::span<const int32_t>(w, LAY_ENTRY_WORDS), source,
                      w[LAY_SOURCE_POS]);
        if (rc != 0) {
          *status = rc;
          return;
        }
        break;
      }
      case 6:
      case 7:
      case 8:
      case 9:
      case 10: {
        ConstByteSpan from = clip_field(source, w[LAY_SOURCE_POS], length);
        if (static_cast<int32_t>(from.size()) != length || !field_fits(target, pos, length)) {
          *status = kLayoutOutsideRecord;
          return;
        }
        if (w[LAY_KIND] == 7 && length > 0 && from[0] == kNull) {
          *status = kConvertNull;
          return;
        }
        std::memcpy(target.data() + pos, from.data(), from.size());
        break;
      }
      default:
        break;
    }
    pos += length;
  }
}
