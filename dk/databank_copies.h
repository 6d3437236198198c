// The copies (shadows) of a databank: the state of a copy or of the whole
// chain (DKGDS1), taking a copy offline (DKSUD1) and online again (DKRED1).
#pragma once

#include <cstdint>

// DKGDS1 and DKSUD1 request words.
constexpr int CPY_MODE = 0;   // mode in, result out
constexpr int CPY_ENTRY = 1;  // DKGDS1, DKRED1: the copy's entry (out)
constexpr int CPY_DID = 2;
constexpr int CPY_SEQNO = 3;  // DKGDS1: -1 the first copy
constexpr int CPY_WORDS = 4;

int32_t DKGDS1(int32_t* request);
int32_t DKSUD1(int32_t* request);
// Puts a copy online: its close mark cleared on disk, its offline flags and
// error status cleared (0; 1 when it was online), an entry on it for every
// table of the DID, and their root entries found. -14, -45, -61, -63.
int32_t DKRED1(int32_t* request);

// Gives every table of the copy's DID a table entry on the copy (closed,
// root entry not yet found) when it has none: 0, or -14 (reported) when the
// table entries ran out.
int32_t DKTableEntriesOnCopy(int32_t copy);

// DKOCD1 request words.
constexpr int OCD_COUNT = 1;  // databanks (at most 4 taken); negative: tables rebuilt
constexpr int OCD_SEQNO = 2;
constexpr int OCD_FIRST_DID = 3;
constexpr int OCD_WORDS = 7;
// Makes the copies with the SEQNO of the listed databanks current from the
// first copy of each: 0, -14, -46, -47 or the failure of a table's copy.
int32_t DKOCD1(int32_t* request);
