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
  // DSSeqValue: the value of `sequence` for the session (mode 1 the next,
  // else the current) into *value; 0 or the failure.
  int32_t (*sequence_value)(int32_t* base, int32_t usr, int32_t mode, int32_t sequence,
                            int32_t* value) = nullptr;
  // DSBREAK2: the debugger's hand-over at a break of the statement pb[2];
  // *end 1 ends the run with pb[0] as its result.
  void (*debugger_break)(int32_t* base, int32_t* pb, int32_t* end) = nullptr;
  // The kernel's statement services the runtime needs and the kernel does
  // not offer yet: DSBindStm (open the tables a statement built at run time
  // names, record its databanks), DSUnlinkStm (detach it from its
  // transaction and tables) and DSOpenStmTables (the single-table open with
  // `mode`). DSChkStmOp mode 1 (may `stm` run against the declared or
  // referenced `cursor`) is the kernel's own, reached directly when this
  // entry is not installed. 0 or the failure.
  int32_t (*bind_statement)(int32_t* base, int32_t usr, int32_t stm) = nullptr;
  int32_t (*unlink_statement)(int32_t* base, int32_t usr, int32_t stm) = nullptr;
  int32_t (*check_statement_pair)(int32_t* base, int32_t usr, int32_t cursor,
                                  int32_t stm) = nullptr;
  int32_t (*open_statement_tables)(int32_t* base, int32_t usr, int32_t stm,
                                   int32_t mode) = nullptr;
  // DSStdName: the origin text of an SQLSTATE's class (mode 1) or subclass
  // (mode 2) into text[offset ..], *length its room in, its length out.
  void (*std_name)(char* text, int32_t offset, int32_t* length, const char* state,
                   int32_t mode) = nullptr;
  // DSGetObjectName: the names of catalog object `id` (and `second`) of
  // `kind` into 384 bytes (0..127 the first name, 128..255 the second); 0
  // found, 1 none, or the failure. Not installed: the kernel's own look-ups
  // answer (DSGetColumnName for a column, DSGetObjectName for the others
  // but a parameter, which answers -19040).
  int32_t (*object_name)(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t second,
                         char* names) = nullptr;
  // EscTranslate: translates the escape clauses of the text in place:
  // text[start ..] of `capacity` characters, the translated length out; the
  // input copy `work` of `count` characters; `highest` the highest single
  // character code (127, or 383 for three-byte characters). 0 or the error.
  int32_t (*escape_translate)(int32_t* base, int32_t* pb, uint8_t* text, int32_t start,
                              int32_t capacity, int32_t* length, const uint8_t* work,
                              int32_t count, int32_t highest) = nullptr;
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
