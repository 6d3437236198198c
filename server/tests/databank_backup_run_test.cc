// The backup utilities over a created, started database with the request
// interface's services installed: a databank the catalog knows put into
// backup mode and given up, its exclusive claim released and its
// references given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "dict/new_ids.h"
#include "dict/work_block.h"
#include "du/databank_backup.h"
#include "du/databank_copy_back.h"
#include "du/databank_utility.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "dk/bufferpool.h"
#include "dk/control_words.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/databank_control.h"
#include "request/databank_requests.h"
#include "request/record_access_services.h"
#include "server/tests/catalog_databank.h"

namespace {

// A new object id, as the creation of a databank takes one: above every
// table number of the catalog (a databank's restart set is a table numbered
// by the databank's id).
int32_t kLid = 0;
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
      int32_t ids[2] = {0, admin_};
      ASSERT_EQ(DDNewIds(base_, ids, 1, &kLid), 0);
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

namespace {

class RoundTripRunTest : public DatabankBackupRunTest {
 protected:
  static constexpr char kRt[] = "ROUND_TRIP";
  static constexpr int32_t kKey = 8, kRec = 40;
  std::string File() { return TheStartedDatabase().home + "/round_trip.dbf"; }
  // The databank's file made by the file request (mode 3) and given back.
  int32_t MakeFile() {
    std::array<int32_t, ODF_WORDS> rq{};
    rq[ODF_MODE] = 3;
    rq[ODF_LID] = lid_;
    rq[ODF_SEQNO] = 1;
    rq[ODF_TYPE] = 3;
    rq[ODF_SIZE] = 64;
    PutBlankPadded(rq.data() + ODF_NAME, kRt, 128);
    PutBlankPadded(rq.data() + ODF_FILE, File(), 256);
    DSOpenDbFile(base_, rq.data());
    if (rq[0] != 0) return rq[0];
    int32_t cls[CLS_WORDS] = {0, lid_, -1};
    DSCloseDcb(base_, cls);
    return cls[0];
  }
  // The databank opened for the session as the catalog describes it: a LOG
  // databank, its DCB in transaction mode 3.
  int32_t Hold() {
    std::array<int32_t, DBR_WORDS> open = {3, admin_, lid_, 0, -1};
    DSOpenDbReq(base_, open.data());
    if (open[0] == 0) {
      EXPECT_EQ(Wd(base_, open[4], DCB_TRANS_MODE), 3) << "logged";
    }
    return open[0];
  }
  int32_t Release() {
    int32_t close[DBR_WORDS] = {0, admin_, lid_, -1};
    DSCloseDbReq(base_, close);
    return close[0];
  }
  std::vector<int32_t> Block() {
    std::vector<int32_t> r(static_cast<size_t>(DurecWords(64)), 0);
    r[DUREC_ACCESS_MODE] = 3;
    r[DUREC_TNAME] = tbl_;
    r[DUREC_LID] = lid_;
    r[DUREC_KEYLEN] = kKey;
    r[DUREC_RECLEN] = kRec;
    r[DUREC_TYPE] = 1;
    return r;
  }
  std::string WorkUser() {
    const DUUtilityServices* utility = DUInstallUtilityServices(nullptr);
    DUInstallUtilityServices(utility);
    char user[DBU_NAME_MAX];
    const int32_t length = utility->work_user(base_, admin_, user);
    return std::string(user, std::max(length, 0));
  }
  static std::string Key(int n) {
    char k[16];
    std::snprintf(k, sizeof k, "k%07d", n);
    return std::string(k, kKey);
  }
  // Applies `changes` (key -> value, "" deletes) in one committed
  // transaction through record access, and to the model.
  void Commit(const std::map<int, std::string>& changes) {
    ASSERT_EQ(Hold(), 0);
    const int32_t request[8] = {1, lid_, tbl_, 3, kKey, kRec, 3, 1};
    int32_t tcb = 0;
    ASSERT_EQ(DUOpenKernelTable(base_, admin_, request, &tcb), 0);
    std::vector<int32_t> r = Block();
    DUOSTX1(base_, r.data(), tcb, 0);
    ASSERT_EQ(r[DUREC_STATUS], 0);
    ASSERT_EQ(r[DUREC_MERGE], 2) << "through the write set";
    int32_t begin[2] = {1, admin_};
    DSBTR3(base_, begin);
    ASSERT_EQ(begin[0], 0);
    for (const auto& [n, value] : changes) {
      std::string row = Key(n) + value;
      row.resize(kRec, '.');
      std::memcpy(r.data() + DUREC_RECORD, row.data(), kRec);
      if (value.empty()) {
        DUReadRowByKey(base_, r.data(), admin_);
        ASSERT_EQ(r[DUREC_STATUS], 0) << n;
        DUDEL1(base_, r.data(), admin_);
        model_.erase(n);
      } else if (model_.count(n)) {
        DUReadRowByKey(base_, r.data(), admin_);
        ASSERT_EQ(r[DUREC_STATUS], 0) << n;
        DUPrepareForUpdate(base_, r.data(), admin_);
        std::memcpy(r.data() + DUREC_RECORD, row.data(), kRec);
        DURowOp1(base_, r.data(), admin_);
        model_[n] = row;
      } else {
        DUInsertRow(base_, r.data(), admin_);
        model_[n] = row;
      }
      ASSERT_EQ(r[DUREC_STATUS], 0) << n;
    }
    int32_t end[3] = {0, admin_, 0};
    DSEndTrans(base_, end);
    ASSERT_EQ(end[0], 0);
    // Read back, and backed up, only once the background applied it.
    const int32_t last = PoolWord(BP_COMMITS).load();
    while (PoolWord(BP_SECURED_TRANS_NUMBER).load() < last) std::this_thread::yield();
    EXPECT_EQ(DUCloseKernelTable(base_, tcb, 5), 0);  // the block's use
    EXPECT_EQ(DUCloseKernelTable(base_, tcb, 5), 0);
    ASSERT_EQ(Release(), 0);
  }
  // The rows of keys 0 to 99 as record access reads them.
  std::map<int, std::string> Rows() {
    std::map<int, std::string> rows;
    EXPECT_EQ(Hold(), 0);
    const int32_t request[8] = {1, lid_, tbl_, 3, kKey, kRec, 3, 1};
    int32_t tcb = 0;
    EXPECT_EQ(DUOpenKernelTable(base_, admin_, request, &tcb), 0);
    std::vector<int32_t> r = Block();
    DUOSTX1(base_, r.data(), tcb, 0);
    for (int n = 0; n < 100; ++n) {
      std::memcpy(r.data() + DUREC_RECORD, Key(n).data(), kKey);
      DUReadRowByKey(base_, r.data(), admin_);
      if (r[DUREC_STATUS] == 0)
        rows[n] = std::string(reinterpret_cast<const char*>(r.data() + DUREC_RECORD), kRec);
      else
        EXPECT_EQ(r[DUREC_STATUS], 100) << n;
    }
    EXPECT_EQ(DUCloseKernelTable(base_, tcb, 5), 0);  // the block's use
    EXPECT_EQ(DUCloseKernelTable(base_, tcb, 5), 0);
    EXPECT_EQ(Release(), 0);
    return rows;
  }
  int32_t lid_ = 0, tbl_ = 0;
  std::map<int, std::string> model_;
};

// A logged databank's table: rows committed through record access, the
// databank backed up, more rows changed, the databank closed, its file
// replaced by the backup and copied back: the roll-forward over the log
// gives back every committed row.
TEST_F(RoundTripRunTest, ABackupCopiedBackAndRolledForwardHasTheCommittedRows) {
  int32_t ids[2] = {0, admin_};
  ASSERT_EQ(DDNewIds(base_, ids, 2, &lid_), 0);
  tbl_ = lid_ + 1;
  {
    int32_t pb[2] = {0, admin_};
    DDBegWork(base_, pb);
    const std::string owner = kStartedAdmin, file = File(), user = WorkUser();
    int32_t ins[2] = {0, admin_};
    DDInsDatabank(base_, ins, lid_, lid_, kRt, sizeof kRt - 1, owner.data(),
                  static_cast<int32_t>(owner.size()), file.data(),
                  static_cast<int32_t>(file.size()), 1, true);
    ASSERT_EQ(ins[0], 0);
    DDInsObject(base_, ins, lid_, kDatabankObjectKind, user.data(),
                static_cast<int32_t>(user.size()), kRt, sizeof kRt - 1);
    ASSERT_EQ(ins[0], 0);
    int32_t end[2] = {0, admin_};
    DDEndWork(base_, end);
    ASSERT_EQ(end[0], 0);
  }
  ASSERT_EQ(MakeFile(), 0);
  ASSERT_EQ(Hold(), 0);
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = lid_;
  b[RQ_TYPE] = 10;  // a table of records
  b[RQ_TBL] = tbl_;
  b[RQ_KEY_LENGTH] = kKey;
  b[RQ_RECORD_LENGTH] = kRec;
  DKEXE1(16, b);  // DKCRT1
  ASSERT_EQ(b[RQ_STATUS], 0);
  b[RQ_STATUS] = 0;
  DKEXE1(13, b);  // DKCLT1
  ASSERT_EQ(b[RQ_STATUS], 0);
  ASSERT_EQ(Release(), 0);

  std::mt19937 random(30);
  auto changes = [&](int count) {
    std::map<int, std::string> c;
    for (int k = 0; k < count; ++k) {
      const int n = static_cast<int>(random() % 100);
      const bool drop = model_.count(n) && random() % 3 == 0;
      c[n] = drop ? "" : "v" + std::to_string(random() % 100000);
    }
    return c;
  };
  ASSERT_NO_FATAL_FAILURE(Commit(changes(40)));
  ASSERT_NO_FATAL_FAILURE(Commit(changes(20)));
  ASSERT_EQ(Rows(), model_);

  const std::string bak = TheStartedDatabase().home + "/round_trip.full";
  {
    int32_t pb[2] = {0, admin_};
    DDBegWork(base_, pb);
    ASSERT_EQ(pb[0], 0);
    DSBkpCreate(base_, pb, kRt, sizeof kRt - 1, bak.data(), static_cast<int32_t>(bak.size()),
                nullptr, -1);
    ASSERT_EQ(pb[0], 0) << W(admin_, USR_RVEC_RCODE);
  }
  const std::map<int, std::string> backed_up = model_;
  for (int k = 0; k < 3; ++k) ASSERT_NO_FATAL_FAILURE(Commit(changes(25)));
  ASSERT_EQ(Rows(), model_);
  ASSERT_NE(model_, backed_up);

  // The databank closed and its file replaced by the backup.
  int32_t cld[4] = {-22, 0, lid_, -1};
  DKEXE1(DKF_CLD1, cld);
  ASSERT_EQ(cld[0], 0);
  std::filesystem::copy_file(bak, File(), std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(Rows(), backed_up) << "the restored file";
  {
    int32_t pb[2] = {0, admin_};
    DDBegWork(base_, pb);
    ASSERT_EQ(pb[0], 0);
    DSBkpOp6(base_, pb, kRt, sizeof kRt - 1, nullptr, -1, nullptr, -1, nullptr, -1);
    ASSERT_EQ(pb[0], 0) << W(admin_, USR_RVEC_RCODE);
    int32_t end[2] = {0, admin_};
    DDEndWork(base_, end);
  }
  EXPECT_EQ(Rows(), model_);
}

}  // namespace
