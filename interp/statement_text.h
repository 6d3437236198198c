// Services of the request handlers around statement preparation and
// execution: the escape translation of a client's statement text, the error
// hook of the escape translator, and the opening of the tables of a
// statement and of every sub-statement linked to it.
#pragma once

#include <cstdint>

namespace interp {

// The input copy of a text up to this many bytes lives in the call's own
// work area; a longer one in a block of the word storage.
inline constexpr int32_t kTranslateAreaBytes = 20000;

// Translates the escape clauses of the `count` characters of `width` bytes
// (1 or 3) at text[start ..] in place; `capacity` is the buffer's bytes.
// 0, -11002 (no storage for a long text), -19078 (a text outside the
// buffer), or the translator's error, also added to the session's
// diagnostics (pb[1]).
int32_t DSTranslateStmText(int32_t* base, int32_t* pb, uint8_t* text, int32_t start,
                           int32_t capacity, int32_t count, int32_t* length, int32_t width);

// The translator's error hook: the parameter text (the first text cut to
// 200 bytes; when shorter, byte 255 and as much of the second as fits) with
// `value` and `rc` into the session's diagnostics at severity 3.
void DSEscErrorHook(int32_t* base, int32_t usr, int32_t value, int32_t rc, const char* first,
                    int32_t first_length, const char* second, int32_t second_length);

// Opens the tables of the statement pb[2] (`mode`, when it is linked but not
// started) and binds every linked sub-statement reached through its call
// status descriptors, depth first, recursive invocations not followed. 0 or
// the first failure; pb[2] names the first statement again.
int32_t DSOpenSubStmTables(int32_t* base, int32_t* pb, int32_t mode);

}  // namespace interp
