// The inserts of a user who bulk-loads a table (USR LOADCB, the table held
// in LOCKED_TCB): each row goes with DKINS1 into the load's own table and
// each index key into the load's table of that index, whose requests the
// load control block keeps; the unique checks read the load's index tables.
// The block's layout is in du/README.md ("Load control block").
#include <algorithm>
#include <cstring>
#include <vector>

#include "du/kernel_requests.h"
#include "du/large_objects.h"
#include "du/pool_words.h"
#include "du/row_change_internal.h"
#include "du/table_internal.h"
#include "du/table_load.h"
#include "du/upper_services.h"

using du::Block;
using du::F;
using du::W;

namespace {

int32_t KeyRoom(int32_t keylen) {
  return std::max(3, (keylen - 1) / 4 + 1);
}

// The request head of an entry into a record block shaped like the
// object's, with room for `reclen` bytes.
Block RequestBlock(int32_t* base, int64_t head, int32_t reclen) {
  Block b;
  b.words.assign(static_cast<size_t>(DurecWords(reclen) + 1), 0);
  for (int32_t k = 0; k < LCB_REQUEST_WORDS; ++k) b[DUREC_STATUS + k] = W(base, head + k);
  b[DUREC_STATUS] = 0;
  return b;
}

// The entry of index `icb` in the load control block, 0 when there is none.
int32_t IndexEntry(int32_t* base, int32_t lcb, int32_t icb) {
  const int32_t n = W(base, F(lcb, LCB_INDEX_COUNT));
  for (int32_t k = 0; k < n; ++k) {
    const int32_t entry = W(base, F(lcb, LCB_FIRST_INDEX + k));
    if (entry != 0 && W(base, F(entry, LCBI_ICB)) == icb) return entry;
  }
  return 0;
}

// The unique check of a load: the index key's value part is looked up in
// the load's table of the index.
int32_t CheckLoadUnique(int32_t* base, int32_t usr, int32_t lcb, int32_t icb, const int32_t* record,
                        const uint8_t* row) {
  const int32_t entry = IndexEntry(base, lcb, icb);
  if (entry == 0) return DU_BAD_ARGUMENT;
  Block key;
  bool null_part = false;
  if (!du::IndexBlock(base, icb, record, row, &key, &null_part)) return DU_BAD_ARGUMENT;
  if (null_part && W(base, F(icb, ICB_IXTYPE)) == IX_UNIQUE_NULLS_FREE) return 0;
  const int32_t keylen = W(base, F(icb, ICB_KEYLEN));
  const int32_t prefix = du::IndexPrefixLength(base, icb);
  Block probe = RequestBlock(base, F(entry, LCBI_REQUEST), keylen);
  std::memcpy(probe.row(), key.row(), static_cast<size_t>(keylen));
  std::memset(probe.row() + prefix, 0, static_cast<size_t>(keylen - prefix));
  probe[DUREC_STATUS] = 1;  // at or after the key
  DUKernel(DK_FET1, probe.data() + DUREC_FETCH_REQUEST);
  const int32_t st = probe[DUREC_STATUS];
  if (st < 0) return KernelStatus(st);
  if (st > 0 || std::memcmp(probe.row(), key.row(), static_cast<size_t>(prefix)) != 0) return 0;
  du::SetCurrent(base, usr, W(base, F(record[DUREC_OBJECT], TCB_TNAME)),
                 W(base, F(icb, ICB_CONSTRAINT_SYSID)));
  return du::DU_DUPLICATE_UNIQUE;
}

int32_t InsertLoad(int32_t* base, int32_t* record, int32_t usr) {
  const int32_t lcb = W(base, F(usr, USR_LOADCB));
  const int32_t tcb = record[DUREC_OBJECT];
  if (!du::BlockInside(base, lcb, LCB_FIRST_INDEX) || !du::BlockInside(base, tcb, TCB_WORDS))
    return DU_BAD_ARGUMENT;
  // The index count must fit the block, and every index of the table have
  // its entry, before anything is inserted.
  const int32_t n = W(base, F(lcb, LCB_INDEX_COUNT));
  if (n < 0 || LCB_FIRST_INDEX + n > du::BlockDataWords(base, lcb)) return DU_BAD_ARGUMENT;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t entry = W(base, F(lcb, LCB_FIRST_INDEX + k));
    if (entry != 0 && !du::BlockInside(base, entry, LCBI_WORDS)) return DU_BAD_ARGUMENT;
  }
  const int32_t table_entry = W(base, F(lcb, LCB_TABLE_ENTRY));
  if (!du::BlockInside(base, table_entry, LCBT_WORDS)) return DU_BAD_ARGUMENT;
  if (W(base, F(tcb, TCB_IXTYPE)) == TCB_GENERATED_KEY)
    if (du::GenerateKey(base, record) != 0) return -19055;
  const int32_t reclen = record[DUREC_RECLEN];
  const uint8_t* row = reinterpret_cast<const uint8_t*>(record + DUREC_RECORD);
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    const int32_t kind = W(base, F(icb, ICB_IXTYPE));
    int32_t rc = 0;
    if (kind == IX_FOREIGN_KEY || kind == IX_FOREIGN_KEY_SKIPPED)
      rc = du::CheckParent(base, usr, icb, record, row);
    if (rc == 0 && (kind == IX_UNIQUE_NULLS_FREE || kind == IX_UNIQUE))
      rc = CheckLoadUnique(base, usr, lcb, icb, record, row);
    if (rc != 0) return rc;
  }
  // Every index key is built before the row goes in.
  std::vector<Block> keys;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    const int32_t entry = IndexEntry(base, lcb, icb);
    Block key;
    if (entry == 0 || !du::IndexBlock(base, icb, record, row, &key)) return DU_BAD_ARGUMENT;
    const int32_t keylen = W(base, F(icb, ICB_RECLEN));
    keys.push_back(RequestBlock(base, F(entry, LCBI_REQUEST), keylen));
    if (keys.back()[DUREC_RECLEN] != keylen) return DU_BAD_ARGUMENT;
    std::memcpy(keys.back().row(), key.row(), static_cast<size_t>(keylen));
  }
  Block insert = RequestBlock(base, F(table_entry, LCBT_REQUEST), reclen);
  if (insert[DUREC_RECLEN] != reclen || insert[DUREC_KEYLEN] != record[DUREC_KEYLEN])
    return DU_BAD_ARGUMENT;
  std::memcpy(insert.row(), row, static_cast<size_t>(reclen));
  DUKernel(DK_INS1, insert.data() + DUREC_STATUS);
  if (insert[DUREC_STATUS] < 0) return KernelStatus(insert[DUREC_STATUS]);
  if (insert[DUREC_STATUS] > 0) {
    du::SetCurrent(base, usr, W(base, F(tcb, TCB_TNAME)), W(base, F(tcb, TCB_CONSTRAINT_SYSID)));
    return 1;
  }
  for (size_t k = 0; k < keys.size(); ++k) {
    DUKernel(DK_INS1, keys[k].data() + DUREC_STATUS);
    if (keys[k][DUREC_STATUS] >= 0) continue;
    // A key that failed: the row and the keys inserted before it go again,
    // so that the load's tables hold no row without all its entries.
    const int32_t st = KernelStatus(keys[k][DUREC_STATUS]);
    for (size_t j = 0; j < k; ++j) {
      std::vector<uint8_t> done(keys[j].row(), keys[j].row() + keys[j][DUREC_RECLEN]);
      du::TakeOutRecord(keys[j].data(), done.data(), keys[j][DUREC_RECLEN]);
    }
    du::TakeOutRecord(insert.data(), row, reclen);
    return st;
  }
  return du::LobColumnsInserted(base, usr, record, row);
}

// A request head {status, transaction, LID, TYPE, TBL, TNAME, KEYLEN,
// RECLEN, handle, cursor order} of the object whose identity starts at
// `identity` (LID first), into the load's own table `tbl`.
void PutHead(int32_t* base, int64_t head, int64_t identity, int32_t tbl) {
  for (int32_t k = 0; k < LCB_REQUEST_WORDS; ++k) W(base, head + k) = 0;
  for (int32_t k = 0; k < 6; ++k) W(base, head + 2 + k) = W(base, identity + k);
  W(base, head + 4) = tbl;
}

}  // namespace

bool DULoadingTable(int32_t* base, int32_t usr, const int32_t* record) {
  return W(base, F(usr, USR_LOADCB)) != 0 && W(base, F(usr, USR_LOCKED_TCB)) != 0 &&
         W(base, F(usr, USR_LOCKED_TCB)) == record[DUREC_OBJECT];
}

void DUInsertLoad(int32_t* base, int32_t* record, int32_t usr) {
  record[DUREC_STATUS] = InsertLoad(base, record, usr);
}

int32_t DUNewLoadBlock(int32_t* base, int32_t usr, int32_t tcb, const int32_t* tables) {
  if (!du::BlockInside(base, tcb, TCB_WORDS) || W(base, F(usr, USR_LOADCB)) != 0)
    return DU_BAD_ARGUMENT;
  int32_t n = 0;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) ++n;
  const int32_t header = du::NewBlock(base, 4 * (n + LCB_FIRST_INDEX));
  const int32_t room = KeyRoom(W(base, F(tcb, TCB_KEYLEN)));
  const int32_t entry = du::NewBlock(base, 4 * (LCBT_WORDS + 2 * room));
  if (header == 0 || entry == 0) {
    du::FreeBlock(base, header);
    du::FreeBlock(base, entry);
    return DU_NO_STORAGE;
  }
  W(base, F(header, LCB_INDEX_COUNT)) = n;
  W(base, F(header, LCB_TABLE_ENTRY)) = entry;
  W(base, F(entry, LCBT_KIND)) = 3;
  W(base, F(entry, LCBT_TNAME)) = W(base, F(tcb, TCB_TNAME));
  W(base, F(entry, LCBT_LID)) = W(base, F(tcb, TCB_LID));
  W(base, F(entry, LCBT_DCB)) = W(base, F(tcb, TCB_DCB));
  W(base, F(entry, LCBT_TCB)) = tcb;
  PutHead(base, F(entry, LCBT_REQUEST), F(tcb, TCB_LID), tables[0]);
  W(base, F(usr, USR_LOADCB)) = header;
  int32_t k = 0;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb), ++k) {
    const int32_t e = du::NewBlock(base, 4 * (LCBI_WORDS + KeyRoom(W(base, F(icb, ICB_KEYLEN)))));
    if (e == 0) {
      DUFreeLoadBlock(base, usr);
      return DU_NO_STORAGE;
    }
    W(base, F(e, LCBI_ICB)) = icb;
    PutHead(base, F(e, LCBI_REQUEST), F(icb, ICB_LID), tables[k + 1]);
    W(base, F(header, LCB_FIRST_INDEX + k)) = e;
  }
  return 0;
}

void DUFreeLoadBlock(int32_t* base, int32_t usr) {
  const int32_t header = W(base, F(usr, USR_LOADCB));
  if (header == 0) return;
  const int32_t n = W(base, F(header, LCB_INDEX_COUNT));
  for (int32_t k = 0; k < n; ++k) du::FreeBlock(base, W(base, F(header, LCB_FIRST_INDEX + k)));
  du::FreeBlock(base, W(base, F(header, LCB_TABLE_ENTRY)));
  du::FreeBlock(base, header);
  W(base, F(usr, USR_LOADCB)) = 0;
}
