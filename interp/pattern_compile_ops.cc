// Run-time compiles of LIKE patterns: IMC, IMV and IMU compile a pattern
// once, RMC, RMV and RMU again on every run, into a program block of the
// kernel word storage whose index the pattern word holds (0 none, -1 a null
// pattern). Block: the program, then the matcher's backtracking words. A
// pattern compiled from a copy (an escape character, or a translation) keeps
// its text inside the program, behind its instructions, and names it by its
// literal base; a pattern compiled in place reads its literals from the
// statement's storage (literal base 1).
#include <cstring>
#include <vector>

#include "du/collation.h"
#include "du/pattern_programs.h"
#include "interp/run_state.h"
#include "interp/varying.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

constexpr int32_t kNotCompiled = 0;
constexpr int32_t kNullPattern = -1;
constexpr int32_t kBadEscape = -10315;
constexpr int32_t kNoCollation = -19114;
// A copy up to this long is made on the stack, a longer one in the kernel
// word storage.
constexpr int32_t kLocalCopy = 255;

enum class Source { kPrefixed, kVarying, kWide };

void FreeBlock(int32_t* base, int32_t block) {
  DSPoolMem(base, &block, 0, 0);
}

// The pattern (text offset, length in units) or null; false when the run
// failed.
bool ReadPattern(Run& run, Source source, bool* null, int32_t* text, int32_t* length) {
  const int32_t p = run.op(4);
  if (source == Source::kPrefixed) {
    if (!run.fits(p, 3)) return run.fail(kErrBadOperand), false;
    *null = run.at(p)[0] == 255;
    *text = p + 3;
    *length = run.at(p)[1] << 8 | run.at(p)[2];
    if (!*null && !run.fits(*text, *length)) return run.fail(kErrBadOperand), false;
    return true;
  }
  const int32_t max = run.op(5), width = source == Source::kWide ? 3 : 1;
  if (max < 0 || !run.fits(p, int64_t{width} * max + 1)) return run.fail(kErrBadOperand), false;
  *text = p + 1;
  *null = run.at(p)[0] == 255;
  if (*null) return true;
  const int32_t rc = ReadLength(run, run.op(6), max, length);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc), false;
  *null = rc == 1;
  return true;
}

// The escape value of mode 3 (its indicator at *escape): null, or exactly
// one character; false when the run failed.
bool ReadEscape(Run& run, Source source, bool* null, int32_t* escape) {
  const int32_t width = source == Source::kWide ? 3 : 1;
  if (source == Source::kPrefixed) {
    *escape = run.op(5);
    if (!run.fits(*escape, 1 + width)) return run.fail(kErrBadOperand), false;
    *null = run.at(*escape)[0] == 255;
    return true;
  }
  *escape = run.op(7);
  const int32_t max = run.op(8);
  if (max < 0 || !run.fits(*escape, int64_t{width} * max + 1))
    return run.fail(kErrBadOperand), false;
  *null = run.at(*escape)[0] == 255;
  if (*null) return true;
  int32_t length = 0;
  const int32_t rc = ReadLength(run, run.op(9), max, &length);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc), false;
  if (rc == 1) return *null = true, true;
  if (length != 1) return run.fail(kBadEscape), false;
  return true;
}

// A new block of `words` words holding `program`'s words first; 0 when the
// storage is exhausted.
int32_t NewBlock(Run& run, const int32_t* program, int32_t program_words, int64_t words) {
  int32_t block = 0;
  if (words > INT32_MAX / 4) return 0;
  DSGetMem(run.base, &block, static_cast<int32_t>(words * 4));
  if (block != 0)
    std::memcpy(&Wd(run.base, block, 0), program, static_cast<size_t>(program_words) * 4);
  return block;
}

// The block of a program whose literals stay in the storage (literal base
// 1); 0 when the storage is exhausted (the run failed).
int32_t InPlaceBlock(Run& run, int32_t* program) {
  const int32_t size = program[PAT_SIZE], stack = program[PAT_STORAGE];
  program[PAT_LITERAL_BASE] = 1;
  const int32_t block = NewBlock(run, program, size, int64_t{size} + stack);
  if (block == 0) run.fail(kErrNoStorage);
  return block;
}

// The block of a program that carries `text_bytes` of literal text behind
// its instructions (literal base: the word where the text starts); the
// caller writes the text. 0 when the storage is exhausted (the run failed).
int32_t CopyingBlock(Run& run, const int32_t* program, int64_t text_bytes) {
  const int32_t size = program[PAT_SIZE], stack = program[PAT_STORAGE];
  const int32_t text_words = static_cast<int32_t>((text_bytes + 3) / 4);
  const int32_t block = NewBlock(run, program, size, int64_t{size} + text_words + stack);
  if (block == 0) return run.fail(kErrNoStorage), 0;
  int32_t* words = &Wd(run.base, block, 0);
  words[PAT_SIZE] = size + text_words;
  words[PAT_LITERAL_BASE] = size + 1;
  return block;
}

// Compiles the single-byte pattern (text, length); the new block, or 0 when
// the run failed.
int32_t CompileBytes(Run& run, int32_t mode, int32_t translation, int32_t text, int32_t length,
                     int32_t escape) {
  int32_t program[PAT_CAPACITY];
  const bool copying = mode == PAT_MODE_LIKE_ESCAPE || translation != 0;
  if (!copying) {
    int32_t n = length;
    const int32_t rc =
        DUCmpPattern2(program, PAT_CAPACITY, run.bytes(), text, &n, mode, run.bytes(), escape);
    if (rc < 0) return run.fail(rc), 0;
    return InPlaceBlock(run, program);
  }
  // The compiler cuts escape characters out of the text it is given: it is
  // given a copy, so the pattern value keeps them.
  uint8_t local[kLocalCopy];
  int32_t temporary = 0;
  uint8_t* copy = local;
  if (length > kLocalCopy) {
    DSGetMemRaw(run.base, &temporary, length);
    if (temporary == 0) return run.fail(kErrNoStorage), 0;
    copy = reinterpret_cast<uint8_t*>(&Wd(run.base, temporary, 0));
  }
  std::memcpy(copy, run.at(text), static_cast<size_t>(length));
  int32_t n = length;
  int32_t block = 0;
  const int32_t rc =
      DUCmpPattern2(program, PAT_CAPACITY, ByteSpan(copy, static_cast<size_t>(length)), 0, &n, mode,
                    run.bytes(), escape);
  if (rc < 0) {
    run.fail(rc);
  } else {
    const int32_t size = program[PAT_SIZE];
    block = CopyingBlock(run, program, n);
    if (block != 0) {
      int32_t* words = &Wd(run.base, block, 0);
      const ByteSpan target(reinterpret_cast<uint8_t*>(words + size),
                            static_cast<size_t>(words[PAT_SIZE] - size) * 4);
      if (translation != 0) {
        int32_t status = 0, cache = 0, written = 0;
        XLConvertPlain(run.base, &status, translation, &cache, target, 0, &written, n,
                       ConstByteSpan(copy, static_cast<size_t>(n)), 0, n);
        if (status < 0) {
          FreeBlock(run.base, block);
          block = 0;
          run.fail(status);
        }
      } else if (n > 0) {
        std::memcpy(target.data(), copy, static_cast<size_t>(n));
      }
    }
  }
  if (temporary != 0) FreeBlock(run.base, temporary);
  return block;
}

// The 3-byte form compiles in place, its literals staying in the storage;
// in mode 3 the compiler cuts the escape characters out of the text it is
// given, so it is given a copy (the escape character in front, the text
// behind it), which the block keeps behind the program as its literals: the
// pattern value stays as it was for the next compile.
int32_t CompileWide(Run& run, int32_t mode, int32_t text, int32_t length, int32_t escape) {
  int32_t program[PAT_CAPACITY];
  int32_t n = length;
  if (mode != PAT_MODE_LIKE_ESCAPE) {
    const int32_t rc = DUCmpPattern1(program, PAT_CAPACITY, run.bytes(), text, &n, mode, escape);
    if (rc < 0) return run.fail(rc), 0;
    return InPlaceBlock(run, program);
  }
  constexpr int32_t kTextAt = 4;  // the escape value's indicator and character first
  std::vector<uint8_t> copy(static_cast<size_t>(kTextAt + 3 * int64_t{length}));
  std::memcpy(copy.data(), run.at(escape), kTextAt);
  std::memcpy(copy.data() + kTextAt, run.at(text), copy.size() - kTextAt);
  const int32_t rc =
      DUCmpPattern1(program, PAT_CAPACITY, ByteSpan(copy.data(), copy.size()), kTextAt, &n, mode, 0);
  if (rc < 0) return run.fail(rc), 0;
  const int64_t text_bytes = kTextAt + 3 * int64_t{n};
  const int32_t block = CopyingBlock(run, program, text_bytes);
  if (block != 0)
    std::memcpy(&Wd(run.base, block, program[PAT_SIZE]), copy.data(),
                static_cast<size_t>(text_bytes));
  return block;
}

template <Source source, bool again>
void Compile(Run& run) {
  const int32_t word = run.op(2), mode = run.op(1), translation = run.op(3);
  if (!run.words(word, 1)) return run.fail(kErrBadOperand);
  if (!again && run.word(word) != kNotCompiled) return run.next();
  if (source == Source::kWide && translation != 0) return run.fail(kNoCollation);
  const int32_t held = run.word(word);
  run.word(word) = kNotCompiled;
  if (held != kNullPattern && held != kNotCompiled && InStorage(run.base, held, 1))
    FreeBlock(run.base, held);
  bool null = false;
  int32_t text = 0, length = 0, escape = 0;
  if (!ReadPattern(run, source, &null, &text, &length)) return;
  if (!null && mode == PAT_MODE_LIKE_ESCAPE && !ReadEscape(run, source, &null, &escape)) return;
  if (null) {
    run.word(word) = kNullPattern;
    return run.next();
  }
  const int32_t block = source == Source::kWide
                            ? CompileWide(run, mode, text, length, escape)
                            : CompileBytes(run, mode, translation, text, length, escape);
  if (block == 0) return;
  run.word(word) = block;
  run.next();
}

}  // namespace

void InstallPatternCompileOps(Instruction t[]) {
  t[26] = Compile<Source::kPrefixed, false>;  // IMC
  t[27] = Compile<Source::kPrefixed, true>;   // RMC
  t[128] = Compile<Source::kVarying, false>;  // IMV
  t[129] = Compile<Source::kVarying, true>;   // RMV
  t[200] = Compile<Source::kWide, false>;     // IMU
  t[201] = Compile<Source::kWide, true>;      // RMU
}

}  // namespace interp
