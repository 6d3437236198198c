// The SQL compiler as the server's start installs it, over the started
// database: the parse and semantic phases and the datetime literal
// converter are in place, so a query with datetime and interval literals
// compiles to the end of analysis, and a literal naming a day that does not
// exist is the user's error, not an internal one. The stop takes them away.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dict/work_block.h"
#include "kernel/word_storage.h"
#include "server/start_services.h"
#include "server/testing/started_database.h"
#include "sql/front/compile_driver.h"
#include "sql/front/compile_services.h"

namespace {

int32_t* g_base = nullptr;
std::vector<int32_t> g_codes;

void RecordDiag(int32_t, int32_t, int32_t code, int32_t, const char*, int32_t) {
  g_codes.push_back(code);
}
void AllocWords(int32_t* index, int32_t words) {
  DSGetMem(g_base, index, words * 4);
}

class StartedCompileTest : public StartedDatabaseTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    g_base = base_;
    // The diagnostics area and the kernel's word blocks of a session are
    // the request layer's; the test records the conditions itself and
    // keeps what the start installed.
    installed_ = SqlKernel();
    SqlKernelServices k = installed_;
    k.pool = base_;
    k.add_diag = RecordDiag;
    k.alloc_words = AllocWords;
    SqlInstallKernelServices(&k);
  }
  void TearDown() override {
    if (g_base != nullptr) SqlInstallKernelServices(&installed_);
    g_base = nullptr;
  }

  // Compiles `sql` in mode 5 (stop after analysis) for the administrator,
  // inside dictionary work; the status and the kind.
  std::pair<int32_t, int32_t> Compile(const std::string& sql) {
    g_codes.clear();
    std::vector<uint8_t> text;
    for (unsigned char c : sql) text.insert(text.end(), {0, 0, c});
    int32_t result[kResultWords] = {};
    int32_t request[kRequestWords] = {};
    request[REQ_MODE] = kModeStopAfterSemantics;
    request[REQ_SESSION] = admin_;
    int32_t start = 0;
    const int32_t hosts[3] = {0, 0, 0};
    int32_t pb[2] = {0, admin_};
    DDBegWork(base_, pb);
    EXPECT_EQ(pb[0], 0);
    qmcpsn(result, text.data(), &start, static_cast<int32_t>(sql.size()), hosts, request, nullptr,
           nullptr, 0);
    pb[0] = 1;
    DDEndWork(base_, pb);
    return {result[RES_STATUS], result[RES_KIND]};
  }

  SqlKernelServices installed_;
};

TEST_F(StartedCompileTest, TheStartInstallsTheParseAndSemanticPhasesAndTheConverter) {
  EXPECT_NE(SqlPhases().parse, nullptr);
  EXPECT_NE(SqlPhases().semantic, nullptr);
  EXPECT_NE(SqlKernel().call_guarded, nullptr);
}

TEST_F(StartedCompileTest, ASelectWithDatetimeLiteralsCompilesToAnalysis) {
  const char* ok[] = {
      "SELECT DATE '2024-02-29' FROM SYSTEM.TABLES",
      "SELECT TIME '23:59:59.25', TIMESTAMP '2020-01-31 00:00:00' FROM SYSTEM.TABLES",
      "SELECT DATE '2024-02-29' + INTERVAL '3' DAY FROM SYSTEM.TABLES",
      "SELECT INTERVAL '1-6' YEAR TO MONTH FROM SYSTEM.TABLES",
  };
  for (const char* sql : ok) {
    const auto [status, kind] = Compile(sql);
    EXPECT_EQ(status, 0) << sql;
    EXPECT_TRUE(kind == 1 || kind == 2) << sql << " kind " << kind;
    EXPECT_TRUE(g_codes.empty()) << sql << " first code " << g_codes.front();
  }
}

TEST_F(StartedCompileTest, ABadDatetimeLiteralIsTheUsersError) {
  struct Case {
    const char* sql;
    int32_t code;
  };
  const Case cases[] = {
      {"SELECT DATE '2023-02-29' FROM SYSTEM.TABLES", -12280},
      {"SELECT TIME '24:61:00' FROM SYSTEM.TABLES", -12280},
      {"SELECT DATE 'today' FROM SYSTEM.TABLES", -12280},
      {"SELECT INTERVAL '1-13' YEAR TO MONTH FROM SYSTEM.TABLES", -12281},
  };
  for (const Case& c : cases) {
    const auto [status, kind] = Compile(c.sql);
    EXPECT_NE(status, 0) << c.sql;
    ASSERT_FALSE(g_codes.empty()) << c.sql;
    EXPECT_EQ(g_codes.front(), c.code) << c.sql;
    for (int32_t code : g_codes) EXPECT_NE(code, -19280) << c.sql;
  }
}

}  // namespace
