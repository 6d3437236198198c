// The DDL transaction record (TP DDLTRA) of a definition transaction: the
// tables opened for the change, the objects and statements to apply before
// the commit, the shared routine programs claimed, the translation tables
// to install or remove and a large-object directory to open, each a chain
// from the record, worked off when the transaction ends (commit or
// rollback) and freed.
#include "du/ddl_transaction.h"

#include <cstring>

#include "du/collation.h"
#include "du/definition_services.h"
#include "du/kernel_requests.h"
#include "du/pool_words.h"
#include "du/table_internal.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "du/upper_services.h"

using du::F;
using du::W;

namespace {

constexpr int32_t kObjectWords = 8, kStatementWords = 34, kIdentWords = 3, kOpenWords = 8,
                  kXlatWords = 3;
// Object entry words.
constexpr int32_t OBJ_ID = 1, OBJ_SECOND = 2, OBJ_TNAME = 3, OBJ_OPEN_KIND = 4, OBJ_RECORD = 5,
                  OBJ_KEYLEN = 6, OBJ_RECLEN = 7;
// Statement entry: the key, then the caller's 32 words.
constexpr int32_t STE_KEY = 1, STE_WORDS = 2;
// Identifier entry: the routine key and the claimed program block.
constexpr int32_t IDE_KEY = 1, IDE_SHP = 2;
// Open table entry.
constexpr int32_t OTE_ID = 1, OTE_TNAME = 2, OTE_KEY = 3, OTE_ONE = 4, OTE_RECORD = 5,
                  OTE_KEYLEN = 6, OTE_RECLEN = 7;
// Translation entry.
constexpr int32_t XLE_ID = 1, XLE_ACTION = 2;
constexpr int32_t kTransactionTypeDefinition = 129;
constexpr int32_t kApplying = -1;
constexpr int32_t kTableHeldByOther = -16001, kTableHeld = -16002, kTableMissing = -16190;

// The user's DDL transaction record, 0 when there is none.
int32_t RecordOf(int32_t* base, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || !du::BlockInside(base, tp, TP_WORDS)) return 0;
  const int32_t record = W(base, F(tp, TP_DDLTRA));
  return du::BlockInside(base, record, DDL_WORDS) ? record : 0;
}

// The entry of `list` whose word `field` is `value`, 0 when there is none.
int32_t FindEntry(int32_t* base, int32_t list, int32_t field, int32_t value) {
  for (int32_t e = list; e != 0; e = W(base, e))
    if (W(base, F(e, field)) == value) return e;
  return 0;
}

// A new entry of `words` at the head of the record's list `slot`; 0 when no
// storage is left.
int32_t Push(int32_t* base, int32_t record, int32_t slot, int32_t words) {
  const int32_t e = du::NewBlock(base, 4 * words);
  if (e == 0) return 0;
  W(base, e) = W(base, F(record, slot));
  W(base, F(record, slot)) = e;
  return e;
}

// Takes `entry` off the record's list `slot` and frees it.
void Unlink(int32_t* base, int32_t record, int32_t slot, int32_t entry) {
  for (int32_t* link = &W(base, F(record, slot)); *link != 0; link = &W(base, *link))
    if (*link == entry) {
      *link = W(base, entry);
      du::FreeBlock(base, entry);
      return;
    }
}

// Closes the table of a record block with `code` and frees the block; the
// close's status.
int32_t CloseRecordBlock(int32_t* base, int32_t usr, int32_t block, int32_t code) {
  if (block == 0 || block == kApplying) return 0;
  int32_t pb[2] = {0, usr};
  int32_t close[CLB_WORDS] = {code};
  DSCloseTableRefs(base, pb, &W(base, block), close);
  du::FreeBlock(base, block);
  return pb[0];
}

// The kernel core's release of an object of the user.
void Release(int32_t* base, int32_t usr, int32_t mode, int32_t object) {
  DUCloseDatabank(base, usr, mode, object, -1);
}

// Opens the table of `block` exclusively (open kind 2 with the databank);
// the status, -16002 turned into -16001 when another user holds the table.
int32_t OpenExclusive(int32_t* base, int32_t usr, int32_t* block, int32_t dcb) {
  int32_t open[OPB_WORDS] = {OPEN_THROUGH_INDEX};
  open[OPB_DCB] = dcb;
  open[OPB_TRANS_MODE] = W(base, F(dcb, DCB_TRANS_MODE));
  block[DUREC_STATUS] = 0;
  const int32_t rc = DUOpenTableExclusive(base, usr, block, open);
  int32_t st = block[DUREC_STATUS] != 0 ? block[DUREC_STATUS] : rc;
  if (st == kTableHeld && DUTableUsedByUser(base, usr, block[DUREC_TNAME]) == 1)
    st = kTableHeldByOther;
  return st;
}

int32_t* Block(int32_t* base, int32_t index) {
  return &W(base, index);
}

void FreeList(int32_t* base, int32_t record, int32_t slot) {
  int32_t e = W(base, F(record, slot));
  while (e != 0) {
    const int32_t next = W(base, e);
    du::FreeBlock(base, e);
    e = next;
  }
  W(base, F(record, slot)) = 0;
}

// Step 3 of the apply, also its end after a failure: every applied object
// entry's record block closed and freed and its object released (an entry
// not applied holds no databank), both lists freed.
void ReleaseApplyLists(int32_t* base, int32_t usr, int32_t record) {
  for (int32_t e = W(base, F(record, DDL_OBJECTS)); e != 0; e = W(base, e)) {
    const int32_t block = W(base, F(e, OBJ_RECORD));
    if (block == 0 || block == kApplying) continue;
    CloseRecordBlock(base, usr, block, CLOSE_TABLE);
    Release(base, usr, 0, W(base, F(e, OBJ_ID)));
  }
  FreeList(base, record, DDL_OBJECTS);
  FreeList(base, record, DDL_STATEMENTS);
}

// Closes and frees the open table entries of table `tname` (or, with
// `by_object`, of object `tname`).
void DropOpenTables(int32_t* base, int32_t usr, int32_t record, int32_t field, int32_t value) {
  for (int32_t e = FindEntry(base, W(base, F(record, DDL_OPEN_TABLES)), field, value); e != 0;
       e = FindEntry(base, W(base, F(record, DDL_OPEN_TABLES)), field, value)) {
    CloseRecordBlock(base, usr, W(base, F(e, OTE_RECORD)), CLOSE_TABLE);
    Release(base, usr, 0, W(base, F(e, OTE_ID)));
    Unlink(base, record, DDL_OPEN_TABLES, e);
  }
}

int32_t ApplyObjects(int32_t* base, int32_t usr, int32_t record, int32_t tp) {
  for (int32_t e = W(base, F(record, DDL_OBJECTS)); e != 0; e = W(base, e)) {
    if (W(base, F(e, OBJ_RECORD)) != 0) continue;
    const int32_t object = W(base, F(e, OBJ_ID));
    if (FindEntry(base, W(base, F(record, DDL_STATEMENTS)), STE_KEY, object) != 0) continue;
    const int32_t tname = W(base, F(e, OBJ_TNAME));
    DropOpenTables(base, usr, record, OTE_TNAME, tname);
    int32_t dcb = 0;
    if (int32_t rc = DUOpenDatabankKind(base, usr, 3, object, &dcb); rc != 0) return rc;
    // From here the databank is held: an entry left unapplied gives it back.
    const int32_t block = du::NewBlock(base, 4 * DUREC_RECORD);
    if (block == 0) {
      Release(base, usr, 0, object);
      return DU_NO_STORAGE;
    }
    int32_t* b = Block(base, block);
    b[DUREC_ACCESS_MODE] = 1;
    b[DUREC_LID] = object;
    b[DUREC_TYPE] = W(base, F(e, OBJ_OPEN_KIND));
    b[DUREC_TNAME] = tname;
    b[DUREC_KEYLEN] = W(base, F(e, OBJ_KEYLEN));
    b[DUREC_RECLEN] = W(base, F(e, OBJ_RECLEN));
    W(base, F(e, OBJ_RECORD)) = kApplying;
    const int32_t st = OpenExclusive(base, usr, b, dcb);
    if (st != 0) {
      CloseRecordBlock(base, usr, block, CLOSE_TABLE);
      W(base, F(e, OBJ_RECORD)) = 0;
      Release(base, usr, 0, object);
      if (st == kTableMissing) continue;
      return st;
    }
    W(base, F(e, OBJ_RECORD)) = block;
    W(base, F(tp, TP_TRANSACTION_TYPE)) = kTransactionTypeDefinition;
    b[DUREC_STATUS] = 8;
    if (int32_t rc = DUOpenTableDefinition(base, usr, b, nullptr); rc != 0) return rc;
  }
  return 0;
}

int32_t ApplyStatements(int32_t* base, int32_t usr, int32_t record, int32_t tp) {
  while (int32_t e = W(base, F(record, DDL_STATEMENTS))) {
    const int32_t key = W(base, F(e, STE_KEY));
    DropOpenTables(base, usr, record, OTE_ID, key);
    int32_t dcb = 0;
    const int32_t rc = DUOpenDatabankKind(base, usr, 1, key, &dcb);
    if (rc < 0) return rc;
    W(base, F(tp, TP_TRANSACTION_TYPE)) = kTransactionTypeDefinition;
    // The first of the 32 words is the record's kind, the rest its
    // description.
    std::vector<int32_t> block(static_cast<size_t>(DUREC_RECORD), 0);
    block[DUREC_LID] = key;
    block[DUREC_STATUS] = W(base, F(e, STE_WORDS));
    const int32_t st =
        DUOpenTableDefinition(base, usr, block.data(), &W(base, F(e, STE_WORDS + 1)));
    if (st < 0) return st;
    Release(base, usr, 3, key);
    Unlink(base, record, DDL_STATEMENTS, e);
  }
  return 0;
}

}  // namespace

void DSDdlTransAdd(int32_t* base, int32_t* pb, int32_t second, int32_t tname, int32_t object,
                   int32_t keylen, int32_t reclen, int32_t open_kind) {
  const int32_t record = RecordOf(base, pb[1]);
  if (record == 0) {
    pb[0] = DU_NO_DDL_RECORD;
    return;
  }
  if (FindEntry(base, W(base, F(record, DDL_OBJECTS)), OBJ_TNAME, tname) != 0) {
    pb[0] = 1;
    return;
  }
  const int32_t e = Push(base, record, DDL_OBJECTS, kObjectWords);
  if (e == 0) {
    pb[0] = DU_NO_STORAGE;
    return;
  }
  W(base, F(e, OBJ_ID)) = object;
  W(base, F(e, OBJ_SECOND)) = second;
  W(base, F(e, OBJ_TNAME)) = tname;
  W(base, F(e, OBJ_OPEN_KIND)) = open_kind;
  W(base, F(e, OBJ_KEYLEN)) = keylen;
  W(base, F(e, OBJ_RECLEN)) = reclen;
  pb[0] = 0;
}

void DSDdlTransAddStm(int32_t* base, int32_t* pb, int32_t key, const int32_t* words) {
  const int32_t record = RecordOf(base, pb[1]);
  if (record == 0) {
    pb[0] = DU_NO_DDL_RECORD;
    return;
  }
  if (FindEntry(base, W(base, F(record, DDL_STATEMENTS)), STE_KEY, key) != 0) {
    pb[0] = 1;
    return;
  }
  const int32_t e = Push(base, record, DDL_STATEMENTS, kStatementWords);
  if (e == 0) {
    pb[0] = DU_NO_STORAGE;
    return;
  }
  W(base, F(e, STE_KEY)) = key;
  std::memcpy(&W(base, F(e, STE_WORDS)), words, 32 * 4);
  pb[0] = 0;
}

void DSDdlTransAddIdent(int32_t* base, int32_t* pb, int32_t key) {
  const int32_t record = RecordOf(base, pb[1]);
  if (record == 0) {
    pb[0] = DU_NO_DDL_RECORD;
    return;
  }
  if (FindEntry(base, W(base, F(record, DDL_IDENTS)), IDE_KEY, key) != 0) {
    pb[0] = 1;
    return;
  }
  const int32_t e = Push(base, record, DDL_IDENTS, kIdentWords);
  if (e == 0) {
    pb[0] = DU_NO_STORAGE;
    return;
  }
  W(base, F(e, IDE_KEY)) = key;
  int32_t shp = 0;
  const int32_t rc = DUNewShpPsm(base, pb[1], key, &shp);
  if (rc != 0) {
    Unlink(base, record, DDL_IDENTS, e);
    pb[0] = rc;
    return;
  }
  W(base, F(e, IDE_SHP)) = shp;
  pb[0] = 0;
}

void DSDdlTransAddXlat(int32_t* base, int32_t* pb, int32_t id, int32_t action) {
  const int32_t record = RecordOf(base, pb[1]);
  if (record == 0) {
    pb[0] = DU_NO_DDL_RECORD;
    return;
  }
  const int32_t e = Push(base, record, DDL_XLATS, kXlatWords);
  if (e == 0) {
    pb[0] = DU_NO_STORAGE;
    return;
  }
  W(base, F(e, XLE_ID)) = id;
  W(base, F(e, XLE_ACTION)) = action;
  pb[0] = 0;
}

void DSDdlTransSetIds(int32_t* base, int32_t* pb, int32_t lobdir, int32_t databank) {
  const int32_t record = RecordOf(base, pb[1]);
  if (record == 0) {
    pb[0] = DU_NO_DDL_RECORD;
    return;
  }
  W(base, F(record, DDL_LOBDIR)) = lobdir;
  W(base, F(record, DDL_LOBDIR_DATABANK)) = databank;
  pb[0] = 0;
}

void DSDdlTransOpenTable(int32_t* base, int32_t* pb, int32_t object, int32_t tname, int32_t key,
                         int32_t keylen, int32_t reclen, int32_t n, int32_t* block_out,
                         int32_t* dcb_out) {
  const int32_t usr = pb[1];
  const int32_t record = RecordOf(base, usr);
  if (record == 0) {
    pb[0] = DU_NO_DDL_RECORD;
    return;
  }
  if (FindEntry(base, W(base, F(record, DDL_OPEN_TABLES)), OTE_KEY, key) != 0) {
    pb[0] = 1;
    return;
  }
  // The record block holds one row of the table, not a fixed 16000 bytes.
  if (keylen < 1 || reclen < keylen || reclen + 4 > du::KernelRecordBytes()) {
    pb[0] = DU_BAD_ARGUMENT;
    return;
  }
  const int32_t e = du::NewBlock(base, 4 * kOpenWords);
  const int32_t block = du::NewBlock(base, 4 * DurecWords(reclen));
  if (e == 0 || block == 0) {
    du::FreeBlock(base, e);
    du::FreeBlock(base, block);
    pb[0] = DU_NO_STORAGE;
    return;
  }
  int32_t dcb = 0;
  int32_t st = DUOpenDatabankKind(base, usr, 3, object, &dcb);
  int32_t* b = Block(base, block);
  if (st == 0) {
    b[DUREC_ACCESS_MODE] = 1;
    b[DUREC_LID] = object;
    b[DUREC_TNAME] = tname;
    b[DUREC_KEYLEN] = keylen;
    b[DUREC_RECLEN] = reclen;
    b[DUREC_TYPE] = tname == DU_WORK_TABLE ? 10 * n + 3 : 1;
    st = OpenExclusive(base, usr, b, dcb);
  }
  if (st != 0) {
    W(base, F(usr, USR_RVEC_RCODE)) = st;
    W(base, F(usr, USR_RVEC_TNAME)) = tname;
    if (dcb != 0) {
      CloseRecordBlock(base, usr, block, CLOSE_HELD);
      Release(base, usr, 0, object);
    } else {
      du::FreeBlock(base, block);
    }
    du::FreeBlock(base, e);
    pb[0] = st;
    return;
  }
  W(base, F(e, OTE_ID)) = object;
  W(base, F(e, OTE_TNAME)) = tname;
  W(base, F(e, OTE_KEY)) = key;
  W(base, F(e, OTE_ONE)) = 1;
  W(base, F(e, OTE_RECORD)) = block;
  W(base, F(e, OTE_KEYLEN)) = keylen;
  W(base, F(e, OTE_RECLEN)) = reclen;
  W(base, e) = W(base, F(record, DDL_OPEN_TABLES));
  W(base, F(record, DDL_OPEN_TABLES)) = e;
  *block_out = block;
  *dcb_out = dcb;
  pb[0] = 0;
}

void DSDdlTransApply(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t record = RecordOf(base, usr);
  if (record == 0) {
    pb[0] = DU_NO_DDL_RECORD;
    return;
  }
  if (pb[0] < 0) {
    ReleaseApplyLists(base, usr, record);
    return;
  }
  const int32_t tp = W(base, F(usr, USR_TP));
  int32_t rc = ApplyObjects(base, usr, record, tp);
  if (rc == 0) rc = ApplyStatements(base, usr, record, tp);
  if (rc != 0) ReleaseApplyLists(base, usr, record);
  pb[0] = rc;
}

void DSDdlTransRollback(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t record = RecordOf(base, usr);
  if (record == 0) {
    pb[0] = 0;
    return;
  }
  DSTransRollbackDk(base, usr, W(base, F(record, DDL_MARK)));
  pb[0] = W(base, F(usr, USR_TRV_COND));
  if (pb[0] == 0) W(base, F(W(base, F(usr, USR_TP)), TP_TRANSACTION_TYPE)) = 0;
}

namespace du {

int32_t FinishDdlTransaction(int32_t* base, int32_t usr, int32_t tp, int32_t code) {
  const int32_t record = W(base, F(tp, TP_DDLTRA));
  if (record == 0 || !BlockInside(base, record, DDL_WORDS)) return 0;
  const bool rollback = code == 87 || code == 88;
  int32_t answer = 0;
  // 1: the large-object directory to open.
  if (!rollback && W(base, F(record, DDL_LOBDIR)) != 0) {
    int32_t dcb = 0;
    if (DUOpenDatabankKind(base, usr, 5, W(base, F(record, DDL_LOBDIR_DATABANK)), &dcb) == 0)
      DUOpenLobdir(base, dcb, W(base, F(record, DDL_LOBDIR)));
  }
  // 2: objects.
  for (int32_t e = W(base, F(record, DDL_OBJECTS)); e != 0; e = W(base, e)) {
    const int32_t block = W(base, F(e, OBJ_RECORD));
    CloseRecordBlock(base, usr, block, rollback ? CLOSE_TABLE : CLOSE_DROP_WORK);
    if (block != 0 && block != kApplying) Release(base, usr, 0, W(base, F(e, OBJ_ID)));
  }
  FreeList(base, record, DDL_OBJECTS);
  // 3: claims on shared routine programs.
  for (int32_t e = W(base, F(record, DDL_IDENTS)); e != 0; e = W(base, e)) {
    int32_t shp = W(base, F(e, IDE_SHP));
    DURelShpPsm(base, usr, &shp);
  }
  FreeList(base, record, DDL_IDENTS);
  // 4: tables opened for the change; a failed close is the answer.
  for (int32_t e = W(base, F(record, DDL_OPEN_TABLES)); e != 0; e = W(base, e)) {
    const int32_t st = CloseRecordBlock(base, usr, W(base, F(e, OTE_RECORD)), CLOSE_TABLE);
    if (st != 0 && answer == 0) answer = st;
    Release(base, usr, 0, W(base, F(e, OTE_ID)));
  }
  FreeList(base, record, DDL_OPEN_TABLES);
  // 5: statements.
  for (int32_t e = W(base, F(record, DDL_STATEMENTS)); e != 0; e = W(base, e))
    Release(base, usr, 1, W(base, F(e, STE_KEY)));
  FreeList(base, record, DDL_STATEMENTS);
  // 6: translation tables.
  for (int32_t e = W(base, F(record, DDL_XLATS)); e != 0; e = W(base, e)) {
    const int32_t id = W(base, F(e, XLE_ID)), action = W(base, F(e, XLE_ACTION));
    if (rollback && action == DDL_XLAT_INSTALLED) {
      int32_t status = 0;
      XLInstallTable(base, &status, XL_REMOVE, id, {});
    } else if (!rollback && action == DDL_XLAT_TO_INSTALL) {
      DUInstallTranslation(base, usr, id);
    }
  }
  FreeList(base, record, DDL_XLATS);
  // 7: the view back, the record gone.
  W(base, F(usr, USR_TRANSACTION_VIEW)) = W(base, record) == 0 ? 3 : 2;
  FreeBlock(base, record);
  W(base, F(tp, TP_DDLTRA)) = 0;
  W(base, F(tp, TP_TRANSACTION_TYPE)) = 0;
  return answer;
}

void FreeDdlRecord(int32_t* base, int32_t record) {
  if (record == 0 || !BlockInside(base, record, DDL_WORDS)) return;
  for (int32_t slot : {DDL_OBJECTS, DDL_STATEMENTS, DDL_IDENTS, DDL_OPEN_TABLES, DDL_XLATS})
    FreeList(base, record, slot);
  FreeBlock(base, record);
}

}  // namespace du

void DSDdlTransFinish(int32_t* base, int32_t* pb, int32_t code) {
  const int32_t tp = W(base, F(pb[1], USR_TP));
  pb[0] = tp == 0 ? 0 : du::FinishDdlTransaction(base, pb[1], tp, code);
}
