// The steps an open takes by the databank's DID once its header is checked:
// the system databank registers the open databanks in the restore
// directory; the TRANS, LOG and WORK databanks are named in the control
// area, and the LOG databank's log table is opened. A close (or a failed
// open) undoes what they left in the control area.
#pragma once

#include <cstdint>

// The log table: a set, TBL 8 on the LOG databank (DID 3).
constexpr int32_t kLogTableTbl = 8;

// Runs the steps for a databank entry just brought into service; 0 or the
// error that fails its open. After a crash (`crashed`: its close mark was not
// 1) the log table ends at its first unsound record.
int32_t DKOpenStepsByDid(int32_t databank, bool crashed);
// The root entries of the databank and of its online copies: a page size
// above the largest in use is -76; a table left dropping (root entry type 2
// or 3) is marked dropped and closed in the dropping mode, which gives its
// pages and root entry back. 0, -14, -76 or a page error.
int32_t DKRemoveDroppedTables(int32_t databank);
// Before a databank entry is freed: the control-area words that name it are
// cleared, and the log table it holds is closed.
void DKForgetOpenSteps(int32_t databank);
