// The databank file request (DSExecRoutine) over a created, started
// database: a databank the catalog knows (its row written through the
// dictionary, its file made by the kernel core's file request), its file
// found by its sequence number, tried, and entered in the session's
// transaction only while its copy is marked offline.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "dk/databank_copies.h"
#include "dk/request.h"
#include "dict/work_block.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "request/databank_file_request.h"
#include "request/databank_requests.h"
#include "request/transaction_requests.h"
#include "server/tests/catalog_databank.h"
#include "server/tests/started_work_fixture.h"

namespace {

constexpr int32_t kLid = 71;
constexpr char kName[] = "XR_DATABANK";

class DatabankFileRequestTest : public StartedWorkTest {
 protected:
  void SetUp() override {
    StartedWorkTest::SetUp();
    if (HasFatalFailure()) return;
    file_ = TheStartedDatabase().home + "/xr71.dbf";
    ASSERT_NO_FATAL_FAILURE(MakeDatabank());
  }
  void TearDown() override { EndTransaction(); }

  int32_t& W(int32_t block, int32_t field) { return Wd(base_, block, field); }

  // The databank of kLid, made once per program.
  void MakeDatabank() {
    static bool made = false;
    if (made) return;
    made = true;
    ASSERT_EQ(MakeCatalogDatabank(base_, admin_, kLid, kName, file_), "");
  }
  static void Put(int32_t* words, const std::string& text, int32_t bytes) {
    PutBlankPadded(words, text, bytes);
  }
  // The request {type flag, user_, id, ., seqno} with the names given.
  std::array<int32_t, ODF_WORDS> Run(int32_t id, int32_t seqno, int32_t flag = 0,
                                     int32_t usr = -1) {
    std::array<int32_t, ODF_WORDS> b{};
    b[0] = flag;
    b[1] = usr == -1 ? user_ : usr;
    b[ODF_LID] = id;
    b[ODF_SEQNO] = seqno;
    Put(b.data() + ODF_NAME, kName, 128);
    Put(b.data() + ODF_KERNEL_NAME, kName, 128);
    Put(b.data() + ODF_FILE, "caller's name", 256);
    DSExecRoutine(base_, b.data());
    return b;
  }
  void EndTransaction() {
    int32_t end[8] = {0, 0, 0, 1, user_};
    if (base_ != nullptr && DSGetTransState(base_, user_) != 0) DSTransEndReq(base_, end);
  }
  void ExpectFailure(int32_t status, int32_t lid, int32_t seqno) {
    EXPECT_EQ(W(user_, USR_RVEC_RCODE), status);
    EXPECT_EQ(W(user_, USR_RVEC_LID), lid);
    EXPECT_EQ(W(user_, USR_RVEC_SEQNO), seqno);
    EXPECT_NE(W(user_, USR_RVEC_BITVEC) & RVEC_MASK_DATABANK, 0);
  }
  int32_t Refs() { return DSGetDcbRefs(base_, kLid); }

  std::string file_;
};

// Whether the copy of sequence 1 is marked (offline) in the databank
// kernel; `mark` sets or clears it first.
int32_t Marked(int32_t lid) {
  int32_t state[CPY_WORDS] = {1, 0, lid, 1};
  DKEXE1(32, state);
  return state[0];
}

TEST_F(DatabankFileRequestTest, AnUnmarkedFileIsNotEntered) {
  // Online whatever a test before left it as (DKRED1: 0 put online, 1 was).
  int32_t online[CPY_WORDS] = {0, 0, kLid, 1};
  DKEXE1(49, online);
  ASSERT_GE(online[0], 0);
  ASSERT_EQ(Marked(kLid), 0);
  for (const bool in_transaction : {false, true}) {
    if (in_transaction) {
      int32_t begin[2] = {1, user_};
      DSBTR3(base_, begin);
      ASSERT_EQ(begin[0], 0);
    }
    const int32_t type =
        in_transaction ? W(W(user_, USR_TP), TP_TRANSACTION_TYPE) : 0;
    W(user_, USR_RVEC_RCODE) = 0;
    const auto b = Run(kLid, 1, 1);
    EXPECT_EQ(b[0], XR_NOT_MARKED) << in_transaction;
    EXPECT_EQ(W(user_, USR_RVEC_RCODE), 0);
    // The catalog's file name of the sequence number replaced the caller's.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + ODF_FILE), file_.size()),
              file_);
    EXPECT_EQ(b[ODF_TYPE], XR_OPTION);
    EXPECT_EQ(Refs(), 0) << "the open's reference is given back";
    if (in_transaction) {
      EXPECT_EQ(W(W(user_, USR_TP), TP_TRANSACTION_TYPE), type) << "the type is left";
      EndTransaction();
    }
  }
}

TEST_F(DatabankFileRequestTest, AMarkedFileIsEnteredInTheTransaction) {
  int32_t offline[CPY_WORDS] = {0, 0, kLid, 1};
  DKEXE1(53, offline);  // DKSUD1: the copy taken offline (marked)
  ASSERT_EQ(offline[0], 0);
  ASSERT_NE(Marked(kLid), 0);

  // Outside a transaction: -14012, recorded with sequence -1, released.
  EndTransaction();
  auto b = Run(kLid, 1, 1);
  EXPECT_EQ(b[0], UTIL_NO_TRANSACTION);
  ExpectFailure(UTIL_NO_TRANSACTION, kLid, -1);
  EXPECT_EQ(Refs(), 0);

  // Inside one: the definition record of kind 17 marks the databank used,
  // the type follows the flag; the reference waits for the end.
  for (const auto& [flag, type] : {std::pair{1, XR_TYPE_FLAGGED}, {0, XR_TYPE_PLAIN},
                                   {-1, XR_TYPE_PLAIN}}) {
    int32_t begin[2] = {1, user_};
    DSBTR3(base_, begin);
    ASSERT_EQ(begin[0], 0);
    b = Run(kLid, 1, flag);
    EXPECT_EQ(b[0], 0) << flag;
    EXPECT_EQ(W(W(user_, USR_TP), TP_TRANSACTION_TYPE), type) << flag;
    std::array<int32_t, DBR_WORDS> look = {5, user_, kLid, 0, -1};
    DSOpenDbReq(base_, look.data());
    ASSERT_EQ(look[0], 0);
    const int32_t trs = SessionTrs(base_, user_, look[4], false);
    ASSERT_NE(trs, 0);
    EXPECT_EQ(W(trs, TRS_STATUS), TRS_TABLE_OPENED);
    EXPECT_EQ(W(trs, TRS_CDB_COUNT), 1) << "the release waits for the transaction's end";
    int32_t end[8] = {0, 0, 0, 1, user_};  // rolled back: the copy stays marked
    EXPECT_GE(DSTransEndReq(base_, end), 0);
    EXPECT_EQ(Refs(), 0);
  }
  EXPECT_NE(Marked(kLid), 0);
}

// A marked copy entered in a transaction that commits is online after it:
// the commit takes a databank whose only copy is offline.
TEST_F(DatabankFileRequestTest, AMarkedFileComesBackOnlineWithTheCommit) {
  int32_t online[CPY_WORDS] = {0, 0, kLid, 1};
  DKEXE1(49, online);  // DKRED1: online, whatever a test before left
  ASSERT_GE(online[0], 0);
  int32_t offline[CPY_WORDS] = {0, 0, kLid, 1};
  DKEXE1(53, offline);  // DKSUD1
  ASSERT_EQ(offline[0], 0);
  ASSERT_NE(Marked(kLid), 0);
  int32_t begin[2] = {1, user_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  const auto b = Run(kLid, 1, 1);
  ASSERT_EQ(b[0], 0);
  int32_t end[8] = {0, 0, 0, 0, user_};  // commit, waiting until it is secured
  EXPECT_GE(DSTransEndReq(base_, end), 0) << W(user_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(kLid, 1, 0));
  EXPECT_EQ(Refs(), 0);
}

TEST_F(DatabankFileRequestTest, FailuresStandInTheResultVector) {
  // No file of that sequence number in the catalog.
  auto b = Run(kLid, 5);
  EXPECT_EQ(b[0], DCB_NO_ROW);
  ExpectFailure(DCB_NO_ROW, kLid, -1);
  EXPECT_EQ(Refs(), 0);

  // A session outside the storage reads and writes nothing.
  b = Run(kLid, 1, 0, 0);
  EXPECT_EQ(b[0], KERNEL_BAD_PARAMETER);
}

// A databank the catalog does not know, opened by the file request on its
// own file: 0 without a look at its files, the databank kept by the
// session.
TEST_F(DatabankFileRequestTest, ADatabankNoRequestOpensIsTakenByTheFileRequest) {
  constexpr int32_t kOwn = 72;
  const std::string own = TheStartedDatabase().home + "/xr72.dbf";
  ASSERT_EQ(MakeDatabankFile(base_, kOwn, "XR_OWN", own, 1), "");

  std::array<int32_t, ODF_WORDS> b{};
  b[1] = user_;
  b[ODF_LID] = kOwn;
  b[ODF_SEQNO] = 1;
  Put(b.data() + ODF_NAME, "XR_OWN", 128);
  Put(b.data() + ODF_KERNEL_NAME, "XR_OWN", 128);
  Put(b.data() + ODF_FILE, own, 256);
  DSExecRoutine(base_, b.data());
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + ODF_FILE), own.size()), own)
      << "the catalog is not asked";
  EXPECT_EQ(DSGetDcbRefs(base_, kOwn), 1);
  int32_t cls[CLS_WORDS] = {1, kOwn, -1};
  DSCloseDcb(base_, cls);
  EXPECT_EQ(cls[0], 0);
}

}  // namespace
