// Savepoint marks a program sets (SMK) and rolls back to (RMK).
#pragma once

#include <cstdint>

namespace interp {

// Takes the session's next mark id into *mark_word. Inside a transaction in
// state 1 the mark is written into the transaction (the result is the
// session's TRV_COND); outside one it is appended to the session's
// STACKED_MARK list of (next, mark id) nodes (-11002 without storage).
int32_t DSSetMark(int32_t* base, int32_t usr, int32_t* mark_word);

// Inside a transaction in state 1 with *mark_word set: rolls the transaction
// back to that mark and clears the word; a negative TRV_COND after the
// rollback is the result. Otherwise nothing.
int32_t DSRollbackMark(int32_t* base, int32_t usr, int32_t* mark_word);

}  // namespace interp
