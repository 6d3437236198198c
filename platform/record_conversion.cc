// Record conversion along a field layout. Character, binary and national
// fields begin with a null-indicator byte (255 null) followed by their text;
// numeric, datetime and interval fields are packed decimals whose first byte
// is 255 when null; 64-bit integer fields are copied as stored.
#include "platform/record_conversion.h"

#include <algorithm>
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

// National characters into single bytes. A character replaced by 191 is
// accepted, and the field is blank-padded behind the text in that case too:
// the character conversion pads only a result without replacements, which
// would leave the old record's bytes in the new field.
int32_t national_to_bytes(ByteSpan target, int32_t t_offset, int32_t t_bytes, ConstByteSpan source,
                          int32_t s_offset, int32_t s_bytes) {
  int32_t written = 0;
  const int32_t rc = charenc_from_units3_len(&written, target, t_offset, t_bytes, kCharFormatLatin1,
                                             source, s_offset, s_bytes);
  if (rc == kCharDone || rc == kCharLatin1Lost) {
    std::memset(target.data() + t_offset + written, ' ', static_cast<size_t>(t_bytes - written));
  }
  return char_status(rc);
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
      c = {10, digits_of_int64(scale, precision), 0};
      break;
    case 32:
      c = {9, digits_of_int64(scale, precision), 0};
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

namespace {

// The length field of a varying value: a packed decimal filling `size` bytes.
value_descriptor length_field(int32_t offset, int32_t size) {
  return value_descriptor{offset, 2 * size - 3, 0, 0};
}

// The binary copy; a varying target also receives the copied length, read
// from the source's length field when the source is varying.
int32_t convert_binary(ByteSpan target, int32_t t_offset, int32_t t_bytes, ConstByteSpan source,
                       int32_t s_offset, int32_t s_bytes, std::span<const int32_t> e) {
  const bool varying_target = e[LAY_NEW_TYPE] == 30 && e[LAY_NEW_LENGTH_FIELD_SIZE] > 0;
  const value_descriptor t_len =
      length_field(e[LAY_NEW_LENGTH_FIELD], e[LAY_NEW_LENGTH_FIELD_SIZE]);
  if (varying_target && !field_fits(target, t_len.offset, int64_t{e[LAY_NEW_LENGTH_FIELD_SIZE]})) {
    return kLayoutOutsideRecord;
  }
  if (source[s_offset] == kNull) {
    target[t_offset] = kNull;
    if (varying_target) decimal_set_null(target, t_len);
    return 0;
  }
  int32_t length = s_bytes;
  if (e[LAY_OLD_TYPE] == 30 && e[LAY_OLD_LENGTH_FIELD_SIZE] > 0) {
    const value_descriptor s_len =
        length_field(e[LAY_OLD_LENGTH_FIELD], e[LAY_OLD_LENGTH_FIELD_SIZE]);
    if (!field_fits(source, s_len.offset, int64_t{e[LAY_OLD_LENGTH_FIELD_SIZE]})) {
      return kLayoutOutsideRecord;
    }
    int32_t rc = decimal_to_int(&length, source, s_len);
    if (rc == kDecimalNull)
      length = 0;
    else if (rc != 0)
      return rc + kLengthFieldBase;
    length = std::clamp(length, 0, s_bytes);
  }
  target[t_offset] = source[s_offset];
  int32_t rc = copy_padded(target, t_offset + 1, t_bytes, source, s_offset + 1, s_bytes, 0);
  if (rc != 0 || !varying_target) return rc;
  rc = int_to_decimal(target, t_len, std::min(length, t_bytes));
  return rc == 0 ? 0 : rc + kLengthFieldBase;
}

}  // namespace

void value_convert(int32_t* status, ByteSpan target, int32_t target_offset,
                   std::span<const int32_t> entry, ConstByteSpan source, int32_t source_offset) {
  if (entry.size() < LAY_ENTRY_WORDS) {
    *status = kConvertBadType;
    return;
  }
  const int32_t t_type = entry[LAY_NEW_TYPE], s_type = entry[LAY_OLD_TYPE];
  const int32_t t_len = entry[LAY_NEW_LENGTH], s_len = entry[LAY_LENGTH];
  ConversionClass tc, sc;
  if (type_conversion_class(t_type, entry[LAY_NEW_PRECISION], entry[LAY_NEW_PRECISION],
                            entry[LAY_NEW_SCALE], &tc) != 0 ||
      type_conversion_class(s_type, entry[LAY_OLD_PRECISION], entry[LAY_OLD_PRECISION],
                            entry[LAY_OLD_SCALE], &sc) != 0) {
    *status = kConvertBadType;
    return;
  }
  const bool decimal_pair =
      (tc.cls == 2 && sc.cls == 2) || (tc.cls == sc.cls && tc.cls >= 4 && tc.cls <= 8);
  // Text into single-byte or national characters, binary into binary.
  const bool indicator_pair = ((tc.cls == 1 || tc.cls == 11) && (sc.cls == 1 || sc.cls == 11)) ||
                              (tc.cls == 3 && sc.cls == 3);
  const bool int64_pair = tc.cls == sc.cls && (tc.cls == 9 || tc.cls == 10);
  if (!decimal_pair && !indicator_pair && !int64_pair) {
    *status = kConvertBadPair;
    return;
  }
  // Each value stays inside its own field: the record is cut behind it.
  if (t_len < 1 || s_len < 1 || !field_fits(target, target_offset, t_len) ||
      !field_fits(source, source_offset, s_len)) {
    *status = kLayoutOutsideRecord;
    return;
  }
  if (decimal_pair) {
    // The class gives the stored decimal's precision and scale (an interval's
    // leading precision becomes its total precision).
    const value_descriptor t{target_offset, tc.external, tc.scale, 0};
    const value_descriptor s{source_offset, sc.external, sc.scale, 0};
    ByteSpan t_field = target.first(static_cast<size_t>(target_offset) + t_len);
    ConstByteSpan s_field = source.first(static_cast<size_t>(source_offset) + s_len);
    if (source[source_offset] == kNull) {
      *status = decimal_set_null(t_field, t) == 0 ? 0 : kLayoutOutsideRecord;
      return;
    }
    *status = convert_decimal(t_field, t, s_field, s, t_type, tc.cls == 2);
    return;
  }
  if (int64_pair) {  // 64-bit values, as stored
    *status = copy_padded(target, target_offset, t_len, source, source_offset, s_len, 0);
    return;
  }
  // Indicator byte, then the text.
  const int32_t t_bytes = t_len - 1, s_bytes = s_len - 1;
  if (tc.cls == 3 && sc.cls == 3) {
    *status = convert_binary(target, target_offset, t_bytes, source, source_offset, s_bytes, entry);
    return;
  }
  target[target_offset] = source[source_offset];
  if (source[source_offset] == kNull) {
    *status = 0;
    return;
  }
  int32_t rc;
  if (tc.cls == 1 && sc.cls == 1) {
    rc = copy_padded(target, target_offset + 1, t_bytes, source, source_offset + 1, s_bytes, ' ');
  } else if (tc.cls == 1 && sc.cls == 11) {
    rc = national_to_bytes(target, target_offset + 1, t_bytes, source, source_offset + 1, s_bytes);
  } else {  // into national characters
    rc = charenc_to_units3(target, target_offset + 1, t_bytes, source, source_offset + 1, s_bytes,
                           sc.cls == 1 ? 1 : 3);
    rc = char_status(rc);
  }
  *status = rc;
}

void row_layout_copy(int32_t* status, const RowLayout& layout, ByteSpan record) {
  ByteSpan rec = clip_field(record, 0, layout.record_length);
  std::memset(rec.data(), 0, rec.size());
  *status = 0;
  int32_t pos = 0;
  for (size_t e = 0; e + 1 <= layout.words.size(); e += LAY_ENTRY_WORDS) {
    const int32_t* w = &layout.words[e];
    if (w[LAY_KIND] == -1) return;
    if (e + LAY_ENTRY_WORDS > layout.words.size()) break;
    const int32_t advance =
        (w[LAY_KIND] == 4 || w[LAY_KIND] == 5) ? w[LAY_NEW_LENGTH] : w[LAY_LENGTH];
    if (advance < 0) break;
    if (w[LAY_KIND] == 3) {
      // The layout's data is an image of the new record.
      ConstByteSpan from = clip_field(layout.data, pos, advance);
      if (static_cast<int32_t>(from.size()) != advance || !field_fits(rec, pos, advance)) {
        *status = kLayoutOutsideRecord;
        return;
      }
      std::memcpy(rec.data() + pos, from.data(), from.size());
    }
    pos += advance;
  }
  *status = kLayoutOutsideRecord;  // no end marker inside the layout
}

namespace {

// A kind-2 step: the sequence's next value into the step's field at pos.
int32_t store_sequence_value(std::span<int32_t> q, const int32_t* w, ByteSpan target, int32_t pos) {
  if (q.size() < static_cast<size_t>(SEQ_WORDS)) return kConvertOverflow;
  sequence_next_value(&q[SEQ_VALUE], 1, &q[SEQ_STATE], q[SEQ_START], q[SEQ_INCREMENT], q[SEQ_LIMIT],
                      &q[SEQ_CYCLES], 1);
  // An exhausted sequence keeps a value it has handed out already (the last
  // one, or the start it came back to): storing it would give two records
  // the same value of a column the sequence keeps unique.
  if (q[SEQ_STATE] > 0) return kConvertSequenceExhausted;
  const int32_t length = w[LAY_LENGTH];
  const value_descriptor d{pos, w[LAY_OLD_PRECISION], w[LAY_OLD_SCALE], 0};
  if (length < 0 || !field_fits(target, pos, length) ||
      int_to_decimal(target.first(static_cast<size_t>(pos) + length), d, q[SEQ_VALUE]) != 0) {
    return kConvertOverflow;
  }
  return 0;
}

}  // namespace

void row_layout_convert(int32_t* status, const RowLayout& layout, ByteSpan target,
                        ConstByteSpan source) {
  *status = 0;
  int32_t pos = 0;
  for (size_t e = 0; e + 1 <= layout.words.size(); e += LAY_ENTRY_WORDS) {
    const int32_t* w = &layout.words[e];
    if (w[LAY_KIND] == -1) return;
    if (e + LAY_ENTRY_WORDS > layout.words.size()) break;
    const int32_t length = w[LAY_LENGTH];
    int32_t advance = length;
    switch (w[LAY_KIND]) {
      case 1:
        *status = 1;  // the record asks for a generated key
        break;
      case 2: {
        const int32_t rc = store_sequence_value(layout.sequence, w, target, pos);
        if (rc != 0) {
          *status = rc;
          return;
        }
        break;
      }
      case 3:
        break;
      case 4: {
        int32_t rc = 0;
        value_convert(&rc, target, pos, std::span<const int32_t>(w, LAY_ENTRY_WORDS), source,
                      w[LAY_SOURCE_POS]);
        if (rc != 0) {
          *status = rc;
          return;
        }
        advance = w[LAY_NEW_LENGTH];
        break;
      }
      case 5:
        advance = w[LAY_NEW_LENGTH];
        break;
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
    if (advance < 0) break;
    pos += advance;
  }
  *status = kLayoutOutsideRecord;  // no end marker inside the layout
}
