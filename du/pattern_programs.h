// LIKE pattern programs: a pattern ("%" "_" with an optional escape
// character, or the "*" "?" "!" syntax) is compiled once into a small program
// of words, which a matcher with a bounded backtracking stack then runs over
// each subject. See du/README.md ("LIKE pattern programs") for the program
// layout and the decisions.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// Program header words (0-based).
inline constexpr int32_t PAT_SIZE = 0;          // words of the program; an error code on failure
inline constexpr int32_t PAT_STORAGE = 1;       // words of backtracking storage the matcher needs
inline constexpr int32_t PAT_LITERAL_BASE = 2;  // 1-based word index the literal offsets count from
inline constexpr int32_t PAT_FIRST = 3;         // always a RETRY
inline constexpr int32_t PAT_CODE = 4;          // first instruction
// The placeholder the in-place compilers leave in the literal base word.
inline constexpr int32_t PAT_BASE_UNSET = -10000;
// Words of one backtracking stack entry: program counter, position, slack.
inline constexpr int32_t PAT_STACK_ENTRY = 3;
// The capacity every caller compiles into.
inline constexpr int32_t PAT_CAPACITY = 500;

// Opcodes.
inline constexpr int32_t PAT_RETRY = 1;
inline constexpr int32_t PAT_EXIT = 2;
inline constexpr int32_t PAT_EOS = 3;
inline constexpr int32_t PAT_EOSR = 4;   // n
inline constexpr int32_t PAT_SMC = 5;    // literal offset, length
inline constexpr int32_t PAT_RSMC = 6;   // literal offset, length, limit
inline constexpr int32_t PAT_CLB = 7;    // literal offset, length
inline constexpr int32_t PAT_FSTEP = 8;  // n
inline constexpr int32_t PAT_FPOS = 9;   // n
// Words of each instruction with its operands, by opcode (0 and 10 take none:
// 10 stands in the compilers' table for "nothing emitted").
inline constexpr int32_t PAT_INSTRUCTION_WORDS[] = {0, 1, 1, 1, 2, 3, 4, 3, 2, 2, 0};

// Pattern modes: below 2 "*" "?" "!", 2 "%" "_", 3 "%" "_" and an escape.
inline constexpr int32_t PAT_MODE_WILDCARD = 1;
inline constexpr int32_t PAT_MODE_LIKE = 2;
inline constexpr int32_t PAT_MODE_LIKE_ESCAPE = 3;

// Results and statuses.
inline constexpr int32_t PAT_MATCH = 1;
inline constexpr int32_t PAT_NO_MATCH = 2;
inline constexpr int32_t PAT_BAD_PROGRAM = -1;
inline constexpr int32_t PAT_BAD_OPCODE = -19051;  // DUMatchPattern5
inline constexpr int32_t PAT_BAD_ESCAPE = -10314;
inline constexpr int32_t PAT_TOO_LONG = -11011;
inline constexpr int32_t PAT_SELF_TOO_LONG = -1;  // DUCmpPattern3
inline constexpr int32_t PAT_BAD_ARGUMENT = -19077;

// Compiles the single-byte pattern [pattern_offset, + *pattern_length) of
// `storage` into `program` (capacity words). Escape characters are removed
// from the text in place; the length after removal is returned and stored in
// *pattern_length. Literal offsets are byte offsets in `storage`. In mode 3
// the escape character is the byte at escape_offset + 1 of `escape_storage`.
// On failure word 0 holds the error (-10314, -11011, -19077) and so does the
// result.
int32_t DUCmpPattern2(int32_t* program, int32_t capacity, ByteSpan storage, int32_t pattern_offset,
                      int32_t* pattern_length, int32_t mode, ConstByteSpan escape_storage,
                      int32_t escape_offset);

// The same for a pattern of 3-byte characters (length in characters); mode 2
// or 3 only, the escape the character at escape_offset + 1 of `storage`.
int32_t DUCmpPattern1(int32_t* program, int32_t capacity, ByteSpan storage, int32_t pattern_offset,
                      int32_t* pattern_length, int32_t mode, int32_t escape_offset);

// A self-contained program: the pattern text (left unchanged in `storage`) is
// carried behind the instructions and word 2 names its first word. Mode 2 is
// "%" "_", any other "*" "?" "!". Word 0 is -1 (and so is the result) when
// the buffer is too small; otherwise the result is word 0.
int32_t DUCmpPattern3(int32_t* program, int32_t capacity, ConstByteSpan storage,
                      int32_t pattern_offset, int32_t pattern_length, int32_t mode);

// Runs a program over the subject [subject_offset, + subject_length) of
// `storage`; the literals lie in `storage` from the word that program word 2
// names. `stack` holds program word 1 words. 1 match, 2 no match, -1 a bad
// program (an unknown opcode, an operand outside the program, a literal
// outside its area, a stack deeper than word 1), -19077 a subject outside
// `storage`.
int32_t DUMatchPattern2(const int32_t* program, int32_t* stack, ConstByteSpan storage,
                        int32_t subject_offset, int32_t subject_length);

// The same for a self-contained program (word 2 names a word of the program).
int32_t DUMatchPattern4(const int32_t* program, int32_t* stack, ConstByteSpan storage,
                        int32_t subject_offset, int32_t subject_length);

// Matcher of DUCmpPattern1's programs over a subject of 3-byte characters
// (length in characters); one retry slot, no stack. Results as DUMatchPattern2.
int32_t DUMatchPattern1(const int32_t* program, ConstByteSpan storage, int32_t subject_offset,
                        int32_t subject_length);

// The same for a program that carries its literal text (word 2 names a word
// of the program): a pattern compiled from a copy keeps its value unedited.
int32_t DUMatchPattern1Self(const int32_t* program, ConstByteSpan storage, int32_t subject_offset,
                            int32_t subject_length);

// Literal offsets count from the start of `storage`. With `negate` 0: 1 for a
// match, 0 for none; with 1 (NOT LIKE): 0 for a match, 1 for none. -19051 for
// a bad program, -19077 for a subject outside `storage`.
int32_t DUMatchPattern5(const int32_t* program, int32_t* stack, ConstByteSpan storage,
                        int32_t subject_offset, int32_t subject_length, int32_t negate);

// Writes a listing of the program, one line per instruction, to the log
// (DSLogText). `literals` is the area the literal offsets count from.
void DUPrtPattern(const int32_t* program, ConstByteSpan literals);
