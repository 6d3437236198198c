// The backup utilities over a created, started database with the request
// interface's services installed: a databank the catalog knows put into
// backup mode and given up, its exclusive claim released and its
// references given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dict/new_ids.h"
#include "dict/work_block.h"
#include "du/databank_backup.h"
#include "du/databank_copy_back.h"
#include "du/databank_utility.h"
#include "du/transactions.h"
#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/databank_control.h"
#include "request/databank_requests.h"
#include "request/record_access_services.h"
#include "server/tests/catalog_databank.h"

namespace {

constexpr int32_t kLid = 73;
constexpr char kName[] = "BKP_DATABANK";

class DatabankBackupRunTest : public StartedDatabaseTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    RequestInstallRecordAccessServices();
    static bool made = false;
    if (!made) {
      made = true;
      // Created by the administrator's own work name, so that the creator
      // check passes without a privilege the other tests would see.
      const DUUtilityServices* utility = DUInstallUtilityServices(nullptr);  // the table
      DUInstallUtilityServices(utility);
      ASSERT_NE(utility, nullptr);
      int32_t work[2] = {0, admin_};
      DDBegWork(base_, work);
      ASSERT_EQ(work[0], 0);
      char user[DBU_NAME_MAX];
      const int32_t length = utility->work_user(base_, admin_, user);
      work[0] = 1;
      DDEndWork(base_, work);
      ASSERT_GT(length, 0);
      ASSERT_EQ(MakeCatalogDatabank(base_, admin_, kLid, kName,
                                    TheStartedDatabase().home + "/bkp73.dbf",
                                    std::string(user, length)),
                "");
    }
  }
  int32_t& W(int32_t block, int32_t field) { return Wd(base_, block, field); }
  int32_t Dcb() {
    std::array<int32_t, DBR_WORDS> look = {5, admin_, kLid, 0, -1};
    DSOpenDbReq(base_, look.data());
    return look[0] == 0 ? look[4] : 0;
  }
};

TEST_F(DatabankBackupRunTest, AnAbandonedBackupGivesItsDatabankBack) {
  const std::string bak = TheStartedDatabase().home + "/bkp73.bak";
  const int32_t refs = DSGetDcbRefs(base_, kLid);
  int32_t pb[2] = {0, admin_};
  DSBkpOp1(base_, pb);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  DSBkpOp4(base_, pb, kName, sizeof kName - 1, bak.data(), static_cast<int32_t>(bak.size()));
  ASSERT_EQ(pb[0], 0);
  const int32_t dcb = Dcb();
  ASSERT_NE(dcb, 0);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), refs + 1);
  EXPECT_EQ(W(dcb, DCB_EXCLUSIVE_TABLES), -1) << "claimed alone";

  W(admin_, USR_RVEC_RCODE) = 0;
  pb[0] = 1;
  DSBkpOp3(base_, pb);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(W(admin_, USR_RVEC_RCODE), 0);
  EXPECT_EQ(W(admin_, USR_BACKUP_BFC), 0);
  EXPECT_EQ(DSGetDcbRefs(base_, kLid), refs) << "every reference given back";

  // The databank opens again, unclaimed, and is given back.
  std::array<int32_t, DBR_WORDS> open = {3, admin_, kLid, 0, -1};
  DSOpenDbReq(base_, open.data());
  ASSERT_EQ(open[0], 0);
  EXPECT_EQ(W(open[4], DCB_EXCLUSIVE_TABLES), 0);
  int32_t close[DBR_WORDS] = {0, admin_, kLid, -1};
  DSCloseDbReq(base_, close);
  EXPECT_EQ(close[0], 0);
  EXPECT_EQ(DSGetDcbRefs(base_, kLid), refs);
}

// A backup statement over the databank: its apply mode, the backup file
// opened under a logical id of its own, the databank's units copied into
// it, the file closed again and the databank given back.
TEST_F(DatabankBackupRunTest, ABackupFileGetsTheDatabanksUnits) {
  const std::string home = TheStartedDatabase().home;
  const std::string bak = home + "/bkp73.full";
  constexpr char kMark[] = "UNIT-OF-THE-BACKED-UP-DATABANK";
  constexpr std::streamoff kMarkAt = 2 * 2048 - 64;
  {
    std::fstream f(home + "/bkp73.dbf", std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(kMarkAt);
    f.write(kMark, sizeof kMark);
  }
  const int32_t refs = DSGetDcbRefs(base_, kLid);
  int32_t pb[2] = {0, admin_};
  DDBegWork(base_, pb);
  ASSERT_EQ(pb[0], 0);
  pb[0] = 0;
  DSBkpCreate(base_, pb, kName, sizeof kName - 1, bak.data(), static_cast<int32_t>(bak.size()),
              nullptr, -1);
  EXPECT_EQ(pb[0], 0) << W(admin_, USR_RVEC_RCODE);
  EXPECT_EQ(DSGetDcbRefs(base_, kLid), refs);
  std::ifstream f(bak, std::ios::binary);
  const std::string copied((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(copied.find(kMark), static_cast<size_t>(kMarkAt)) << "the databank's units";
  // The backup file's own block went with its close.
  for (int32_t lid = ODF_FIRST_OWN_LID; lid < ODF_FIRST_OWN_LID + 16; ++lid)
    EXPECT_EQ(DSGetDcbRefs(base_, lid), 0) << lid;
}

}  // namespace

namespace {

// A databank of its own, its id a new object id as the creation of a
// databank takes one (above every table number of the catalog), its file
// row online.
class DatabankCopyBackRunTest : public DatabankBackupRunTest {
 protected:
  static constexpr char kCopyName[] = "COPY_BACK_DATABANK";
  void SetUp() override {
    DatabankBackupRunTest::SetUp();
    if (HasFatalFailure()) return;
    static int32_t lid = 0;
    if (lid == 0) {
      int32_t ids[2] = {0, admin_};
      ASSERT_EQ(DDNewIds(base_, ids, 1, &lid), 0);
      ASSERT_GT(lid, 4);
      ASSERT_EQ(MakeCatalogDatabank(base_, admin_, lid, kCopyName,
                                    TheStartedDatabase().home + "/copy_back.dbf", User(), true),
                "");
    }
    lid_ = lid;
  }
  std::string User() {
    const DUUtilityServices* utility = DUInstallUtilityServices(nullptr);
    DUInstallUtilityServices(utility);
    int32_t work[2] = {0, admin_};
    DDBegWork(base_, work);
    char user[DBU_NAME_MAX];
    const int32_t length = utility->work_user(base_, admin_, user);
    work[0] = 1;
    DDEndWork(base_, work);
    return std::string(user, std::max(length, 0));
  }
  // DSBkpOp6 without a backup file or times, in dictionary work; its
  // status. The transaction its end begins is ended again.
  int32_t CopyBack() {
    int32_t pb[2] = {0, admin_};
    DDBegWork(base_, pb);
    if (pb[0] != 0) return pb[0];
    pb[0] = 0;
    DSBkpOp6(base_, pb, kCopyName, sizeof kCopyName - 1, nullptr, -1, nullptr, -1, nullptr, -1);
    int32_t end[2] = {pb[0] == 0 ? 0 : 1, admin_};
    DDEndWork(base_, end);
    return pb[0];
  }
  int32_t lid_ = 0;
};

// The release of the databank's last reference leaves it open in the
// databank kernel, its file locked; the copy-back's open of the file takes
// it over.
TEST_F(DatabankCopyBackRunTest, ACopyBackOpensTheDatabankItsLastReleaseLeftOpen) {
  const int32_t refs = DSGetDcbRefs(base_, lid_);
  EXPECT_EQ(CopyBack(), 0) << W(admin_, USR_RVEC_RCODE);
  EXPECT_EQ(DSGetDcbRefs(base_, lid_), refs);
  // And once more, over the entry the copy-back's own close left.
  EXPECT_EQ(CopyBack(), 0) << W(admin_, USR_RVEC_RCODE);
}

// The databank backed up, closed in the databank kernel, its file replaced
// by the backup as a restore does, and copied back: the copy-back opens the
// restored file afresh and rolls it forward over the whole log.
TEST_F(DatabankCopyBackRunTest, ARestoredFileIsCopiedBack) {
  const std::string home = TheStartedDatabase().home;
  const std::string bak = home + "/copy_back.full";
  int32_t pb[2] = {0, admin_};
  DDBegWork(base_, pb);
  ASSERT_EQ(pb[0], 0);
  DSBkpCreate(base_, pb, kCopyName, sizeof kCopyName - 1, bak.data(),
              static_cast<int32_t>(bak.size()), nullptr, -1);
  ASSERT_EQ(pb[0], 0) << W(admin_, USR_RVEC_RCODE);
  ASSERT_EQ(DSGetDcbRefs(base_, lid_), 0);
  int32_t cld[4] = {-22, 0, lid_, -1};
  DKEXE1(DKF_CLD1, cld);
  ASSERT_EQ(cld[0], 0);
  std::filesystem::copy_file(bak, home + "/copy_back.dbf",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(CopyBack(), 0) << W(admin_, USR_RVEC_RCODE);
  EXPECT_EQ(DSGetDcbRefs(base_, lid_), 0);
  // The databank opens again for use.
  std::array<int32_t, DBR_WORDS> open = {3, admin_, lid_, 0, -1};
  DSOpenDbReq(base_, open.data());
  EXPECT_EQ(open[0], 0);
  int32_t close[DBR_WORDS] = {0, admin_, lid_, -1};
  DSCloseDbReq(base_, close);
  EXPECT_EQ(close[0], 0);
}

}  // namespace
