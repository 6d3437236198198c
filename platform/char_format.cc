// Character formats: conversions into and out of 3-byte characters, fills,
// scans and compares. Conversions never fail on bad text: they replace what
// they cannot carry and say so in the result code.
#include "platform/char_format.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kBlankCode = 0x20;

// One unit of the format at p, as a number (code unit or code point).
uint32_t load_unit(const uint8_t* p, int32_t format) {
  switch (format) {
    case kCharFormatLatin1:
      return p[0];
    case kCharFormatUtf16:
      return load_le16(p);
    case kCharFormatUnits3:
      return load_be24(p);
    default:
      return load_le32(p);
  }
}

void store_unit(uint8_t* p, uint32_t value, int32_t format) {
  switch (format) {
    case kCharFormatLatin1:
      p[0] = static_cast<uint8_t>(value);
      break;
    case kCharFormatUtf16:
      store_le16(p, static_cast<uint16_t>(value));
      break;
    case kCharFormatUnits3:
      store_be24(p, value);
      break;
    default:
      store_le32(p, value);
  }
}

// Writes the unit value into every whole unit of the field; a trailing part
// of a unit stays untouched. After the first unit the field copies itself in
// doubling pieces, so long fills move whole words.
void fill_units(ByteSpan field, uint32_t value, int32_t format) {
  const size_t unit = static_cast<size_t>(char_unit_bytes(format));
  const size_t total = field.size() - field.size() % unit;
  if (total == 0) return;
  store_unit(field.data(), value, format);
  for (size_t done = unit; done < total;) {
    const size_t piece = std::min(done, total - done);
    std::memcpy(field.data() + done, field.data(), piece);
    done += piece;
  }
}

void pad_units(ByteSpan field, int32_t format) {
  fill_units(field, kBlankCode, format);
}

// True when a whole unit from `from` on is not the format's blank.
bool rest_has_nonblank(ConstByteSpan s, size_t from, int32_t format) {
  const size_t unit = static_cast<size_t>(char_unit_bytes(format));
  for (size_t i = from; i + unit <= s.size(); i += unit) {
    if (load_unit(&s[i], format) != kBlankCode) return true;
  }
  return false;
}

bool is_high_surrogate(uint32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(uint32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

// Fields of a conversion, checked whole against their areas.
bool conversion_fields(ByteSpan target, int32_t t_offset, int32_t t_length, ConstByteSpan source,
                       int32_t s_offset, int32_t s_length, ByteSpan* t, ConstByteSpan* s) {
  const int64_t tl = std::max<int32_t>(t_length, 0);
  const int64_t sl = std::max<int32_t>(s_length, 0);
  if (!field_fits(target, t_offset, tl) || !field_fits(source, s_offset, sl)) return false;
  *t = target.subspan(static_cast<size_t>(t_offset), static_cast<size_t>(tl));
  *s = source.subspan(static_cast<size_t>(s_offset), static_cast<size_t>(sl));
  return true;
}

int32_t into_units3(ByteSpan t, ConstByteSpan s, int32_t format) {
  const size_t unit = static_cast<size_t>(char_unit_bytes(format));
  const size_t source_end = s.size() - s.size() % unit;
  const size_t target_chars = t.size() / 3;
  size_t ti = 0, si = 0;
  bool replaced = false;
  while (ti < target_chars && si < source_end) {
    uint32_t cp = load_unit(&s[si], format);
    si += unit;
    if (format == kCharFormatUtf16) {
      if (is_high_surrogate(cp) && si < source_end && is_low_surrogate(load_le16(&s[si]))) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (load_le16(&s[si]) - 0xDC00);
        si += unit;
      }
    } else if (format != kCharFormatLatin1 && !valid_code_point(cp)) {
      cp = kReplacementChar;
      replaced = true;
    }
    store_be24(&t[ti * 3], cp);
    ++ti;
  }
  if (ti < target_chars) {
    pad_units(t.subspan(ti * 3), kCharFormatUnits3);
  } else if (rest_has_nonblank(s.first(source_end), si, format)) {
    return kCharCut;
  }
  return replaced ? kCharInvalid : kCharDone;
}

// Out of format 3 into format 1, 2 or 4; *written gets the bytes written.
int32_t out_of_units3(ByteSpan t, int32_t format, ConstByteSpan s, bool pad, size_t* written) {
  const size_t unit = static_cast<size_t>(char_unit_bytes(format));
  const size_t target_end = t.size() - t.size() % unit;
  const size_t source_end = s.size() - s.size() % 3;
  size_t ti = 0, si = 0;
  int32_t rc = kCharDone;
  while (ti < target_end && si < source_end) {
    uint32_t cp = load_be24(&s[si]);
    si += 3;
    if (format == kCharFormatLatin1 && cp > 255) {
      cp = kLatin1Replacement;
      rc = kCharLatin1Lost;
    } else if (format == kCharFormatUtf16 && cp > 0xFFFF) {
      store_le16(&t[ti], static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      ti += 2;
      if (ti == target_end) {  // no room for the low unit
        *written = ti;
        return kCharCut;
      }
      cp = 0xDC00 + (cp & 0x3FF);
    }
    store_unit(&t[ti], cp, format);
    ti += unit;
  }
  *written = ti;
  if (rest_has_nonblank(s.first(source_end), si, kCharFormatUnits3)) return kCharCut;
  if (rc == kCharDone && pad) pad_units(t.subspan(ti), format);
  return rc;
}

// The scans' shared walk: the first character met (in the scan's direction)
// for which `hit` is true.
template <typename Hit>
int32_t scan_chars(ConstByteSpan base, int32_t offset, int32_t n_chars, int32_t format, Hit hit) {
  const int32_t unit = char_unit_bytes(format);
  if (unit == 0) return kCharBadFormat;
  const int64_t count = n_chars < 0 ? -static_cast<int64_t>(n_chars) : n_chars;
  if (!field_fits(base, offset, count * unit)) return kCharBadField;
  const uint8_t* p = base.data() + offset;
  if (n_chars >= 0) {
    for (int64_t i = 0; i < count; ++i) {
      if (hit(load_unit(p + i * unit, format))) return static_cast<int32_t>(i);
    }
    return n_chars;
  }
  for (int64_t i = count - 1; i >= 0; --i) {
    if (hit(load_unit(p + i * unit, format))) return static_cast<int32_t>(i);
  }
  return -1;
}

}  // namespace

bool valid_code_point(uint32_t cp) {
  if (cp >= 0x110000) return false;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  if (cp >= 0xFDD0 && cp <= 0xFDEF) return false;
  return (cp & 0xFFFF) < 0xFFFE;
}

int32_t char_unit_bytes(int32_t format) {
  return format >= kCharFormatLatin1 && format <= kCharFormatUtf32 ? format : 0;
}

int32_t charenc_fill(ByteSpan base, int32_t offset, int32_t n_chars, uint32_t code_point,
                     int32_t format) {
  const int32_t unit = char_unit_bytes(format);
  if (unit == 0) return kCharBadFormat;
  const int64_t bytes = static_cast<int64_t>(std::max<int32_t>(n_chars, 0)) * unit;
  if (!field_fits(base, offset, bytes)) return kCharBadField;
  fill_units(base.subspan(static_cast<size_t>(offset), static_cast<size_t>(bytes)), code_point,
             format);
  return kCharDone;
}

int32_t charenc_to_units3(ByteSpan target, int32_t t_offset, int32_t t_length, ConstByteSpan source,
                          int32_t s_offset, int32_t s_length, int32_t source_format) {
  if (char_unit_bytes(source_format) == 0) return kCharBadFormat;
  ByteSpan t;
  ConstByteSpan s;
  if (!conversion_fields(target, t_offset, t_length, source, s_offset, s_length, &t, &s)) {
    return kCharBadField;
  }
  return into_units3(t, s, source_format);
}

int32_t charenc_copy_units3(ByteSpan target, int32_t t_offset, int32_t t_length,
                            ConstByteSpan source, int32_t s_offset, int32_t s_length) {
  return charenc_to_units3(target, t_offset, t_length, source, s_offset, s_length,
                           kCharFormatUnits3);
}

int32_t charenc_from_units3(ByteSpan target, int32_t t_offset, int32_t t_length,
                            int32_t target_format, ConstByteSpan source, int32_t s_offset,
                            int32_t s_length) {
  if (char_unit_bytes(target_format) == 0) return kCharBadFormat;
  ByteSpan t;
  ConstByteSpan s;
  if (!conversion_fields(target, t_offset, t_length, source, s_offset, s_length, &t, &s)) {
    return kCharBadField;
  }
  if (target_format == kCharFormatUnits3) return into_units3(t, s, kCharFormatUnits3);
  size_t written = 0;
  return out_of_units3(t, target_format, s, true, &written);
}

int32_t charenc_from_units3_len(int32_t* out_length, ByteSpan target, int32_t t_offset,
                                int32_t t_length, int32_t target_format, ConstByteSpan source,
                                int32_t s_offset, int32_t s_length) {
  *out_length = 0;
  if (char_unit_bytes(target_format) == 0 || target_format == kCharFormatUnits3) {
    return kCharBadFormat;
  }
  ByteSpan t;
  ConstByteSpan s;
  if (!conversion_fields(target, t_offset, t_length, source, s_offset, s_length, &t, &s)) {
    return kCharBadField;
  }
  size_t written = 0;
  const int32_t rc = out_of_units3(t, target_format, s, false, &written);
  *out_length = static_cast<int32_t>(written);
  return rc;
}

int32_t charenc_units4_to_bytes(ByteSpan target, int32_t t_offset, ConstByteSpan source,
                                int32_t s_offset, int32_t n) {
  const int64_t count = std::max<int32_t>(n, 0);
  if (!field_fits(target, t_offset, count) || !field_fits(source, s_offset, count * 4)) {
    return kCharBadField;
  }
  int32_t rc = kCharDone;
  for (int64_t i = 0; i < count; ++i) {
    uint32_t cp = load_le32(&source[static_cast<size_t>(s_offset + i * 4)]);
    if (cp > 255) {
      cp = kLatin1Replacement;
      rc = kCharLatin1Lost;
    }
    target[static_cast<size_t>(t_offset + i)] = static_cast<uint8_t>(cp);
  }
  return rc;
}

int32_t charenc_skip_char(ConstByteSpan base, int32_t offset, int32_t n_chars, uint32_t code_point,
                          int32_t format) {
  return scan_chars(base, offset, n_chars, format,
                    [code_point](uint32_t unit) { return unit != code_point; });
}

int32_t charenc_find_char(ConstByteSpan base, int32_t offset, int32_t n_chars, uint32_t code_point,
                          int32_t format) {
  return scan_chars(base, offset, n_chars, format,
                    [code_point](uint32_t unit) { return unit == code_point; });
}

int32_t charenc_get_unit3(ConstByteSpan base, int32_t offset) {
  if (!field_fits(base, offset, 3)) return -1;
  return static_cast<int32_t>(load_be24(&base[static_cast<size_t>(offset)]));
}

int32_t charenc_compare_units3(ConstByteSpan a, int32_t a_offset, int32_t a_chars, ConstByteSpan b,
                               int32_t b_offset, int32_t b_chars) {
  ConstByteSpan x = clip_field(a, a_offset, static_cast<int64_t>(a_chars) * 3);
  ConstByteSpan y = clip_field(b, b_offset, static_cast<int64_t>(b_chars) * 3);
  x = x.first(x.size() - x.size() % 3);
  y = y.first(y.size() - y.size() % 3);
  // Code points in 3 bytes, most significant first, order as their bytes do.
  const size_t common = std::min(x.size(), y.size());
  for (size_t i = 0; i < common; ++i) {
    if (x[i] != y[i]) return x[i] > y[i] ? kTruthGreater : kTruthLess;
  }
  const bool a_longer = x.size() > y.size();
  const ConstByteSpan rest = a_longer ? x.subspan(common) : y.subspan(common);
  // Unlike a blank-padded byte compare, any non-blank extra character makes
  // the longer value the greater, a control character below the blank too.
  for (size_t i = 0; i < rest.size(); i += 3) {
    if (load_be24(&rest[i]) != kBlankCode) return a_longer ? kTruthGreater : kTruthLess;
  }
  return kTruthEqual;
}

int32_t charenc_fill_units3(ByteSpan field, int32_t offset, int32_t n_chars, ConstByteSpan source,
                            int32_t s_offset, int32_t source_format) {
  const int32_t unit = char_unit_bytes(source_format);
  if (unit == 0) return kCharBadFormat;
  if (!field_fits(source, s_offset, unit)) return kCharBadField;
  const uint32_t cp = load_unit(&source[static_cast<size_t>(s_offset)], source_format);
  return charenc_fill(field, offset, n_chars, cp, kCharFormatUnits3);
}

int32_t charenc_find_units3(ConstByteSpan text, int32_t t_offset, int32_t n_chars,
                            ConstByteSpan pattern, int32_t p_offset, int32_t m_chars) {
  if (n_chars < 1 || m_chars < 1) return 0;
  const ConstByteSpan t = clip_field(text, t_offset, static_cast<int64_t>(n_chars) * 3);
  const ConstByteSpan p = clip_field(pattern, p_offset, static_cast<int64_t>(m_chars) * 3);
  if (static_cast<int64_t>(p.size()) != static_cast<int64_t>(m_chars) * 3) return 0;
  const int32_t text_bytes = static_cast<int32_t>(t.size() - t.size() % 3);
  const int32_t pattern_bytes = static_cast<int32_t>(p.size());
  // A match that starts inside a character is no match; look again from the
  // byte after its start.
  int32_t from = 0;
  while (from < text_bytes) {
    const int32_t end = mdr_find_bytes(t, from, text_bytes - from, p, 0, pattern_bytes);
    if (end == 0) return 0;
    const int32_t start = from + end - pattern_bytes;
    if (start % 3 == 0) return start / 3 + 1;
    from = start + 1;
  }
  return 0;
}
