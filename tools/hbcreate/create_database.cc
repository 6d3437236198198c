// The creation's steps in order, each on the server's own code: the home
// directory, the databank kernel and the four databank files, the system
// tables (DKCRT1), the rows (record access), a stop, the verification by a
// start of the database and the administrator's login, the registry
// section.
#include "tools/hbcreate/create_database.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "catalog_gen.h"
#include "kernel/word_storage.h"
#include "kernel/xa_branches.h"
#include "platform/registry.h"
#include "server/database_run.h"
#include "tools/hbcreate/catalog_tables.h"
#include "tools/hbcreate/databank_files.h"
#include "tools/hbcreate/home_directory.h"

namespace {

std::string Status(const std::string& what, int32_t status) {
  return what + " (status " + std::to_string(status) + ")";
}

// The bytes an index orders its entries by: its key columns, then the
// table's key.
CatalogRecord IndexKey(const CatalogTable& t, const CatalogIndex& ix, const CatalogRecord& row) {
  CatalogRecord key;
  for (int32_t k = 0; k < ix.key_count; ++k) {
    const CatalogColumn& c = kCatalogColumns[kCatalogIndexKeys[ix.first_key + k]];
    key.insert(key.end(), row.begin() + c.offset, row.begin() + c.offset + c.width);
  }
  key.insert(key.end(), row.begin(), row.begin() + t.key_length);
  return key;
}

int32_t WriteRows(CatalogStore& store, const std::vector<TableRows>& rows, std::string* error) {
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    if (const int32_t rc = store.Open(kCatalogTables[i].number)) {
      *error = Status("cannot open system table " + std::to_string(kCatalogTables[i].number), rc);
      return rc;
    }
  }
  for (const TableRows& t : rows) {
    for (const CatalogRecord& row : t.rows) {
      const int32_t rc = store.Insert(t.table, row);
      if (rc != 0) {
        *error = Status("cannot insert a row into system table " + std::to_string(t.table), rc);
        return rc;
      }
    }
  }
  return 0;
}

// The files, tables and rows, on the creation's databank kernel; 0 or a
// failure.
int32_t WriteDatabase(const std::string& home, const CreateOptions& options,
                      const uint8_t scrambled[kPasswordBytes], std::string* error) {
  std::vector<TableRows> rows;
  int32_t table = 0;
  if (int32_t rc = NewDatabaseRows(options.admin, scrambled, &rows, &table)) {
    *error = Status("a row of system table " + std::to_string(table) + " does not fit it", rc);
    return rc;
  }
  int32_t rc = CreateSystemDatabankFile(home, options);
  if (rc != 0) {
    *error = Status(std::string("cannot create databank file ") + kDatabankFiles[0].file, rc);
    return rc;
  }
  rc = CreateCatalogTables(1, &table);
  if (rc != 0) {
    *error = Status("cannot create system table " + std::to_string(table), rc);
    return rc;
  }
  {
    CatalogStore store;
    rc = HandOverSystemDatabank();
    if (rc == 0) rc = store.Start(home);
    if (rc != 0) *error = Status("cannot set up record access", rc);
    if (rc == 0) rc = WriteRows(store, rows, error);
    for (int32_t i = 1; rc == 0 && i < kDatabankFileCount; ++i) {
      const DatabankFile& f = kDatabankFiles[i];
      rc = store.CreateDatabank(home, f.lid, f.type, DatabankUnits(options, f.lid), f.name, f.file);
      if (rc != 0) *error = Status(std::string("cannot create databank file ") + f.file, rc);
    }
  }
  return rc;
}

// The steps between the home directory and the registry; 0 or a failure.
int32_t CreateInHome(const std::string& home, const CreateOptions& options,
                     const uint8_t scrambled[kPasswordBytes], const std::string& password,
                     std::string* error) {
  int32_t rc = StartCreationKernel();
  if (rc != 0) {
    *error = Status("cannot start the databank kernel", rc);
    return rc;
  }
  rc = WriteDatabase(home, options, scrambled, error);
  // Stopped, the kernel writes every page; the start reads what is on disk.
  const int32_t stopped = StopCreationKernel();
  if (rc == 0 && stopped != 0) {
    *error = Status("the databank kernel did not stop cleanly", stopped);
    rc = stopped;
  }
  if (rc != 0) return rc;
  return VerifyByStart(home, options, password, error);
}

}  // namespace

int32_t VerifyDatabase(CatalogStore& store, const std::vector<TableRows>& rows,
                       std::string* error) {
  std::map<int32_t, std::vector<CatalogRecord>> expected;
  for (const TableRows& t : rows) {
    std::vector<CatalogRecord>& e = expected[t.table];
    e.insert(e.end(), t.rows.begin(), t.rows.end());
  }
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const CatalogTable& t = kCatalogTables[i];
    const std::string name = "system table " + std::to_string(t.number);
    if (const int32_t rc = store.Open(t.number)) {
      *error = Status("cannot open " + name + " with its lengths", rc);
      return rc;
    }
    std::vector<CatalogRecord> want = expected[t.number];
    auto key_less = [&](const CatalogRecord& a, const CatalogRecord& b) {
      return std::memcmp(a.data(), b.data(), static_cast<size_t>(t.key_length)) < 0;
    };
    std::sort(want.begin(), want.end(), key_less);
    for (const CatalogRecord& row : want) {
      CatalogRecord read(row.size(), 0);
      std::memcpy(read.data(), row.data(), static_cast<size_t>(t.key_length));
      const int32_t rc = store.ReadByKey(t.number, read);
      if (rc != 0 || read != row) {
        *error = Status("a row of " + name + " does not read back by its key", rc);
        return rc != 0 ? rc : -1;
      }
    }
    std::vector<CatalogRecord> got;
    if (const int32_t rc = store.Scan(t.number, 0, &got)) {
      *error = Status("cannot read " + name, rc);
      return rc;
    }
    if (got != want) {
      *error = name + " holds " + std::to_string(got.size()) + " rows, not the " +
               std::to_string(want.size()) + " written";
      return -1;
    }
    for (int32_t k = 0; k < t.index_count; ++k) {
      const CatalogIndex& ix = kCatalogIndexes[t.first_index + k];
      const std::string index = "index " + std::to_string(ix.number) + " of " + name;
      std::vector<CatalogRecord> in_order = want;
      std::stable_sort(in_order.begin(), in_order.end(),
                       [&](const CatalogRecord& a, const CatalogRecord& b) {
                         return IndexKey(t, ix, a) < IndexKey(t, ix, b);
                       });
      if (const int32_t rc = store.Scan(t.number, ix.number, &got)) {
        *error = Status("cannot read " + index, rc);
        return rc;
      }
      if (got != in_order) {
        *error = index + " does not deliver the table's rows in its order";
        return -1;
      }
    }
  }
  return 0;
}

int32_t VerifyByStart(const std::string& home, const CreateOptions& options,
                      const std::string& password, std::string* error) {
  ServerDatabase db;
  const int32_t started = ServerStartDatabase(home, options.database, 1, &db);
  if (started != 0) {
    *error = Status("the created database does not start", started);
    return started;
  }
  int32_t usr = 0, rc = 0;
  const int32_t cha = ServerNewChannel(&db, 1);
  if (cha == 0) {
    rc = SQLPOOL_EXHAUSTED_ERROR;
    *error = Status("no channel for the administrator's login", rc);
  } else if ((rc = ServerLogin(&db, cha, options.admin, password, &usr)) != 0) {
    *error = Status("the administrator " + options.admin + " cannot log in", rc);
  } else if ((rc = DSChkAdmIdent(db.base, usr)) != 0) {
    *error = Status("the administrator " + options.admin + " fails the administrator check", rc);
  }
  if (usr != 0) {
    const int32_t out = ServerLogout(&db, usr);
    if (rc == 0 && out != 0) {
      *error = Status("the administrator's logout failed", out);
      rc = out;
    }
  }
  const int32_t stopped = ServerStopDatabase(&db);
  if (rc == 0 && stopped != 0) {
    *error = Status("the started database did not stop cleanly", stopped);
    rc = stopped;
  }
  return rc;
}

int CreateDatabase(const CreateOptions& options, const uint8_t scrambled[kPasswordBytes],
                   const std::string& password, std::string* error) {
  std::error_code ec;
  const std::string home = std::filesystem::absolute(options.home, ec).lexically_normal().string();
  if (ec) {
    *error = "cannot use the home directory " + options.home + ": " + ec.message();
    return 1;
  }
  bool made = false;
  if (!MakeHomeDirectory(home, &made, error)) return 1;
  const int32_t rc = CreateInHome(home, options, scrambled, password, error);
  if (rc == 0) {
    const std::string directory = home.size() > 1 && home.back() == '/' ? home.substr(0, home.size() - 1) : home;
    RegistryValue dir, start;
    dir.type = RegistryValue::kString;
    dir.text = directory;
    start.type = RegistryValue::kDword;
    start.dword = kStartOnDemand;
    if (registry_add_section(DatabaseRegistryKey(options.database),
                             {{kRegistryDirectory, dir}, {kRegistryStartType, start}}, error))
      return 0;
  }
  RemoveHomeDirectory(home, made);
  return 1;
}
