// The rows of a new database, as record images in the order they are
// written: the catalog's self-description rows (tables 16, 18, 20, 22) and
// seed rows (44, 48-50), then the databanks (15), the id sequence (32), the
// administrator, the group _SYSTEM_ADM and PUBLIC (14), the schemas (13),
// the objects (11), the privileges (27) and the table privileges (25).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/password_scramble.h"
#include "tools/hbcreate/catalog_store.h"

struct TableRows {
  int32_t table;
  std::vector<CatalogRecord> rows;
};

// Ids the creation takes from the id sequence, one after the other from
// its first value.
struct NewDatabaseIds {
  int32_t admin, admin_group, public_group, admin_schema;
};
NewDatabaseIds NewDatabaseIdsTaken();

inline constexpr char kAdminGroup[] = "_SYSTEM_ADM";
inline constexpr char kPublicGroup[] = "PUBLIC";

// Every row; 0, or -19113 when a row does not fit its table (a fault of
// the definitions), with the table in *table.
int32_t NewDatabaseRows(const std::string& admin, const uint8_t scrambled[kPasswordBytes],
                        std::vector<TableRows>* out, int32_t* table);
