// Sequence values: the server's table of sequences in SYS GSEQ_LIST (one
// entry per sequence, its values reserved in blocks written back to the
// sequence's catalog row) and each session's last value per sequence in its
// USR SEQUENCE_LCB chain.
#pragma once

#include <cstdint>

inline constexpr int32_t SEQ_NO_FURTHER_VALUE = -14720;
inline constexpr int32_t SEQ_NO_CURRENT_VALUE = -14721;
inline constexpr int32_t SEQ_MANY_REFUSED = -14724;
// The sequence is held by another session's definition statement.
inline constexpr int32_t SEQ_IN_USE = -14722;
inline constexpr int32_t SEQ_STORAGE_EXHAUSTED = -11002;
// The catalog holds no row for the sequence.
inline constexpr int32_t SEQ_NOT_FOUND = -19007;
inline constexpr int32_t SEQ_CURRENT = 2;  // kind: the session's current value
inline constexpr int32_t SEQ_BLOCK = 1000;  // values reserved by one write-back
inline constexpr int32_t SEQ_MANY_ALLOWED = 141;  // the one sequence giving several at once
inline constexpr int32_t SEQ_CATALOG_TABLE = 32;

// Words of a server sequence entry (64 bytes).
inline constexpr int32_t SEQE_NEXT = 0, SEQE_USE_COUNT = 1, SEQE_ID = 2, SEQE_INCREMENT = 3,
                         SEQE_MINIMUM = 4, SEQE_MAXIMUM = 5, SEQE_CURRENT = 6,
                         SEQE_BLOCK_END = 7, SEQE_MODE = 8, SEQE_FLAG = 9,
                         SEQE_EXHAUSTED = 10, SEQE_LEFT = 11, SEQE_FRESH = 12,
                         SEQE_HOLDER = 13, SEQE_BYTES = 64;
// SEQE_HOLDER is the session whose definition statement holds the
// sequence from its DSSeqInit to its DSSeqReset (0: none): the rows it
// moves take values of the range the description gave, so no other
// session's request may take, describe or reset values meanwhile (-14722).
// SEQE_FRESH is 1 while no value was handed out: the value before the first
// (least - increment) may lie outside 32 bits, so CURRENT holds it only cut
// to them.
// Words of a session entry (16 bytes).
inline constexpr int32_t SEQS_NEXT = 0, SEQS_ID = 1, SEQS_VALUE = 2, SEQS_VALID = 3,
                         SEQS_BYTES = 16;

// DSSeqValue: block word 0 the kind in (2 the current value, any other the
// next `count` values), word 1 the session. The first value into *value;
// the status (0 or the failure, also in the session's RVEC_RCODE) into
// block word 0 and returned.
int32_t DSSeqValue(int32_t* base, int32_t* block, int32_t sequence, int32_t count,
                   int32_t* value);

// The statement runtime's request: one value of `sequence` for session
// `usr`, `mode` the kind as DSSeqValue takes it.
int32_t DSSeqRuntimeValue(int32_t* base, int32_t usr, int32_t mode, int32_t sequence,
                          int32_t* value);

// DSSeqRelease: the session lets go of every sequence of its SEQUENCE_LCB
// chain (the chain freed): a sequence's use count goes down, and at 0 its
// values not yet written (a current value short of the block end) are
// written back with the current value as the block end, so that the next
// load goes on right after the last value handed out. The first failure
// (also in RVEC_RCODE), else 0.
int32_t DSSeqRelease(int32_t* base, int32_t usr);

// A sequence described for the definition statements.
struct DSSeqState {
  int32_t current = 0, minimum = 0, maximum = 0, increment = 0;
  int32_t flag = 0;       // 0 for a cycling sequence, else -1
  int32_t value = 0;      // the current value (cycling), else the block end
  int32_t exhausted = 0;  // 1 when it has no further value
};
// DSSeqInit: block word 1 the session; the server entry (loaded when
// needed) described into *state and held for the session until its
// DSSeqReset (SEQE_HOLDER; -14722 while another session holds it);
// -14720, nothing held, for a sequence with no further value (its state
// filled, exhausted 1). Status in block word 0 and returned (also in
// RVEC_RCODE).
int32_t DSSeqInit(int32_t* base, int32_t* block, int32_t sequence, DSSeqState* state);

inline constexpr int32_t SEQ_RESET_LOAD = 1;  // DSSeqReset: only load the entry
inline constexpr int32_t SEQ_RESET_MODE = 2;  // the entry's mode word during a reset
inline constexpr int32_t SEQ_INIT_MODE = 1;   // the mode word of a description's hold
// DSSeqReset: block word 0 SEQ_RESET_LOAD only loads the entry; otherwise a
// `count` below 1 makes `value` the last value handed out (the next is
// value + increment, the sequence no longer exhausted), any other count
// marks it exhausted; either is written back (value as the block end) and
// a session entry of the sequence takes the current value; the session's
// hold ends (-14722 while another session holds it). Word 1 the
// session; status in word 0 and returned (also in RVEC_RCODE).
int32_t DSSeqReset(int32_t* base, int32_t* block, int32_t sequence, int32_t value,
                   int32_t count);

// DSSeqSave: writes `current` and `block_end` to sequence `sequence`'s
// catalog row in a transaction of its own (also inside the session's open
// one, which it leaves as it was), ended by the transaction end request's
// commit with its XA check (-14013) on that transaction of its own, which
// passes it: a session in an XA branch writes back as any other. 0 or the
// failure (also in RVEC_RCODE).
int32_t DSSeqSave(int32_t* base, int32_t usr, int32_t sequence, int32_t current,
                  int32_t block_end);
