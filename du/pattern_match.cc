// The pattern matchers: one interpreter of the instructions over single-byte
// subjects with a backtracking stack of (program counter, position, slack)
// entries, used by DUMatchPattern2, 4 and 5, which differ only in where the
// literal text lies; and DUMatchPattern1 over 3-byte characters with a single
// retry slot. Nothing is allocated; every operand is checked against the
// program, its literal area and the stack the program asks for.
#include <algorithm>
#include <cstring>

#include "du/pattern_programs.h"
#include "platform/char_format.h"

namespace {

enum Outcome { kMatch, kNoMatch, kBadProgram };

struct Area {
  const uint8_t* bytes;
  int64_t size;

  bool Holds(int64_t offset, int64_t length) const {
    return offset >= 0 && length >= 0 && offset <= size && length <= size - offset;
  }
};

// Literals are mostly a few bytes: compared in line rather than by a call.
inline bool SameBytes(const uint8_t* a, const uint8_t* b, int64_t n) {
  if (n > 16) return std::memcmp(a, b, size_t(n)) == 0;
  for (int64_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// The first place of `needle` within haystack[0, n), or -1; none in a
// window of negative size (a position behind the end), not even an empty
// needle, so that retries from there end.
int64_t Find(const uint8_t* haystack, int64_t n, const uint8_t* needle, int64_t length) {
  if (n < length) return -1;
  if (length == 0) return 0;
  const uint8_t first = needle[0];
  int64_t from = 0;
  while (n - from >= length) {
    const void* hit = std::memchr(haystack + from, first, size_t(n - from - length + 1));
    if (!hit) return -1;
    const int64_t at = static_cast<const uint8_t*>(hit) - haystack;
    if (SameBytes(haystack + at + 1, needle + 1, length - 1)) return at;
    from = at + 1;
  }
  return -1;
}

// The literal area of a program whose word 2 names a word of `words` (the
// storage or the program itself, `limit` bytes long).
bool LiteralArea(const int32_t* program, const uint8_t* words, int64_t limit, Area* area) {
  const int64_t base = program[PAT_LITERAL_BASE];
  if (base < 1 || (base - 1) * 4 > limit) return false;
  *area = {words + (base - 1) * 4, limit - (base - 1) * 4};
  return true;
}

bool HeaderSound(const int32_t* program) {
  return program[PAT_SIZE] > PAT_CODE && program[PAT_STORAGE] >= 0 &&
         program[PAT_FIRST] == PAT_RETRY;
}

// The fixed-place instructions both matchers share (CLB, FSTEP, FPOS) at
// operand index *pc; kNext goes on with *pc behind the instruction.
enum class Fixed { kNext, kFailed, kNoMatch, kBad };

Fixed FixedStep(int32_t op, const int32_t* program, int32_t* pc, int32_t size, const Area& literals,
                const uint8_t* subject, int64_t length, int64_t* pos) {
  const int32_t at = *pc;
  if (op == PAT_CLB) {
    if (at + 2 > size) return Fixed::kBad;
    const int64_t offset = program[at];
    const int64_t n = program[at + 1];
    if (!literals.Holds(offset, n)) return Fixed::kBad;
    if (*pos + n > length) return Fixed::kNoMatch;
    if (!SameBytes(subject + *pos, literals.bytes + offset, n)) return Fixed::kFailed;
    *pos += n;
    *pc += 3;
    return Fixed::kNext;
  }
  if (at + 1 > size || program[at] < 0) return Fixed::kBad;
  const int64_t n = program[at];
  if (op == PAT_FSTEP) {
    *pos += n;
    if (*pos > length) return Fixed::kNoMatch;
  } else {
    if (*pos > length - n) return Fixed::kNoMatch;
    *pos = length - n;
  }
  *pc += 2;
  return Fixed::kNext;
}

// Runs the program over subject[0, length).
Outcome Run(const int32_t* program, int32_t* stack, const Area& literals, const uint8_t* subject,
            int64_t length) {
  if (!HeaderSound(program)) return kBadProgram;
  const int32_t size = program[PAT_SIZE];
  const int32_t stack_words = program[PAT_STORAGE];
  int32_t depth = 0;
  int32_t pc = PAT_CODE + 1;
  int32_t op = program[PAT_CODE];
  int64_t pos = 0;
  int64_t slack = 0;
  for (;;) {
    bool failed = false;
    switch (op) {
      case PAT_RETRY:
        failed = true;
        break;
      case PAT_EXIT:
        return kMatch;
      case PAT_EOS:
        if (pos == length) return kMatch;
        failed = true;
        break;
      case PAT_EOSR: {
        if (pc + 1 > size) return kBadProgram;
        const int64_t n = program[pc];
        if (pos <= length && length - n <= pos) return kMatch;
        failed = true;
        break;
      }
      case PAT_SMC: {
        if (pc + 2 > size) return kBadProgram;
        const int64_t offset = program[pc];
        const int64_t n = program[pc + 1];
        if (!literals.Holds(offset, n) || stack_words < PAT_STACK_ENTRY) return kBadProgram;
        const int64_t k = Find(subject + pos, length - pos, literals.bytes + offset, n);
        if (k < 0) return kNoMatch;
        // Earlier choices never need another try once a later run is placed.
        stack[0] = pc;
        stack[1] = int32_t(pos + k + 1);
        stack[2] = 0;
        depth = PAT_STACK_ENTRY;
        pos += k + n;
        pc += 3;
        break;
      }
      case PAT_RSMC: {
        if (pc + 3 > size) return kBadProgram;
        const int64_t offset = program[pc];
        const int64_t n = program[pc + 1];
        if (!literals.Holds(offset, n)) return kBadProgram;
        const int64_t window = std::min(length - pos, int64_t(program[pc + 2]) - slack);
        const int64_t k = window < 0 ? -1 : Find(subject + pos, window, literals.bytes + offset, n);
        if (k < 0) {
          failed = true;
          break;
        }
        if (depth + PAT_STACK_ENTRY > stack_words) return kBadProgram;
        stack[depth] = pc;
        stack[depth + 1] = int32_t(pos + k + 1);
        stack[depth + 2] = int32_t(slack + k + 1);
        depth += PAT_STACK_ENTRY;
        slack = 0;
        pos += k + n;
        pc += 4;
        break;
      }
      case PAT_CLB:
      case PAT_FSTEP:
      case PAT_FPOS: {
        const Fixed f = FixedStep(op, program, &pc, size, literals, subject, length, &pos);
        if (f == Fixed::kBad) return kBadProgram;
        if (f == Fixed::kNoMatch) return kNoMatch;
        failed = f == Fixed::kFailed;
        break;
      }
      default:
        return kBadProgram;
    }
    if (failed) {
      if (depth == 0) return kNoMatch;
      depth -= PAT_STACK_ENTRY;
      pc = stack[depth];
      pos = stack[depth + 1];
      slack = stack[depth + 2];
    }
    if (pc > size) return kBadProgram;
    op = program[pc - 1];
  }
}

int32_t Result(Outcome outcome) {
  return outcome == kMatch ? PAT_MATCH : outcome == kNoMatch ? PAT_NO_MATCH : PAT_BAD_PROGRAM;
}

}  // namespace

int32_t DUMatchPattern2(const int32_t* program, int32_t* stack, ConstByteSpan storage,
                        int32_t subject_offset, int32_t subject_length) {
  if (!field_fits(storage, subject_offset, subject_length)) return PAT_BAD_ARGUMENT;
  Area literals;
  if (!LiteralArea(program, storage.data(), int64_t(storage.size()), &literals))
    return PAT_BAD_PROGRAM;
  return Result(Run(program, stack, literals, storage.data() + subject_offset, subject_length));
}

int32_t DUMatchPattern4(const int32_t* program, int32_t* stack, ConstByteSpan storage,
                        int32_t subject_offset, int32_t subject_length) {
  if (!field_fits(storage, subject_offset, subject_length)) return PAT_BAD_ARGUMENT;
  if (program[PAT_SIZE] <= PAT_CODE) return PAT_BAD_PROGRAM;
  Area literals;
  if (!LiteralArea(program, reinterpret_cast<const uint8_t*>(program),
                   int64_t(program[PAT_SIZE]) * 4, &literals))
    return PAT_BAD_PROGRAM;
  return Result(Run(program, stack, literals, storage.data() + subject_offset, subject_length));
}

int32_t DUMatchPattern5(const int32_t* program, int32_t* stack, ConstByteSpan storage,
                        int32_t subject_offset, int32_t subject_length, int32_t negate) {
  if (!field_fits(storage, subject_offset, subject_length)) return PAT_BAD_ARGUMENT;
  const Area literals{storage.data(), int64_t(storage.size())};
  const Outcome outcome =
      Run(program, stack, literals, storage.data() + subject_offset, subject_length);
  if (outcome == kBadProgram) return PAT_BAD_OPCODE;
  const bool matched = outcome == kMatch;
  return (negate == 1 ? !matched : matched) ? 1 : 0;
}

namespace {

// The 3-byte character matcher over subject[0, subject_length) of `storage`
// with its literals in `literals`.
int32_t MatchUnits3(const int32_t* program, const Area& literals, ConstByteSpan storage,
                    int32_t subject_offset, int32_t subject_length) {
  const ConstByteSpan literal_span(literals.bytes, size_t(literals.size));
  const uint8_t* subject = storage.data() + subject_offset;
  const ConstByteSpan subject_span(subject, size_t(subject_length) * 3);
  const int64_t length = int64_t(subject_length) * 3;
  const int32_t size = program[PAT_SIZE];
  // The one retry slot: the SMC's program counter and where to search again.
  int32_t retry_pc = 0;
  int64_t retry_pos = 0;
  int32_t pc = PAT_CODE + 1;
  int64_t pos = 0;
  for (;;) {
    if (pc > size) return PAT_BAD_PROGRAM;
    const int32_t op = program[pc - 1];
    bool failed = false;
    switch (op) {
      case PAT_RETRY:
        failed = true;
        break;
      case PAT_EXIT:
        return PAT_MATCH;
      case PAT_EOS:
        if (pos == length) return PAT_MATCH;
        failed = true;
        break;
      case PAT_SMC: {
        if (pc + 2 > size) return PAT_BAD_PROGRAM;
        const int64_t offset = program[pc];
        const int64_t chars = program[pc + 1];
        if (!literals.Holds(offset, chars * 3)) return PAT_BAD_PROGRAM;
        int64_t at = pos;
        if (chars > 0) {
          const int32_t hit =
              charenc_find_units3(subject_span, int32_t(pos), int32_t((length - pos) / 3),
                                  literal_span, int32_t(offset), int32_t(chars));
          if (hit == 0) return PAT_NO_MATCH;
          at = pos + int64_t(hit - 1) * 3;
        }
        retry_pc = pc;
        retry_pos = at + 3;
        pos = at + chars * 3;
        pc += 3;
        break;
      }
      case PAT_CLB:
      case PAT_FSTEP:
      case PAT_FPOS: {
        const Fixed f = FixedStep(op, program, &pc, size, literals, subject, length, &pos);
        if (f == Fixed::kBad) return PAT_BAD_PROGRAM;
        if (f == Fixed::kNoMatch) return PAT_NO_MATCH;
        failed = f == Fixed::kFailed;
        break;
      }
      default:
        return PAT_BAD_PROGRAM;
    }
    if (failed) {
      if (retry_pc == 0) return PAT_NO_MATCH;
      pc = retry_pc;
      pos = retry_pos;
      retry_pc = 0;
      if (pos > length) return PAT_NO_MATCH;
    }
  }
}

// The literal area of a 3-byte character program: the storage, or the
// program itself when it carries its text.
int32_t MatchUnits3Checked(const int32_t* program, bool self, ConstByteSpan storage,
                           int32_t subject_offset, int32_t subject_length) {
  if (subject_length < 0 || !field_fits(storage, subject_offset, int64_t(subject_length) * 3))
    return PAT_BAD_ARGUMENT;
  if (!HeaderSound(program)) return PAT_BAD_PROGRAM;
  Area literals;
  const bool found =
      self ? LiteralArea(program, reinterpret_cast<const uint8_t*>(program),
                         int64_t(program[PAT_SIZE]) * 4, &literals)
           : LiteralArea(program, storage.data(), int64_t(storage.size()), &literals);
  if (!found) return PAT_BAD_PROGRAM;
  return MatchUnits3(program, literals, storage, subject_offset, subject_length);
}

}  // namespace

int32_t DUMatchPattern1(const int32_t* program, ConstByteSpan storage, int32_t subject_offset,
                        int32_t subject_length) {
  return MatchUnits3Checked(program, false, storage, subject_offset, subject_length);
}

int32_t DUMatchPattern1Self(const int32_t* program, ConstByteSpan storage, int32_t subject_offset,
                            int32_t subject_length) {
  return MatchUnits3Checked(program, true, storage, subject_offset, subject_length);
}
