// The roll-forward over a log the databank kernel wrote at commit: the full
// one rebuilds a model of the committed changes, the limited one those in
// its range; a dropped table's records are skipped and reported once; a
// databank not held alone is refused.
#include "kernel/backup_log.h"
#include "kernel/roll_forward.h"
#include "kernel/tests/log_fixture.h"

namespace {

class RollForwardTest : public LogTest {
 protected:
  // A limited run asks with mode 1 to be given a log that matches the
  // databank (mode 0 takes only a log one ahead of it).
  int32_t Run(bool limited, const std::string& lower = "", const std::string& upper = "",
              int32_t mode = -1) {
    int32_t rq[RFW_WORDS] = {mode >= 0 ? mode : limited ? 1 : 0, usr_, kDataLid};
    if (limited) {
      std::memcpy(rq + RFW_LOWER_KEY, lower.data(), 16);
      std::memcpy(rq + RFW_UPPER_KEY, upper.data(), 16);
      DSTabScan2(base_, rq);
    } else {
      DSTabScan1(base_, rq);
    }
    if (rq[RFW_MODE] >= 0) {
      EXPECT_EQ(rq[RFW_DID], db_);
    }
    return rq[RFW_MODE];
  }
  static std::string Key(int32_t i) {
    char k[17];
    std::snprintf(k, sizeof k, "%016d", i);
    return k;
  }
  bool Logged(const std::string& text) {
    for (const auto& r : log_.records)
      for (const auto& l : r.lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
  }
  int32_t CountLogged(const std::string& text) {
    int32_t n = 0;
    for (const auto& r : log_.records)
      for (const auto& l : r.lines)
        if (l.find(text) != std::string::npos) ++n;
    return n;
  }
};

// A transaction: its key, its changes, and whether it commits.
struct Txn {
  std::string key;
  std::vector<std::pair<int32_t, std::string>> changes;  // code, record
  bool commits;
};

class RollForwardKeepTest : public RollForwardTest,
                            public ::testing::WithParamInterface<int32_t> {
 protected:
  void SetUp() override {
    RollForwardTest::SetUp();
    SetRollForwardKeep(GetParam());
  }
  void TearDown() override {
    SetRollForwardKeep(1 << 20);
    RollForwardTest::TearDown();
  }
};

// Transactions kept in memory, and every one read again from the log.
INSTANTIATE_TEST_SUITE_P(KeptOrReadAgain, RollForwardKeepTest, ::testing::Values(1 << 20, 0));

TEST_P(RollForwardKeepTest, FullAndLimitedRedoTheCommittedChanges) {
  Table table = LoggedTable(77, 8, 16);
  std::mt19937 rng(124);
  std::vector<Txn> txns;
  for (int32_t i = 0; i < 40; ++i) {
    Txn t{Key(1000 + i * 10), {}, rng() % 5 != 0};
    // Each transaction changes rows of its own: inserts, then updates and
    // deletes of some of them.
    const int32_t n = 2 + static_cast<int32_t>(rng() % 5);
    std::vector<std::string> keys;
    for (int32_t j = 0; j < n; ++j) {
      char k[9];
      std::snprintf(k, sizeof k, "%03d-%04d", i, j);
      keys.push_back(k);
      t.changes.push_back({1, std::string(k) + "v0" + std::to_string(rng() % 1000000)});
    }
    for (const std::string& k : keys) {
      const int32_t what = static_cast<int32_t>(rng() % 3);
      if (what == 1) t.changes.push_back({2, k + "v1" + std::to_string(rng() % 1000000)});
      if (what == 2) t.changes.push_back({4, k + "--------"});
    }
    for (auto& c : t.changes) c.second.resize(16, '.');
    txns.push_back(t);
  }
  // The model of the committed ones, in the order they commit.
  auto model = [&](const std::string& lower, const std::string& upper) {
    std::map<std::string, std::string> m;
    for (const Txn& t : txns) {
      if (!t.commits || t.key < lower || t.key > upper) continue;
      for (const auto& [code, r] : t.changes) {
        if (code == 4)
          m.erase(r.substr(0, 8));
        else
          m[r.substr(0, 8)] = r;
      }
    }
    std::vector<std::string> rows;
    for (const auto& [k, v] : m) rows.push_back(v);
    return rows;
  };
  int32_t logged_records = 0;
  for (const Txn& t : txns) {
    std::vector<std::vector<int32_t>> changes;
    for (const auto& [code, r] : t.changes) changes.push_back(LogTest::Logged(code, table, r));
    ASSERT_EQ(CommitKeyed(changes, t.key, t.commits ? kEndCommit : kEndAbort), 0);
    if (t.commits) logged_records += static_cast<int32_t>(t.changes.size());
  }
  const auto all = model("", "~");
  ASSERT_EQ(Rows(table), all);
  // A transaction whose records reached the log without its commit record.
  AppendTo(log_set_, LogTest::Logged(1, table, "zzz-0000uncommit"));
  // Into an empty copy.
  EmptyTable(table);
  EXPECT_EQ(Run(false), logged_records);
  EXPECT_EQ(Rows(table), all);
  // The limited one: the transactions of keys 1100 to 1250 only.
  EmptyTable(table);
  const int32_t redone = Run(true, Key(1100), Key(1250));
  EXPECT_GT(redone, 0);
  EXPECT_EQ(Rows(table), model(Key(1100), Key(1250)));
  // One side open.
  EmptyTable(table);
  Run(true, "0000000000000000", Key(1100));
  EXPECT_EQ(Rows(table), model("", Key(1100)));
  EmptyTable(table);
  Run(true, Key(1300), "9999999999999999");
  EXPECT_EQ(Rows(table), model(Key(1300), "~"));
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), 0);
}

TEST_F(RollForwardTest, RecordsOfADroppedTableAreSkippedAndReportedOnce) {
  Table kept = LoggedTable(77, 8, 16), dropped = LoggedTable(78, 8, 16);
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_EQ(CommitKeyed({LogTest::Logged(1, kept, "kept-00" + n + "........"),
                           LogTest::Logged(1, dropped, "drop-00" + n + "........")},
                          Key(i)),
              0);
  }
  EmptyTable(kept);
  int32_t drop[CRT_WORDS] = {};
  drop[RQ_DID] = kDataLid;
  drop[RQ_TABLE] = dropped.entry;
  drop[RQ_TBL] = dropped.tbl;
  DKDRT1(drop);
  ASSERT_EQ(drop[RQ_STATUS], 0);
  int32_t close[CRT_WORDS] = {};
  close[RQ_STATUS] = -22;
  close[RQ_TABLE] = dropped.entry;
  close[RQ_TBL] = dropped.tbl;
  DKCLT1(close);
  log_.records.clear();
  EXPECT_EQ(Run(false), 3);
  EXPECT_EQ(Rows(kept).size(), 3u);
  EXPECT_EQ(CountLogged("-16190 in function DSTabScan"), 1);
}

// Transactions of one change each, committed as record access commits them:
// each is logged and redone.
TEST_F(RollForwardTest, TransactionsOfASingleChangeAreRedone) {
  Table t = LoggedTable(77, 8, 16);
  ASSERT_EQ(CommitKeyed({LogTest::Logged(1, t, "aaaa0001........")}, Key(1)), 0);
  ASSERT_EQ(CommitKeyed({LogTest::Logged(1, t, "aaaa0002........")}, Key(2)), 0);
  ASSERT_EQ(CommitKeyed({LogTest::Logged(2, t, "aaaa0001changed.")}, Key(3)), 0);
  ASSERT_EQ(CommitKeyed({LogTest::Logged(4, t, "aaaa0002........")}, Key(4)), 0);
  const std::vector<std::string> rows = Rows(t);
  ASSERT_EQ(rows, std::vector<std::string>{"aaaa0001changed."});
  EmptyTable(t);
  EXPECT_EQ(Run(false), 4);
  EXPECT_EQ(Rows(t), rows);
}

TEST_F(RollForwardTest, ADatabankNotHeldAloneIsRefused) {
  W(data_dcb_, DCB_ACCESS_MODE) = 3;
  EXPECT_EQ(Run(false), DCB_NOT_EXCLUSIVE);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), DCB_NOT_EXCLUSIVE);
  EXPECT_EQ(W(usr_, USR_RVEC_LID), kDataLid);
  int32_t rq[RFW_WORDS] = {0, usr_, 9};
  DSTabScan1(base_, rq);
  EXPECT_EQ(rq[RFW_MODE], DCB_NO_ROW);
}

}  // namespace

namespace {

// The databank's restore time stamp (its root page's header word).
class RollForwardRootTest : public RollForwardTest {
 protected:
  int32_t Stamp(int32_t entry, int32_t code = 1, int32_t lid = kDataLid) {
    int32_t roo[ROO_WORDS] = {code, entry, lid};
    roo[ROO_SEQNO] = -1;
    DKEXE1(51, roo);
    EXPECT_GE(roo[ROO_CODE], 0);
    return roo[ROO_STAMP];
  }
  void SetStamp(int32_t stamp) {
    int32_t roo[ROO_WORDS] = {9, db_, kDataLid};
    roo[ROO_STAMP] = stamp;
    roo[ROO_SEQNO] = -1;
    DKEXE1(51, roo);
    ASSERT_EQ(roo[ROO_CODE], 0);
  }
  int32_t Slot() { return Stamp(log_db_, 4); }
  // A transaction of two inserts.
  void CommitTwo(const Table& t) {
    ASSERT_EQ(CommitKeyed({LogTest::Logged(1, t, "aaaa0001........"),
                           LogTest::Logged(1, t, "aaaa0002........")},
                          "0000000000000005"),
              0);
  }
};

TEST_F(RollForwardRootTest, SequenceCheckOfTheLogAgainstTheDatabank) {
  Table t = LoggedTable(77, 8, 16);
  CommitTwo(t);
  const int32_t slot = Slot();
  // The databank as the log's slot expects it (its stamp one past the
  // slot's, or the slot's): the full run redoes and sets the root to one
  // past the log's.
  for (int32_t own : {slot + 1, slot}) {
    SetStamp(own);
    EmptyTable(t);
    EXPECT_EQ(Run(false), 2) << own;
    EXPECT_EQ(Rows(t).size(), 2u);
    EXPECT_EQ(Stamp(db_), slot + 1);
  }
  // A databank whose stamp the log does not know: -18008, nothing redone,
  // the root untouched.
  for (int32_t own : {slot + 2, slot - 1, slot + 7}) {
    SetStamp(own);
    EmptyTable(t);
    EXPECT_EQ(Run(false), RFW_SEQUENCE_MISMATCH) << own;
    EXPECT_EQ(W(usr_, USR_RVEC_RCODE), RFW_SEQUENCE_MISMATCH);
    EXPECT_EQ(W(usr_, USR_RVEC_LID), kDataLid);
    EXPECT_TRUE(Rows(t).empty());
    EXPECT_EQ(Stamp(db_), own);
  }
  // The limited run: a log one ahead of the databank is taken in any mode
  // and leaves the root as it is; a matching one only with mode 1.
  SetStamp(slot - 1);
  EmptyTable(t);
  EXPECT_EQ(Run(true, "0000000000000000", "9999999999999999", 0), 2);
  EXPECT_EQ(Stamp(db_), slot - 1);
  SetStamp(slot + 1);
  EmptyTable(t);
  EXPECT_EQ(Run(true, "0000000000000000", "9999999999999999", 0), RFW_SEQUENCE_MISMATCH);
  EXPECT_EQ(Run(true, "0000000000000000", "9999999999999999", 1), 2);
  EXPECT_EQ(Stamp(db_), slot + 1);
}

// Reading mode 9: the full run from a backup's copy of the databank's log
// records (a databank that is no LOG copy) redoes them in one pass.
TEST_F(RollForwardRootTest, FromABackupsCopyInOnePass) {
  constexpr int32_t kBackupLid = 6;
  const int32_t backup = Create("backup", 4000, kBackupLid);
  AddDcb(kBackupLid, backup, 1);
  Table t = LoggedTable(77, 8, 16);
  CommitTwo(t);
  ASSERT_EQ(CommitKeyed({LogTest::Logged(2, t, "aaaa0001changed."),
                         LogTest::Logged(4, t, "aaaa0002........")},
                        "0000000000000006"),
            0);
  int32_t copy[BCL_WORDS] = {9, usr_, kBackupLid, 0, 0, kDataLid};
  std::memcpy(copy + BCL_MARK, "no such mark....", 16);
  DSBkpCopyLog(base_, copy);
  ASSERT_EQ(copy[BCL_STATUS], 4);
  const std::vector<std::string> rows = Rows(t);
  ASSERT_EQ(rows, std::vector<std::string>{"aaaa0001changed."});
  EmptyTable(t);
  int32_t rq[RFW_WORDS] = {1, usr_, kDataLid};
  rq[RFW_LOG_LID] = kBackupLid;
  DSTabScan1(base_, rq);
  EXPECT_EQ(rq[RFW_MODE], 4);
  EXPECT_EQ(Rows(t), rows);
  // The backup's stamp no longer matches once the databank moved on.
  SetStamp(Stamp(db_) + 5);
  EmptyTable(t);
  rq[RFW_MODE] = 1;
  DSTabScan1(base_, rq);
  EXPECT_EQ(rq[RFW_MODE], RFW_SEQUENCE_MISMATCH);
  EXPECT_TRUE(Rows(t).empty());
}

}  // namespace
