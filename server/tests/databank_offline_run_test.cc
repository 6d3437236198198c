// One databank taken offline and brought back online by name, over a
// created, started database with the request interface's services
// installed: the real dictionary's databank row, the kernel core's
// disconnect, the request interface's databank requests and the databank
// kernel's copies.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "du/databank_offline.h"
#include "du/databank_utility.h"
#include "du/record_access_words.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/databank_control.h"
#include "request/databank_requests.h"
#include "request/record_access_services.h"
#include "server/tests/catalog_databank.h"

namespace {

constexpr char kName[] = "OFFLINE_ONE";

class DatabankOfflineRunTest : public StartedDatabaseTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    RequestInstallRecordAccessServices();
    utility_ = DUInstallUtilityServices(nullptr);
    DUInstallUtilityServices(utility_);
    ASSERT_NE(utility_, nullptr);
    static int32_t lid = 0;
    if (lid == 0) {
      int32_t ids[2] = {0, admin_};
      ASSERT_EQ(DDNewIds(base_, ids, 1, &lid), 0);
      ASSERT_EQ(MakeCatalogDatabank(base_, admin_, lid, kName,
                                    TheStartedDatabase().home + "/offline_one.dbf", WorkUser()),
                "");
    }
    lid_ = lid;
  }

  // The administrator's dictionary work name (the databank's creator).
  std::string WorkUser() {
    int32_t work[2] = {0, admin_};
    DDBegWork(base_, work);
    EXPECT_EQ(work[0], 0);
    char user[DBU_NAME_MAX];
    const int32_t length = utility_->work_user(base_, admin_, user);
    work[0] = 1;
    DDEndWork(base_, work);
    return std::string(user, std::max(length, 0));
  }

  // DSBkpOp8 in a dictionary work of its own, committed when it succeeds.
  int32_t Op8(int32_t mode) {
    int32_t begin[2] = {0, admin_};
    DDBegWork(base_, begin);
    EXPECT_EQ(begin[0], 0);
    int32_t pb[2] = {mode, admin_};
    DSBkpOp8(base_, pb, kName, sizeof kName - 1);
    int32_t end[2] = {pb[0] == 0 ? 0 : 1, admin_};
    DDEndWork(base_, end);
    EXPECT_EQ(end[0], 0) << "mode " << mode;
    return pb[0];
  }

  // The databank's row as the utilities read it: whether its column 10
  // flag is set.
  bool Flagged() {
    int32_t begin[2] = {0, admin_};
    DDBegWork(base_, begin);
    DUDatabankRow row;
    int32_t find[2] = {2, admin_};
    utility_->cur_databank(base_, find, lid_, nullptr, 0, &row);
    EXPECT_EQ(find[0], 0);
    int32_t end[2] = {1, admin_};
    DDEndWork(base_, end);
    return row.flag;
  }

  // Whether the databank opens for use; it is given back at once.
  int32_t OpenForUse() {
    std::array<int32_t, DBR_WORDS> open = {3, admin_, lid_, 0, -1};
    DSOpenDbReq(base_, open.data());
    if (open[0] != 0) return open[0];
    int32_t close[DBR_WORDS] = {0, admin_, lid_, -1};
    DSCloseDbReq(base_, close);
    return close[0];
  }

  const DUUtilityServices* utility_ = nullptr;
  int32_t lid_ = 0;
};

TEST_F(DatabankOfflineRunTest, OfflineAndBackOnlineByBothModes) {
  ASSERT_EQ(OpenForUse(), 0);
  ASSERT_FALSE(Flagged());
  struct Step {
    int32_t mode, status;
    bool flagged;
  };
  // Offline flags the row, back online by mode 1 or 2 clears it; a
  // repeated step is refused with the databank as it was.
  const std::vector<Step> steps = {{3, 0, true},  {3, 3, true}, {1, 0, false}, {1, 4, false},
                                   {3, 0, true},  {2, 0, false}, {2, 5, false}};
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "mode " << s.mode << " status " << s.status);
    EXPECT_EQ(Op8(s.mode), s.status) << Wd(base_, admin_, USR_RVEC_RCODE);
    EXPECT_EQ(Flagged(), s.flagged);
    if (s.flagged)
      EXPECT_NE(OpenForUse(), 0) << "an offline databank is not opened for use";
    else
      EXPECT_EQ(OpenForUse(), 0);
  }
}

}  // namespace
