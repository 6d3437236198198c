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
    kernel_services_.open_com_tables = DSOpenComTables;
    kernel_services_.close_sec_tables = DSCloseSecTables;
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
