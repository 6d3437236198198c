// Key-range compares of an index scan: each compares a key column of the
// current row with a bound and branches as the plain compares do, and when
// the predicate is not true records in a hint descriptor what the scan may do
// next without missing a row (skip the row, reposition to or past the bound,
// stop). SKP turns the recorded hint into a search key and the next fetch's
// entry mode in the record block; RP2 builds a search key from the key items
// of a level-2 program.
#include <algorithm>
#include <cstring>

#include "interp/run_state.h"
#include "interp/varying.h"
#include "platform/char_format.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

// Hint descriptor words, from the word the instruction names.
enum HintWord : int32_t {
  kHintCode = 0,
  kHintDirection = 1,
  kHintKey = 2,
  kHintKeyLength = 3,
  kHintKeyField = 4,
  kHintBound = 5,
  kHintBoundLength = 6,
  kHintBoundField = 7,
  kHintKeyBytes = 8,
  kHintOperator = 9,
};
constexpr int32_t kHintWords = 10;

constexpr int32_t kNullBound = 11;
constexpr int32_t kEntryAfter = -2;  // the next fetch starts behind the key
constexpr int32_t kEntryAt = 1;      // ... at the key or behind it

// Outcome codes by operator (1..6) and comparison result r (1 unknown, 2
// less, 3 equal, 4 greater): 0 the predicate holds.
constexpr int32_t kAscending[7][5] = {{},
                                      {0, 12, 6, 0, 12},
                                      {0, 1, 6, 0, 0},
                                      {0, 12, 0, 0, 12},
                                      {0, 1, 16, 1, 0},
                                      {0, 2, 0, 2, 2},
                                      {0, 1, 0, 1, 0}};
constexpr int32_t kDescending[7][5] = {{},
                                       {0, 6, 12, 0, 6},
                                       {0, 1, 12, 0, 0},
                                       {0, 6, 0, 0, 6},
                                       {0, 1, 2, 2, 0},
                                       {0, 16, 0, 16, 16},
                                       {0, 1, 0, 1, 0}};

// Rank of a recorded code: 1 null bound, 2 stop, 3..6 reposition (fixed,
// 3-byte character, decimal, varying key part), 7 skip the row, 0 none.
int32_t Rank(int32_t code) {
  switch (code) {
    case 11:
    case 15:
      return 1;
    case 2:
    case 10:
    case 12:
    case 20:
      return 2;
    case 6:
    case 16:
      return 3;
    case 7:
    case 17:
      return 4;
    case 8:
    case 18:
      return 5;
    case 9:
    case 19:
      return 6;
    case 1:
    case 5:
      return 7;
    default:
      return 0;
  }
}

uint8_t PadByte(int32_t code) {
  const bool high =
      code == 1 || code == 2 || code == 11 || code == 12 || (code >= 16 && code <= 19);
  return high ? 255 : 0;
}

void Complement(Run& run, int32_t offset, int32_t n) {
  uint8_t* p = run.at(offset);
  for (int32_t k = 0; k < n; ++k) p[k] = static_cast<uint8_t>(~p[k]);
}

// The forms of the compare: bytes (SBF), nullable fixed (SCF), decimal
// (SNF), 3-byte characters (SUF), varying bytes (SPF).
enum class Form { kBytes, kNullable, kDecimal, kWide, kVarying };

// A key-range compare's operands, read by its form.
struct KeyCompare {
  Form form;
  int32_t op, key, key_length, key_field = -1, bound, bound_length, bound_field = -1;
  int branch;  // operand number of the displacement
  int32_t hint;
  int32_t key_bytes, bound_bytes;  // stored bytes, indicator included
  int32_t shift;                   // added to a reposition code by the key part's kind
  int32_t tie_rank;                // rank of a recorded hint the tie rule compares with; 0 none
};

KeyCompare Operands(const Run& run, Form form) {
  KeyCompare k{form, run.op(1), run.op(2), run.op(3), -1, 0, 0, -1, 0, 0, 0, 0, 0, 0};
  switch (form) {
    case Form::kBytes:
      k.bound = run.op(3);
      k.key_length = k.bound_length = run.op(4) - 1;
      k.key_bytes = k.bound_bytes = run.op(4);
      k.branch = 5;
      k.tie_rank = 3;
      break;
    case Form::kNullable:
    case Form::kDecimal:
    case Form::kWide:
      k.bound = run.op(4);
      k.bound_length = run.op(5);
      k.branch = 6;
      if (form == Form::kNullable) {
        k.key_bytes = k.key_length + 1;
        k.bound_bytes = k.bound_length + 1;
        k.tie_rank = 3;
      } else if (form == Form::kDecimal) {
        k.key_bytes = decimal_bytes(std::clamp(k.key_length, 1, kDecimalMaxPrecision));
        k.bound_bytes = decimal_bytes(std::clamp(k.bound_length, 1, kDecimalMaxPrecision));
        k.shift = 2;
        k.tie_rank = 5;
      } else {
        k.key_bytes =
            static_cast<int32_t>(std::min<int64_t>(3 * int64_t{k.key_length} + 1, INT32_MAX));
        k.bound_bytes =
            static_cast<int32_t>(std::min<int64_t>(3 * int64_t{k.bound_length} + 1, INT32_MAX));
        k.shift = 1;
        k.tie_rank = 4;
      }
      break;
    case Form::kVarying:
      k.key_field = run.op(4);
      k.bound = run.op(5);
      k.bound_length = run.op(6);
      k.bound_field = run.op(7);
      k.key_bytes = k.key_length + 1;
      k.bound_bytes = k.bound_length + 1;
      k.branch = 8;
      k.shift = 3;
      break;
  }
  k.hint = run.op(k.branch + 1);
  return k;
}

bool NullBound(const Run& run, const KeyCompare& k) {
  if (run.at(k.bound)[0] == 255) return true;
  int32_t length = 0;
  return k.form == Form::kVarying && ReadLength(run, k.bound_field, k.bound_length, &length) == 1;
}

// The key (complemented back to its own order for a descending operator)
// against the bound: 1..4, or a negative error to record.
int32_t Compare(Run& run, const KeyCompare& k) {
  switch (k.form) {
    case Form::kBytes:
      return mdr_compare_bytes(run.bytes(), k.key, run.bytes(), k.bound, k.key_bytes) + 3;
    case Form::kNullable:
      return mdr_compare_nullable(run.bytes(), k.key, k.key_length, run.bytes(), k.bound,
                                  k.bound_length);
    case Form::kDecimal: {
      const int32_t r = decimal_compare(run.bytes(), value_descriptor{k.key, k.key_length},
                                        run.bytes(), value_descriptor{k.bound, k.bound_length});
      return r < 1 ? kErrConvert : r;
    }
    case Form::kWide: {
      const int32_t a[3] = {k.key, k.key_length, -1}, b[3] = {k.bound, k.bound_length, -1};
      const int32_t r = CompareVaryingChars(run, a, b);
      return r < 1 ? kLengthFieldErrorBase + r : r;
    }
    case Form::kVarying: {
      const int32_t a[3] = {k.key, k.key_length, k.key_field};
      const int32_t b[3] = {k.bound, k.bound_length, k.bound_field};
      const int32_t r = CompareVaryingBytes(run, a, b);
      return r < 1 ? kLengthFieldErrorBase + r : r;
    }
  }
  return kErrBadOperand;
}

// Complements the key (and a varying key's length field) of a descending
// operator, before the compare and after it.
void ComplementKey(Run& run, const KeyCompare& k) {
  Complement(run, k.key, k.key_bytes);
  if (k.key_field != -1) Complement(run, k.key_field, decimal_bytes(LengthPrecision(k.key_length)));
}

// The tie rule of two reposition hints of the same kind on one column:
// true keeps the recorded one; a negative *error when it cannot be decided.
bool KeepRecorded(Run& run, const KeyCompare& k, const int32_t* h, int32_t n, int32_t* error) {
  const int32_t direction = h[kHintDirection];
  if (k.form == Form::kBytes) {
    if (!run.fits(h[kHintBound], k.bound_bytes)) return *error = kErrBadOperand, true;
    int32_t c = mdr_compare_bytes(run.bytes(), h[kHintBound], run.bytes(), k.bound, k.bound_bytes);
    if (k.op < 0) c = -c;
    return (direction == 0 && c < 0) || (direction == 4 && c > 0);
  }
  int32_t r = 0;
  const int32_t recorded = h[kHintBound], length = h[kHintBoundLength];
  if (k.form == Form::kNullable) {
    if (length < 0 || !run.fits(recorded, int64_t{length} + 1))
      return *error = kErrBadOperand, true;
    r = mdr_compare_nullable(run.bytes(), recorded, length, run.bytes(), k.bound, k.bound_length);
  } else if (k.form == Form::kDecimal) {
    r = decimal_compare(run.bytes(), value_descriptor{recorded, length}, run.bytes(),
                        value_descriptor{k.bound, k.bound_length});
  } else {
    const int32_t a[3] = {recorded, length, -1}, b[3] = {k.bound, k.bound_length, -1};
    r = CompareVaryingChars(run, a, b);
  }
  if (k.op < 0 && r >= 2) r = 6 - r;
  switch (r + direction - 2) {
    case 0:
    case 6:
      return true;
    case 1:
      return n == 16;
    case 2:
    case 4:
      return false;
    case 5:
      return n == 6;
    default:
      *error = kErrConvert;
      return true;
  }
}

// Steps 5 to 8 of a compare that did not hold: the hint competition and the
// record. 0 or an error.
int32_t RecordHint(Run& run, const KeyCompare& k, int32_t code) {
  int32_t* h = &run.word(k.hint);
  int32_t current = 0;
  if (h[kHintCode] != 0) {
    const bool null_recorded = h[kHintCode] == 11 || h[kHintCode] == 15;
    if (k.key < h[kHintKey]) {
      if (k.form == Form::kBytes || !null_recorded) return 0;
    } else if (k.key == h[kHintKey]) {
      current = Rank(h[kHintCode]);
    } else if (code == kNullBound) {
      return 0;
    }
  }
  int32_t n = code + h[kHintDirection];
  if (Rank(n) == 3 && k.tie_rank != 0 && current == k.tie_rank) {
    int32_t error = 0;
    const bool keep = KeepRecorded(run, k, h, n, &error);
    if (error != 0) return error;
    if (keep) return 0;
    current = 0;  // the new bound wins
  }
  if (Rank(n) == 3) n += k.shift;
  if (Rank(n) < current) return 0;
  h[kHintKey] = k.key;
  h[kHintKeyLength] = k.key_length;
  h[kHintBound] = k.bound;
  h[kHintBoundLength] = k.bound_length;
  // The stored bytes of the key column, which SKP copies and steps over: a
  // decimal's or a 3-byte character column's are not its length + 1.
  h[kHintKeyBytes] = k.key_bytes;
  h[kHintCode] = n;
  // Every form writes the operator, so SKP never complements by the one a
  // former hint left.
  h[kHintOperator] = k.op;
  if (k.form == Form::kVarying) {
    h[kHintKeyField] = k.key_field;
    h[kHintBoundField] = k.bound_field;
  } else {
    h[kHintKeyField] = -1;
    h[kHintBoundField] = -1;
  }
  return 0;
}

template <Form form, bool on_true>
void CompareAndRecord(Run& run) {
  const KeyCompare k = Operands(run, form);
  const int64_t magnitude = k.op < 0 ? -int64_t{k.op} : k.op;
  const int32_t op = magnitude >= 1 && magnitude <= 6 ? static_cast<int32_t>(magnitude) : 0;
  if (op == 0 || k.key_length < 0 || k.bound_length < 0 || !run.fits(k.key, k.key_bytes) ||
      !run.fits(k.bound, k.bound_bytes) || !run.words(k.hint, kHintWords) ||
      (k.key_field != -1 && !run.fits(k.key_field, decimal_bytes(LengthPrecision(k.key_length)))))
    return run.fail(kErrBadOperand);
  if (k.op < 0) ComplementKey(run, k);
  const int32_t r = Compare(run, k);
  if (k.op < 0) ComplementKey(run, k);
  if (r < 0) return run.fail(r);
  int32_t code = (k.op < 0 ? kDescending : kAscending)[op][r];
  if (code != 0) {
    if (r == kTruthUnknown && k.form != Form::kBytes && NullBound(run, k)) code = kNullBound;
    if (const int32_t rc = RecordHint(run, k, code); rc != 0) return run.fail(rc);
  }
  run.decide(code == 0, on_true, k.branch);
}

// SKP: the recorded hint as a search key in the record block op1 and the
// mode its next fetch starts with; the hint descriptor op2.
void Skip(Run& run) {
  const int32_t t = run.op(1), hw = run.op(2);
  if (!run.words(t, kRecBuffer) || !run.words(hw, kHintWords)) return run.fail(kErrBadOperand);
  int32_t* h = &run.word(hw);
  if (h[kHintCode] == 0) return run.next();
  const int64_t start = 4 * (int64_t{t} - 1) + 4 * int64_t{kRecBuffer};
  const int64_t end = start + run.word(t + kRecRowLength);
  if (end < start || !run.fits(start, end - start)) return run.fail(kErrBadOperand);
  int32_t code = h[kHintCode];
  const int32_t rank = Rank(code), key = h[kHintKey], bytes = h[kHintKeyBytes];
  const int32_t length = h[kHintKeyLength], bound = h[kHintBound];
  const int32_t bound_length = h[kHintBoundLength];
  const bool descending = h[kHintOperator] < 0;
  // The key column must lie inside the record area: nothing is written
  // outside it.
  const bool column_inside = key >= start && bytes >= 0 && int64_t{key} + bytes <= end;
  int32_t mode = kEntryAfter;
  int64_t p = start;
  if (rank == 2) {
    if (key < start || key > end) return run.fail(kErrBadOperand);
    p = key;
  } else if (rank == 7) {
    if (!column_inside) return run.fail(kErrBadOperand);
    p = int64_t{key} + bytes;
  } else if (rank >= 3 && rank <= 6) {
    if (!column_inside || bound_length < 0 || length < 0) return run.fail(kErrBadOperand);
    if (h[kHintDirection] == 4) mode = kEntryAt;
    const bool lower = code >= 6 && code <= 9;
    if (lower) mode = mode == kEntryAt ? kEntryAfter : kEntryAt;
    if (rank != 5 && bound_length > length && run.fits(bound, bytes)) {
      // A bound longer than the column: a column equal to the bound's head
      // cannot be passed by the cut bound.
      if (descending) Complement(run, bound, bytes);
      const bool equal = std::memcmp(run.at(key), run.at(bound), static_cast<size_t>(bytes)) == 0;
      if (descending) Complement(run, bound, bytes);
      if (equal) {
        mode = kEntryAfter;
        const int32_t low = code < 16 ? code : code - 10;
        code = h[kHintDirection] > 0 ? low : low + 10;
      }
    }
    p = int64_t{key} + bytes;
    if (rank == 3) {
      const int32_t n = std::min(bound_length + 1, bytes);
      if (!run.fits(bound, n)) return run.fail(kErrBadOperand);
      std::memmove(run.at(key), run.at(bound), static_cast<size_t>(n));
      std::memset(run.at(key) + n, ' ', static_cast<size_t>(bytes - n));
    } else if (rank == 4) {
      const int64_t n = 3 * int64_t{bound_length};
      if (!run.fits(bound, n + 1) || bytes < 1) return run.fail(kErrBadOperand);
      run.at(key)[0] = run.at(bound)[0];
      const int32_t r = charenc_to_units3(run.bytes(), key + 1, bytes - 1, run.bytes(), bound + 1,
                                          static_cast<int32_t>(n), kCharFormatUnits3);
      if (r < 0) return run.fail(r - 10350);
    } else if (rank == 5) {
      const int32_t r = decimal_assign(run.bytes(), value_descriptor{key, length}, run.bytes(),
                                       value_descriptor{bound, bound_length});
      if (r < -1) return run.fail(kDecimalErrorBase + r);
    } else {
      // The bound's current length (its length field, else the column's
      // length), never more than the column holds; the rest is zeros.
      int32_t bound_now = length;
      if (h[kHintBoundField] != -1) {
        const int32_t rc = ReadLength(run, h[kHintBoundField], bound_length, &bound_now);
        if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
      }
      bound_now = std::min(bound_now, length);
      const int32_t n = std::min(bound_now + 1, bytes);
      if (!run.fits(bound, n)) return run.fail(kErrBadOperand);
      std::memmove(run.at(key), run.at(bound), static_cast<size_t>(n));
      std::memset(run.at(key) + n, 0, static_cast<size_t>(bytes - n));
      const int32_t field = h[kHintKeyField];
      if (field != -1) {
        const int32_t field_bytes = decimal_bytes(LengthPrecision(length));
        if (field < start || int64_t{field} + field_bytes > end) return run.fail(kErrBadOperand);
        const int32_t rc = WriteLength(run, field, length, bound_now);
        if (rc != 0) return run.fail(kLengthFieldErrorBase + rc);
        if (descending) Complement(run, field, field_bytes);
        p += field_bytes;
      }
    }
    if (descending) Complement(run, key, bytes);
  }
  if (p < end)
    std::memset(run.at(static_cast<int32_t>(p)), PadByte(code), static_cast<size_t>(end - p));
  run.word(t + kRecStatus) = mode;
  h[kHintCode] = 0;
  run.next();
}

// A key item of RP2: nine instruction words.
enum KeyItemWord : int32_t {
  kItemType = 0,
  kItemKind = 1,
  kItemKey = 2,
  kItemValue = 3,
  kItemLow = 4,
  kItemHigh = 5,
  kItemLength = 6,
  kItemNext = 7,
  kItemFlag = 8,
};
constexpr int32_t kItemWords = 9;
constexpr int32_t kItemCharacter = 60;
constexpr int32_t kItemDecimal = 61;

// RP2: the search key of the record block op2 (op5 bytes from the first
// item's key position) from the key items behind the instruction's fixed
// part; value positions count from the base word that storage word 13
// holds. The item walk never leaves the instruction's op7 words.
void BuildKey(Run& run) {
  const int32_t* ins = run.ins();
  const int32_t words = run.op(kRp2LengthOperand), t = run.op(2), key_length = run.op(5);
  // The loop holds the fixed part inside the program; the items too must be.
  if (words < kOpcodes[kOpRP2].length || int64_t{run.pos} + words - 1 > run.program_words)
    return run.fail(kErrBadOpcode);
  if (run.storage_words <= kStateLevel2Index || !run.words(t, kRecBuffer) || key_length < 0)
    return run.fail(kErrBadOperand);
  const int64_t base = 4 * (int64_t{run.state(kStateLevel2Index)} - 1);
  int64_t at = run.op(1);
  auto inside = [&](int64_t item) {
    return item >= kOpcodes[kOpRP2].length && item + kItemWords <= words;
  };
  if (!inside(at)) return run.fail(kErrBadOperand);
  const int32_t area = ins[at + kItemKey];
  if (!run.fits(area, key_length)) return run.fail(kErrBadOperand);
  const int64_t area_end = int64_t{area} + key_length;
  std::memset(run.at(area), 255, static_cast<size_t>(key_length));
  int32_t mode = kEntryAfter;
  // Each item is visited once at most: a list that does not end is refused.
  for (int32_t visited = 0;; ++visited) {
    if (!inside(at) || visited > words / kItemWords) return run.fail(kErrBadOperand);
    const int32_t* item = ins + at;
    if (item[kItemFlag] < 0) {
      const int32_t kind = item[kItemKind] < 0 ? -item[kItemKind] : item[kItemKind];
      const int32_t type = item[kItemType], len = item[kItemLength];
      if ((type != kItemCharacter && type != kItemDecimal) || len < 0 || len > 32000)
        return run.fail(kErrBadOperand);
      const int32_t n = type == kItemCharacter ? len + 1 : len / 2 + 2;
      const int32_t key = item[kItemKey];
      const int64_t value = base + item[kItemValue];
      if (key < area || int64_t{key} + n > area_end || !run.fits(value, n))
        return run.fail(kErrBadOperand);
      bool applies = false, copied = false;
      if (kind == 2) {
        applies = run.at(key)[0] == 255;
      } else if (kind != 3 || item[kItemLow] <= item[kItemHigh]) {
        const int c =
            std::memcmp(run.at(key), run.at(static_cast<int32_t>(value)), static_cast<size_t>(n));
        if (c > 0) {
          std::memmove(run.at(key), run.at(static_cast<int32_t>(value)), static_cast<size_t>(n));
          copied = true;
        }
        applies = c >= 0;
      }
      // The rest of the key area behind the item, never past it.
      const int64_t rest = std::min<int64_t>(key_length - int64_t{n}, area_end - key - n);
      if ((applies && kind < 5) || (copied && kind >= 5)) {
        if (rest > 0) std::memset(run.at(key) + n, kind < 5 ? 0 : 255, static_cast<size_t>(rest));
        mode = kind < 5 ? kEntryAt : kEntryAfter;
      }
    }
    const int64_t next = at + item[kItemNext];
    if (next == 0) break;
    at = next;
  }
  run.word(t + kRecStatus) = mode;
  run.pos = run.Target(words);
}

}  // namespace

void InstallKeyRangeOps(Instruction t[]) {
  t[47] = Skip;                                      // SKP
  t[48] = CompareAndRecord<Form::kBytes, false>;     // SBF
  t[49] = CompareAndRecord<Form::kBytes, true>;      // SBT
  t[50] = CompareAndRecord<Form::kNullable, false>;  // SCF
  t[51] = CompareAndRecord<Form::kNullable, true>;   // SCT
  t[52] = CompareAndRecord<Form::kDecimal, false>;   // SNF
  t[53] = CompareAndRecord<Form::kDecimal, true>;    // SNT
  t[58] = BuildKey;                                  // RP2
  t[155] = CompareAndRecord<Form::kVarying, false>;  // SPF
  t[156] = CompareAndRecord<Form::kVarying, true>;   // SPT
  t[179] = CompareAndRecord<Form::kWide, false>;     // SUF
  t[180] = CompareAndRecord<Form::kWide, true>;      // SUT
}

}  // namespace interp
