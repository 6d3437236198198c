// The diagnostics area of a session: conditions numbered by their position
// in the statement, in a chain that starts with the record embedded in
// USR (DIA_NEXT on); TRAN_DIAG_SIZE bounds how many a transaction keeps.
#pragma once

#include <cstdint>

// Words of a condition record, from its link (the embedded one at USR
// DIA_NEXT); an allocated record takes 316 bytes and its text.
inline constexpr int32_t DIAREC_NEXT = 0;
inline constexpr int32_t DIAREC_NATIVE = 1;
inline constexpr int32_t DIAREC_NUMBER = 2;
inline constexpr int32_t DIAREC_CURRENT = 3;  // 72 words: the USR CURRENT_* copies
inline constexpr int32_t DIAREC_CURRENT_WORDS = 72;
inline constexpr int32_t DIAREC_SEVERITY = 75;
inline constexpr int32_t DIAREC_POSITION = 76;
inline constexpr int32_t DIAREC_TEXT_LENGTH = 77;
inline constexpr int32_t DIAREC_TEXT = 78;
inline constexpr int32_t DIAREC_BYTES = 316;
inline constexpr int32_t DIAG_MAX_TEXT = 32767;

// Adds a condition: 0, -11002 (also in RVEC_RCODE), or -19078 for a
// session or text that is not one.
int32_t DSAddDiag(int32_t* base, int32_t usr, int32_t position, int32_t native, int32_t severity,
                  const uint8_t* text, int32_t length);

// Clears the area: the allocated records are freed, the count and the
// embedded record's number and native code become 0.
void DSClearDiag(int32_t* base, int32_t usr);
