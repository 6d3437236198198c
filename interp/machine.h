// The statement interpreter's entry points: DAMAE2 runs a program over its
// storage area until an action, an error or a requeue; DAOpLength is the
// instruction length service; DARecordError the run-time error recorder;
// the statement work list of a thread and the read-set check of an exit.
#pragma once

#include <cstdint>

namespace interp {

// Runs `program` (program[0] is position 1, which holds BEG) over `storage`
// (storage[0] is storage word 1) from *position until an action; copies state
// words 0..11 into `rvec` and the resume position into *position. `usr` is
// the session block (0 none), `user_name` 128 bytes. A requeue writes only
// rvec[0] (-16234) and *position.
void DAMAE2(int32_t* base, int32_t* rvec, const int32_t* program, int32_t program_words,
            int32_t* storage, int32_t storage_words, int32_t* position, const char* user_name,
            int32_t usr);

// 0 with length and branch index; -19901 (both set) for the level-2
// instructions; -19078 outside 1..201.
int32_t DAOpLength(int32_t opcode, int32_t* length, int32_t* branch);

// Checks that the code (program[0] = position 1, program_words words of
// instructions only) decodes into whole instructions from BEG on and that
// every displacement lands on one: 0, -19017 without BEG, or -19018 with the
// offending instruction's position in *bad_position. DAMAE2 runs it on every
// entry in debug builds.
int32_t DACheckProgram(const int32_t* program, int32_t program_words, int32_t* bad_position);

void DAReturnState(int32_t* rvec, const int32_t* storage, int32_t* position);

// Writes the error into the machine state and sets *position to 1.
// `instruction` is the failing opcode word (nullptr: opcode 0), of which
// `instruction_words` words can be read (an instruction cut short by the
// program's end names no table); `base` is needed only for AGH/AGE, whose
// table lies behind a group block.
void DARecordError(const int32_t* base, const int32_t* instruction, int32_t* storage,
                   int32_t storage_words, int32_t* position, int32_t error,
                   int64_t instruction_words = INT64_MAX);

// The thread's statement work list.
void DSClrStmList(int32_t* base, int32_t thr);
// Entry of the descriptor at storage word `key`; status into record word 19.
void DSGetStmWork(int32_t* base, int32_t* record, int32_t key, int32_t thr, int32_t* entry);
// 0 or a negative error, also stored in USR TRV_COND.
int32_t DSExitReadSetCheck(int32_t* base, int32_t usr, int32_t thr);
// The walk of the check (the record service table's default): each scan
// begun in this run on a table or index whose databank writes through the
// transaction is registered in the read set (DKAPS1), unless a scan of the
// same table was continued or locked in the run. The first non-zero result
// (a kernel error as its number - 16140), else 0.
int32_t DAReadSetWalk(int32_t* base, int32_t usr, int32_t thr);

}  // namespace interp
