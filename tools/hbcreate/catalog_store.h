// The catalog's tables as the creation writes and reads them: record access
// over the system databank, in a word storage of its own. The kernel's
// begin in mode -242 opens the system databank (DSOpenSysdb, with record
// access's TCBs of the six catalog base tables) and marks it for rows
// written at once (DSMarkSysdbTrans 4: no transaction, nothing else runs
// while a database is created). SYS is made by the steps of DSInitSys that
// need no request interface (whose services nobody installs yet); the store
// installs the services record access asks the layers above for: logical
// ids 1-4 (the kernel's DCBs) and the other tables' descriptions from the
// generated lists (the catalog cannot describe itself before its rows
// exist). It also installs record access's entries for the kernel's own
// tables, through which DSOpenSesDb opens the log databank's large-object
// directory.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

using CatalogRecord = std::vector<uint8_t>;

class CatalogStore {
 public:
  CatalogStore() = default;
  CatalogStore(const CatalogStore&) = delete;
  CatalogStore& operator=(const CatalogStore&) = delete;
  ~CatalogStore();

  // Sets the store up over the system databank of the database in `home`
  // (the kernel's DSOpenSysdb in begin mode -242, then DSMarkSysdbTrans 4);
  // 0 or a failure.
  // One store at a time.
  int32_t Start(const std::string& home);
  // Makes the databank `file` (in `home`, named `name`) of logical id `lid`
  // (2-4) of kind `type` with `units` by the kernel's DSOpenSesDb mode 3:
  // a new file with its base tables, and for the log databank its
  // large-object directory opened through record access. 0 or the status.
  int32_t CreateDatabank(const std::string& home, int32_t lid, int32_t type, int32_t units,
                         const std::string& name, const std::string& file);
  // Frees every open table (closing it in the databank kernel) and the
  // storage.
  void Stop();

  // Opens the table and its indexes through record access (which checks
  // the lengths the databank kernel holds them with); 0 or the status.
  int32_t Open(int32_t table);
  // Inserts a row (exactly the table's record length) with its index
  // entries; 0, 1 for a key that is there already, or a failure.
  int32_t Insert(int32_t table, std::span<const uint8_t> row);
  // Reads the row whose key is the first key-length bytes of `row` into
  // `row`: 0, 100 when there is none, or a failure.
  int32_t ReadByKey(int32_t table, std::span<uint8_t> row);
  // Every row of the table in key order (index 0), or in the order of one
  // of its indexes; 0 or a failure.
  int32_t Scan(int32_t table, int32_t index, std::vector<CatalogRecord>* rows);

 private:
  std::vector<int32_t>* TableRecord(int32_t table, int32_t* status);
  std::vector<int32_t>* IndexRecord(int32_t table, int32_t index, int32_t* status);

  int32_t* base_ = nullptr;
  int32_t usr_ = 0, work_ = 0;
  std::map<int32_t, std::vector<int32_t>> tables_, indexes_;
};
