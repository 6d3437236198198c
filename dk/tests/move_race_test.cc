// Moves of held buffers (DKHLD0) racing flushes that write, and fail to
// write, the pages linked before the moved content, and racing other moves:
// the links and failures go with the content exactly once, so the counts end
// at 0 and a content whose predecessor failed never reaches disk.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/tests/bufferpool_fixture.h"

namespace {

// Fails one in `every` writes of pages past the header (never a bitmap
// page, which the allocations of the movers need), at most 40 in all: a
// page whose write failed keeps its buffer, as does one that waits for it.
class FailingDataWrites : public HookedFileSystem {
 public:
  FailingDataWrites(FileSystem& base, int every) : HookedFileSystem(base), every_(every) {}
  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override {
    if (offset >= 2 * 2048 && failing.load() && ++writes_ % every_ == 0 &&
        failed_.fetch_add(1) < 40) {
      *done = 0;
      return EIO;
    }
    return HookedFileSystem::WriteAt(handle, offset, buffer, count, done);
  }
  std::atomic<bool> failing{true};

 private:
  const int every_;
  std::atomic<int> writes_{0}, failed_{0};
};

class MoveRaceTest : public PageTest {};

TEST_F(MoveRaceTest, MovesRacingFlushesAndEachOther) {
  const int32_t entry = Create("moverace", 16000);
  FailingDataWrites failing(fault_, 9);
  mdr_install_file_system(&failing);
  constexpr int kMovers = 2, kRounds = 100, kBefore = 3;
  std::atomic<bool> stop{false};
  std::thread flusher([&] {
    enqdeq_attach(enq_, 2);
    for (int n = 0; !stop.load(); ++n) {
      int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
      DKPAG0(pag, PAG_FLUSH);
      std::this_thread::yield();
    }
  });
  struct Result {
    std::vector<int32_t> before;  // the pages linked before the content
    int32_t page = 0;             // where the content ended
    int32_t stamp = 0;
  };
  std::vector<std::vector<Result>> results(kMovers);
  std::vector<std::thread> movers;
  for (int m = 0; m < kMovers; ++m)
    movers.emplace_back([&, m] {
      enqdeq_attach(enq_, 3 + m);
      for (int round = 0; round < kRounds; ++round) {
        Result r;
        r.stamp = 100000 * (m + 1) + round;
        int32_t rq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
        int32_t content = DKHLD0(rq, -1);
        ASSERT_GT(content, 0);
        PageWords(content)[1] = 5;
        PageWords(content)[100] = r.stamp;
        for (int i = 0; i < kBefore; ++i) {
          int32_t brq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
          int32_t b = DKHLD0(brq, -1);
          ASSERT_GT(b, 0);
          PageWords(b)[1] = 5;
          PageWords(b)[100] = r.stamp + 1 + i;
          r.before.push_back(brq[REQ_PAGE]);
          ASSERT_EQ(DKMRK0(content, 23, b), 0);
          ASSERT_EQ(DKPUT0(PUT_CHANGED, b), 0);
        }
        for (int move = 0; move < 3; ++move) {
          int32_t mrq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
          ASSERT_EQ(DKHLD0(mrq, content), content);
          r.page = mrq[REQ_PAGE];
          std::this_thread::yield();
        }
        ASSERT_EQ(DKPUT0(PUT_CHANGED, content), 0);
        results[m].push_back(r);
      }
    });
  for (auto& t : movers) t.join();
  stop = true;
  flusher.join();
  failing.failing = false;
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  DKPAG0(pag, PAG_FLUSH);
  // Every link was undone once: no BCB still waits for a page.
  const int32_t pool = FindPool(2048);
  const int32_t last = area_[pool + PART_LAST_BCB];
  const int32_t lowest = last - BCB_WORDS * (area_[pool + PART_PAGES] - 1);
  for (int32_t bcb = lowest; bcb <= last; bcb += BCB_WORDS) {
    EXPECT_EQ(area_[bcb + BCB_WAITS_FOR], 0) << bcb;
    EXPECT_EQ(area_[bcb + BCB_WAITER], 0) << bcb;
  }
  // A content on disk has every page before it on disk.
  int on_disk = 0;
  for (const auto& rs : results)
    for (const Result& r : rs) {
      if (FileWord("moverace", r.page, 100) != r.stamp) continue;
      ++on_disk;
      for (size_t i = 0; i < r.before.size(); ++i)
        EXPECT_EQ(FileWord("moverace", r.before[i], 100), r.stamp + 1 + static_cast<int32_t>(i))
            << "content " << r.stamp << " before " << i;
    }
  EXPECT_GT(on_disk, 0);
  mdr_install_file_system(&fault_);
}

}  // namespace
