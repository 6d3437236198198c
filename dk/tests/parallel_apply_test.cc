// Committed write sets applied by several background threads at once: a row
// change waits for the earlier records of its row, other records wait for
// every record in hand, and many transactions over shared tables end exactly
// as a model that applies their records one after the other.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "dk/tests/transaction_fixture.h"

namespace {

class ParallelApplyTest : public TransactionTest {
 protected:
  void Shape() override {
    TransactionTest::Shape();
    params_.threads[THR_BACKGROUND] = 4;
    // Five pages of each size per thread.
    params_.pages[PG_16K] = 40;
    params_.pages[PG_64K] = 31;
  }

  // Waits until the commit numbered `commit` is secured (every commit
  // before it was applied first).
  void AwaitSecured(int32_t commit) {
    for (int64_t n = 0; LoadWord(BP_SECURED_TRANS_NUMBER) < commit; ++n) {
      ASSERT_LT(n, 50'000'000) << "commit " << commit << " never secured";
      std::this_thread::yield();
    }
  }

  // Polls until `key`'s row of `t` is `expected` (empty: the row is gone).
  void AwaitRow(const Table& t, const std::string& key, const std::string& expected) {
    for (int64_t n = 0;; ++n) {
      std::string found;
      for (const std::string& r : Rows(t))
        if (r.compare(0, static_cast<size_t>(t.key), key) == 0) found = r;
      if (found == expected) return;
      ASSERT_LT(n, 2'000'000) << "row " << key << " never applied";
      std::this_thread::yield();
    }
  }

  std::string Key(int32_t n) const {
    std::string k(4, '\0');
    for (int i = 0; i < 4; ++i) k[i] = static_cast<char>(n >> (24 - 8 * i));
    return k;
  }
};

// A slot that is not running holds its work pair with a mark, as a thread
// applying a record does. The unit's records behind the held one go on
// while they are of other rows; the held row's change, and a record applied
// alone, wait until the slot gives its pair back, and nothing after them is
// applied before.
TEST_F(ParallelApplyTest, RecordsWaitForTheEarlierRecordsOfTheirRow) {
  StartBackground(1);
  Table t = CreateTable(77, 4, 8);
  const std::string k1 = MakeRecord("k1", 4, 8, 'a'), k9 = MakeRecord("k9", 4, 8, 'a');
  ASSERT_EQ(CommitChanges({Change(1, t, k1), Change(1, t, k9)}), 0);
  const int32_t held = area_[BP_FIRST_SWA] + SWA_WORDS;
  struct Case {
    const char* what;
    int32_t waiting_code;  // the record that waits: 2 an update of k1, 5 the table emptied
  } cases[] = {{"row change", 2}, {"record applied alone", 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string k1b = MakeRecord("k1", 4, 8, 'b');
    std::vector<int32_t> waiting = c.waiting_code == 2 ? Change(2, t, k1b) : Change(1, t, k1b);
    waiting[WS_CODE] = c.waiting_code;
    DKLock(held + SWA_LOCK2);
    StoreWord(held + SWA_APPLYING, c.waiting_code == 2 ? DKRowMark(waiting) : 12345);
    const std::string before = MakeRecord("k2", 4, 8, 'c'), after = MakeRecord("k3", 4, 8, 'c');
    ASSERT_EQ(CommitChanges({Change(1, t, before), waiting, Change(1, t, after)}, 0), 0);
    const int32_t commit = LoadWord(BP_COMMITS);
    AwaitRow(t, before.substr(0, 4), before);
    EXPECT_EQ(Rows(t), (std::vector<std::string>{k1, before, k9}));
    StoreWord(held + SWA_APPLYING, 0);
    DKUnlock(held + SWA_LOCK2);
    AwaitSecured(commit);
    if (c.waiting_code == 2) {
      EXPECT_EQ(Rows(t), (std::vector<std::string>{k1b, before, after, k9}));
    } else {
      EXPECT_EQ(Rows(t), (std::vector<std::string>{after}));
    }
    // Back to the rows the next case starts from.
    std::vector<std::vector<int32_t>> reset = {Change(4, t, after), Change(1, t, k1),
                                               Change(1, t, k9)};
    if (c.waiting_code == 2) reset = {Change(4, t, after), Change(2, t, k1), Change(4, t, before)};
    ASSERT_EQ(CommitChanges(reset), 0);
    ASSERT_EQ(Rows(t), (std::vector<std::string>{k1, k9}));
  }
}

// The master's record waits on a page the test holds; the slave it woke
// meanwhile takes the next record, of a table on another databank, and
// applies it: records of a unit are applied by more than one thread.
TEST_F(ParallelApplyTest, ASlaveAppliesTheNextRecordWhileTheMasterWaits) {
  Table x = CreateTable(71, 4, 8);
  ASSERT_EQ(Insert(x, MakeRecord("x0", 4, 8)), 0);
  Create("other", 400, 6, 3);
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = 6;
  b[RQ_TYPE] = 10;
  b[RQ_TBL] = 72;
  b[RQ_KEY_LENGTH] = 4;
  b[RQ_RECORD_LENGTH] = 8;
  DKEXE1(16, b);
  ASSERT_EQ(b[RQ_STATUS], 0);
  const Table y{b[RQ_TABLE], 72, 4, 8};
  StartBackground(2);
  // The slave waits in its queue, where the master finds it.
  const int32_t slave = area_[BP_FIRST_SWA] + SWA_WORDS;
  while (LoadWord(slave + SWA_STATE) != SLOT_INACTIVE_SLAVE) std::this_thread::yield();
  const std::string rx = MakeRecord("x1", 4, 8), ry = MakeRecord("y1", 4, 8);
  // The write set is made before the page is held: its pages are written
  // through the pool the held page is in.
  Began t = Begin();
  Sets s = NewSets();
  AppendTo(s.write, Header(0, {{db_, 3}}));
  AppendTo(s.write, Change(1, x, rx));
  AppendTo(s.write, Change(1, y, ry));
  const std::vector<int32_t> e = RootEntry(x);
  const int32_t held = Get(db_, e[RE_TOP + 1], e[RE_DATA_PAGE_SIZE + 1], GET_UPDATE);
  ASSERT_GT(held, 0);
  ASSERT_EQ(End(t.tss, s), 0);
  const int32_t commit = LoadWord(BP_COMMITS);
  // The master holds x's root page while it waits for the leaf: x is not
  // read before the leaf is given back.
  AwaitRow(y, ry.substr(0, 4), ry);
  DKPUT0(PUT_UNCHANGED, held);
  AwaitSecured(commit);
  EXPECT_EQ(Rows(x), (std::vector<std::string>{MakeRecord("x0", 4, 8), rx}));
}

// Transactions of many inserts, updates and deletes over three shared
// tables, several changes of one row within a transaction among them, are
// committed one after the other while four background threads apply them;
// the tables end as the model that applied every record in order.
TEST_F(ParallelApplyTest, ManyTransactionsEndAsTheModelInCommitOrder) {
  StartBackground(4);
  std::vector<Table> tables = {CreateTable(61, 4, 8), CreateTable(62, 4, 24),
                               CreateTable(63, 4, 200)};
  std::vector<std::map<std::string, std::string>> model(tables.size());
  std::mt19937 random(15);
  constexpr int kTransactions = 120, kKeys = 48;
  int32_t last = 0;
  for (int n = 0; n < kTransactions; ++n) {
    std::vector<std::vector<int32_t>> changes;
    const int records = 2 + static_cast<int>(random() % 30);
    for (int i = 0; i < records; ++i) {
      const size_t which = random() % tables.size();
      const Table& t = tables[which];
      const std::string key = Key(static_cast<int32_t>(random() % kKeys));
      std::string record = MakeRecord(key, 4, t.length, static_cast<char>('a' + (n + i) % 26));
      auto& rows = model[which];
      const auto found = rows.find(key);
      int32_t fcode = 1;
      if (found != rows.end()) fcode = random() % 3 == 0 ? 4 : 2;
      if (fcode == 4) {
        record = found->second;
        rows.erase(found);
      } else {
        rows[key] = record;
      }
      changes.push_back(Change(fcode, t, record));
    }
    const int32_t kind = n % 25 == 24 ? 129 : 0;
    ASSERT_EQ(CommitChanges(changes, kind), 0) << "transaction " << n;
    last = LoadWord(BP_COMMITS);
  }
  AwaitSecured(last);
  for (size_t i = 0; i < tables.size(); ++i) {
    std::vector<std::string> expected;
    for (const auto& [key, record] : model[i]) expected.push_back(record);
    EXPECT_EQ(Rows(tables[i]), expected) << "table " << i;
  }
}

}  // namespace
