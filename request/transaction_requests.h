// The transaction end request and the session's transaction settings.
#pragma once

#include <cstdint>

// request[k] is request word k: word 3 in/out (0: commit, else roll back),
// word 4 the session. Ends the session's transaction (nothing with
// transaction scope 4): -14013 when the session is enlisted in an XA branch
// whose transaction did not start through it (FTR_START not 82), else the
// transaction end's result.
int32_t DSTransEndReq(int32_t* base, const int32_t* request);

// As DSTransEndReq when the transaction scope is 2 (a failure also goes to
// RVEC_RCODE and ends the request), then the (attribute, value) pairs from
// word 8 while their position (4, 6, ...) is below word 5: 6 TRANSACTION_START,
// 7 TRANSACTION_VIEW, 8 NEXT_ISOLATION_LEVEL, 9 NEXT_READ_WRITE_MODE, 10
// TRANSACTION_AUTOCOMMIT, 11 and 12 the session's and next isolation level
// and read-write mode, 13 TRAN_DIAG_SIZE, 14 SESS_DIAG_SIZE, 15
// TRANSACTION_TIMEOUT. Stops at the first failure, keeping what it set:
// -18020 (attribute or value in RVEC_OPCODE), -14011 (8, 9, 11, 12, 13 inside
// a transaction), -14651 (a diagnostics size below 1); each in RVEC_RCODE.
// `request_words` is the number of words the request block holds: a block
// shorter than 6 words, or a word 5 naming pairs past its end, answers -19078
// (the latter also in RVEC_RCODE) and sets nothing.
int32_t DSCommit(int32_t* base, const int32_t* request, int32_t request_words);

// The runtime's settings request (word 0 its length, word 1 the session,
// pairs from word 3) as DSCommit with a commit of a client-scope transaction.
int32_t DSSetTransOptions(int32_t* base, const int32_t* request);

// Installs this layer's services into the statement runtime's table.
void RequestInstallRuntimeServices();
