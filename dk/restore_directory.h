// The restore directory of the LOG databank: a chain of 2048-byte pages from
// header word 4 holding one slot per other databank with the restore time
// stamp that databank must carry.
#pragma once

#include <cstdint>

#include "dk/databank_format.h"

// DKROO1 codes 4 (look up), 5 (check or add), 7 (remove) and 14 (look up at
// open) on a request already checked by DKROO1. Returns the result code.
int32_t RestoreDirectory(int32_t* request);
