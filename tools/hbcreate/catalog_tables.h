// Creating the system tables of a new database in its system databank: every
// table and index of the generated catalog made by the databank kernel with
// the kind and lengths record access later opens it with.
#pragma once

#include <cstdint>

#include "catalog_gen.h"

// Kinds record access opens with (its TCB and ICB type words), as the
// databank kernel's table kind.
inline constexpr int32_t kCreateTableKind = 1;
inline constexpr int32_t kCreateIndexKind = 2;

// The lengths record access opens an index with: the key is the whole index
// key (the key columns and the table's own key, so that entries of equal
// columns are distinct keys), the record the index entry.
int32_t IndexKernelKeyLength(const CatalogTable& table, const CatalogIndex& index);

// Creates one table and its indexes in the databank `did` (DKCRT1); 0 or the
// first failing status.
int32_t CreateCatalogTable(int32_t did, const CatalogTable& table);
// Every table of the catalog; 0 or the first failing status, the table's
// number in *failed.
int32_t CreateCatalogTables(int32_t did, int32_t* failed);
