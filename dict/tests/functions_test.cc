// The statement functions over the system tables of the databank kernel
// itself, each family against a std::map model of its tables: random
// creates and reads inside dictionary work, a rollback that changes
// nothing, a commit that keeps everything.
#include <map>
#include <random>
#include <string>

#include "catalog_gen.h"
#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/statement_prepare.h"
#include "dict/tests/work_fixture.h"
#include "dict/upper_services.h"
#include "du/tables.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/upper_services.h"
#include "request/statement_api.h"

namespace {

// The statement's tables opened and closed by record access, as the start
// will install them for the kernel.
int32_t OpenComTables(int32_t* base, int32_t usr, int32_t com) {
  int32_t pb[2] = {0, usr};
  DSOpenStmPermTables(base, pb, com - STM_NEXT_COM);
  return pb[0];
}
int32_t CloseSecTables(int32_t* base, int32_t usr, int32_t sd, int32_t stg) {
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

class FunctionsTest : public WorkTest {
 protected:
  void SetUp() override {
    WorkTest::SetUp();
    if (HasFatalFailure()) return;
    upper_.dcbs[1] = dcb_;  // the catalog's databank
    for (int32_t table : {11, 13, 14, 33}) {
      int32_t words = 0;
      const int32_t* d = CatalogDescription(table, &words);
      ASSERT_NE(d, nullptr) << table;
      // The catalog's databank 1 is the fixture's databank.
      std::vector<int32_t> description(d, d + words);
      description[DESC_LID] = kLid;
      CreateDescribedTable(table, description);
    }
    RequestInstallDictionaryServices();
    kernel_services_.open_com_tables = OpenComTables;
    kernel_services_.close_sec_tables = CloseSecTables;
    previous_kernel_ = KernelInstallUpperServices(&kernel_services_);
  }
  void TearDown() override {
    KernelInstallUpperServices(previous_kernel_);
    DDInstallUpperServices(nullptr);
    WorkTest::TearDown();
  }
  KernelUpperServices kernel_services_{};
  const KernelUpperServices* previous_kernel_ = nullptr;
  int32_t InsIdent(const std::string& name, int32_t id, int32_t kind) {
    int32_t pb[2] = {0, usr_};
    DDInsIdent(base_, pb, name.data(), static_cast<int32_t>(name.size()), id, kind, nullptr, 0);
    return pb[0];
  }
  int32_t InsSchema(int32_t id) {
    int32_t pb[2] = {0, usr_};
    DDInsSchema(base_, pb, id);
    return pb[0];
  }
};

TEST_F(FunctionsTest, WithoutDictionaryWorkNothingIsPrepared) {
  const int32_t statements = W(sys_ + SYS_ST_STATEMENTS);
  EXPECT_EQ(InsIdent("EVE", 7, 3), DD_NO_WORK_BLOCK);
  EXPECT_EQ(InsSchema(7), DD_NO_WORK_BLOCK);
  EXPECT_EQ(W(sys_ + SYS_ST_STATEMENTS), statements);
}

TEST_F(FunctionsTest, IdentsAndSchemasAgainstAModel) {
  std::mt19937 rng(28);
  std::map<std::string, int32_t> idents;
  std::map<int32_t, bool> schemas;
  Protocol(21);  // each work ends its own transaction
  ASSERT_EQ(BegWork(), 0);
  const int32_t statements = W(sys_ + SYS_ST_STATEMENTS);
  EXPECT_EQ(InsIdent("X", 1, 0), DD_KIND_OUTSIDE);
  EXPECT_EQ(InsIdent("X", 1, 5), DD_KIND_OUTSIDE);
  for (int n = 0; n < 150; ++n) {
    const std::string name = "ID" + std::to_string(rng() % 60);
    const int32_t id = 1000 + n;
    const int32_t rc = InsIdent(name, id, 1 + n % 4);
    EXPECT_EQ(rc, idents.count(name) ? 2 : 0) << name;
    idents.emplace(name, id);
    const int32_t sid = static_cast<int32_t>(rng() % 50);
    EXPECT_EQ(InsSchema(sid), schemas.count(sid) ? 2 : 0) << sid;
    schemas[sid] = true;
  }
  // Each statement was prepared once in the work.
  EXPECT_EQ(W(sys_ + SYS_ST_STATEMENTS), statements + 2);
  EXPECT_EQ(EndWork(0), 0);
  // The rows stay after the commit: every name is present.
  ASSERT_EQ(BegWork(), 0);
  for (const auto& [name, id] : idents) EXPECT_EQ(InsIdent(name, id, 3), 2) << name;
  for (const auto& [sid, present] : schemas) EXPECT_EQ(InsSchema(sid), 2) << sid;
  // New rows rolled back are gone.
  EXPECT_EQ(InsIdent("NEWCOMER", 5000, 1), 0);
  EXPECT_EQ(InsSchema(999), 0);
  EXPECT_EQ(EndWork(1), 0);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(InsIdent("NEWCOMER", 5000, 1), 0);
  EXPECT_EQ(InsSchema(999), 0);
  EXPECT_EQ(EndWork(1), 0);
}

}  // namespace
