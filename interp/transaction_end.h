// Ending the session's transaction from a program (ETR) or a request.
#pragma once

#include <cstdint>

namespace interp {

// -14013 when the session is enlisted in an XA branch whose transaction did
// not start through it (FTR_START not 82), else 0.
int32_t DSCheckXaBranch(int32_t* base, int32_t usr);

// Ends the session's transaction: -14013 when the session is enlisted in an
// XA branch whose transaction did not start through it (FTR_START not 82);
// nothing with transaction scope 4; else the transaction end's result
// (commit: the client's commit code 1962, else roll back 87).
int32_t DSEndSessionTransaction(int32_t* base, int32_t usr, bool commit);

// ETR of the running statement `stm`: the end above (a failure also goes to
// RVEC_RCODE), then TRANSACTION_ENDED becomes 1 when it was 0 and `stm` and
// every statement up its CALLING_STM chain go back to STATUS 3.
int32_t DSEndTransactionStatement(int32_t* base, int32_t usr, int32_t stm, bool commit);

}  // namespace interp
