// Internal statements of the program itself: DSPrepStm creates a statement
// from a precompiled image and sets it up (the kernel's statement open);
// DSSelStm readies a statement for its next run. Parameter blocks: word 0
// the status, word 1 the session, word 2 the statement.
#pragma once

#include <cstdint>

inline constexpr int32_t STM_SELECTED = 2;

// The statement's STATUS becomes 2 and its CURSOR_ORDER_NUMBER the next
// cursor order number of the session's transaction (1 without one); status
// 0 and that number returned. -19039 for a statement or session outside the
// word storage.
int32_t DSSelStm(int32_t* base, int32_t* pb);

// Creates statement `number` from its image (shared through the kernel's
// program cache outside start mode -242) into pb[2], then opens it. A
// failing open other than -19040 closes the statement again (pb[2] = 0)
// with the session's result vector kept, and the status is its RVEC_RCODE.
int32_t DSPrepStm(int32_t* base, int32_t* pb, int32_t number, const int16_t* header,
                  int32_t header_length, const int32_t* body, int32_t body_length);

// The request interface's entries of the dictionary's service table.
void RequestInstallDictionaryServices();
