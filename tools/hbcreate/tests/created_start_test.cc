// A created database started as the server starts it (mode 1): a catalog
// whose version row was changed is refused with -19050 and the log names
// the stored version.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "catalog_gen.h"
#include "dict/compiler_lookups.h"
#include "dict/work_block.h"
#include "dict/row_image.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "platform/host_services.h"
#include "server/database_run.h"
#include "tools/hbcreate/create_database.h"
#include "tools/hbcreate/tests/scratch_fixture.h"

namespace {

// The log's lines, kept.
class KeptLog : public HostServices {
 public:
  void write_output(StatusPair* status, int, const char* area, int count) override {
    set_success(status);
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < std::max(count, -count); ++i) {
      text_ += area;
      text_ += "\n";
      area += std::strlen(area) + 1;
    }
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

class CreatedStartTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    previous_ = InstallHostServices(&log_);
    options_.home = (dir_ / "home").string();
    options_.database = "DB1";
    options_.admin = "BOSS";
    std::istringstream in(password_ + "\n");
    std::string error;
    ASSERT_TRUE(ReadScrambledPassword(in, options_.admin, scrambled_, &error)) << error;
    ASSERT_EQ(CreateDatabase(options_, scrambled_, password_, &error), 0) << error;
  }
  void TearDown() override {
    if (db_.base != nullptr) ServerStopDatabase(&db_);
    InstallHostServices(previous_);
    ScratchTest::TearDown();
  }

  // Writes `version` into the catalog's version row as the administrator.
  void ChangeVersion(const std::string& version) {
    ASSERT_EQ(ServerStartDatabase(options_.home, options_.database, 1, &db_), 0);
    int32_t* base = db_.base;
    int32_t usr = 0;
    ASSERT_EQ(ServerLogin(&db_, ServerNewChannel(&db_, 1), options_.admin, password_, &usr), 0);
    const CatalogTable* t = CatalogFindTable(CAT_CATALOG_INFO);
    std::vector<int32_t> r(static_cast<size_t>(DurecWords(t->record_length)), 0);
    r[DUREC_ACCESS_MODE] = 3;
    r[DUREC_TNAME] = t->number;
    r[DUREC_KEYLEN] = t->key_length;
    r[DUREC_RECLEN] = t->record_length;
    r[DUREC_TYPE] = 1;
    int32_t pb[2] = {0, usr};
    int32_t open[OPB_WORDS] = {OPEN_BASE};
    DSOpenTableDcb(base, pb, r.data(), open);
    ASSERT_EQ(pb[0], 0);
    int32_t begin[2] = {1, usr};
    DSBTR3(base, begin);
    ASSERT_EQ(begin[0], 0);
    // A statement of its own: the kernel keeps its changes under the next
    // cursor order number.
    DSSetCursorOrder(base, usr, DSNextCursorOrder(base, usr));
    std::vector<uint8_t> row(static_cast<size_t>(t->record_length));
    const CatalogValue values[] = {{CATALOG_INFO_INFO_NAME, 1, 0, "CATALOG VERSION"},
                                   {CATALOG_INFO_INFO_VALUE, 1, 0, version.c_str()}};
    ASSERT_EQ(DDRowImage(CatalogRow{t->number, 0, 2}, values, row), 0);
    uint8_t* buffer = reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
    std::memcpy(buffer, row.data(), row.size());
    DUReadRowByKey(base, r.data(), usr);
    ASSERT_EQ(r[DUREC_STATUS], 0) << "the version row";
    DUPrepareForUpdate(base, r.data(), usr);
    ASSERT_EQ(r[DUREC_STATUS], 0);
    std::memcpy(buffer, row.data(), row.size());
    DURowOp1(base, r.data(), usr);
    ASSERT_EQ(r[DUREC_STATUS], 0);
    int32_t end[3] = {END_CLIENT_COMMIT, usr, 0};
    DSEndTrans(base, end);
    ASSERT_EQ(end[0], 0);
    int32_t close[CLB_WORDS] = {CLOSE_TABLE};
    pb[0] = 0;
    DSCloseTableRefs(base, pb, r.data(), close);
    EXPECT_EQ(ServerLogout(&db_, usr), 0);
    ASSERT_EQ(ServerStopDatabase(&db_), 0);
  }

  KeptLog log_;
  HostServices* previous_ = nullptr;
  CreateOptions options_;
  std::string password_ = "boss-pw";
  uint8_t scrambled_[kPasswordBytes];
  ServerDatabase db_;
};

TEST_F(CreatedStartTest, ACreatedDatabaseStartsAndItsAdministratorLogsIn) {
  std::string error;
  EXPECT_EQ(VerifyByStart(options_.home, options_, password_, &error), 0) << error;
  EXPECT_NE(VerifyByStart(options_.home, options_, "not-the-pw", &error), 0);
  EXPECT_NE(error.find("cannot log in (status 90)"), std::string::npos) << error;
}

TEST_F(CreatedStartTest, AChangedCatalogVersionIsRefused) {
  ChangeVersion("00.00.01");
  ASSERT_EQ(ServerStartDatabase(options_.home, options_.database, 1, &db_), -19050);
  EXPECT_EQ(db_.base, nullptr) << "a refused start takes everything down";
  const std::string log = log_.Text();
  EXPECT_NE(log.find("ZAVOR/DB kernel error -19050 in function DSBEG2"), std::string::npos) << log;
  EXPECT_NE(log.find("Catalog version, 00.00.01, not compatible with server version"),
            std::string::npos)
      << log;
  // The creation's own verification refuses such a database as well.
  std::string error;
  EXPECT_EQ(VerifyByStart(options_.home, options_, password_, &error), -19050);
  EXPECT_NE(error.find("does not start"), std::string::npos) << error;
}


// A stop and a start again in one process: the new thread's lookups
// prepare their statements afresh over the new storage.
TEST_F(CreatedStartTest, StartedAgainTheLookupsServeAgain) {
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(ServerStartDatabase(options_.home, options_.database, 1, &db_), 0);
    int32_t usr = 0;
    ASSERT_EQ(ServerLogin(&db_, ServerNewChannel(&db_, 1), options_.admin, password_, &usr), 0);
    int32_t pb[2] = {0, usr};
    DDBegWork(db_.base, pb);
    ASSERT_EQ(pb[0], 0);
    const struct {
      const char* name;
      int32_t id;
    } tables[] = {{"TABLES", CAT_TABLES}, {"COLUMNS", CAT_COLUMNS}, {"NO_SUCH_TABLE", 0}};
    for (const auto& [name, id] : tables) {
      DDTableName n;
      n.schema = "SYSTEM";
      n.schema_length = 6;
      n.name = name;
      n.name_length = static_cast<int32_t>(std::strlen(name));
      DDTableAttr a{};
      pb[0] = 0;
      pb[1] = usr;
      DDCmpTableAttr(db_.base, pb, n, false, &a);
      EXPECT_EQ(pb[0], id == 0 ? DD_TABLE_NOT_FOUND : 0) << name;
      EXPECT_EQ(a.id, id) << name;
    }
    pb[0] = 0;
    pb[1] = usr;
    DDEndWork(db_.base, pb);
    EXPECT_EQ(pb[0], 0);
    EXPECT_EQ(ServerLogout(&db_, usr), 0);
    ASSERT_EQ(ServerStopDatabase(&db_), 0);
    EXPECT_EQ(db_.base, nullptr);
  }
}

}  // namespace
