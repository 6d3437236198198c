// The copies (shadows) of a databank: the state of a copy or of the whole
// chain (DKGDS1) and taking a copy offline (DKSUD1).
#pragma once

#include <cstdint>

// DKGDS1 and DKSUD1 request words.
constexpr int CPY_MODE = 0;   // mode in, result out
constexpr int CPY_ENTRY = 1;  // DKGDS1: the copy's entry (out)
constexpr int CPY_DID = 2;
constexpr int CPY_SEQNO = 3;  // DKGDS1: -1 the first copy
constexpr int CPY_WORDS = 4;

int32_t DKGDS1(int32_t* request);
int32_t DKSUD1(int32_t* request);
