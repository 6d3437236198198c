// String function instructions run out of the loop: SUBSTRING, REPEAT,
// REPLACE, RIGHT and TRIM in a byte form and a wide (3-byte character) form,
// POSITION over wide characters, the length of a value, case mapping and
// complementing, hexadecimal text and SOUNDEX. A string operand is a triple
// (value offset with its indicator byte first, maximum length, length field
// or -1); wide lengths count characters. Every handler checks the bytes its
// operands name before it writes, and never writes past a result's maximum.
#include <algorithm>
#include <cstring>
#include <vector>

#include "du/collation.h"
#include "interp/varying.h"
#include "platform/case_map.h"
#include "platform/char_format.h"
#include "platform/packed_decimal.h"
#include "platform/soundex.h"

namespace interp {
namespace {

constexpr int32_t kErrNoFit = -10311;  // a result longer than its maximum, odd hex text
constexpr int32_t kErrNegativeLength = -10312;
constexpr int32_t kErrNegativeSubstring = -10313;
constexpr int32_t kErrTrimLength = -12219;  // the trim string is not one character
constexpr int32_t kErrBadMode = -19020;
constexpr int32_t kWideCopyErrorBase = -10350;
constexpr uint32_t kBlank = ' ';

struct Text {
  int32_t value, maximum, field;
};

Text TextAt(const Run& run, int k) {
  return Text{run.op(k), run.op(k + 1), run.op(k + 2)};
}
bool Inside(const Run& run, const Text& t, int64_t width) {
  return t.maximum >= 0 && run.fits(t.value, width * t.maximum + 1);
}
bool IsNull(const Run& run, const Text& t) {
  return run.at(t.value)[0] == 255;
}
void SetNull(Run& run, const Text& t, int32_t width) {
  if (!SetVaryingNull(run, t.value, t.maximum, t.field, width)) return run.fail(kErrBadOperand);
  run.next();
}
// True when the length field holds a number below 0 (ReadLength refuses it
// with the status of a bad field).
bool NegativeLength(const Run& run, const Text& t) {
  if (t.field == -1) return false;
  const value_descriptor d{t.field, LengthPrecision(t.maximum)};
  int32_t n = 0;
  return run.fits(t.field, decimal_bytes(d.precision)) &&
         decimal_to_int(&n, run.bytes(), d) >= kDecimalDigitsLost && n < 0;
}
// Fails with the length field's status; true when the instruction failed.
bool WriteFailed(Run& run, const Text& t, int64_t length) {
  const int32_t w = WriteLength(run, t.field, t.maximum, static_cast<int32_t>(length));
  if (w == 0) return false;
  run.fail(kLengthFieldErrorBase + w);
  return true;
}
// Blank units from unit `from` to the result's maximum.
void PadBlank(Run& run, const Text& t, int32_t width, int64_t from) {
  const int64_t n = t.maximum - from;
  if (n <= 0) return;
  if (width == 1)
    std::memset(run.at(t.value + 1 + static_cast<int32_t>(from)), ' ', static_cast<size_t>(n));
  else
    charenc_fill(run.bytes(), t.value + 1 + static_cast<int32_t>(3 * from), static_cast<int32_t>(n),
                 kBlank, kCharFormatUnits3);
}

// The result := `count` units from storage byte `piece` on (the result's own
// field included), blank padded, its length written. A piece longer than the
// result is cut when only blanks are lost, else -10305; wide characters are
// checked (-10210 for an invalid one).
void PutText(Run& run, const Text& r, int32_t width, int32_t piece, int64_t count) {
  const int64_t bytes = width * count;
  const int64_t data = int64_t{r.value} + 1;
  ConstByteSpan source(run.at(piece), static_cast<size_t>(bytes));
  std::vector<uint8_t> aside;
  if (piece < data + int64_t{width} * r.maximum && data < piece + bytes) {
    aside.assign(source.begin(), source.end());
    source = ConstByteSpan(aside.data(), aside.size());
  }
  const int32_t n = static_cast<int32_t>(bytes);
  if (width == 1) {
    if (count > r.maximum && mdr_find_byte(source, r.maximum, n - r.maximum, ' ') != 0)
      return run.fail(kErrConvert);
    mdr_move_pad(run.bytes(), r.value + 1, r.maximum, source, 0, n, ' ');
  } else {
    const int32_t rc = charenc_copy_units3(run.bytes(), r.value + 1, 3 * r.maximum, source, 0, n);
    if (rc == kCharInvalid) return run.fail(kErrInvalidWide);
    if (rc != 0) return run.fail(kErrConvert);
  }
  run.at(r.value)[0] = 0;
  if (!WriteFailed(run, r, std::min<int64_t>(count, r.maximum))) run.next();
}

// The collation block's table for a collation id (0: byte compare, *table
// stays null); 0 or the lookup's error (-19114 when none has the id). The
// block operand only hints: it is taken after the list confirms it.
int32_t CollationOf(Run& run, int32_t id, int32_t hint, const uint8_t** table) {
  *table = nullptr;
  if (id == 0) return 0;
  int32_t cache = hint, block = 0;
  const int32_t rc = FindCollationBlock(run.base, id, &cache, &block);
  if (rc < 0) return rc;
  *table = CollationTableOf(run.base, block).data();
  return 0;
}
CollationTable TableOf(const uint8_t* table) {
  return CollationTable(table, COLL_TABLE_BYTES);
}

// SUS (bytes) and USU (wide): r (op1-3) := SUBSTRING(s (op4-6) FROM the
// number at op7/op8 FOR the number at op9/op10, or to the end when op9 is -1).
template <int32_t width>
void Substring(Run& run) {
  const Text r = TextAt(run, 1), s = TextAt(run, 4);
  const bool has_length = run.op(9) != -1;
  if (!Inside(run, r, width) || !Inside(run, s, width)) return run.fail(kErrBadOperand);
  int32_t b = 0, n = 0, length = 0;
  int32_t rc = ReadWholeNumber(run, run.op(7), run.op(8), &b);
  if (rc == 0 && has_length) rc = ReadWholeNumber(run, run.op(9), run.op(10), &n);
  if (rc == 0 && !IsNull(run, s)) rc = ReadLength(run, s.field, s.maximum, &length);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  if (rc == 1 || IsNull(run, s)) return SetNull(run, r, width);
  if (has_length && n < 0) return run.fail(kErrNegativeSubstring);
  const int64_t end = has_length ? int64_t{b} + n : std::max<int64_t>(b, int64_t{length} + 1);
  int64_t from = 1, count = 0;
  if (b <= length && end >= 1) {
    from = std::max<int64_t>(b, 1);
    count = end > int64_t{length} + 1 ? length - from + 1 : end - from;
  }
  PutText(run, r, width, s.value + 1 + static_cast<int32_t>(width * (from - 1)), count);
}

// The count at op7/op8 and the length of the source s of REPEAT and RIGHT
// (result r): true with both set, or false when the instruction has ended
// (a null result for a null operand or a negative count, or failed).
template <int32_t width>
bool CountAndLength(Run& run, const Text& r, const Text& s, int32_t* count, int32_t* length) {
  if (!Inside(run, r, width) || !Inside(run, s, width)) {
    run.fail(kErrBadOperand);
    return false;
  }
  int32_t rc = ReadWholeNumber(run, run.op(7), run.op(8), count);
  if (rc < 0) {
    run.fail(kDecimalErrorBase + rc);
    return false;
  }
  if (rc == 0 && !IsNull(run, s)) rc = ReadLength(run, s.field, s.maximum, length);
  if (rc < 0) {
    run.fail(NegativeLength(run, s) ? kErrNegativeLength : kLengthFieldErrorBase + rc);
    return false;
  }
  if (rc == 1 || IsNull(run, s) || *count < 0) {
    SetNull(run, r, width);
    return false;
  }
  return true;
}

// REP (bytes) and REU (wide): r (op1-3) := s (op4-6) repeated as many times
// as the number at op7/op8 says; a negative count gives null.
template <int32_t width>
void Repeat(Run& run) {
  const Text r = TextAt(run, 1), s = TextAt(run, 4);
  int32_t k = 0, length = 0;
  if (!CountAndLength<width>(run, r, s, &k, &length)) return;
  const int64_t total = int64_t{length} * k;
  if (total > r.maximum) return run.fail(kErrNoFit);
  if (width == 1 && k >= 1 && total > kMaxVaryingBytes) return run.fail(kErrTooLong);
  const int64_t piece = int64_t{width} * length;
  const std::vector<uint8_t> source(run.at(s.value + 1), run.at(s.value + 1) + piece);
  uint8_t* out = run.at(r.value + 1);
  for (int64_t i = 0; i < k && piece > 0; ++i)
    std::memcpy(out + i * piece, source.data(), static_cast<size_t>(piece));
  PadBlank(run, r, width, total);
  run.at(r.value)[0] = 0;
  if (!WriteFailed(run, r, total)) run.next();
}

// The leftmost occurrence of the search string (f, `n` units) in the source
// units [from, length) of s: its 0-based unit position, or -1.
template <int32_t width>
int64_t FindFrom(const Run& run, const Text& s, int64_t from, int32_t length, const Text& f,
                 int32_t n, const uint8_t* table) {
  const int32_t at = s.value + 1 + static_cast<int32_t>(width * from);
  const int32_t rest = length - static_cast<int32_t>(from);
  int32_t found = 0;
  if (width == 3) {
    found = charenc_find_units3(run.bytes(), at, rest, run.bytes(), f.value + 1, n);
    return found == 0 ? -1 : from + found - 1;
  }
  if (table != nullptr)
    DUFindColl1(run.bytes(), at, rest, run.bytes(), f.value + 1, n, TableOf(table), &found);
  else
    found = mdr_find_bytes(run.bytes(), at, rest, run.bytes(), f.value + 1, n);
  return found == 0 ? -1 : from + found - n;
}

// RPL (bytes, op1 collation id and op2 its block, 0 for a byte compare) and
// RPU (wide, no collation): r (op3-5) := s (op6-8) with every occurrence of
// the search string (op9-11) replaced by the replacement (op12-14). An empty
// search string is never found.
template <int32_t width>
void Replace(Run& run) {
  const Text r = TextAt(run, 3), s = TextAt(run, 6), f = TextAt(run, 9), t = TextAt(run, 12);
  for (const Text& v : {r, s, f, t})
    if (!Inside(run, v, width)) return run.fail(kErrBadOperand);
  if (IsNull(run, s) || IsNull(run, f) || IsNull(run, t)) return SetNull(run, r, width);
  const uint8_t* table = nullptr;
  if (width == 3 && run.op(1) != 0) return run.fail(XL_NO_COLLATION);
  if (const int32_t rc = CollationOf(run, run.op(1), run.op(2), &table); rc < 0)
    return run.fail(rc);
  int32_t lengths[3] = {};
  int k = 0;
  for (const Text& v : {s, f, t}) {
    const int32_t rc = ReadLength(run, v.field, v.maximum, &lengths[k++]);
    if (rc < 0)
      return run.fail(NegativeLength(run, v) ? kErrNegativeLength : kDecimalErrorBase + rc);
    if (rc == 1) return SetNull(run, r, width);
  }
  const int32_t length = lengths[0], searched = lengths[1], replacement = lengths[2];
  std::vector<uint8_t> out;
  auto append = [&](const uint8_t* p, int64_t units) {
    if (static_cast<int64_t>(out.size()) / width + units > r.maximum) return false;
    out.insert(out.end(), p, p + width * units);
    return true;
  };
  const uint8_t* source = run.at(s.value + 1);
  int64_t from = 0;
  while (searched > 0) {
    const int64_t at = FindFrom<width>(run, s, from, length, f, searched, table);
    if (at < 0) break;
    if (!append(source + width * from, at - from) || !append(run.at(t.value + 1), replacement))
      return run.fail(kErrNoFit);
    from = at + searched;
  }
  if (!append(source + width * from, length - from)) return run.fail(kErrNoFit);
  const int64_t total = static_cast<int64_t>(out.size()) / width;
  if (width == 1 && total > kMaxVaryingBytes) return run.fail(kErrTooLong);
  if (!out.empty()) std::memcpy(run.at(r.value + 1), out.data(), out.size());
  PadBlank(run, r, width, total);
  run.at(r.value)[0] = 0;
  if (!WriteFailed(run, r, total)) run.next();
}

// TAL (bytes) and TAU (wide): r (op1-3) := the last n units of s (op4-6),
// n the number at op7/op8; a negative n gives null.
template <int32_t width>
void Right(Run& run) {
  const Text r = TextAt(run, 1), s = TextAt(run, 4);
  int32_t n = 0, length = 0;
  if (!CountAndLength<width>(run, r, s, &n, &length)) return;
  const int64_t start = std::max<int64_t>(int64_t{length} - n, 0);
  PutText(run, r, width, s.value + 1 + static_cast<int32_t>(width * start), length - start);
}

// TRIM of a byte string in place (s) by the trim byte c: mode 1 leading, 2
// trailing, 3 both, compared through the collation's table when there is one.
void TrimBytes(Run& run, int32_t mode, const uint8_t* table, uint8_t c, const Text& s) {
  int32_t length = 0;
  const int32_t rc = ReadLength(run, s.field, s.maximum, &length);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  if (rc == 1) return SetNull(run, s, 1);
  const int32_t data = s.value + 1;
  auto differing = [&](int32_t n) {
    int32_t p = 0;
    if (table != nullptr)
      DUCmpColl2(run.bytes(), data, n, c, TableOf(table), &p);
    else
      p = mdr_find_byte(run.bytes(), data, n, c);
    return p;
  };
  const int32_t first = differing(length);
  int32_t from = 1, kept = 0;
  if (first != 0) {
    const int32_t last = mode == 1 ? length : differing(-length);
    from = mode == 2 ? 1 : first;
    kept = last - from + 1;
  }
  uint8_t* p = run.at(data);
  std::memmove(p, p + from - 1, static_cast<size_t>(kept));
  std::memset(p + kept, ' ', static_cast<size_t>(s.maximum - kept));
  if (!WriteFailed(run, s, kept)) run.next();
}

// TRM: mode op1, collation op2/op3, trim byte op4 (indicator and one byte),
// the string in place op5-7.
void TrimByByte(Run& run) {
  const Text s = TextAt(run, 5);
  const int32_t c = run.op(4);
  if (!Inside(run, s, 1) || !run.fits(c, 2)) return run.fail(kErrBadOperand);
  if (run.at(c)[0] == 255 || IsNull(run, s)) return SetNull(run, s, 1);
  if (run.op(1) < 1 || run.op(1) > 3) return run.fail(kErrBadMode);
  const uint8_t* table = nullptr;
  if (const int32_t rc = CollationOf(run, run.op(2), run.op(3), &table); rc < 0)
    return run.fail(rc);
  TrimBytes(run, run.op(1), table, run.at(c)[1], s);
}

// TRIM of a wide string in place (s) by the character cp.
void TrimWide(Run& run, int32_t mode, uint32_t cp, const Text& s) {
  int32_t length = 0;
  int32_t rc = ReadLength(run, s.field, s.maximum, &length);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  if (rc == 1) return SetNull(run, s, 3);
  const int32_t data = s.value + 1;
  const int32_t first = charenc_skip_char(run.bytes(), data, length, cp, kCharFormatUnits3);
  int32_t from = 0, kept = 0;
  if (first < length) {
    const int32_t last = mode == 1
                             ? length - 1
                             : charenc_skip_char(run.bytes(), data, -length, cp, kCharFormatUnits3);
    from = mode == 2 ? 0 : first;
    kept = last - from + 1;
  }
  // Moving towards the front, a forward copy reads each unit before it is
  // overwritten.
  rc = charenc_copy_units3(run.bytes(), data, 3 * kept, run.bytes(), data + 3 * from, 3 * kept);
  if (rc == kCharInvalid) return run.fail(kErrInvalidWide);
  if (rc < 0) return run.fail(kWideCopyErrorBase + rc);
  // Blanked whatever the trim character: a fixed field would otherwise keep
  // the moved characters a second time behind the kept ones.
  PadBlank(run, s, 3, kept);
  if (!WriteFailed(run, s, kept)) run.next();
}

// TRV (bytes, with a collation) and TVU (wide, none): mode op1, collation
// op2/op3, the trim string op4-6 (exactly one character), the string in place
// op7-9.
template <int32_t width>
void TrimByString(Run& run) {
  const Text c = TextAt(run, 4), s = TextAt(run, 7);
  if (!Inside(run, c, width) || !Inside(run, s, width)) return run.fail(kErrBadOperand);
  if (IsNull(run, c) || IsNull(run, s)) return SetNull(run, s, width);
  int32_t n = 0;
  const int32_t rc = ReadLength(run, c.field, c.maximum, &n);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  if (rc == 1) return SetNull(run, s, width);
  if (n != 1) return run.fail(kErrTrimLength);
  if (run.op(1) < 1 || run.op(1) > 3) return run.fail(kErrBadMode);
  if (width == 3) {
    if (run.op(2) != 0) return run.fail(XL_NO_COLLATION);
    return TrimWide(run, run.op(1),
                    static_cast<uint32_t>(charenc_get_unit3(run.bytes(), c.value + 1)), s);
  }
  const uint8_t* table = nullptr;
  if (const int32_t crc = CollationOf(run, run.op(2), run.op(3), &table); crc < 0)
    return run.fail(crc);
  TrimBytes(run, run.op(1), table, run.at(c.value)[1], s);
}

// POU: the decimal (op1, op2) := the 1-based character position of the wide
// string op3-5 in the wide string op6-8; 1 for an empty search string, 0 when
// absent.
void PositionWide(Run& run) {
  const value_descriptor out{run.op(1), run.op(2)};
  const Text f = TextAt(run, 3), s = TextAt(run, 6);
  if (!Inside(run, f, 3) || !Inside(run, s, 3)) return run.fail(kErrBadOperand);
  int32_t fl = 0, sl = 0, rc = 0;
  if (!IsNull(run, f) && !IsNull(run, s)) {
    rc = ReadLength(run, f.field, f.maximum, &fl);
    if (rc == 0) rc = ReadLength(run, s.field, s.maximum, &sl);
    if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  }
  if (rc == 1 || IsNull(run, f) || IsNull(run, s)) {
    if (decimal_set_null(run.bytes(), out) < 0) return run.fail(kErrBadOperand);
    return run.next();
  }
  const int32_t at =
      fl == 0 ? 1 : charenc_find_units3(run.bytes(), s.value + 1, sl, run.bytes(), f.value + 1, fl);
  rc = int_to_decimal(run.bytes(), out, at);
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// UNL: the decimal (op1, op2) := the length of the value op3 (maximum op4,
// length field op5 or -1: then the maximum).
void ValueLength(Run& run) {
  const value_descriptor out{run.op(1), run.op(2)};
  const Text v = TextAt(run, 3);
  if (v.maximum < 0 || !run.fits(v.value, 1)) return run.fail(kErrBadOperand);
  int32_t rc = 0;
  if (IsNull(run, v)) {
    rc = decimal_set_null(run.bytes(), out);
  } else if (v.field == -1) {
    rc = int_to_decimal(run.bytes(), out, v.maximum);
  } else {
    const value_descriptor field{v.field, LengthPrecision(v.maximum)};
    rc = run.fits(field.offset, decimal_bytes(field.precision))
             ? decimal_assign(run.bytes(), out, run.bytes(), field)
             : kDecimalBadArgument;
  }
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// TRL: mode op1 on the op3 bytes at op2 in place: 1 complement, 2 and 3
// upper and lower case (ISO 8859-1), 4 and 5 upper and lower case of wide
// characters.
void TransformField(Run& run) {
  const int32_t at = run.op(2), n = run.op(3);
  if (n < 0 || !run.fits(at, n)) return run.fail(kErrBadOperand);
  int32_t dropped = 0;
  switch (run.op(1)) {
    case 1:
      for (uint8_t *p = run.at(at), *end = p + n; p != end; ++p) *p = static_cast<uint8_t>(~*p);
      break;
    case 2:
      translate_bytes(run.bytes(), at, n, kUpperCaseTable);
      break;
    case 3:
      translate_bytes(run.bytes(), at, n, kLowerCaseTable);
      break;
    case 4:
    case 5:
      charenc_case_units3(run.bytes(), at, n / 3, &dropped, run.op(1) == 4 ? 1 : 2);
      break;
    default:
      return run.fail(kErrBadMode);
  }
  run.next();
}

// TLU: mode op1 (4 upper, 5 lower) on the wide value op2 (op3 characters,
// length field op4 or -1) in place; the length grows by the characters the
// upper-case mapping adds, up to the field's size; a value whose non-blank
// characters would not fit fails with -10305.
void CaseWide(Run& run) {
  const int32_t mode = run.op(1);
  const Text v = TextAt(run, 2);
  if (mode != 4 && mode != 5) return run.fail(kErrBadMode);
  if (!Inside(run, v, 3)) return run.fail(kErrBadOperand);
  if (IsNull(run, v)) return run.next();
  int32_t length = 0;
  const int32_t rc = ReadLength(run, v.field, v.maximum, &length);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  if (rc == 1) return run.next();
  int64_t grown = 0;
  int32_t kept = 0;  // the value's characters up to its last non-blank one
  if (mode == 4) {
    int32_t mapped[3];
    for (int32_t i = 0; i < length; ++i) {
      const int32_t c = charenc_get_unit3(run.bytes(), v.value + 1 + 3 * i);
      grown += unicode_upper(mapped, c) - 1;
      if (c != static_cast<int32_t>(kBlank)) kept = i + 1;
    }
  }
  // Characters of the value pushed off the field would be lost: only its
  // trailing blanks may go. Nothing is written then.
  if (kept + grown > v.maximum) return run.fail(kErrConvert);
  int32_t dropped = 0;
  charenc_case_units3(run.bytes(), v.value + 1, v.maximum, &dropped, mode == 4 ? 1 : 2);
  const int64_t change = std::min<int64_t>(grown, v.maximum - length);
  if (change >= 1) {
    const int32_t w = WriteLength(run, v.field, v.maximum, static_cast<int32_t>(length + change));
    if (w != 0) return run.fail(kDecimalErrorBase + w);
  }
  run.next();
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The length of the byte source s of a function with the byte result r:
// true with *n set, or false when the instruction has ended (r made null for
// a null source, or failed).
bool SourceLength(Run& run, const Text& r, const Text& s, int32_t* n) {
  if (!Inside(run, r, 1) || !Inside(run, s, 1)) {
    run.fail(kErrBadOperand);
    return false;
  }
  int32_t rc = 1;
  if (!IsNull(run, s)) rc = ReadLength(run, s.field, s.maximum, n);
  if (rc < 0) run.fail(kLengthFieldErrorBase + rc);
  if (rc == 1) SetNull(run, r, 1);
  return rc == 0;
}

// TCH: r (op2-4) := the hexadecimal text of the binary value s (op5-7); op1
// 1 fills the result with "0" first.
void ToHex(Run& run) {
  const Text r = TextAt(run, 2), s = TextAt(run, 5);
  int32_t n = 0;
  if (!SourceLength(run, r, s, &n)) return;
  if (2 * int64_t{n} > r.maximum) return run.fail(kErrNoFit);
  const std::vector<uint8_t> source(run.at(s.value + 1), run.at(s.value + 1) + n);
  uint8_t* out = run.at(r.value + 1);
  if (run.op(1) == 1) std::memset(out, '0', static_cast<size_t>(r.maximum));
  for (int32_t i = 0; i < n; ++i) {
    out[2 * i] = static_cast<uint8_t>(kHexDigits[source[i] >> 4]);
    out[2 * i + 1] = static_cast<uint8_t>(kHexDigits[source[i] & 15]);
  }
  run.at(r.value)[0] = 0;
  if (!WriteFailed(run, r, 2 * int64_t{n})) run.next();
}

// The value of a character of kHexDigits, or -1 for any other.
int HexValue(uint8_t c) {
  const char* p = std::strchr(kHexDigits, c);
  return c == 0 || p == nullptr ? -1 : static_cast<int>(p - kHexDigits);
}

// THC: r (op2-4) := the binary value of the hexadecimal text s (op5-7); op1
// 1 fills the result with zero bytes first. Odd text, text too long for the
// result and a character outside "0123456789ABCDEF" fail with -10311 before
// anything is written.
void FromHex(Run& run) {
  const Text r = TextAt(run, 2), s = TextAt(run, 5);
  int32_t n = 0;
  if (!SourceLength(run, r, s, &n)) return;
  if (n > 2 * int64_t{r.maximum} || n % 2 != 0) return run.fail(kErrNoFit);
  std::vector<uint8_t> bytes(static_cast<size_t>(n / 2));
  const uint8_t* text = run.at(s.value + 1);
  for (int32_t i = 0; i < n / 2; ++i) {
    const int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return run.fail(kErrNoFit);
    bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(high * 16 + low);
  }
  uint8_t* out = run.at(r.value + 1);
  if (run.op(1) == 1) std::memset(out, 0, static_cast<size_t>(r.maximum));
  if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
  run.at(r.value)[0] = 0;
  if (!WriteFailed(run, r, n / 2)) run.next();
}

// SNX: r (op1-3) := the six-character SOUNDEX key of s (op4-6), cut to the
// result's maximum.
void Soundex(Run& run) {
  constexpr int32_t kKey = 6;
  const Text r = TextAt(run, 1), s = TextAt(run, 4);
  int32_t n = 0;
  if (!SourceLength(run, r, s, &n)) return;
  // The routine writes its key and a NUL: 7 bytes, kept aside so that a
  // shorter result is not written past.
  uint8_t key[kKey + 1];
  mdr_soundex(ByteSpan(key, sizeof key), 0, run.bytes(), s.value + 1, n);
  const int32_t kept = std::min(kKey, r.maximum);
  mdr_move_pad(run.bytes(), r.value + 1, r.maximum, ConstByteSpan(key, kKey), 0, kept, ' ');
  run.at(r.value)[0] = 0;
  if (!WriteFailed(run, r, kept)) run.next();
}

}  // namespace

void InstallStringFunctions(Instruction t[]) {
  t[63] = TransformField;    // TRL
  t[75] = Substring<1>;      // SUS
  t[76] = TrimByByte;        // TRM
  t[95] = Repeat<1>;         // REP
  t[96] = Replace<1>;        // RPL
  t[108] = Right<1>;         // TAL
  t[130] = TrimByString<1>;  // TRV
  t[135] = Soundex;          // SNX
  t[146] = ToHex;            // TCH
  t[147] = FromHex;          // THC
  t[186] = CaseWide;         // TLU
  t[187] = Substring<3>;     // USU
  t[188] = ValueLength;      // UNL
  t[189] = PositionWide;     // POU
  t[190] = Repeat<3>;        // REU
  t[191] = Replace<3>;       // RPU
  t[193] = Right<3>;         // TAU
  t[194] = TrimByString<3>;  // TVU
}

}  // namespace interp
