// The record-access service tables of the databank utilities and of the
// table statistics, installed from the request interface over a created,
// started database: the dictionary's databank rows and a system table's
// description come through them from the real catalog, and the offline
// operations reach the request interface's databank requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "dict/compiler_lookups.h"
#include "dict/statement_functions.h"
#include "dict/tests/catalog_forms.h"
#include "dict/work_block.h"
#include "du/databank_backup.h"
#include "du/databank_offline.h"
#include "du/pool_words.h"
#include "du/table_statistics.h"
#include "du/transactions.h"
#include "kernel/backup_log.h"
#include "request/record_access_services.h"
#include "request/transaction_requests.h"
#include "server/testing/started_database.h"

namespace {

class RecordAccessServicesTest : public StartedDatabaseTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    RequestInstallRecordAccessServices();
    utility_ = DUInstallUtilityServices(nullptr);
    DUInstallUtilityServices(utility_);
    statistics_ = DUInstallStatisticsServices(nullptr);
    DUInstallStatisticsServices(statistics_);
    int32_t pb[2] = {0, admin_};
    DDBegWork(base_, pb);
    ASSERT_EQ(pb[0], 0);
  }
  void TearDown() override {
    int32_t pb[2] = {1, admin_};
    if (base_ != nullptr) DDEndWork(base_, pb);
  }

  // Grants the administrator privilege `kind` inside the test's dictionary
  // work (the statistics statement commits it: an administrator may keep
  // BACKUP and STATISTICS).
  void Grant(int32_t kind) {
    char user[DBU_NAME_MAX];
    const int32_t length = utility_->work_user(base_, admin_, user);
    int32_t pb[2] = {0, admin_};
    DDInsPrivilege(base_, pb, kind, 0, false, user, length, "SYSTEM", 6);
    ASSERT_GE(pb[0], 0);
    pb[0] = 0;
    DDChkPrivilege(base_, pb, kind, 0, user, length);
    ASSERT_EQ(pb[0], 1);
  }

  // `op` run for the user's session in dictionary work of its own, which
  // is rolled back after; op's status. The user is given no privilege by
  // any test, while the administrator's BACKUP, once a test committed it,
  // stays for the tests after it.
  template <class Op>
  int32_t InWorkOfTheUser(Op op) {
    int32_t work[2] = {0, user_};
    DDBegWork(base_, work);
    EXPECT_EQ(work[0], 0);
    int32_t pb[2] = {0, user_};
    op(pb);
    int32_t end[2] = {1, user_};
    DDEndWork(base_, end);
    return pb[0];
  }

  const DUUtilityServices* utility_ = nullptr;
  const DUStatisticsServices* statistics_ = nullptr;
};

TEST_F(RecordAccessServicesTest, TheDatabankRowsComeFromTheCatalog) {
  ASSERT_NE(utility_, nullptr);
  std::set<int32_t> ids;
  std::string system_names[5];
  DUDatabankRow row;
  for (int32_t mode = 3;; mode = 0) {
    int32_t pb[2] = {mode, admin_};
    utility_->cur_databank(base_, pb, 0, nullptr, 0, &row);
    if (pb[0] != 0) {
      EXPECT_EQ(pb[0], 1);
      break;
    }
    ids.insert(row.id);
    EXPECT_GT(row.name_length, 0);
    EXPECT_LE(row.name_length, DBU_NAME_MAX);
    if (row.id >= 1 && row.id <= 4) system_names[row.id] = std::string(row.name, row.name_length);
  }
  for (int32_t id : {1, 2, 3, 4}) EXPECT_TRUE(ids.count(id)) << id;

  // The system databanks other than the first are refused by name through
  // the real row; an unknown name is not found.
  for (int32_t id : {2, 3, 4}) {
    int32_t pb[2] = {1, admin_};
    DSBkpOp8(base_, pb, system_names[id].data(), static_cast<int32_t>(system_names[id].size()));
    EXPECT_EQ(pb[0], 2) << system_names[id];
  }
  int32_t pb[2] = {1, admin_};
  DSBkpOp8(base_, pb, "NO_SUCH_DATABANK", 16);
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(du::W(base_, du::W(base_, admin_ + USR_DDUCOM) + DDUCOM_DBU_CHAIN), 0)
      << "the chain is freed";
}

// The file rows of databank 1 walked by its name; a backup of a system
// databank other than the first refused after the real reads.
TEST_F(RecordAccessServicesTest, FileRowsAndABackupOfASystemDatabank) {
  DUDatabankRow first, trans;
  int32_t pb[2] = {2, admin_};
  utility_->cur_databank(base_, pb, 1, nullptr, 0, &first);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 2;
  utility_->cur_databank(base_, pb, 2, nullptr, 0, &trans);
  ASSERT_EQ(pb[0], 0);
  int32_t rows = 0;
  for (int32_t mode = 3;; mode = 0) {
    DUDatabankFileRow f{};
    int32_t walk[2] = {mode, admin_};
    utility_->cur_databank_file(base_, walk, first.name, first.name_length, &f);
    if (walk[0] != 0) {
      EXPECT_EQ(walk[0], 1);
      break;
    }
    ++rows;
    EXPECT_EQ(f.id, 1);
    EXPECT_EQ(std::string(f.name, f.name_length), std::string(first.name, first.name_length));
    EXPECT_GT(f.file_name_length, 0);
  }
  EXPECT_GE(rows, 1);
  EXPECT_EQ(InWorkOfTheUser([&](int32_t* pb) {
              DSBkpCreate(base_, pb, trans.name, trans.name_length, "trans.bak", 9, nullptr, -1);
            }),
            2);  // not its creator, no BACKUP
  ASSERT_NO_FATAL_FAILURE(Grant(OFF_PRIVILEGE_BACKUP));
  int32_t create[2] = {0, admin_};
  DSBkpCreate(base_, create, trans.name, trans.name_length, "trans.bak", 9, nullptr, -1);
  EXPECT_EQ(create[0], 3);
}

TEST_F(RecordAccessServicesTest, BringingAnOnlineDatabankOnlineAnswersFour) {
  // Databank 1 brought online while online: status 4 after the kind 8
  // request through the request interface's databank open.
  DUDatabankRow row;
  int32_t find[2] = {2, admin_};
  utility_->cur_databank(base_, find, 1, nullptr, 0, &row);
  ASSERT_EQ(find[0], 0);
  EXPECT_EQ(InWorkOfTheUser([&](int32_t* pb) {
              pb[0] = 1;
              DSBkpOp8(base_, pb, row.name, row.name_length);
            }),
            2);  // the user did not create it and lacks BACKUP
  ASSERT_NO_FATAL_FAILURE(Grant(OFF_PRIVILEGE_BACKUP));
  int32_t pb[2] = {1, admin_};
  DSBkpOp8(base_, pb, row.name, row.name_length);
  EXPECT_EQ(pb[0], 4);
  EXPECT_EQ(du::W(base_, du::W(base_, admin_ + USR_DDUCOM) + DDUCOM_DBU_CHAIN), 0);
}

// The end record of a backup and the state of a databank's copy through
// the installed table: the kernel core's routines.
TEST_F(RecordAccessServicesTest, TheBackupEndRecordAndTheDatabankState) {
  int32_t state[UTL_WORDS] = {-1, admin_, 1, 0, -1};
  EXPECT_EQ(utility_->set_options(base_, state), 0);
  EXPECT_EQ(state[0], 0);
  EXPECT_NE(state[UTL_SEQNO], -1) << "the first copy's SEQNO";
  EXPECT_NE(state[3], 0) << "its entry";
  int32_t missing[UTL_WORDS] = {-1, admin_, 9996, 0, -1};
  EXPECT_EQ(utility_->set_options(base_, missing), 3) << "no copy at all: the kernel's own answer";

  int32_t end[8] = {0, 0, 0, 1, admin_};
  DSTransEndReq(base_, end);  // the dictionary work's transaction
  int32_t outside[UTL_WORDS] = {0, admin_, 1};
  EXPECT_EQ(utility_->end_record(base_, outside), BACKUP_NO_TRANSACTION);
  int32_t begin[2] = {1, admin_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  int32_t record[UTL_WORDS] = {0, admin_, 1};
  std::memcpy(record + UTL_STAMP, "2026121106400000", 16);
  EXPECT_EQ(utility_->end_record(base_, record), 0);
  EXPECT_GT(record[UTL_SEQUENCE], 0) << "the number n of the end record";
  DSTransEndReq(base_, end);
}

TEST_F(RecordAccessServicesTest, StatisticsFindASystemTableAndItsColumns) {
  ASSERT_NE(statistics_, nullptr);
  const CatalogTable& t = kCatalogTables[0];
  StatTable table;
  int32_t pb[2] = {0, admin_};
  statistics_->get_table(base_, pb, "SYSTEM", 6, t.name, static_cast<int32_t>(std::strlen(t.name)),
                         &table);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(table.id, t.number);
  EXPECT_EQ(table.keylen, t.key_length);
  EXPECT_EQ(table.reclen, t.record_length);
  EXPECT_EQ(table.kind, 1);
  int32_t columns = 0;
  for (pb[0] = 1;; pb[0] = 0) {
    StatColumn c{};
    pb[1] = admin_;
    statistics_->next_column(base_, pb, table.id, &c);
    if (pb[0] != 0) break;
    const CatalogColumn& want = kCatalogColumns[t.first_column + columns];
    EXPECT_EQ(Name(c.name, c.name_length), want.name);
    EXPECT_EQ(c.stored, want.width);
    ++columns;
  }
  EXPECT_EQ(pb[0], 1);
  EXPECT_EQ(columns, t.column_count);

  // The statement reads the table's rows and stores its figures; it stops
  // where the dependency list of the definition statements is not built,
  // naming it.
  int32_t stat[2] = {0, admin_};
  int32_t key_pass = 0;
  const int32_t name_length = static_cast<int32_t>(std::strlen(t.name));
  DSTabStat(base_, stat, "SYSTEM", 6, t.name, name_length, &key_pass);
  EXPECT_EQ(stat[0], 2);  // no STATISTICS privilege
  ASSERT_NO_FATAL_FAILURE(Grant(STAT_PRIVILEGE));
  const int32_t stamp = du::W(base_, base_[sqlpool::RESERV] + SYS_SHP_TIMESTAMP);
  stat[0] = 0;
  DSTabStat(base_, stat, "SYSTEM", 6, t.name, name_length, &key_pass);
  EXPECT_EQ(stat[0], STAT_NO_SYSTEM);
  EXPECT_EQ(du::W(base_, base_[sqlpool::RESERV] + SYS_SHP_TIMESTAMP), stamp + 1);
  // The figures were committed by their own transaction's end: a new work
  // reads them.
  pb[0] = 1;
  pb[1] = admin_;
  DDEndWork(base_, pb);
  pb[0] = 0;
  pb[1] = admin_;
  DDBegWork(base_, pb);
  ASSERT_EQ(pb[0], 0);
  DDTableName n;
  n.schema = "SYSTEM";
  n.schema_length = 6;
  n.name = t.name;
  n.name_length = name_length;
  DDTableAttr a{};
  pb[0] = 0;
  pb[1] = admin_;
  DDCmpTableAttr(base_, pb, n, false, &a);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(a.statistics, 1) << "the table marked as having statistics";
  // Its first column, the key: as many values as rows, the lowest and the
  // highest as decimal texts.
  DDColumnDesc d{};
  pb[0] = 0;
  DDCmpColumns(base_, pb, table.id, 1, nullptr, 0, &d, nullptr, 0);
  ASSERT_EQ(pb[0], 0);
  EXPECT_GT(d.statistics_count, 1);
  const std::string low(reinterpret_cast<const char*>(d.low), 16);
  const std::string high(reinterpret_cast<const char*>(d.high), 16);
  EXPECT_LT(std::stol(low), std::stol(high)) << low << " " << high;
}

}  // namespace
