// The whole database taken offline and brought back online by both ways,
// over a created, started database with the request interface's services
// installed: the real dictionary's LOG databank row, the kernel core's
// disconnect and attach, and the request interface's databank requests.
#include <gtest/gtest.h>

#include <vector>

#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "du/databank_offline.h"
#include "du/databank_utility.h"
#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "request/record_access_services.h"
#include "server/tests/catalog_databank.h"

namespace {

class DatabaseOfflineRunTest : public StartedDatabaseTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    utility_ = InstallUtilityServices();
    ASSERT_NE(utility_, nullptr);
    sys_ = base_[sqlpool::RESERV];
  }

  // One statement in its own dictionary work, the BACKUP privilege granted
  // inside it (and kept only when the statement succeeds).
  int32_t Op7(int32_t mode) {
    EXPECT_EQ(BeginWorkWithBackup(base_, admin_, utility_), "");
    int32_t pb[2] = {mode, admin_};
    DSBkpOp7(base_, pb);
    int32_t end[2] = {pb[0] == 0 ? 0 : 1, admin_};
    DDEndWork(base_, end);
    EXPECT_EQ(end[0], 0);
    return pb[0];
  }
  // The offline mark (second flag) of the LOG databank's file row, read in
  // a work of its own; with `set` 0 or 1 it is written first ("YES" or
  // "NO ").
  int32_t LogMark(int32_t set = -1) {
    int32_t begin[2] = {0, admin_};
    DDBegWork(base_, begin);
    DUDatabankRow log;
    int32_t find[2] = {2, admin_};
    utility_->cur_databank(base_, find, 3, nullptr, 0, &log);
    EXPECT_EQ(find[0], 0);
    DUDatabankFileRow row{};
    int32_t walk[2] = {3, admin_};
    utility_->cur_databank_file(base_, walk, log.name, log.name_length, &row);
    EXPECT_EQ(walk[0], 0);
    if (set >= 0) {
      int32_t update[2] = {set == 1 ? 4 : 3, admin_};
      utility_->upd_databank_file(base_, update, 3, row.number, row.second_name,
                                  row.second_name_length);
      EXPECT_EQ(update[0], 0);
      row.second_flag = set;
    }
    int32_t end[2] = {0, admin_};
    DDEndWork(base_, end);
    return row.second_flag;
  }
  int32_t Offline() { return du::W(base_, sys_ + SYS_DATABASE_OFFLINE); }

  const DUUtilityServices* utility_ = nullptr;
  int32_t sys_ = 0;
};

TEST_F(DatabaseOfflineRunTest, OfflineAndBackByBothWays) {
  const int32_t sessions = du::W(base_, sys_ + SYS_USECOUNT);
  const int32_t mark = LogMark();
  if (sessions >= 2) {
    EXPECT_EQ(Op7(3), 6) << "another session keeps the database online";
    EXPECT_EQ(Offline(), 0);
  }
  du::W(base_, sys_ + SYS_USECOUNT) = 1;
  struct Step {
    int32_t mode, status, offline;
  };
  // Offline marks the LOG databank's file offline ("NO "), either way back
  // online clears the mark ("YES"); a repeated step is refused with the
  // database as it was.
  const std::vector<Step> steps = {{3, 0, 1}, {3, 3, 1}, {1, 0, 0}, {1, 4, 0},
                                   {3, 0, 1}, {2, 0, 0}, {2, 5, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.mode);
    EXPECT_EQ(Op7(s.mode), s.status);
    EXPECT_EQ(Offline(), s.offline);
    EXPECT_EQ(LogMark(), s.offline);
  }
  du::W(base_, sys_ + SYS_USECOUNT) = sessions;
  EXPECT_EQ(LogMark(mark), mark) << "the row as the other tests found it";
}

}  // namespace
