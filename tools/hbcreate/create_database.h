// Creating a database: the home directory, the databank files, the system
// tables and their rows, a stop, then the verification: the database
// started as the server starts it (mode 1) and the administrator logged in
// with `password` and checked as the administrator; the registry section
// last. A creation that fails anywhere
// removes everything it made and writes no section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/hbcreate/catalog_store.h"
#include "tools/hbcreate/create_args.h"
#include "tools/hbcreate/database_rows.h"

// Creates the database `options` name (its arguments and target checked
// before). 0, or 1 with *error set and nothing left behind.
int CreateDatabase(const CreateOptions& options, const uint8_t scrambled[kPasswordBytes],
                   const std::string& password, std::string* error);

// The verification of a created database in `home`: a start in mode 1, the
// administrator's login and administrator check, a logout and a stop. 0,
// or the failing status with *error naming the step.
int32_t VerifyByStart(const std::string& home, const CreateOptions& options,
                      const std::string& password, std::string* error);

// Checks a created database through record access (the tests' check of
// the rows written): every system table and
// index opens with its lengths, the tables hold exactly `rows`, every row
// reads back by its key and each index delivers the table's rows in the
// order of its key. 0, or a failure with *error naming the table.
int32_t VerifyDatabase(CatalogStore& store, const std::vector<TableRows>& rows,
                       std::string* error);

// The registry values of a created database's section: its home directory
// and its start type (3, started on demand).
inline constexpr char kRegistryDirectory[] = "Directory";
inline constexpr char kRegistryStartType[] = "StartType";
inline constexpr uint32_t kStartOnDemand = 3;
