// Program listings and per-opcode execution counts: DATrcHeader lists a
// program under the trace column header, DATrcRange measures one without
// printing, DAPrtOpCounts prints a session's counters; the trace switches of
// the session's trace control block, which DAMAE2 reads once per run.
#pragma once

#include <cstdint>

namespace interp {

// Trace control block words (kernel word storage, USR TRACEFLAGS).
enum TraceWord : int32_t {
  kTraceOn = 1,       // 1: count each executed opcode and list it
  kTraceOptionB = 2,  // set and cleared by its switches; selects nothing
  kTraceOptionA = 3,
  kTraceCounters = 5,  // the counter of opcode n is word kTraceCounters + n
};
inline constexpr int32_t kTraceBlockWords = 207;

// The header lines of a listing.
inline constexpr char kTraceHeader1[] = "                          DTX        CBO CPR   WBO WBL";
inline constexpr char kTraceHeader2[] =
    "  PC  Instr Code Optype   TDA  EIP   1BO 1BL   2BO 2BL  IDA";

// Lists `program` (program[0] is word 1) from its first word under the two
// header lines into `target` (as DAPrtLine; capacity 0: the log). End mode
// 0: up to the end instruction behind which no branch leads; 1: up to the
// word -1. A buffer target gets its used bytes as words and offset 4 after.
void DATrcHeader(const int32_t* program, int32_t program_words, const int32_t* storage,
                 int32_t storage_words, int32_t end_mode, int32_t* target, int32_t target_words);
// The word index behind the program's last instruction (end mode 0), or the
// first negative status of the printer, into *result; nothing is printed.
void DATrcRange(int32_t* result, const int32_t* program, int32_t program_words);

// One line per opcode with a counter above 0 ("name" and the count in 17
// places), then "A total of" the sum " instructions executed"; to the log.
// Nothing when every counter is 0.
void DAPrtOpCounts(const int32_t* block);
// The opcode's name at buffer + offset: 0; 1 (nothing written) outside
// 1..201.
int32_t DAOpName(char* buffer, int32_t offset, int32_t opcode);

// The switches on a trace control block.
void DATraceOn(int32_t* block);
void DATraceOff(int32_t* block);
void DATrcOptAOn(int32_t* block);
void DATrcOptAOff(int32_t* block);
void DATrcOptBOn(int32_t* block);
void DATrcOptBOff(int32_t* block);

// Sub-codes 8 to 11 of the trace request for the session `usr`: the trace
// control block allocated (zeroed) on first use; 8 prints the counts, 9 the
// trace, 10 and 11 the options A and B (value 0 off). The request's result:
// 0, -1 for the options' "on", -2 for no storage or another sub-code.
int32_t DATraceSwitch(int32_t* base, int32_t usr, int32_t subcode, int32_t value);

}  // namespace interp
