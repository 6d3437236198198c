// A commit is reported done only once its group is in the commit set's file,
// also when another thread (a swap-out, a write of its own) is writing the
// page that holds the group at the moment the commit's page write looks:
// the page reads as unchanged while it is written, and the group write
// passed over it and answered at once. A kill before that other write ended
// lost the commit reported done. The interleaving is made with the kernel's
// test point after the append and the file system's hook before the write.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "dk/test_points.h"
#include "dk/tests/transaction_fixture.h"
#include "platform/enqdeq.h"

namespace {

std::function<void()> on_appended;  // run once at the next append's test point
thread_local bool page_writer = false;  // the thread that writes the page

void Hook(DKTestPoint point, int32_t) {
  if (point != DKTestPoint::kGroupAppended || !on_appended) return;
  std::function<void()> run = std::move(on_appended);
  on_appended = nullptr;
  run();
}

class CommitPageWriteTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    DKInstallTestHook(Hook);
  }
  void TearDown() override {
    DKInstallTestHook(nullptr);
    on_appended = nullptr;
    TransactionTest::TearDown();
  }

  // The commit set's data page that holds its last record.
  int32_t LastPage() {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = commit_set_;
    b[SETRQ_TBL] = area_[commit_set_ + TBE_TBL];
    b[SETRQ_RC] = 2;
    int32_t page = 0;
    while (DKGXN0(b) == 0) {
      page = b[SETRQ_PAGE];
      b[SETRQ_RC] = 0;
    }
    return page;
  }
};

TEST_F(CommitPageWriteTest, ACommitWaitsForAWriteOfItsPageUnderWay) {
  Table table = CreateTable(77, 4, 8);
  ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord("a", 4, 8))}, 0), 0);
  HookedFileSystem hooked(fault_);
  std::atomic<bool> committed{false}, in_write{false};
  std::atomic<int32_t> bcb{0};
  bool committed_before_written = false, wrote = false;
  std::thread writer;
  // After the append and before the commit's own page write, another
  // thread takes the page and starts writing it.
  on_appended = [&] {
    const int32_t page = LastPage();
    ASSERT_GT(page, 0);
    writer = std::thread([&, page] {
      enqdeq_attach(enq_, 3);
      page_writer = true;
      int32_t rq[REQ_WORDS] = {trans_, page, kCommitSetPageSize, 0, -1, 0};
      const int32_t b = DKGET0(rq, GET_UPDATE);
      ASSERT_GT(b, 0);
      bcb = BufferBcb(b);
      EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, b), 0);
    });
    while (!in_write) std::this_thread::yield();
  };
  // The write waits until the commit has answered, or is waiting for this
  // page (one more user of its buffer).
  hooked.before_write = [&](int64_t) {
    if (!page_writer || wrote) return;
    wrote = true;
    in_write = true;
    while (!committed && std::atomic_ref<int32_t>(area_[bcb + BCB_USERS]).load() < 2)
      std::this_thread::yield();
    committed_before_written = committed;
  };
  mdr_install_file_system(&hooked);
  EXPECT_EQ(CommitChanges({Change(1, table, MakeRecord("b", 4, 8))}, 0), 0);
  committed = true;
  if (writer.joinable()) writer.join();
  mdr_install_file_system(&fault_);
  ASSERT_TRUE(wrote);
  EXPECT_FALSE(committed_before_written);
}

}  // namespace
