// Record access over the system databank for the creation: the word
// storage with SYS (its TCB hash), the system databank's DCB and one
// session, and the services record access asks the layers above for (the
// databank of logical id 1 and the generated description lists).
#include "tools/hbcreate/catalog_store.h"

#include <cstring>

#include "catalog_gen.h"
#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/tables.h"
#include "du/upper_services.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"

namespace {

constexpr int64_t kStorageWords = 8000000;
constexpr int32_t kInitialWords = 1000000;
constexpr int32_t kNoDatabank = -19021;
// The system databank's rows are written at once: neither a transaction
// nor a write-set merge (TRANS_MODE 2 or 3) stands between them and the
// tables while the database is created.
constexpr int32_t kDirectTransMode = 4;

// Indexes the catalog's descriptions mark unique (kind 5) on key columns
// that repeat among the catalog's own rows: 73 (table 18 by table id: every
// table has its primary key and its indexes there) and 77 (table 20 by
// table id and column name: a column may be in several keys). Checked as
// unique, the second row of a table would be refused; the creation writes
// them as plain indexes, whose entries are the same.
constexpr int32_t kUnenforcedUnique[] = {73, 77};
constexpr int32_t kUniqueKind = 5, kPlainKind = 3;

struct Services {
  int32_t* base = nullptr;
  int32_t dcb = 0;
  int32_t references = 0;
};
Services g_services;

int32_t OpenDatabank(int32_t*, int32_t, int32_t lid, int32_t* dcb) {
  if (lid != 1 || g_services.dcb == 0) return kNoDatabank;
  ++g_services.references;
  *dcb = g_services.dcb;
  return 0;
}

int32_t CloseDatabank(int32_t*, int32_t, int32_t, int32_t lid, int32_t) {
  if (lid != 1 || g_services.references == 0) return kNoDatabank;
  --g_services.references;
  return 0;
}

int32_t ReleaseDatabank(int32_t* base, int32_t, int32_t lid, int32_t) {
  return CloseDatabank(base, 0, 0, lid, 0);
}

// The table's generated description list in a block of the storage, with
// the indexes of kUnenforcedUnique given as plain indexes (kind 3).
int32_t Description(int32_t* base, int32_t, int32_t* open) {
  int32_t words = 0;
  const int32_t* list = CatalogDescription(open[OPB_TNAME], &words);
  if (list == nullptr) return 1;
  int32_t block = 0;
  DSGetMem(base, &block, words * 4);
  if (block == 0) return DU_NO_STORAGE;
  int32_t* d = &du::W(base, block);
  std::memcpy(d, list, static_cast<size_t>(words) * 4);
  for (int32_t e = DESC_ENTRIES; e + DESCIX_XD < words && d[e] != DESC_END;
       e += DESCIX_XD + d[e + DESCIX_XD]) {
    for (int32_t index : kUnenforcedUnique)
      if (d[e] == kUniqueKind && d[e + DESCIX_TNAME] == index) d[e] = kPlainKind;
  }
  open[OPB_DESCRIPTION] = block;
  return 0;
}

const DUUpperServices kServices = {OpenDatabank, CloseDatabank, ReleaseDatabank, Description,
                                   nullptr,      nullptr,       nullptr,         nullptr};

int32_t Words(int32_t* base, int32_t bytes) {
  int32_t block = 0;
  DSGetMem(base, &block, bytes);
  return block;
}

std::vector<int32_t> NewRecord(int32_t tname, int32_t type, int32_t keylen, int32_t reclen) {
  std::vector<int32_t> r(static_cast<size_t>(DurecWords(reclen)), 0);
  r[DUREC_ACCESS_MODE] = 3;
  r[DUREC_TNAME] = tname;
  r[DUREC_KEYLEN] = keylen;
  r[DUREC_RECLEN] = reclen;
  r[DUREC_TYPE] = type;
  return r;
}

uint8_t* Buffer(std::vector<int32_t>& r) {
  return reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
}

}  // namespace

CatalogStore::~CatalogStore() {
  Stop();
}

int32_t CatalogStore::Start(int32_t sysdb_entry) {
  base_ = SqlPoolCreate(kStorageWords, kInitialWords);
  if (base_ == nullptr) return DU_NO_STORAGE;
  int32_t grow = kInitialWords;
  DSPoolMem(base_, &grow, -1, 0);
  const int32_t sys = Words(base_, SYS_BYTES);
  const int32_t dcb = Words(base_, DCB_BYTES);
  const int32_t lvl = Words(base_, LVL_BYTES);
  usr_ = Words(base_, USR_BYTES);
  work_ = Words(base_, WRK_BYTES + 65536);
  if (sys == 0 || dcb == 0 || lvl == 0 || usr_ == 0 || work_ == 0) return DU_NO_STORAGE;
  base_[sqlpool::RESERV] = sys;
  enqdeq_init_semaphore(&du::W(base_, sys + SYS_POOLED_TP_S), 1);
  if (const int32_t rc = DUCrtTcbHash(base_)) return rc;
  du::W(base_, dcb + DCB_LID) = 1;
  du::W(base_, dcb + DCB_DID) = sysdb_entry;
  du::W(base_, dcb + DCB_TRANS_MODE) = kDirectTransMode;
  du::W(base_, dcb + DCB_REFCOUNT) = 1;
  enqdeq_init_semaphore(&du::W(base_, dcb + DCB_S), 1);
  du::W(base_, usr_ + USR_USR) = usr_;
  du::W(base_, usr_ + USR_LVL) = lvl;
  du::W(base_, lvl + LVL_USR) = usr_;
  g_services = {base_, dcb, 0};
  DUInstallUpperServices(&kServices);
  DUInstallKernelDispatcher(nullptr);
  return 0;
}

void CatalogStore::Stop() {
  if (base_ == nullptr) return;
  tables_.clear();
  indexes_.clear();
  DUFreeTcbHash(base_);
  DUInstallUpperServices(nullptr);
  g_services = {};
  SqlPoolDestroy(base_);
  base_ = nullptr;
}

std::vector<int32_t>* CatalogStore::TableRecord(int32_t table, int32_t* status) {
  auto it = tables_.find(table);
  if (it != tables_.end()) return &it->second;
  const CatalogTable* t = CatalogFindTable(table);
  if (t == nullptr || base_ == nullptr) {
    *status = DU_BAD_ARGUMENT;
    return nullptr;
  }
  std::vector<int32_t> r = NewRecord(table, 1, t->key_length, t->record_length);
  int32_t open[OPB_WORDS] = {OPEN_BASE};
  DUOpenTableChain(base_, usr_, r.data(), open);
  *status = r[DUREC_STATUS];
  if (*status != 0) return nullptr;
  return &tables_.emplace(table, std::move(r)).first->second;
}

std::vector<int32_t>* CatalogStore::IndexRecord(int32_t table, int32_t index, int32_t* status) {
  auto it = indexes_.find(index);
  if (it != indexes_.end()) return &it->second;
  std::vector<int32_t>* t = TableRecord(table, status);
  if (t == nullptr) return nullptr;
  for (int32_t i = 0; i < kCatalogIndexCount; ++i) {
    const CatalogIndex& ix = kCatalogIndexes[i];
    if (ix.number != index) continue;
    std::vector<int32_t> r = NewRecord(index, DU_TYPE_INDEX, ix.key_length, ix.entry_length);
    r[DUREC_KEY_FLAG] = table;
    int32_t open[OPB_WORDS] = {OPEN_BASE};
    DUOpenTableChain(base_, usr_, r.data(), open);
    *status = r[DUREC_STATUS];
    if (*status != 0) return nullptr;
    for (int32_t k = 0; k < 6; ++k)
      r[DUREC_LID + k] = du::W(base_, int64_t{r[DUREC_OBJECT]} + ICB_LID + k);
    r[DUREC_MERGE] = (*t)[DUREC_MERGE];
    return &indexes_.emplace(index, std::move(r)).first->second;
  }
  *status = DU_BAD_ARGUMENT;
  return nullptr;
}

int32_t CatalogStore::Open(int32_t table) {
  int32_t status = 0;
  if (TableRecord(table, &status) == nullptr) return status;
  const CatalogTable* t = CatalogFindTable(table);
  for (int32_t i = 0; i < t->index_count; ++i)
    if (IndexRecord(table, kCatalogIndexes[t->first_index + i].number, &status) == nullptr)
      return status;
  return 0;
}

int32_t CatalogStore::Insert(int32_t table, std::span<const uint8_t> row) {
  int32_t status = 0;
  std::vector<int32_t>* r = TableRecord(table, &status);
  if (r == nullptr) return status;
  if (static_cast<int64_t>(row.size()) != (*r)[DUREC_RECLEN]) return DU_BAD_ARGUMENT;
  std::memcpy(Buffer(*r), row.data(), row.size());
  (*r)[DUREC_STATUS] = 0;
  DUInsertRow(base_, r->data(), usr_);
  return (*r)[DUREC_STATUS];
}

int32_t CatalogStore::ReadByKey(int32_t table, std::span<uint8_t> row) {
  int32_t status = 0;
  std::vector<int32_t>* r = TableRecord(table, &status);
  if (r == nullptr) return status;
  if (static_cast<int64_t>(row.size()) != (*r)[DUREC_RECLEN]) return DU_BAD_ARGUMENT;
  std::memset(Buffer(*r), 0, row.size());
  std::memcpy(Buffer(*r), row.data(), static_cast<size_t>((*r)[DUREC_KEYLEN]));
  (*r)[DUREC_STATUS] = 0;
  DUReadRowByKey(base_, r->data(), usr_);
  if ((*r)[DUREC_STATUS] == 0) std::memcpy(row.data(), Buffer(*r), row.size());
  return (*r)[DUREC_STATUS];
}

int32_t CatalogStore::Scan(int32_t table, int32_t index, std::vector<CatalogRecord>* rows) {
  int32_t status = 0;
  std::vector<int32_t>* t = TableRecord(table, &status);
  if (t == nullptr) return status;
  std::vector<int32_t>* x = index == 0 ? t : IndexRecord(table, index, &status);
  if (x == nullptr) return status;
  const size_t reclen = static_cast<size_t>((*t)[DUREC_RECLEN]);
  std::memset(Buffer(*x), 0, static_cast<size_t>((*x)[DUREC_RECLEN]));
  (*x)[DUREC_FETCH_CODE] = 1;
  rows->clear();
  for (;;) {
    (*x)[DUREC_STATUS] = 0;
    if (index == 0)
      DUFetchRow(base_, t->data(), usr_, work_);
    else
      DUGetRowIx(base_, t->data(), x->data(), usr_, work_);
    if ((*x)[DUREC_STATUS] == DU_NO_ROW) return 0;
    if ((*x)[DUREC_STATUS] != 0) return (*x)[DUREC_STATUS];
    rows->emplace_back(Buffer(*t), Buffer(*t) + reclen);
  }
}
