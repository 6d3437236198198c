// The request interface's services the statement runtime calls. The request
// layer lies above the interpreter: it installs its routines at start, tests
// install fakes; an entry nobody installed answers -19040.
#pragma once

#include <cstdint>

namespace interp {

struct RequestServiceTable {
  // DSSetTransOptions: (request: word 0 its length in words, word 1 the
  // session, word 2 unused, then (class, value) pairs from word 3); it ends
  // a client-scope transaction first. 0 or the failure.
  int32_t (*set_trans_options)(int32_t* base, const int32_t* request) = nullptr;
  // DSSqlState: the five characters of a native code's SQLSTATE.
  void (*sql_state)(int32_t rc, int32_t warning, int32_t kind, char* state) = nullptr;
};

// Installs `table` (not owned; null: none) and returns the one it replaces.
const RequestServiceTable* DAInstallRequestServices(const RequestServiceTable* table);
const RequestServiceTable& RequestServices();

// The transaction statement STM of the running statement `stm` for session
// `usr`: `sub_code` picks the setting, `next_word` is the program word after
// it (the diagnostics sizes of sub-codes 17 and 18). -14024 when `stm` or a
// statement up its CALLING_STM chain has VISIBILITY 2 or 3; else the
// settings handler's result.
int32_t DSTransactionStatement(int32_t* base, int32_t usr, int32_t stm, int32_t sub_code,
                               int32_t next_word);

}  // namespace interp
