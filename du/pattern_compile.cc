// The pattern compilers: the pattern is cut into tokens (any run, optional
// character, one character, a literal run, the end) and a six-state table
// turns them into instructions. The three compilers share the table and the
// emitter and differ in the width of a character (1 or 3 bytes) and in where
// the literal text lives.
#include <algorithm>
#include <cstring>

#include "du/pattern_programs.h"

namespace {

enum Token { kAny, kOpt, kOne, kLit, kEnd, kTokenCount };
enum State { kPlain, kOptional, kFixed, kFixedOpt, kAnyRun, kAnyFixed, kStateCount };
enum Counter { kKeep, kCountOpt, kCountOne, kClearOpt };

// Opcode 10 of the table emits nothing.
constexpr int32_t kNothing = 10;

struct Step {
  int32_t first;
  int32_t second;
  Counter counter;
  State next;
};

// What each state does with each token: up to two instructions, a counter
// change and the next state. Literal runs and the end always lead to kPlain.
constexpr Step kSteps[kStateCount][kTokenCount] = {
    // kPlain
    {{kNothing, kNothing, kKeep, kAnyRun},
     {kNothing, kNothing, kCountOpt, kOptional},
     {kNothing, kNothing, kCountOne, kFixed},
     {PAT_CLB, kNothing, kKeep, kPlain},
     {PAT_EOS, kNothing, kKeep, kPlain}},
    // kOptional
    {{kNothing, kNothing, kClearOpt, kAnyRun},
     {kNothing, kNothing, kCountOpt, kOptional},
     {kNothing, kNothing, kCountOne, kFixedOpt},
     {PAT_RSMC, kNothing, kKeep, kPlain},
     {PAT_EOSR, kNothing, kKeep, kPlain}},
    // kFixed
    {{kNothing, kNothing, kKeep, kAnyFixed},
     {kNothing, kNothing, kCountOpt, kFixedOpt},
     {kNothing, kNothing, kCountOne, kFixed},
     {PAT_FSTEP, PAT_CLB, kKeep, kPlain},
     {PAT_FSTEP, PAT_EOS, kKeep, kPlain}},
    // kFixedOpt
    {{kNothing, kNothing, kClearOpt, kAnyFixed},
     {kNothing, kNothing, kCountOpt, kFixedOpt},
     {kNothing, kNothing, kCountOne, kFixedOpt},
     {PAT_FSTEP, PAT_RSMC, kKeep, kPlain},
     {PAT_FSTEP, PAT_EOSR, kKeep, kPlain}},
    // kAnyRun: an optional character after a run is absorbed by it
    {{kNothing, kNothing, kKeep, kAnyRun},
     {kNothing, kNothing, kKeep, kAnyRun},
     {kNothing, kNothing, kCountOne, kAnyFixed},
     {PAT_SMC, kNothing, kKeep, kPlain},
     {PAT_EXIT, kNothing, kKeep, kPlain}},
    // kAnyFixed
    {{kNothing, kNothing, kKeep, kAnyFixed},
     {kNothing, kNothing, kKeep, kAnyFixed},
     {kNothing, kNothing, kCountOne, kAnyFixed},
     {PAT_FSTEP, PAT_SMC, kKeep, kPlain},
     {PAT_FSTEP, PAT_EXIT, kKeep, kPlain}},
};

// The pattern text being compiled: `chars` characters of `width` bytes at
// `bytes`, which lies at byte `offset` of the area the literal offsets count
// from. Escape characters are cut out of the text in place.
struct PatternText {
  uint8_t* bytes;
  int32_t width;
  int32_t chars;
  int32_t offset;

  uint32_t At(int32_t i) const {
    const uint8_t* p = bytes + int64_t(i) * width;
    return width == 1 ? p[0] : (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
  }
  void RemoveAt(int32_t i) {
    std::memmove(bytes + int64_t(i) * width, bytes + int64_t(i + 1) * width,
                 size_t(chars - i - 1) * size_t(width));
    --chars;
  }
};

// The special characters of a mode; -1 where the mode has none.
struct Specials {
  int64_t any;
  int64_t opt;
  int64_t one;
  int64_t escape;
  bool checked_escape;  // mode 3: only "%", "_" and the escape may follow it
};

struct Lexer {
  PatternText& text;
  Specials specials;
  int32_t next = 0;

  // The escape takes precedence when it is also a wildcard character.
  int Classify(uint32_t c) const {
    if (c == specials.escape) return kTokenCount;  // the escape itself
    if (c == specials.any) return kAny;
    if (c == specials.opt) return kOpt;
    if (c == specials.one) return kOne;
    return kLit;
  }

  // The next token; a literal run's start and length (characters) for kLit.
  // -10314 for an escape mode 3 refuses.
  int32_t Read(int32_t* start, int32_t* length) {
    if (next >= text.chars) return kEnd;
    *start = next;
    int32_t i = next;
    while (i < text.chars) {
      const int kind = Classify(text.At(i));
      if (kind == kLit) {
        ++i;
        continue;
      }
      if (kind != kTokenCount) break;
      if (i + 1 == text.chars) {
        if (specials.checked_escape) return PAT_BAD_ESCAPE;
        ++i;  // a trailing "!" stands for itself
        continue;
      }
      if (specials.checked_escape) {
        const uint32_t c = text.At(i + 1);
        if (c != specials.any && c != specials.one && c != specials.escape) return PAT_BAD_ESCAPE;
      }
      text.RemoveAt(i);
      ++i;  // the escaped character belongs to the run
    }
    if (i > next) {
      *length = i - next;
      next = i;
      return kLit;
    }
    next = i + 1;
    return Classify(text.At(i));
  }
};

// Writes the instructions into the program within its capacity and keeps the
// end anchor and the storage need.
struct Emitter {
  int32_t* program;
  int32_t capacity;
  int32_t width;
  int32_t next = PAT_CODE;
  int32_t last_smc = -1;  // word of the last SMC still to anchor
  int32_t fixed_after = 0;
  int32_t need = 0;
  int32_t most = 0;

  bool Room(int32_t words) const { return int64_t(next) + words <= capacity; }

  bool Emit(int32_t op, int32_t literal_offset, int32_t literal_chars, int32_t* ones,
            int32_t* opts) {
    if (op == kNothing) return true;
    const bool anchor = op == PAT_EOS && last_smc >= 0;
    if (!Room(PAT_INSTRUCTION_WORDS[op] + (anchor ? 2 : 0))) return false;
    int32_t* w = program + next;
    const int32_t bytes = literal_chars * width;
    switch (op) {
      case PAT_EXIT:
        w[0] = op;
        break;
      case PAT_EOS:
        if (anchor) {
          Anchor();
          w = program + next;
        }
        w[0] = op;
        break;
      case PAT_EOSR:
        w[0] = op;
        w[1] = *opts;
        *opts = 0;
        break;
      case PAT_SMC:
        w[0] = op;
        w[1] = literal_offset;
        w[2] = literal_chars;
        most = std::max(most, need);
        need = PAT_STACK_ENTRY;
        last_smc = next;
        fixed_after = bytes;
        break;
      case PAT_RSMC:
        w[0] = op;
        w[1] = literal_offset;
        w[2] = literal_chars;
        w[3] = literal_chars + *opts;
        *opts = 0;
        need += PAT_STACK_ENTRY;
        last_smc = -1;
        break;
      case PAT_CLB:
        w[0] = op;
        w[1] = literal_offset;
        w[2] = bytes;
        fixed_after += bytes;
        break;
      case PAT_FSTEP:
        w[0] = op;
        w[1] = *ones * width;
        fixed_after += w[1];
        *ones = 0;
        break;
    }
    next += PAT_INSTRUCTION_WORDS[op];
    return true;
  }

  // The last SMC becomes a compare at the only place its literal can stand,
  // behind an FPOS to the fixed length before the end.
  void Anchor() {
    std::memmove(program + last_smc + 2, program + last_smc, size_t(next - last_smc) * 4);
    program[last_smc] = PAT_FPOS;
    program[last_smc + 1] = fixed_after;
    program[last_smc + 2] = PAT_CLB;
    program[last_smc + 4] *= width;
    next += 2;
    last_smc = -1;
    need = 0;
  }
};

int32_t Fail(int32_t* program, int32_t capacity, int32_t error) {
  if (capacity > 0) program[PAT_SIZE] = error;
  return error;
}

// Compiles `text` into `program`; the result is the program's size or a
// negative error, also in word 0.
int32_t Compile(int32_t* program, int32_t capacity, PatternText& text, const Specials& specials,
                int32_t too_long) {
  if (capacity <= PAT_CODE) return Fail(program, capacity, too_long);
  Lexer lexer{text, specials};
  Emitter emitter{program, capacity, text.width};
  int32_t ones = 0;
  int32_t opts = 0;
  State state = kPlain;
  for (;;) {
    int32_t start = 0;
    int32_t length = 0;
    const int32_t token = lexer.Read(&start, &length);
    if (token < 0) return Fail(program, capacity, token);
    const Step& step = kSteps[state][token];
    switch (step.counter) {
      case kCountOpt:
        ++opts;
        break;
      case kCountOne:
        ++ones;
        break;
      case kClearOpt:
        opts = 0;
        break;
      case kKeep:
        break;
    }
    const int32_t offset = text.offset + start * text.width;
    if (!emitter.Emit(step.first, offset, length, &ones, &opts) ||
        !emitter.Emit(step.second, offset, length, &ones, &opts))
      return Fail(program, capacity, too_long);
    state = step.next;
    if (token == kEnd) break;
  }
  program[PAT_SIZE] = emitter.next;
  program[PAT_STORAGE] = text.width == 1 ? std::max(emitter.most, emitter.need) : 0;
  program[PAT_LITERAL_BASE] = PAT_BASE_UNSET;
  program[PAT_FIRST] = PAT_RETRY;
  return emitter.next;
}

Specials SpecialsOf(int32_t mode, int64_t escape) {
  if (mode < PAT_MODE_LIKE) return {'*', '?', -1, '!', false};
  if (mode == PAT_MODE_LIKE) return {'%', -1, '_', -1, false};
  return {'%', -1, '_', escape, true};
}

}  // namespace

int32_t DUCmpPattern2(int32_t* program, int32_t capacity, ByteSpan storage, int32_t pattern_offset,
                      int32_t* pattern_length, int32_t mode, ConstByteSpan escape_storage,
                      int32_t escape_offset) {
  if (!field_fits(storage, pattern_offset, *pattern_length))
    return Fail(program, capacity, PAT_BAD_ARGUMENT);
  int64_t escape = -1;
  if (mode == PAT_MODE_LIKE_ESCAPE) {
    if (!field_fits(escape_storage, int64_t(escape_offset) + 1, 1))
      return Fail(program, capacity, PAT_BAD_ARGUMENT);
    escape = escape_storage[size_t(escape_offset) + 1];
  }
  PatternText text{storage.data() + pattern_offset, 1, *pattern_length, pattern_offset};
  const int32_t result = Compile(program, capacity, text, SpecialsOf(mode, escape), PAT_TOO_LONG);
  *pattern_length = text.chars;
  return result < 0 ? result : text.chars;
}

int32_t DUCmpPattern1(int32_t* program, int32_t capacity, ByteSpan storage, int32_t pattern_offset,
                      int32_t* pattern_length, int32_t mode, int32_t escape_offset) {
  if (mode != PAT_MODE_LIKE && mode != PAT_MODE_LIKE_ESCAPE)
    return Fail(program, capacity, PAT_BAD_ESCAPE);
  if (*pattern_length < 0 || !field_fits(storage, pattern_offset, int64_t(*pattern_length) * 3))
    return Fail(program, capacity, PAT_BAD_ARGUMENT);
  PatternText text{storage.data() + pattern_offset, 3, *pattern_length, pattern_offset};
  int64_t escape = -1;
  if (mode == PAT_MODE_LIKE_ESCAPE) {
    if (!field_fits(storage, int64_t(escape_offset) + 1, 3))
      return Fail(program, capacity, PAT_BAD_ARGUMENT);
    escape = PatternText{storage.data() + escape_offset + 1, 3, 1, 0}.At(0);
  }
  // The wildcards are the code points of "%" and "_".
  const int32_t result = Compile(program, capacity, text, SpecialsOf(mode, escape), PAT_TOO_LONG);
  *pattern_length = text.chars;
  return result < 0 ? result : text.chars;
}

int32_t DUCmpPattern3(int32_t* program, int32_t capacity, ConstByteSpan storage,
                      int32_t pattern_offset, int32_t pattern_length, int32_t mode) {
  if (!field_fits(storage, pattern_offset, pattern_length))
    return Fail(program, capacity, PAT_BAD_ARGUMENT);
  // The text goes to the tail of the buffer first and is compiled there.
  const int32_t text_words = (pattern_length + 1) / 4 + 1;
  const int32_t text_word = capacity - text_words;  // 0-based
  if (text_word <= PAT_CODE) return Fail(program, capacity, PAT_SELF_TOO_LONG);
  uint8_t* copy = reinterpret_cast<uint8_t*>(program + text_word);
  if (pattern_length > 0)
    std::memcpy(copy, storage.data() + pattern_offset, size_t(pattern_length));
  PatternText text{copy, 1, pattern_length, 0};
  const int32_t mode_used = mode == PAT_MODE_LIKE ? PAT_MODE_LIKE : PAT_MODE_WILDCARD;
  const int32_t size =
      Compile(program, text_word, text, SpecialsOf(mode_used, -1), PAT_SELF_TOO_LONG);
  if (size < 0) return Fail(program, capacity, size);
  std::memmove(program + size, program + text_word, size_t(text_words) * 4);
  program[PAT_LITERAL_BASE] = size + 1;
  program[PAT_SIZE] = size + text_words;
  return program[PAT_SIZE];
}
