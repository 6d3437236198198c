// The services record access takes from the layers above it (the kernel
// core's databank lookup and close, the request interface's databank open
// and close, the catalog description of a table, the exclusive open, the
// test whether a statement of the user uses a table, the statement close and
// work end)
// and the kernel dispatcher it sends its requests to. The owners install
// them at start; an entry nobody installed answers -19040 and logs its name.
#pragma once

#include <cstdint>

struct DUUpperServices {
  // DSOpenDbReq kind 3: opens (or finds open) the databank with `lid` for
  // the user; the DCB in *dcb. Status 0 or negative.
  int32_t (*open_databank)(int32_t* base, int32_t usr, int32_t lid, int32_t* dcb);
  // DSCloseDbReq: releases the user's reference to the databank `lid` (mode
  // 0, 1 or 3, the last word).
  int32_t (*close_databank)(int32_t* base, int32_t usr, int32_t mode, int32_t lid, int32_t last);
  // DSCloseDcb: the kernel core's release of one reference to the open
  // databank `lid` (mode, sequence).
  int32_t (*release_databank)(int32_t* base, int32_t mode, int32_t lid, int32_t sequence);
  // DSConstrText: the table's catalog description for an open: a block of
  // the word storage, its index put in open block word 17. 0 found.
  int32_t (*constr_text)(int32_t* base, int32_t usr, int32_t* open_block);
  // DSOpenTableExcl: the open of a record block asking for access mode 1.
  int32_t (*open_table_excl)(int32_t* base, int32_t usr, int32_t* record, int32_t* open_block);
  // DSChkTableUse kind 1: 0 when an active statement of the user uses the
  // table, 1 when none does.
  int32_t (*table_used_by_user)(int32_t* base, int32_t usr, int32_t tname);
  // DSCloseStm: closes a statement of the user.
  int32_t (*close_statement)(int32_t* base, int32_t usr, int32_t stm);
  // DSStmWorkEnd: drops a statement's temporary tables and clears the
  // user's statement work list after its execution.
  int32_t (*statement_work_end)(int32_t* base, int32_t usr, int32_t stm);
};

// Installs `services` (not owned; null members count as not installed) and
// returns the table it replaces; nullptr takes every service away.
const DUUpperServices* DUInstallUpperServices(const DUUpperServices* services);

// The calls of record access; each answers -19040 and logs its name when
// nobody installed it.
int32_t DUOpenDatabank(int32_t* base, int32_t usr, int32_t lid, int32_t* dcb);
int32_t DUCloseDatabank(int32_t* base, int32_t usr, int32_t mode, int32_t lid, int32_t last);
int32_t DUReleaseDatabank(int32_t* base, int32_t mode, int32_t lid, int32_t sequence);
int32_t DUConstrText(int32_t* base, int32_t usr, int32_t* open_block);
int32_t DUOpenTableExclusive(int32_t* base, int32_t usr, int32_t* record, int32_t* open_block);
int32_t DUTableUsedByUser(int32_t* base, int32_t usr, int32_t tname);
int32_t DUCloseStatement(int32_t* base, int32_t usr, int32_t stm);
int32_t DUStatementWorkEnd(int32_t* base, int32_t usr, int32_t stm);

// The databank kernel's dispatcher: DKEXE1 unless another is installed
// (tests put a model of the kernel here). nullptr puts DKEXE1 back.
using DUKernelDispatcher = void (*)(int32_t code, int32_t* block);
DUKernelDispatcher DUInstallKernelDispatcher(DUKernelDispatcher dispatcher);
void DUKernel(int32_t code, int32_t* block);
// The same for the requests of the second dispatcher (a block and a second
// argument): DKEXE2 unless another is installed.
using DUKernelDispatcher2 = void (*)(int32_t code, int32_t* block, void* argument);
DUKernelDispatcher2 DUInstallKernelDispatcher2(DUKernelDispatcher2 dispatcher);
void DUKernel2(int32_t code, int32_t* block, void* argument);
