// Checkpoints of the background threads: the copy classes of the databanks
// a secured run changed, the members kept in state 20 when a copy out of
// step asks for a checkpoint, and the checkpoint units that pass their
// records again to the copies that missed them.
#pragma once

#include <cstdint>
#include <span>

// Databank entry word: a checkpoint was asked for the databank.
constexpr int32_t DBE_CHECKPOINT = 10;

// Copy classes of a databank over itself and its chained copies (a copy
// takes records when its error word and offline flag are 0).
constexpr int32_t kCopiesUsable = 12, kCopiesOneOut = 13, kCopiesSomeOut = 14,
                  kCopiesNoneUsable = 15;
int32_t DKCopyClass(int32_t databank);

// After the pages of a run (linked through TSS word 7, ascending commit
// numbers) are written: each member's header is read and every databank
// it lists with three records or more is classified. From the first
// member that asks for a checkpoint on, the members go to state 20 (area
// word 156 = 1, word 157 counts them) and a background thread is woken;
// they are not secured. Answers the number kept.
int32_t DKAskCheckpoints(int32_t run);

// At the start of a checkpoint unit, when a checkpoint is pending: the
// applied transactions still waiting for their page write go to state 20
// too, the copies in error or offline of every databank that asked get
// entry word 9 (out of step, known), and the system databank too while the log table
// is not open; the pending mark is cleared.
void DKStartCheckpointUnit();

// A record of a checkpoint unit: a table-bound record of a databank that
// asked is owed again to its copies (DKOweToCopies under the commit
// number) rather than applied; every other record passes. 0 or the code.
int32_t DKPassCheckpointRecord(std::span<const int32_t> record, int32_t commit);

// The log pass of a checkpoint unit (the TSS of its transaction): when the
// LOG databank (DID 3) asked for a checkpoint, the records its first unit
// copied to the log table (area word 104), up to their header, are owed
// again to the LOG databank's copies through its restart set (TBL 3, every
// copy, under the commit number), whose replay appends them to the log
// table of each copy. A LOG databank whose copies all take records is an
// internal error (-55); a read failure is reported fatal against the TRANS
// databank. 0 or the failure.
int32_t DKPassCheckpointLog(int32_t tss);

// The end of a checkpoint unit: area word 157 drops; at 0 every databank
// that asked and still has a copy out of step must have one known out of
// step (entry word 9, else -45 is reported as an internal error), and its
// request is cleared.
void DKEndCheckpointUnit();
