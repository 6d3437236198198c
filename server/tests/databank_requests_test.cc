// The request interface's databank requests over a created, started
// database: a session's references to a databank taken and given back,
// recorded for its logout and, inside a transaction, on its TRS chain; the
// look-up without a reference; failures in the session's result vector.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "dk/databank_copies.h"
#include "dk/request.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "kernel/utility_requests.h"
#include "request/databank_requests.h"
#include "request/transaction_requests.h"
#include "server/testing/started_database.h"
#include "server/tests/catalog_databank.h"

namespace {

class DatabankRequestsTest : public StartedDatabaseTest {
 protected:
  int32_t& W(int32_t block, int32_t field) { return Wd(base_, block, field); }

  // {kind, usr, id, word 3, word 4}: the block after the request.
  std::array<int32_t, DBR_WORDS> Open(int32_t kind, int32_t id, int32_t word4 = -1) {
    std::array<int32_t, DBR_WORDS> b = {kind, user_, id, 0, word4};
    DSOpenDbReq(base_, b.data());
    return b;
  }
  int32_t Close(int32_t mode, int32_t id, int32_t last = -1) {
    int32_t b[DBR_WORDS] = {mode, user_, id, last};
    DSCloseDbReq(base_, b);
    return b[0];
  }
  // The session's clean-up entries of databank `id`.
  int32_t CleanupEntries(int32_t id) {
    int32_t n = 0;
    for (int32_t e = W(user_, USR_CLN); e != 0; e = W(e, 0))
      if (W(e, 1) == CLN_DATABANK && W(e, 2) == id) ++n;
    return n;
  }
  // The kernel core's file request `mode` for databank `lid` (named
  // COPYDB) on a file of the database's home.
  std::array<int32_t, ODF_WORDS> FileRequest(int32_t lid, int32_t mode, int32_t seqno,
                                             int32_t type, const std::string& name) {
    const std::string file = TheStartedDatabase().home + "/" + name;
    std::array<int32_t, ODF_WORDS> rq{};
    rq[ODF_MODE] = mode;
    rq[1] = user_;
    rq[ODF_LID] = lid;
    rq[ODF_SEQNO] = seqno;
    rq[ODF_TYPE] = type;
    rq[ODF_SIZE] = 8;
    char* bytes = reinterpret_cast<char*>(rq.data());
    std::memset(bytes + 4 * ODF_NAME, ' ', 128 + 128 + 256);
    std::memcpy(bytes + 4 * ODF_NAME, "COPYDB", 6);
    std::memcpy(bytes + 4 * ODF_FILE, file.data(), file.size());
    DSOpenDbFile(base_, rq.data());
    return rq;
  }
  void EndTransaction() {
    int32_t end[8] = {0, 0, 0, 1, user_};
    if (DSGetTransState(base_, user_) != 0) DSTransEndReq(base_, end);
  }
  void ExpectFailure(int32_t status, int32_t lid, int32_t seqno) {
    EXPECT_EQ(W(user_, USR_RVEC_RCODE), status);
    EXPECT_EQ(W(user_, USR_RVEC_LID), lid);
    EXPECT_EQ(W(user_, USR_RVEC_SEQNO), seqno);
    EXPECT_NE(W(user_, USR_RVEC_BITVEC) & RVEC_MASK_DATABANK, 0);
  }
};

TEST_F(DatabankRequestsTest, ALookUpTakesNoReferenceAndAnOpenIsGivenBack) {
  const auto look = Open(5, 1);
  ASSERT_EQ(look[0], 0);
  const int32_t dcb = look[4];
  ASSERT_NE(dcb, 0);
  EXPECT_EQ(W(dcb, DCB_LID), 1);
  EXPECT_EQ(look[3], W(dcb, DCB_DID));
  const int32_t refs = W(dcb, DCB_REFCOUNT);
  EXPECT_EQ(CleanupEntries(1), 0);

  for (int32_t kind : {3, 3}) {
    const auto open = Open(kind, 1);
    ASSERT_EQ(open[0], 0) << kind;
    EXPECT_EQ(open[4], dcb);
  }
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), refs + 2);
  EXPECT_EQ(CleanupEntries(1), 2) << "each reference is recorded for the logout";
  EXPECT_EQ(Close(0, 1), 0);
  EXPECT_EQ(CleanupEntries(1), 1);
  EXPECT_EQ(Close(0, 1), 0);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), refs);
  EXPECT_EQ(CleanupEntries(1), 0);
}

TEST_F(DatabankRequestsTest, InsideATransactionTheReleaseWaitsWhileTheDatabankIsUsed) {
  int32_t begin[2] = {1, user_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  ASSERT_EQ(DSGetTransState(base_, user_), 1);
  const auto open = Open(3, 1);
  ASSERT_EQ(open[0], 0);
  const int32_t dcb = open[4];
  const int32_t refs = W(dcb, DCB_REFCOUNT);
  const int32_t trs = SessionTrs(base_, user_, dcb, false);
  ASSERT_NE(trs, 0) << "the transaction's databank entry";
  EXPECT_EQ(W(trs, TRS_STATUS), 0);

  // Used by the transaction (a table opened): the close owes the
  // reference to the transaction's end; mode 3 marks the drop.
  W(trs, TRS_STATUS) = TRS_TABLE_OPENED;
  EXPECT_EQ(Close(3, 1, 17), 0);
  EXPECT_EQ(W(trs, TRS_CDB_COUNT), 1);
  EXPECT_EQ(W(trs, TRS_DELETE_PENDING), 1);
  EXPECT_EQ(W(trs, TRS_DELETE_SEQNO), 17);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), refs) << "still held";
  EXPECT_EQ(CleanupEntries(1), 0);

  // Not used: the entry goes and the reference is given back.
  W(trs, TRS_STATUS) = 0;
  W(trs, TRS_CDB_COUNT) = 0;
  W(trs, TRS_DELETE_PENDING) = 0;
  EXPECT_EQ(Close(0, 1), 0);
  EXPECT_EQ(SessionTrs(base_, user_, dcb, false), 0);
  EXPECT_EQ(W(dcb, DCB_REFCOUNT), refs - 1);
  int32_t end[8] = {0, 0, 0, 1, user_};
  EXPECT_GE(DSTransEndReq(base_, end), 0);
}

TEST_F(DatabankRequestsTest, FailuresStandInTheResultVector) {
  constexpr int32_t kNoSuchDatabank = 9999;
  auto look = Open(5, kNoSuchDatabank);
  EXPECT_EQ(look[0], DCB_NO_ROW);
  ExpectFailure(DCB_NO_ROW, kNoSuchDatabank, -1);

  auto open = Open(3, kNoSuchDatabank);
  EXPECT_LT(open[0], 0);
  ExpectFailure(open[0], kNoSuchDatabank, -1);
  EXPECT_EQ(CleanupEntries(kNoSuchDatabank), 0);

  // The databank kernel knows no copy of it: its result, biased.
  auto ask = Open(8, kNoSuchDatabank, 7);
  EXPECT_EQ(ask[0], -45 - DK_ERROR_BIAS);
  ExpectFailure(-45 - DK_ERROR_BIAS, kNoSuchDatabank, 7);

  EXPECT_EQ(Close(0, kNoSuchDatabank, 5), DCB_NOT_FOUND);
  ExpectFailure(DCB_NOT_FOUND, kNoSuchDatabank, 5);

  int32_t give[4] = {12, user_, kNoSuchDatabank, -1};
  DSDkResult(base_, give);
  EXPECT_LT(give[0], -DK_ERROR_BIAS);
  ExpectFailure(give[0], kNoSuchDatabank, -1);

  int32_t bad[DBR_WORDS] = {5, 0, 1};
  DSOpenDbReq(base_, bad);
  EXPECT_EQ(bad[0], KERNEL_BAD_PARAMETER);
}

TEST_F(DatabankRequestsTest, AnOnlineDatabankIsAskedAboutWithoutGoingOffline) {
  // Word 4 -1 names no file: the state is asked, nothing changes.
  for (int32_t id : {1, 2, 3}) {
    EXPECT_EQ(Open(8, id)[0], 0) << id;
    int32_t state[CPY_WORDS] = {1, 0, id, -1};  // DKGDS1: the offline flag
    DKEXE1(32, state);
    EXPECT_EQ(state[0], 0) << id;
  }
  int32_t give[4] = {12, user_, 1, -1};
  DSDkResult(base_, give);
  EXPECT_EQ(give[0], 0);
}

// The utility's definition record: only inside a transaction, only for an
// open databank; it marks the transaction's use of the databank.
TEST_F(DatabankRequestsTest, AUtilityRecordNeedsATransactionAndAnOpenDatabank) {
  int32_t end[8] = {0, 0, 0, 1, user_};
  if (DSGetTransState(base_, user_) != 0) DSTransEndReq(base_, end);
  int32_t outside[16] = {3, user_, 1};
  DSChkTabUtil(base_, outside);
  EXPECT_EQ(outside[0], UTIL_NO_TRANSACTION);

  int32_t begin[2] = {1, user_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  constexpr int32_t kNoSuchDatabank = 9998;
  int32_t unknown[16] = {3, user_, kNoSuchDatabank};
  DSChkTabUtil(base_, unknown);
  EXPECT_EQ(unknown[0], DCB_NO_ROW);
  ExpectFailure(DCB_NO_ROW, kNoSuchDatabank, -1);

  const int32_t dcb = Open(5, 1)[4];
  int32_t check[16] = {3, user_, 1, 0, 0, 0, 0, 0};
  std::memcpy(check + 8, "2026121106300000", 16);
  DSChkTabUtil(base_, check);
  EXPECT_EQ(check[0], 0);
  const int32_t trs = SessionTrs(base_, user_, dcb, false);
  ASSERT_NE(trs, 0);
  EXPECT_EQ(W(trs, TRS_STATUS), TRS_TABLE_OPENED);
  // A table of another kind is not opened through this way.
  int32_t open[2] = {0, user_};
  int32_t table[TRQ_WORDS] = {};
  table[TRQ_KIND] = 6;
  table[TRQ_LID] = 1;
  DSOpenTable(base_, open, table, check + 3);
  EXPECT_EQ(open[0], KERNEL_NOT_STARTED);
  EXPECT_GE(DSTransEndReq(base_, end), 0);
}

TEST_F(DatabankRequestsTest, ANewCursorRequestTakesOneOfItsTwoStatuses) {
  for (const auto& [status, answer] :
       {std::pair{NEW_CURSOR_BEFORE, 0}, {NEW_CURSOR_AFTER, 0}, {2, KERNEL_BAD_PARAMETER},
        {0, KERNEL_BAD_PARAMETER}}) {
    int32_t block[2] = {status, user_};
    DSNewCursor(base_, block);
    EXPECT_EQ(block[0], answer) << status;
  }
  int32_t nobody[2] = {1, 0};
  DSNewCursor(base_, nobody);
  EXPECT_EQ(nobody[0], KERNEL_BAD_PARAMETER);
}

// A databank made in the test's home, a copy of it opened beside it, and
// the databank's file copied over the copy.
TEST_F(DatabankRequestsTest, ADatabankIsCopiedOverItsOpenCopy) {
  constexpr int32_t kNoSuchDatabank = 9997;
  int32_t unknown[DBR_WORDS + 1] = {0, user_, kNoSuchDatabank, 2, kNoSuchDatabank, 0};
  DSCopyDbReq(base_, unknown);
  EXPECT_EQ(unknown[0], DCB_NO_ROW);
  ExpectFailure(DCB_NO_ROW, kNoSuchDatabank, -1);

  constexpr int32_t kLid = 61;
  auto made = FileRequest(kLid, 3, 1, 1, "copydb.dbf");
  ASSERT_EQ(made[0], 0);
  EXPECT_EQ(made[ODF_LID], kLid) << "the file's handle: the logical id it is held under";
  auto copy = FileRequest(kLid, 9, 2, 5, "copydb2.dbf");
  ASSERT_EQ(copy[0], 0);
  int32_t req[DBR_WORDS + 1] = {0, user_, kLid, 2, copy[ODF_LID], 0};
  DSCopyDbReq(base_, req);
  EXPECT_EQ(req[0], 0);
  int32_t none[DBR_WORDS + 1] = {0, user_, kLid, 7, kLid, 0};
  DSCopyDbReq(base_, none);
  EXPECT_LT(none[0], -DK_ERROR_BIAS) << "no copy of SEQNO 7";
  int32_t cls[CLS_WORDS] = {1, kLid, -1};
  DSCloseDcb(base_, cls);
  EXPECT_EQ(cls[0], 0);
}

// A backup's copy: the backup file opened under a logical id of its own
// gets the databank's units, found through the handle its open gave, never
// the databank's own copy of the number named. (The databank kernel closes
// no file held under -1, so the file here has an id of its own.)
TEST_F(DatabankRequestsTest, ABackupFileOfItsOwnIsFilledFromTheDatabank) {
  constexpr int32_t kLid = 64, kBackupLid = 65;
  const std::string home = TheStartedDatabase().home;
  auto made = FileRequest(kLid, 3, 1, 1, "copysrc.dbf");
  ASSERT_EQ(made[0], 0);
  auto backup = FileRequest(kBackupLid, 3, 1, 1, "copysrc.bak");
  ASSERT_EQ(backup[0], 0);
  ASSERT_EQ(backup[ODF_LID], kBackupLid) << "the backup file's handle";
  const auto bytes = [&](const std::string& name) {
    std::ifstream f(home + "/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  };
  // A mark in the databank's file, past its header, that only a copy of
  // that file carries.
  constexpr char kMark[] = "COPIED-FROM-THE-DATABANK";
  constexpr std::streamoff kMarkAt = 2 * 2048 - 64;
  {
    std::fstream f(home + "/copysrc.dbf", std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(kMarkAt);
    f.write(kMark, sizeof kMark);
  }
  ASSERT_EQ(bytes("copysrc.bak").find(kMark), std::string::npos);
  // The databank's own file as the backup's source (its number is 1).
  int32_t req[DBR_WORDS + 1] = {0, user_, kLid, 1, backup[ODF_LID], 1};
  DSCopyDbReq(base_, req);
  EXPECT_EQ(req[0], 0);
  int32_t shut[CLS_WORDS] = {1, kBackupLid, -1};
  DSCloseDcb(base_, shut);
  EXPECT_EQ(shut[0], 0);
  int32_t cls[CLS_WORDS] = {1, kLid, -1};
  DSCloseDcb(base_, cls);
  EXPECT_EQ(cls[0], 0);
  const std::string source = bytes("copysrc.dbf"), copied = bytes("copysrc.bak");
  ASSERT_GE(copied.size(), source.size());
  ASSERT_GT(source.size(), 2048u);
  EXPECT_EQ(copied.find(kMark), static_cast<size_t>(kMarkAt)) << "the units copied";

  // A handle no open file carries.
  made = FileRequest(kLid, 3, 1, 1, "copysrc2.dbf");
  ASSERT_EQ(made[0], 0);
  int32_t none[DBR_WORDS + 1] = {0, user_, kLid, 1, kBackupLid, 1};
  DSCopyDbReq(base_, none);
  EXPECT_EQ(none[0], DCB_NO_ROW);
  cls[0] = 1;
  DSCloseDcb(base_, cls);
}

// Files of their own (databank id -1): each held under a logical id of
// its own that the open hands back, closed by naming it.
TEST_F(DatabankRequestsTest, FilesOfTheirOwnGetHandlesOfTheirOwn) {
  auto first = FileRequest(-1, 3, 1, 1, "own1.bak");
  auto second = FileRequest(-1, 3, 1, 1, "own2.bak");
  ASSERT_EQ(first[0], 0);
  ASSERT_EQ(second[0], 0);
  EXPECT_GE(first[ODF_LID], ODF_FIRST_OWN_LID);
  EXPECT_GE(second[ODF_LID], ODF_FIRST_OWN_LID);
  EXPECT_NE(first[ODF_LID], second[ODF_LID]);
  for (const auto& f : {first, second}) {
    int32_t close[DBR_WORDS] = {1, user_, -1, f[ODF_LID]};
    DSCloseDbReq(base_, close);
    EXPECT_EQ(close[0], 0);
    EXPECT_EQ(DSGetDcbRefs(base_, f[ODF_LID]), 0);
  }
}

// A databank disconnected: closed in the databank kernel (mode 2), its
// utility record written (mode 3) or its copy taken offline (mode 1), the
// last two only inside a transaction.
TEST_F(DatabankRequestsTest, ADatabankIsDisconnectedByMode) {
  EndTransaction();
  int32_t outside[16] = {3, user_, 1, 0, -1};
  DSDisconnect(base_, outside);
  EXPECT_EQ(outside[0], UTIL_NO_TRANSACTION);
  ExpectFailure(UTIL_NO_TRANSACTION, 1, -1);
  int32_t unknown[16] = {2, user_, 9995, 0, -1};
  DSDisconnect(base_, unknown);
  EXPECT_EQ(unknown[0], DCB_NO_ROW);

  int32_t begin[2] = {1, user_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  const auto look = Open(5, 1);
  int32_t record[16] = {3, user_, 1, 0, -1};
  DSDisconnect(base_, record);
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(record[3], look[3]) << "the databank's kernel entry";
  EXPECT_EQ(W(W(user_, USR_TP), TP_TRANSACTION_TYPE), DISCONNECT_TRANS_TYPE);
  const int32_t trs = SessionTrs(base_, user_, look[4], false);
  ASSERT_NE(trs, 0);
  EXPECT_EQ(W(trs, TRS_STATUS), TRS_TABLE_OPENED);

  // A databank of its own: its copy goes offline once, when the
  // transaction of its record commits.
  constexpr int32_t kLid = 62;
  ASSERT_EQ(FileRequest(kLid, 3, 1, 1, "disconnect.dbf")[0], 0);
  int32_t offline[16] = {1, user_, kLid, 0, 1};
  DSDisconnect(base_, offline);
  EXPECT_EQ(offline[0], 0);
  EXPECT_EQ(CopyOfflineFlag(kLid, 1), 0) << "online until the commit";
  int32_t commit[8] = {0, 0, 0, 0, user_};
  EXPECT_GE(DSTransEndReq(base_, commit), 0) << W(user_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(kLid, 1, 1));
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  int32_t again[16] = {1, user_, kLid, 0, 1};
  DSDisconnect(base_, again);
  EXPECT_EQ(again[0], -57 - DK_ERROR_BIAS) << "already offline";
  ExpectFailure(-57 - DK_ERROR_BIAS, kLid, 1);
  EndTransaction();
  int32_t close[16] = {2, user_, kLid, 0, -1};
  DSDisconnect(base_, close);
  EXPECT_EQ(close[0], 0);
  int32_t cls[CLS_WORDS] = {1, kLid, -1};
  DSCloseDcb(base_, cls);
}

// One copy disconnected twice in one transaction, the second request
// made while the copy is still online: the commit takes it offline once,
// and the databank and the commits after it are not harmed.
TEST_F(DatabankRequestsTest, ACopyDisconnectedTwiceInOneTransactionGoesOfflineOnce) {
  EndTransaction();
  int32_t begin[2] = {1, user_};
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  constexpr int32_t kLid = 63;
  ASSERT_EQ(FileRequest(kLid, 3, 1, 1, "disconnect_twice.dbf")[0], 0);
  for (int k = 0; k < 2; ++k) {
    int32_t offline[16] = {1, user_, kLid, 0, 1};
    DSDisconnect(base_, offline);
    EXPECT_GE(offline[0], 0) << k;
  }
  int32_t commit[8] = {0, 0, 0, 0, user_};
  EXPECT_GE(DSTransEndReq(base_, commit), 0) << W(user_, USR_RVEC_RCODE);
  EXPECT_TRUE(AwaitCopyOffline(kLid, 1, 1));
  DSBTR3(base_, begin);
  ASSERT_EQ(begin[0], 0);
  int32_t record[16] = {3, user_, 1, 0, -1};
  DSDisconnect(base_, record);
  EXPECT_EQ(record[0], 0);
  int32_t next[8] = {0, 0, 0, 0, user_};
  EXPECT_GE(DSTransEndReq(base_, next), 0) << W(user_, USR_RVEC_RCODE);
  int32_t close[16] = {2, user_, kLid, 0, -1};
  DSDisconnect(base_, close);
  EXPECT_EQ(close[0], 0);
  int32_t cls[CLS_WORDS] = {1, kLid, -1};
  DSCloseDcb(base_, cls);
}

// The batch of a backup's or an offline change's end and the incremental
// file's check name open databanks only.
TEST_F(DatabankRequestsTest, AttachBatchesAndTheTableKindCheckNameOpenDatabanks) {
  struct Case {
    int32_t status, count;
    std::vector<int32_t> ids;
    int32_t answer, failing;
  };
  const Case cases[] = {
      {1, 3, {1, 2, 3}, 0, 0},
      {2, -2, {1, 3}, 0, 0},  // the count's sign is not looked at
      {3, 0, {}, 0, 0},       // word 2 alone
      {2, 3, {1, 9994, 2}, DCB_NO_ROW, 9994},
      {4, 1, {1}, KERNEL_BAD_PARAMETER, 0},
      {1, 101, {1}, KERNEL_BAD_PARAMETER, 0},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> block(ATTACH_IDS + ATTACH_MAX + 1, 0);
    block[0] = c.status;
    block[1] = user_;
    block[2] = 1;
    block[ATTACH_COUNT] = c.count;
    std::copy(c.ids.begin(), c.ids.end(), block.begin() + ATTACH_IDS);
    DSAttach(base_, block.data());
    EXPECT_EQ(block[0], c.answer) << c.status << " " << c.count;
    if (c.failing != 0) ExpectFailure(DCB_NO_ROW, c.failing, -1);
  }
  int32_t kind[8] = {0, user_, 1, 1, 2, 3, 4};
  DSChkTableKind(base_, kind);
  EXPECT_EQ(kind[0], 0);
  int32_t missing[8] = {0, user_, 9993};
  DSChkTableKind(base_, missing);
  EXPECT_EQ(missing[0], DCB_NO_ROW);
  ExpectFailure(DCB_NO_ROW, 9993, -1);
}

}  // namespace
