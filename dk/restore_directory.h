// The restore directory of the LOG databank: a chain of 2048-byte pages from
// header word 4 holding one slot per other databank with the restore time
// stamp that databank must carry; its copy into another copy of the LOG
// databank, and the registration of the open databanks in it.
#pragma once

#include <cstdint>

#include "dk/databank_format.h"

// DKROO1 codes 4 (look up), 5 (check or add), 7 (remove) and 14 (look up at
// open) on a request already checked by DKROO1. Returns the result code.
int32_t RestoreDirectory(int32_t* request);

// Copies the restore directory of `source` (header word 4) into new pages of
// `target`, written before the target's header names them; the target's old
// directory pages are freed after. 0 (also when the source has none), -61
// or a page error.
int32_t DKCopyRestoreDirectory(int32_t source, int32_t target);

// Checks or adds the restore directory slot of every open databank but the
// TRANS, LOG and WORK databanks and backups (DKROO1 codes 1 and 5). A
// databank whose slot says it must be restored gets -19 as its error
// status; nothing is done while the LOG databank is not open. Returns 0.
int32_t DKRegisterRestoreDirectory();

// The slot check of one databank (DKROO1 codes 1 and 5): 0, -19 or an error.
int32_t DKCheckRestoreSlot(int32_t databank);

// The restore time stamp of databank `did` in the directory of `copy`
// (DKILT0): a slot whose stamp is the given one less 1 or 2 gets state 1; a
// missing slot is added (the stamp, sequence -1, state 1), the directory's
// first page made when there is none; another stamp is -19 (option -1: a
// warning only, result 0). Writes are at once; a failed one is -61.
int32_t DKILT0(int32_t copy, int32_t did, int32_t stamp, int32_t option);
// DKILT0 on `databank` and each of its online copies that is not a backup;
// the first failure ends it, unless it is a shadow's. -45 for no databank.
int32_t DKILT1(int32_t databank, int32_t did, int32_t stamp, int32_t option);
