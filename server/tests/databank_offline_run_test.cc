// One databank taken offline and brought back online by name, over a
// created, started database with the request interface's services
// installed: the real dictionary's databank row, the kernel core's
// disconnect, the request interface's databank requests and the databank
// kernel's copies.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "dk/databank_copies.h"
#include "dk/request.h"
#include "du/databank_offline.h"
#include "du/databank_utility.h"
#include "du/definition_records.h"
#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "kernel/databank_control.h"
#include "request/databank_file_request.h"
#include "request/databank_requests.h"
#include "request/transaction_requests.h"
#include "request/record_access_services.h"
#include "server/tests/catalog_databank.h"

namespace {

constexpr char kName[] = "OFFLINE_ONE";

class DatabankOfflineRunTest : public StartedDatabaseTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    utility_ = InstallUtilityServices();
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
  // The databanks of others are reached with the BACKUP privilege.
  int32_t Op8(int32_t mode, const std::string& name = kName) {
    EXPECT_EQ(BeginWorkWithBackup(base_, admin_, utility_), "");
    int32_t pb[2] = {mode, admin_};
    DSBkpOp8(base_, pb, name.data(), static_cast<int32_t>(name.size()));
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

// The databanks of the database itself: 2, 3 and 4 are refused whatever
// the mode; the system databank goes offline by name and back online by
// either mode, and with it the database's own note of its system databank
// offline (which refuses every login) is set and cleared.
TEST_F(DatabankOfflineRunTest, TheDatabaseOwnDatabanks) {
  for (const char* name : {"TRANSDB", "LOGDB", "WORKDB"})
    for (int32_t mode : {1, 2, 3}) EXPECT_EQ(Op8(mode, name), 2) << name << " mode " << mode;
  auto system_offline = [&] { return du::W(base_, base_[sqlpool::RESERV] + SYS_SYSDB_OFFLINE); };
  struct Step {
    int32_t mode, status, system_offline;
  };
  const std::vector<Step> steps = {{1, 4, 0}, {2, 5, 0}, {3, 0, 1}, {3, 3, 1},
                                   {1, 0, 0}, {1, 4, 0}, {3, 0, 1}, {2, 0, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "mode " << s.mode << " status " << s.status);
    EXPECT_EQ(Op8(s.mode, "SYSDB"), s.status) << Wd(base_, admin_, USR_RVEC_RCODE);
    EXPECT_EQ(system_offline(), s.system_offline);
    EXPECT_EQ(OpenForUse(), 0);
    EXPECT_FALSE(Flagged());
  }
  // Left as it was found for the tests after.
  du::W(base_, base_[sqlpool::RESERV] + SYS_SYSDB_OFFLINE) = 0;
}

// A definition record of kind 34 carries nothing for the kernel to carry
// out: written for a databank in a transaction, the transaction commits.
TEST_F(DatabankOfflineRunTest, ARecordOfKindThirtyFourLetsItsTransactionCommit) {
  int32_t begin[2] = {1, admin_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  int32_t open[2] = {0, admin_};
  int32_t table[TRQ_WORDS] = {};
  table[TRQ_KIND] = DEF_KIND_ONE_WORD;
  table[TRQ_LID] = 1;
  const int32_t nothing[8] = {};
  DSOpenTable(base_, open, table, nothing);
  EXPECT_EQ(open[0], 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  int32_t commit[8] = {0, 0, 0, 0, admin_};
  EXPECT_GE(DSTransEndReq(base_, commit), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_EQ(DSGetTransState(base_, admin_), 0);
}

// A list of one databank's file (named by its second name) taken offline
// and back online: the offline kind of a list disconnects the copy through
// the commit of its transaction.
class DatabankListRunTest : public DatabankOfflineRunTest {
 protected:
  // The databank's name; its one file's second name is the name and "_A".
  virtual std::string ListName() const { return "OFFLINE_LIST"; }
  void SetUp() override {
    DatabankOfflineRunTest::SetUp();
    if (HasFatalFailure()) return;
    name_ = ListName();
    second_ = name_ + "_A";
    static std::map<std::string, int32_t> made;
    int32_t& lid = made[name_];
    if (lid == 0) {
      int32_t ids[2] = {0, admin_};
      ASSERT_EQ(DDNewIds(base_, ids, 1, &lid), 0);
      const std::string file = TheStartedDatabase().home + "/" + name_ + ".dbf", user = WorkUser();
      int32_t work[2] = {0, admin_};
      DDBegWork(base_, work);
      ASSERT_EQ(work[0], 0);
      int32_t ins[2] = {0, admin_};
      DDInsDatabank(base_, ins, lid, lid, name_.data(), static_cast<int32_t>(name_.size()),
                    second_.data(), static_cast<int32_t>(second_.size()), file.data(),
                    static_cast<int32_t>(file.size()), 1, false);
      ASSERT_EQ(ins[0], 0);
      DDInsObject(base_, ins, lid, kDatabankObjectKind, user.data(),
                  static_cast<int32_t>(user.size()), name_.data(),
                  static_cast<int32_t>(name_.size()));
      ASSERT_EQ(ins[0], 0);
      int32_t end[2] = {0, admin_};
      DDEndWork(base_, end);
      ASSERT_EQ(end[0], 0);
      ASSERT_EQ(MakeDatabankFile(base_, lid, name_.c_str(), file, 0), "");
    }
    lid_ = lid;
  }
  int32_t CopyOffline() { return CopyOfflineFlag(lid_, 1); }
  // The three calls of a list statement in one dictionary work, the BACKUP
  // privilege granted in it; the status of the first call that answers
  // other than 0.
  int32_t List(int32_t mode) {
    EXPECT_EQ(BeginWorkWithBackup(base_, admin_, utility_), "");
    int32_t status = 0;
    for (int32_t step : {mode, 4, 5}) {
      int32_t pb[2] = {step, admin_};
      DSBkpOp9(base_, pb, second_.data(), static_cast<int32_t>(second_.size()));
      status = pb[0];
      if (status != 0) break;
    }
    int32_t end[2] = {status == 0 ? 0 : 1, admin_};
    DDEndWork(base_, end);
    EXPECT_EQ(end[0], 0);
    return status;
  }
  std::string name_, second_;
};

// Offline through the commit of the list's transaction (the copy's record
// of kind 16), back online through the commit of the file request's (its
// record of kind 17), as the refresh brings a marked copy in.
TEST_F(DatabankListRunTest, AListTakesItsCopyOfflineAndTheFileRequestBringsItBack) {
  ASSERT_EQ(OpenForUse(), 0);
  ASSERT_EQ(CopyOffline(), 0);
  EXPECT_EQ(List(3), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 1)) << "the copy went offline with the commit";
  int32_t begin[2] = {1, admin_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  std::array<int32_t, ODF_WORDS> rq{};
  rq[0] = 1;
  rq[1] = admin_;
  rq[ODF_LID] = lid_;
  rq[ODF_SEQNO] = 1;
  PutBlankPadded(rq.data() + ODF_NAME, name_.c_str(), 128);
  PutBlankPadded(rq.data() + ODF_KERNEL_NAME, second_.c_str(), 128);
  DSExecRoutine(base_, rq.data());
  EXPECT_EQ(rq[0], 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  int32_t end[8] = {0, 0, 0, 0, admin_};
  EXPECT_GE(DSTransEndReq(base_, end), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 0)) << "the copy came back online with the commit";
  EXPECT_EQ(OpenForUse(), 0);
}

// A file a list took offline is marked so: a second list offline finds it
// so (3), and a list online brings it back (0) where a list online of a
// file that is online answers 4 or 5.
class DatabankListMarkRunTest : public DatabankListRunTest {
 protected:
  std::string ListName() const override { return "OFFLINE_MARK"; }
};

TEST_F(DatabankListMarkRunTest, AListOfflineMarksTheFileForTheListsAfterIt) {
  ASSERT_EQ(OpenForUse(), 0);
  EXPECT_EQ(List(1), 4) << "online already";
  EXPECT_EQ(List(2), 5) << "online already";
  EXPECT_EQ(List(3), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 1)) << "the copy went offline with the commit";
  EXPECT_EQ(List(3), 3) << "offline already: " << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_EQ(List(1), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 0)) << "the list brought the copy back online";
  EXPECT_EQ(OpenForUse(), 0);
  // Back online, the file is listed again as any file online, and goes
  // offline and back once more.
  EXPECT_EQ(List(1), 4);
  EXPECT_EQ(List(2), 5);
  EXPECT_EQ(List(3), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 1));
  EXPECT_EQ(List(3), 3);
  EXPECT_EQ(List(1), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 0));
  EXPECT_EQ(OpenForUse(), 0);
  // A list of mode 2 brings the copy back as well, before the backup rows
  // read the databank, and leaves the file listed as online.
  EXPECT_EQ(List(3), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 1));
  EXPECT_EQ(List(2), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 0)) << "the list of mode 2 brought the copy back";
  EXPECT_EQ(OpenForUse(), 0);
  EXPECT_EQ(List(2), 5) << "online again";
  EXPECT_EQ(List(1), 4) << "online again";
  EXPECT_EQ(List(3), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 1));
  EXPECT_EQ(List(1), 0) << Wd(base_, admin_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(lid_, 1, 0));
}

}  // namespace
