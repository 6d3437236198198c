// Compiler diagnostics and error exits: every phase reports a condition to the
// session's diagnostics area through qcerrec, and the context keeps the highest
// severity. The exits (qcrestart and the routines that end in it) leave the
// running phase by throwing CompileJump, which the compile driver's guard of
// that phase catches.
#pragma once

#include <cstdint>
#include <exception>

#include "sql/front/compile_context.h"

// Severities of a condition.
constexpr int32_t kSevWarning = 1;
constexpr int32_t kSevContinue = 2;
constexpr int32_t kSevSqlError = 3;
constexpr int32_t kSevCapacity = 4;
constexpr int32_t kSevInternal = 5;

// Bytes of a parameter text buffer ("N", tab, text, terminator).
constexpr int32_t kParamTextBytes = 512;
// Separator between the items of a parameter text.
constexpr char kParamItemSeparator = static_cast<char>(255);

// The phase jump. No code after the throwing call runs; the context's error
// code tells the status.
class CompileJump : public std::exception {
 public:
  const char* what() const noexcept override { return "compile jump"; }
};

// Adds one condition (code, severity, module tag such as "QSA", parameter text
// or null for none) at position[1] of `position` (0 when null), and raises the
// highest severity. Returns normally.
void qcerrec(SqlCompileCtx* ctx, const int32_t* position, const char* tag, int32_t code,
             int32_t severity, const char* text);
// A kernel call failed with a status the compiler cannot handle: severity 5,
// a condition with that code, then qcrestart(1, status).
[[noreturn]] void qcfatal(SqlCompileCtx* ctx, int32_t status);
// Rolls an open dictionary transaction back when asked (end_dictionary 1),
// stores the error code and jumps.
[[noreturn]] void qcrestart(SqlCompileCtx* ctx, int32_t end_dictionary, int32_t error_code);
// Internal error: tag "QCO", severity 5, parameter text "N", tab, routine
// (e.g. "QST: qqwsal"; empty text for an empty routine), then roll-back, error
// code -1 and the jump.
[[noreturn]] void qcinterr(SqlCompileCtx* ctx, const char* routine, int32_t code);
// Capacity error: tag "XXX", severity 4, "N", tab, text (empty for an empty
// text), then as qcinterr.
[[noreturn]] void qclimerr(SqlCompileCtx* ctx, int32_t code, const char* text);

// Builds "N", tab, text into `out` (kParamTextBytes), or an empty text when
// `text` is empty or null. Longer texts are cut.
void BuildParamText(char* out, const char* text);
