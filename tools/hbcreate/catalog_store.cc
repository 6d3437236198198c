// Record access over the system databank for the creation: the word
// storage with SYS and its system session, the kernel's open of the system
// databank in begin mode -242 (with record access's DUOpenSysTable, which
// this store installs), the kernel's DSOpenSesDb mode 3 making the other
// databanks, and the services record access asks the layers above for (the
// databanks of logical ids 1-4 and the generated description lists).
#include "tools/hbcreate/catalog_store.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <filesystem>

#include "catalog_gen.h"
#include "dict/catalog_descriptions.h"
#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/tables.h"
#include "du/upper_services.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/kernel_begin.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/word_storage.h"
#include "tools/hbcreate/databank_files.h"
#include "tools/hbcreate/home_directory.h"

namespace {

constexpr int64_t kStorageWords = 8000000;
constexpr int32_t kInitialWords = 1000000;
constexpr int32_t kNoDatabank = -19021;
// The kernel's begin mode of a creation: the system databank is opened as
// a TRANS databank and then marked (DSMarkSysdbTrans 4) so that its rows
// are written at once, with neither a transaction nor a write-set merge.
constexpr int32_t kCreationMode = -242;
constexpr int32_t kMarkDirect[1] = {4};
// DSOpenSesDb's mode that makes a new databank file with its base tables.
constexpr int32_t kCreateMode = 3;

// The references record access holds on the databanks of logical ids 1-4.
int32_t g_references[5] = {};

// The DCB the kernel made for a databank of the creation (DSOpenSysdb for
// logical id 1, DSOpenSesDb for 2-4), found without a claim.
int32_t CreatedDcb(int32_t* base, int32_t lid) {
  int32_t rq[OPD_WORDS] = {5, lid};
  DSOpenDcb(base, rq);
  return rq[OPD_KIND] == 0 ? rq[OPD_DCB] : 0;
}

int32_t OpenDatabank(int32_t* base, int32_t, int32_t lid, int32_t* dcb) {
  const int32_t found = lid >= 1 && lid <= 4 ? CreatedDcb(base, lid) : 0;
  if (found == 0) return kNoDatabank;
  ++g_references[lid];
  *dcb = found;
  return 0;
}

int32_t CloseDatabank(int32_t*, int32_t, int32_t, int32_t lid, int32_t) {
  if (lid < 1 || lid > 4 || g_references[lid] == 0) return kNoDatabank;
  --g_references[lid];
  return 0;
}

int32_t ReleaseDatabank(int32_t* base, int32_t, int32_t lid, int32_t) {
  return CloseDatabank(base, 0, 0, lid, 0);
}

// The table's generated description list (the catalog's repeated-key
// indexes given as plain indexes).
int32_t Description(int32_t* base, int32_t, int32_t* open) {
  return DDCatalogDescription(base, open);
}

const DUUpperServices kServices = {OpenDatabank, CloseDatabank, ReleaseDatabank, Description,
                                   nullptr,      nullptr,       nullptr,         nullptr};

// The kernel's entries of record access that the system databank's open
// calls.
KernelUpperServices KernelServices() {
  KernelUpperServices k{};
  k.du_crt_tcb_hash = DUCrtTcbHash;
  k.du_open_sys_table = DDOpenSysTable;
  k.du_tcb_use_count = DUTcbUseCount;
  k.du_open_table_chain = DUOpenKernelTable;
  k.du_close_tables = DUCloseKernelTable;
  return k;
}
const KernelUpperServices kKernelServices = KernelServices();

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

int32_t CatalogStore::Start(const std::string& home) {
  base_ = SqlPoolCreate(kStorageWords, kInitialWords);
  if (base_ == nullptr) return DU_NO_STORAGE;
  int32_t grow = kInitialWords;
  DSPoolMem(base_, &grow, -1, 0);
  // SYS with its lists and system session, by the steps of DSInitSys in
  // mode -242 that need no request interface.
  const int32_t sys = NewSysBlock(base_, kCreationMode);
  work_ = Words(base_, WRK_BYTES + 65536);
  if (sys == 0 || work_ == 0) return DU_NO_STORAGE;
  if (const int32_t rc = CreateSysLists(base_, sys)) return rc;
  usr_ = sys + SYS_USR_START;
  std::fill(std::begin(g_references), std::end(g_references), 0);
  KernelInstallUpperServices(&kKernelServices);
  DUInstallUpperServices(&kServices);
  DUInstallKernelDispatcher(nullptr);
  // The kernel's begin in mode -242: the system databank and its base
  // tables, then the mark that writes its rows at once.
  // The kernel opens "sysdb9.dbf" in the working directory, as the server
  // runs in its home.
  std::error_code ec;
  const std::filesystem::path before = std::filesystem::current_path(ec);
  if (!ec) std::filesystem::current_path(home, ec);
  if (ec) return kNoDatabank;
  int32_t status = 0;
  DSOpenSysdb(base_, &status);
  std::filesystem::current_path(before, ec);
  if (status < 0) return status;
  DSMarkSysdbTrans(base_, kMarkDirect);
  return 0;
}

int32_t CatalogStore::CreateDatabank(const std::string& home, int32_t lid, int32_t type,
                                     int32_t units, const std::string& name,
                                     const std::string& file) {
  if (base_ == nullptr) return kNoDatabank;
  std::vector<int32_t> rq(ODF_WORDS, 0);
  rq[ODF_MODE] = kCreateMode;
  rq[ODF_LID] = lid;
  rq[ODF_SEQNO] = 1;
  rq[ODF_TYPE] = type;
  rq[ODF_SIZE] = units;
  PutBlankPadded(rq.data() + ODF_NAME, name, 128);
  PutBlankPadded(rq.data() + ODF_FILE, HomePath(home, file), 256);
  DSOpenSesDb(base_, rq.data());
  return rq[ODF_MODE];
}

void CatalogStore::Stop() {
  if (base_ == nullptr) return;
  tables_.clear();
  indexes_.clear();
  DUFreeTcbHash(base_);
  DUInstallUpperServices(nullptr);
  KernelInstallUpperServices(nullptr);
  std::fill(std::begin(g_references), std::end(g_references), 0);
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
