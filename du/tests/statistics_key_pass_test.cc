// The statistics key pass's batches over the kernel model: a dirty index
// that lacks entries is completed from the table's rows in batches of 1,000
// rows, each committed on its own, and then marked built; an index that is
// complete gains nothing; the pass needs the thread's block and the
// dictionary's update of the constraint row.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "du/record_operations.h"
#include "du/table_statistics.h"
#include "du/tests/table_fixture.h"
#include "platform/thread_slots.h"

namespace {

std::vector<std::vector<int32_t>>* g_marks = nullptr;

void Mark(int32_t*, int32_t* pb, int32_t table_id, int32_t constraint_id) {
  g_marks->push_back({table_id, constraint_id});
  pb[0] = 0;
}

class StatisticsKeyPassTest : public ModelTableTest {
 protected:
  static constexpr int32_t kRows = 2500;

  StatisticsKeyPassTest() {
    g_marks = &marks_;
    DSGetMem(base_, &thr_, THR_BYTES);
    StatusPair st{};
    mdr_tls_init(&st);
    mdr_tls_set(&st, thr_, TLS_SLOT_THR);
  }
  ~StatisticsKeyPassTest() override {
    StatusPair st{};
    mdr_tls_set(&st, 0, TLS_SLOT_THR);
    g_marks = nullptr;
  }

  // kRows parent rows committed, with their index entries, by a statement
  // that keeps the table open (the pass shares its control blocks). The TBL
  // numbers of the table and its index.
  void Fill() {
    std::vector<int32_t>& r = open_;
    r = Record(kParent, 3, 8, 40);
    ASSERT_EQ(Open(r), 0);
    ASSERT_EQ(Begin(1), 0);
    for (int32_t n = 0; n < kRows; ++n) {
      char row[41];
      std::snprintf(row, sizeof row, "k%07dv%07d%024d", n, (n * 7919) % 100000, 0);
      std::memcpy(r.data() + DUREC_RECORD, row, 40);
      DUInsertRow(base_, r.data(), usr_);
      ASSERT_EQ(r[DUREC_STATUS], 0) << n;
    }
    ASSERT_EQ(End(END_CLIENT_COMMIT), 0);
    table_tbl_ = r[DUREC_TBL];
    icb_ = W(r[DUREC_OBJECT] + TCB_ICB);
    index_tbl_ = W(icb_ + ICB_TBL);
    ASSERT_EQ(kernel_.rows[table_tbl_].size(), size_t(kRows));
    ASSERT_EQ(kernel_.rows[index_tbl_].size(), size_t(kRows));
  }
  // The parent's index marked dirty or not.
  void SetDirty(int32_t dirty) { W(icb_ + ICB_DIRTY) = dirty; }
  int32_t Run(DUStatKeyBuilt mark, int32_t* inserted) {
    StatTable t;
    t.id = kParent;
    t.lid = kLid;
    t.tname = kParent;
    t.type = 1;
    t.keylen = 8;
    t.reclen = 40;
    int32_t pb[2] = {0, usr_};
    DUStatKeyBatches(base_, pb, t, mark, inserted);
    return pb[0];
  }
  std::set<std::string> IndexKeys() {
    std::set<std::string> keys;
    for (const auto& [key, row] : kernel_.rows[index_tbl_]) keys.insert(key);
    return keys;
  }

  int32_t thr_ = 0;
  std::vector<int32_t> open_;
  int32_t icb_ = 0;
  int32_t table_tbl_ = 0, index_tbl_ = 0;
  std::vector<std::vector<int32_t>> marks_;
};

TEST_F(StatisticsKeyPassTest, ADirtyIndexIsCompletedInBatchesAndMarkedBuilt) {
  ASSERT_NO_FATAL_FAILURE(Fill());
  const std::set<std::string> complete = IndexKeys();
  // Entries lost: every seventh.
  int32_t lost = 0, n = 0;
  for (auto it = kernel_.rows[index_tbl_].begin(); it != kernel_.rows[index_tbl_].end(); ++n) {
    if (n % 7 == 0) {
      it = kernel_.rows[index_tbl_].erase(it);
      ++lost;
    } else {
      ++it;
    }
  }
  SetDirty(1);
  const size_t commits = kernel_.ended.size();
  int32_t inserted = -1;
  ASSERT_EQ(Run(Mark, &inserted), 0);
  EXPECT_EQ(inserted, lost);
  EXPECT_EQ(IndexKeys(), complete);
  EXPECT_EQ(kernel_.rows[table_tbl_].size(), size_t(kRows));  // the rows as they were
  // Three batches of at most 1,000 rows, then the constraint row's update.
  EXPECT_EQ(kernel_.ended.size() - commits, 4u);
  EXPECT_EQ(marks_, (std::vector<std::vector<int32_t>>{{kParent, 901}}));
  EXPECT_EQ(W(icb_ + ICB_DIRTY), 0);
  EXPECT_EQ(W(open_[DUREC_OBJECT] + TCB_USECOUNT), 1);  // the pass's use given back

  // Complete and no longer dirty: nothing to do.
  SetDirty(0);
  ASSERT_EQ(Run(Mark, &inserted), 0);
  EXPECT_EQ(inserted, 0);
  EXPECT_EQ(marks_.size(), 1u);
  // Dirty but complete: every row read, nothing inserted.
  SetDirty(1);
  ASSERT_EQ(Run(Mark, &inserted), 0);
  EXPECT_EQ(inserted, 0);
  EXPECT_EQ(IndexKeys(), complete);
  EXPECT_EQ(marks_.size(), 2u);
}

TEST_F(StatisticsKeyPassTest, WithoutTheThreadOrTheDictionaryUpdate) {
  ASSERT_NO_FATAL_FAILURE(Fill());
  kernel_.rows[index_tbl_].erase(kernel_.rows[index_tbl_].begin());
  SetDirty(1);
  StatusPair st{};
  mdr_tls_set(&st, 0, TLS_SLOT_THR);
  int32_t inserted = -1;
  EXPECT_EQ(Run(Mark, &inserted), DU_NO_THREAD_SLOT);
  EXPECT_EQ(kernel_.rows[index_tbl_].size(), size_t(kRows - 1));
  mdr_tls_set(&st, thr_, TLS_SLOT_THR);
  // The index is completed and committed; its constraint row cannot be
  // updated: the pass fails naming the dictionary's routine.
  EXPECT_EQ(Run(nullptr, &inserted), DU_NOT_INSTALLED);
  EXPECT_EQ(inserted, 1);
  EXPECT_TRUE(log_.Has("DDUpdConstraint"));
  EXPECT_EQ(kernel_.rows[index_tbl_].size(), size_t(kRows));
  EXPECT_EQ(W(icb_ + ICB_DIRTY), 0);
  EXPECT_EQ(Close(open_), 0);
  EXPECT_EQ(TcbCount(), 0);
}

}  // namespace
