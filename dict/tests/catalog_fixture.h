// Dictionary work over system tables of the databank kernel itself: the
// tables a test names made from their generated descriptions on the
// fixture's databank (the catalog's databank 1), the request interface's
// dictionary services and the kernel's table entries installed as the
// start will install them.
#pragma once

#include <initializer_list>
#include <vector>

#include "catalog_gen.h"
#include "dict/catalog_descriptions.h"
#include "dict/tests/work_fixture.h"
#include "dict/upper_services.h"
#include "du/tables.h"
#include "kernel/statements.h"
#include "kernel/upper_services.h"
#include "request/statement_api.h"

namespace dict_test {

// The statement's tables opened and closed by record access.
inline int32_t OpenComTables(int32_t* base, int32_t usr, int32_t com) {
  int32_t pb[2] = {0, usr};
  DSOpenStmPermTables(base, pb, com - STM_NEXT_COM);
  return pb[0];
}
inline int32_t CloseSecTables(int32_t* base, int32_t usr, int32_t sd, int32_t stg) {
  int32_t first = 0;
  const int32_t list = Wd(base, sd, SD_TABLE_HANDLES), count = Wd(base, sd, SD_TABLE_HANDLES + 1);
  for (int32_t k = 0; k < count; ++k) {
    int32_t pb[2] = {0, usr};
    int32_t close[CLB_WORDS] = {CLOSE_TABLE};
    int32_t* rec = &Wd(base, stg, Wd(base, sd, list + k));
    rec[DUREC_STATUS] = 0;
    DSCloseTableRefs(base, pb, rec, close);
    if (first == 0) first = pb[0];
  }
  return first;
}

}  // namespace dict_test

class CatalogWorkTest : public WorkTest {
 protected:
  // Makes the system tables `tables`; call from SetUp.
  void SetUpCatalog(std::initializer_list<int32_t> tables) {
    WorkTest::SetUp();
    if (HasFatalFailure()) return;
    upper_.dcbs[1] = dcb_;  // the catalog's databank
    for (int32_t table : tables) {
      int32_t words = 0;
      const int32_t* d = CatalogDescription(table, &words);
      ASSERT_NE(d, nullptr) << table;
      std::vector<int32_t> description(d, d + words);
      description[DESC_LID] = kLid;
      // Indexes 73 and 77 are registered as plain indexes, as the server
      // registers them: the catalog's own rows repeat their key columns.
      DDPlainCatalogIndexes(description.data(), words);
      CreateDescribedTable(table, description);
    }
    RequestInstallDictionaryServices();
    kernel_services_.open_com_tables = dict_test::OpenComTables;
    kernel_services_.close_sec_tables = dict_test::CloseSecTables;
    previous_kernel_ = KernelInstallUpperServices(&kernel_services_);
  }
  void TearDown() override {
    KernelInstallUpperServices(previous_kernel_);
    DDInstallUpperServices(nullptr);
    WorkTest::TearDown();
  }

  KernelUpperServices kernel_services_{};
  const KernelUpperServices* previous_kernel_ = nullptr;
};
