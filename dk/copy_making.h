// The making of a databank copy as committed write sets record it: DKSDC1
// (record 25) takes the copy offline while it is filled, DKEDC1 (record 26)
// brings it back with the work its restart set owes it and its new SEQNO.
#pragma once

#include <cstdint>

// Record 17: the copy of `did` with `seqno` goes online (DKRED1, reached
// through its slot), then what its restart set owes it is applied (DKRSD1
// under `order`). 0, or the first negative code.
int32_t DKPutCopyOnline(int32_t did, int32_t seqno, int32_t order);
// The copy of `did` with `seqno` gets both offline flags (entry words 8 and
// 9); nothing for DID 2; -47 when no copy carries the SEQNO.
int32_t DKSDC1(int32_t did, int32_t seqno);
// The copy's second offline flag is cleared, for DIDs 2 and 3 its tables
// made current (DKOCD1), its restart set replayed (DKRSD1 with `order` as
// its mode) and, unless `new_seqno` is -1, the new SEQNO written into its
// header (DKROO1 code 13). -47 when no copy carries the SEQNO; else 0 or
// the first failure.
int32_t DKEDC1(int32_t did, int32_t seqno, int32_t new_seqno, int32_t order);
