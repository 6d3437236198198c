// The roll-forward over a log the databank kernel wrote at commit: the full
// one rebuilds a model of the committed changes, the limited one those in
// its range; a dropped table's records are skipped and reported once; a
// databank not held alone is refused.
#include "kernel/roll_forward.h"
#include "kernel/tests/log_fixture.h"

namespace {

class RollForwardTest : public LogTest {
 protected:
  int32_t Run(bool limited, const std::string& lower = "", const std::string& upper = "") {
    int32_t rq[RFW_WORDS] = {0, usr_, kDataLid};
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
