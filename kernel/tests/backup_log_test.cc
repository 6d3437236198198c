// The backup's copy and trimming of the log the databank kernel writes at
// commit, and the backup's utility table.
#include "kernel/backup_log.h"
#include "kernel/roll_forward.h"
#include "kernel/table_use.h"
#include "kernel/tests/log_fixture.h"

namespace {

class BackupLogTest : public LogTest {
 protected:
  static constexpr int32_t kBackupLid = 6;
  void SetUp() override {
    LogTest::SetUp();
    backup_db_ = Create("backup", 4000, kBackupLid);
    backup_dcb_ = AddDcb(kBackupLid, backup_db_, 1);
    table_ = LoggedTable(77, 8, 16);
  }
  // A transaction of two inserts.
  void Commit(const std::string& tag) {
    ASSERT_EQ(CommitKeyed({LogTest::Logged(1, table_, Row(tag + "-0")),
                           LogTest::Logged(1, table_, Row(tag + "-1"))},
                          "0000000000000001"),
              0);
  }
  static std::string Row(std::string s) {
    s.resize(16, '.');
    return s;
  }
  // A backup's record in the log: type 15 (number, 16-byte mark) or 13.
  void Mark(int32_t type, int32_t number, const std::string& mark) {
    std::vector<int32_t> r(12, 0);
    r[0] = type;
    r[LOGREC_LID] = kDataLid;
    r[LOGREC_NUMBER] = number;
    std::memcpy(r.data() + LOGREC_MARK, mark.data(), 16);
    AppendTo(log_set_, r);
  }
  int32_t Copy(const std::string& mark) {
    int32_t rq[BCL_WORDS] = {9, usr_, kBackupLid, 0, 0, kDataLid};
    std::memcpy(rq + BCL_MARK, mark.data(), 16);
    DSBkpCopyLog(base_, rq);
    return rq[BCL_STATUS];
  }
  // The backup set's record types.
  std::vector<int32_t> BackupTypes() {
    int32_t o[CRT_WORDS] = {};
    o[RQ_STATUS] = 4;
    o[RQ_DID] = kBackupLid;
    o[OPT_KIND] = 5;
    o[RQ_TBL] = BACKUP_SET_TABLE;
    DKOPT1(o);
    EXPECT_EQ(o[RQ_STATUS], 0);
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = o[RQ_TABLE];
    b[SETRQ_TBL] = BACKUP_SET_TABLE;
    std::vector<int32_t> types;
    while (DKGXN0(b) == 0) {
      types.push_back(b[SETRQ_RECORD]);
      b[SETRQ_RC] = 0;
    }
    CloseTable(o[RQ_TABLE], BACKUP_SET_TABLE);
    return types;
  }
  int32_t Delete(int32_t mode, int32_t number, std::vector<int32_t> ids,
                 const std::string& mark = std::string(16, '\xff')) {
    std::vector<int32_t> rq(BDL_IDS + ids.size(), 0);
    rq[BDL_MODE] = mode;
    rq[BDL_USR] = usr_;
    rq[BDL_LID] = kDataLid;
    rq[BDL_NUMBER] = number;
    rq[BDL_COUNT] = static_cast<int32_t>(ids.size());
    std::memcpy(rq.data() + BDL_MARK, mark.data(), 16);
    std::copy(ids.begin(), ids.end(), rq.begin() + BDL_IDS);
    DSBkpDelLog(base_, rq.data(), static_cast<int32_t>(rq.size()));
    return rq[BDL_MODE];
  }

  int32_t backup_db_ = 0, backup_dcb_ = 0;
  Table table_;
};

TEST_F(BackupLogTest, CopyStopsAtTheMarkAndCountsOtherMarks) {
  Commit("a");
  Mark(15, 1, "mark-one........");
  Commit("b");
  Mark(15, 2, "mark-two........");
  Commit("c");
  ASSERT_EQ(LogTypes(), (std::vector<int32_t>{1, 1, 21, 15, 1, 1, 21, 15, 1, 1, 21}));
  const int64_t live = [&] {
    int64_t n = 0;
    for (int k = 0; k < sqlpool::CLASSES; ++k)
      n += base_[sqlpool::POMC + k * sqlpool::POMC_WORDS + sqlpool::ALLOCS] -
           base_[sqlpool::POMC + k * sqlpool::POMC_WORDS + sqlpool::DEALLOCS];
    return n;
  }();
  // Two inserts, the first mark counted, two inserts; the commit records
  // belong to no databank.
  EXPECT_EQ(Copy("mark-two........"), 5);
  EXPECT_EQ(BackupTypes(), (std::vector<int32_t>{1, 1, 1, 1}));
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), 0);
  int64_t after = 0;
  for (int k = 0; k < sqlpool::CLASSES; ++k)
    after += base_[sqlpool::POMC + k * sqlpool::POMC_WORDS + sqlpool::ALLOCS] -
             base_[sqlpool::POMC + k * sqlpool::POMC_WORDS + sqlpool::DEALLOCS];
  EXPECT_EQ(after, live);
}

// A commit record carries its commit kind in word 2, where the other
// records carry their databank's logical id: a kind equal to the logical id
// of the databank backed up does not make the commit record that
// databank's.
TEST_F(BackupLogTest, CopyTakesNoCommitRecordWhateverItsKind) {
  Commit("a");
  std::vector<int32_t> commit(24, 0);
  commit[LOGREC_TYPE] = LOGREC_COMMIT;
  commit[LOGREC_LID] = kDataLid;  // as a commit of that kind writes it
  AppendTo(log_set_, commit);
  Mark(15, 1, "mark-one........");
  EXPECT_EQ(Copy("mark-one........"), 2);
  EXPECT_EQ(BackupTypes(), (std::vector<int32_t>{1, 1}));
}

TEST_F(BackupLogTest, CopyWithoutItsMarkGoesToTheEnd) {
  Commit("a");
  Mark(15, 1, "mark-one........");
  Commit("b");
  EXPECT_EQ(Copy("no-such-mark...."), 5);
  EXPECT_EQ(BackupTypes(), (std::vector<int32_t>{1, 1, 1, 1}));
}

TEST_F(BackupLogTest, CopyNeedsTheBackupHeldAloneAndKnownDatabanks) {
  W(backup_dcb_, DCB_ACCESS_MODE) = 3;
  EXPECT_EQ(Copy("x"), DCB_NOT_EXCLUSIVE);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), DCB_NOT_EXCLUSIVE);
  int32_t rq[BCL_WORDS] = {0, usr_, kBackupLid, 0, 0, 44};
  DSBkpCopyLog(base_, rq);
  EXPECT_EQ(rq[BCL_STATUS], DCB_NO_ROW);
  EXPECT_EQ(W(usr_, USR_RVEC_LID), 44);
  EXPECT_EQ(W(usr_, USR_RVEC_SEQNO), -1);
  EXPECT_EQ(W(usr_, USR_RVEC_BITVEC), RVEC_MASK_DATABANK);
}

TEST_F(BackupLogTest, DeleteModeOneWithoutAStartRecordUsesTheHighestMark) {
  Commit("a");
  Mark(15, 7, "mark-one........");
  Commit("b");
  // No type 13: the mark is four words -1, which no record reaches.
  const int32_t deleted = Delete(1, 7, {kDataLid});
  EXPECT_EQ(deleted, 7);
  EXPECT_EQ(LogTypes(), std::vector<int32_t>{});
}

TEST_F(BackupLogTest, DeleteModeOneStopsAtTheNumberedMarkBeforeTheStart) {
  Commit("a");
  Mark(15, 7, "mark-one........");
  Commit("b");
  Mark(13, 0, "start...........");
  // Backwards: the start record, then the mark numbered 7 bounds the trim.
  EXPECT_EQ(Delete(1, 7, {kDataLid}), 3);
  EXPECT_EQ(LogTypes(), (std::vector<int32_t>{15, 1, 1, 21, 13}));
}

TEST_F(BackupLogTest, DeleteRefusesLongListsAndAnOnlineEmptying) {
  Commit("a");
  EXPECT_EQ(Delete(2, 0, std::vector<int32_t>(101, kDataLid)), KERNEL_BAD_PARAMETER);
  std::vector<int32_t> rq(BDL_IDS + 2, 0);
  rq[BDL_MODE] = 2;
  rq[BDL_USR] = usr_;
  rq[BDL_COUNT] = 50;  // past the request
  DSBkpDelLog(base_, rq.data(), static_cast<int32_t>(rq.size()));
  EXPECT_EQ(rq[BDL_MODE], KERNEL_BAD_PARAMETER);
  EXPECT_EQ(Delete(3, 0, {}), BACKUP_NOT_OFFLINE);
  EXPECT_EQ(LogTypes().size(), 3u);
  W(sys_, SYS_DATABASE_OFFLINE) = 1;
  EXPECT_EQ(Delete(3, 0, {}), 0);
  EXPECT_EQ(LogTypes(), std::vector<int32_t>{});
}

}  // namespace

namespace {

int32_t g_in_transaction = 0;
std::vector<int32_t> g_opened;  // kind, logical id, descriptor words 0-3
int32_t TransState(int32_t*, int32_t) {
  return g_in_transaction;
}
int32_t OpenTableSeen(int32_t*, int32_t, int32_t, int32_t* table_request,
                      const int32_t* descriptor) {
  g_opened = {table_request[TRQ_KIND], table_request[TRQ_LID], descriptor[0], descriptor[1],
              descriptor[2], descriptor[3]};
  table_request[TRQ_KIND] = 0;
  return 0;
}

TEST_F(BackupLogTest, BackupTableNeedsATransactionAndCarriesTheNextStamp) {
  services_.get_trans_state = TransState;
  services_.open_table = OpenTableSeen;
  g_in_transaction = 0;
  g_opened.clear();
  int32_t rq[BOT_WORDS] = {0, usr_, kDataLid};
  DSOpenBkpTable(base_, rq);
  EXPECT_EQ(rq[BOT_VARIANT], BACKUP_NO_TRANSACTION);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), BACKUP_NO_TRANSACTION);
  EXPECT_TRUE(g_opened.empty());
  g_in_transaction = 1;
  W(usr_, USR_RVEC_RCODE) = 0;
  int32_t roo[ROO_WORDS] = {4, db_, kDataLid};
  roo[ROO_SEQNO] = -1;
  DKEXE1(51, roo);
  ASSERT_EQ(roo[ROO_CODE], 0);
  std::memcpy(rq + BOT_KEY, "backup-key-16byt", 16);
  rq[BOT_VARIANT] = 0;
  DSOpenBkpTable(base_, rq);
  EXPECT_EQ(rq[BOT_VARIANT], 0);
  EXPECT_EQ(rq[BOT_STAMP], roo[ROO_STAMP] + 2);
  EXPECT_EQ(g_opened, (std::vector<int32_t>{13, kDataLid, db_, kDataLid, 0, rq[BOT_STAMP]}));
  // An unknown databank.
  rq[BOT_VARIANT] = 0;
  rq[BOT_LID] = 44;
  DSOpenBkpTable(base_, rq);
  EXPECT_EQ(rq[BOT_VARIANT], DCB_NO_ROW);
  EXPECT_EQ(W(usr_, USR_RVEC_LID), 44);
}

}  // namespace
