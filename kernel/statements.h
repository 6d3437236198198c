// Statements of a session: STM blocks on a level's chain, each running a
// compiled program whose descriptor, program and storage its compound
// blocks name. DSCreateStm builds one from a precompiled image (shared
// through the routine-program cache unless the start mode is -242),
// DSOpenStm readies it, DSCloseStm releases it; DSBadHandle reports a
// handle that names no statement.
#pragma once

#include <cstdint>

inline constexpr int32_t STM_CREATED = 1;
inline constexpr int32_t STM_OPEN = 5;
inline constexpr int32_t STM_RELEASED = 6;

// Decodes a program image into a new descriptor block: the header's 16-bit
// values widened to words, then the run-length encoded body (a negative
// count c repeats the next word |c| times, a positive count copies that many
// words). 0 with *sd, -19078 for counts past the image, -11002.
int32_t DSDecodeImage(int32_t* base, const int16_t* header, int32_t header_length,
                      const int32_t* body, int32_t body_length, int32_t* sd);

// 0 with the STM in *stm, or an error (also in the session's RVEC_RCODE).
int32_t DSCreateStm(int32_t* base, int32_t usr, int32_t number, const int16_t* header,
                    int32_t header_length, const int32_t* body, int32_t body_length, int32_t* stm);
// Creates the statement from the dictionary image `number` (DDStmtImage).
int32_t DSCreateStmFromImage(int32_t* base, int32_t usr, int32_t number, int32_t* stm);
int32_t DSOpenStm(int32_t* base, int32_t mode, int32_t usr, int32_t stm);
// Closes and frees the statement; *stm cleared.
int32_t DSCloseStm(int32_t* base, int32_t usr, int32_t* stm);
// -19039 (also in the session's RVEC_RCODE) when the kernel is started,
// else -19040.
int32_t DSBadHandle(int32_t* base, int32_t usr);
