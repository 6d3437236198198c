// One helper for every system table: DKCRT1 of the table with its key and
// record length, then of each index with the lengths of IndexKernelKeyLength,
// each closed again at once.
#include "tools/hbcreate/catalog_tables.h"

#include "dk/request.h"
#include "dk/table_entries.h"

namespace {

int32_t Create(int32_t did, int32_t kind, int32_t number, int32_t key, int32_t record) {
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = did;
  b[RQ_TYPE] = 10 * kind;
  b[RQ_TBL] = number;
  b[RQ_KEY_LENGTH] = key;
  b[RQ_RECORD_LENGTH] = record;
  DKCRT1(b);
  const int32_t status = b[RQ_STATUS];
  if (status != 0) return status;
  // The kernel leaves a new table open for its creator; record access opens
  // it again by number later.
  b[RQ_STATUS] = 0;
  DKCLT1(b);
  return b[RQ_STATUS];
}

}  // namespace

int32_t IndexKernelKeyLength(const CatalogTable&, const CatalogIndex& index) {
  return index.key_length;
}

int32_t CreateCatalogTable(int32_t did, const CatalogTable& table) {
  int32_t rc = Create(did, kCreateTableKind, table.number, table.key_length, table.record_length);
  for (int32_t i = 0; rc == 0 && i < table.index_count; ++i) {
    const CatalogIndex& ix = kCatalogIndexes[table.first_index + i];
    rc = Create(did, kCreateIndexKind, ix.number, IndexKernelKeyLength(table, ix), ix.entry_length);
  }
  return rc;
}

int32_t CreateCatalogTables(int32_t did, int32_t* failed) {
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const int32_t rc = CreateCatalogTable(did, kCatalogTables[i]);
    if (rc != 0) {
      *failed = kCatalogTables[i].number;
      return rc;
    }
  }
  return 0;
}
