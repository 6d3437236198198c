// Page access through the bufferpool: allocation against a model of the
// bitmap, replacement and write-back against a model of the file, the order
// of dependent writes, failed writes that must not lose a page, and readers
// and writers of one page on several threads.
#include "dk/bufferpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "dk/bitmap_page.h"
#include "dk/tests/bufferpool_fixture.h"
#include "dk/tests/pass_through_file_system.h"

namespace {

constexpr int32_t kSizes[3] = {2048, 16384, 65536};

class BufferpoolTest : public PageTest {
 protected:
  // The bitmap page of a chunk as the pool holds it.
  std::vector<uint8_t> Bitmap(int32_t entry, int32_t chunk = 0) {
    int32_t buffer = Get(entry, chunk, kUnitBytes, GET_SHARED);
    EXPECT_GT(buffer, 0);
    std::vector<uint8_t> bytes(PageBytes(buffer), PageBytes(buffer) + kUnitBytes);
    DKPUT0(PUT_END_SHARED, buffer);
    return bytes;
  }

  int32_t Allocate(int32_t entry, int32_t size, int32_t* page) {
    int32_t rq[REQ_WORDS] = {entry, 0, size, 0, -1, 0};
    int32_t rc = DKHLD0(rq, 0);
    *page = rq[REQ_PAGE];
    return rc;
  }

  int32_t Free(int32_t entry, int32_t size, int32_t page) {
    int32_t rq[REQ_WORDS] = {entry, page, size, 0, -1, 0};
    return DKFRE0(rq, 0);
  }

  // Each of `workers` threads adds one to its own counter (word 100 + t) of
  // `rounds` pages drawn from `pages` pages of `size` bytes from `first` on,
  // calling `between(t, i, page)` after each change; then the databank is
  // closed and every counter must be on disk.
  template <class Between>
  void CountFromThreads(int32_t entry, const std::string& name, int32_t size, int32_t first,
                        int32_t pages, int workers, int rounds, Between between) {
    int32_t units = size / kUnitBytes;
    auto page_of = [&](std::mt19937& rng) {
      return first + units * static_cast<int32_t>(rng() % static_cast<uint32_t>(pages));
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < workers; ++t)
      threads.emplace_back([&, t] {
        enqdeq_attach(enq_, 2 + t);
        std::mt19937 rng(t);
        for (int i = 0; i < rounds; ++i) {
          int32_t page = page_of(rng);
          int32_t b = Get(entry, page, size, GET_UPDATE);
          ASSERT_GT(b, 0);
          PageWords(b)[100 + t] += 1;
          DKPUT0(PUT_CHANGED, b);
          between(t, i, page);
        }
      });
    for (auto& w : threads) w.join();
    Close(entry);
    for (int t = 0; t < workers; ++t) {
      std::mt19937 rng(t);
      std::map<int32_t, int32_t> expect;
      for (int i = 0; i < rounds; ++i) ++expect[page_of(rng)];
      for (auto& [page, count] : expect) EXPECT_EQ(FileWord(name, page, 100 + t), count);
    }
  }

  // A newly allocated 2048-byte page held as a data page with `value` in
  // word 100 (see HeldDataPage); 0 when there is none.
  int32_t HeldNewDataPage(int32_t entry, int32_t value) {
    int32_t page = 0;
    EXPECT_EQ(Allocate(entry, 2048, &page), 0);
    return page > 0 ? HeldDataPage(entry, page, value) : 0;
  }

  // Moves a held 2048-byte buffer to a newly allocated page; returns it.
  int32_t MoveToNewPage(int32_t entry, int32_t buffer) {
    int32_t rq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
    EXPECT_EQ(DKHLD0(rq, buffer), buffer);
    return rq[REQ_PAGE];
  }

  int32_t PageOf(int32_t buffer) { return area_[BufferBcb(buffer) + BCB_PAGE]; }

  // Writes `value` into word 100 of a page and releases it changed.
  void Stamp(int32_t entry, int32_t page, int32_t size, int32_t value) {
    int32_t buffer = Get(entry, page, size, GET_UPDATE);
    ASSERT_GT(buffer, 0);
    PageWords(buffer)[100] = value;
    EXPECT_EQ(DKPUT0(PUT_CHANGED, buffer), 0);
  }
};

TEST_F(BufferpoolTest, AllocationTakesAlignedGroupsOfTheFirstChunk) {
  int32_t entry = Create("alloc", 200);
  struct Step {
    int32_t size, page;
  };
  // Units 0 and 1 are taken: a 64K page cannot start below 32, a 16K one below 8.
  const Step steps[] = {{65536, 32}, {16384, 8},  {2048, 2}, {2048, 3},
                        {65536, 64}, {16384, 16}, {2048, 4}, {65536, 96}};
  for (const Step& s : steps) {
    int32_t page = -1;
    ASSERT_EQ(Allocate(entry, s.size, &page), 0);
    EXPECT_EQ(page, s.page) << s.size;
  }
  std::vector<uint8_t> map = Bitmap(entry);
  std::set<int32_t> used = {0, 1};
  for (const Step& s : steps)
    for (int32_t u = 0; u < s.size / kUnitBytes; ++u) used.insert(s.page + u);
  for (int32_t bit = 0; bit < 200; ++bit)
    EXPECT_EQ(BitmapBit(map.data(), bit), used.count(bit) == 1) << bit;
  EXPECT_EQ(PageWord(map.data(), BMP_FREE), kBitmapChunkUnits - static_cast<int32_t>(used.size()));
}

TEST_F(BufferpoolTest, FreeingTwiceIsACorruptBitmapAndChangesNothing) {
  int32_t entry = Create("free", 200);
  int32_t page;
  ASSERT_EQ(Allocate(entry, 65536, &page), 0);
  ASSERT_EQ(page, 32);
  EXPECT_EQ(Free(entry, 65536, 32), 0);
  std::vector<uint8_t> before = Bitmap(entry);
  EXPECT_EQ(PageWord(before.data(), BMP_HINT), 0);
  EXPECT_EQ(Free(entry, 65536, 32), -49);
  EXPECT_EQ(Bitmap(entry), before);
  // Page 0 with no buffer is nothing to do; the header unit is never freed.
  EXPECT_EQ(Free(entry, 2048, 0), 0);
  EXPECT_EQ(Free(entry, 2048, 1), -49);
  EXPECT_EQ(Free(entry, 16384, 12), -49);  // not a 16K boundary
  EXPECT_EQ(Bitmap(entry), before);
}

// Random allocations and frees of all three sizes against a model of the
// units in use: no two pages overlap, every page is aligned, and the bitmap
// on disk says exactly what the model says.
TEST_F(BufferpoolTest, AllocationMatchesAModelOfTheUnitsInUse) {
  int32_t entry = Create("model", 64);
  std::mt19937 rng(7);
  std::map<int32_t, int32_t> pages;  // page -> units
  std::set<int32_t> used = {0, 1};
  for (int step = 0; step < 1500; ++step) {
    bool take = pages.empty() || rng() % 3 != 0;
    if (take) {
      int32_t size = kSizes[rng() % 3];
      int32_t units = size / kUnitBytes, page;
      ASSERT_EQ(Allocate(entry, size, &page), 0);
      ASSERT_EQ(page % units, 0);
      ASSERT_LE(page % kBitmapChunkUnits + units, kBitmapChunkUnits);
      for (int32_t u = 0; u < units; ++u) ASSERT_TRUE(used.insert(page + u).second) << page;
      pages[page] = units;
    } else {
      auto it = std::next(pages.begin(), static_cast<long>(rng() % pages.size()));
      ASSERT_EQ(Free(entry, it->second * kUnitBytes, it->first), 0);
      for (int32_t u = 0; u < it->second; ++u) used.erase(it->first + u);
      pages.erase(it);
    }
  }
  Close(entry);
  std::vector<char> bytes = FileBytes("model");
  int32_t chunks =
      static_cast<int32_t>((bytes.size() / kUnitBytes + kBitmapChunkUnits - 1) / kBitmapChunkUnits);
  for (int32_t c = 0; c < chunks; ++c) {
    const uint8_t* words = reinterpret_cast<const uint8_t*>(bytes.data()) +
                           static_cast<int64_t>(c) * kBitmapChunkUnits * kUnitBytes;
    int32_t in_use = 0;
    for (int32_t bit = 0; bit < kBitmapChunkUnits; ++bit) {
      int32_t unit = c * kBitmapChunkUnits + bit;
      bool expect = bit == 0 || used.count(unit) == 1;
      ASSERT_EQ(BitmapBit(words, bit), expect) << unit;
      in_use += expect;
    }
    EXPECT_EQ(PageWord(words, BMP_FREE), kBitmapChunkUnits - in_use);
  }
}

TEST_F(BufferpoolTest, ResidentOnlyModesNeverRead) {
  int32_t entry = Create("resident", 200);
  int reads = fault_.reads();
  for (int32_t mode : {GET_UPDATE_IF_RESIDENT, GET_SHARED_IF_RESIDENT}) {
    int32_t rc = 99;
    EXPECT_EQ(Get(entry, 40, 2048, mode, &rc), 0);
    EXPECT_EQ(fault_.reads(), reads);
  }
  int32_t buffer = Get(entry, 40, 2048, GET_SHARED);
  ASSERT_GT(buffer, 0);
  EXPECT_EQ(fault_.reads(), reads + 1);
  DKPUT0(PUT_END_SHARED, buffer);
  int32_t again = Get(entry, 40, 2048, GET_SHARED_IF_RESIDENT);
  EXPECT_EQ(again, buffer);
  DKPUT0(PUT_END_SHARED, again);
  EXPECT_EQ(fault_.reads(), reads + 1);
  int32_t rc;
  EXPECT_EQ(Get(entry, 40, 4096, GET_SHARED, &rc), -76);
  EXPECT_EQ(Get(entry, 41, 16384, GET_SHARED, &rc), -43);
  // A bad mode is an internal error: it ends the server.
  EXPECT_THROW(Get(entry, 40, 2048, 9, &rc), ServerException);
}

// Many more pages than buffers, changed and read in random order: every read
// sees the last value written, whether the page stayed in the pool or was
// swapped out and read back; after the pages are written the file agrees.
TEST_F(BufferpoolTest, ReplacementKeepsEveryChangeAgainstAModel) {
  int32_t entry = Create("churn", 800);
  std::mt19937 rng(11);
  std::map<std::pair<int32_t, int32_t>, int32_t> model;  // (page, size) -> value
  for (int step = 0; step < 3000; ++step) {
    int32_t size = kSizes[rng() % 3];
    int32_t units = size / kUnitBytes;
    // Disjoint ranges per size: 64K pages at 32..127, 16K at 128..223, 2K at 224..319.
    int32_t base = size == 65536 ? 32 : size == 16384 ? 128 : 224;
    int32_t page = base + units * static_cast<int32_t>(rng() % (96 / units));
    auto key = std::make_pair(page, size);
    if (rng() % 2) {
      Stamp(entry, page, size, step + 1);
      model[key] = step + 1;
    } else {
      int32_t buffer = Get(entry, page, size, GET_SHARED);
      ASSERT_GT(buffer, 0);
      EXPECT_EQ(PageWords(buffer)[100], model.count(key) ? model[key] : 0) << page;
      EXPECT_EQ(PageWords(buffer)[0], BufferBcb(buffer));
      DKPUT0(PUT_END_SHARED, buffer);
    }
  }
  Close(entry);
  for (auto& [key, value] : model) EXPECT_EQ(FileWord("churn", key.first, 100), value) << key.first;
}

TEST_F(BufferpoolTest, AWaitingPageIsWrittenAfterTheOneItWaitsFor) {
  int32_t entry = Create("order", 200);
  int32_t a = Get(entry, 40, 2048, GET_UPDATE), y = Get(entry, 41, 2048, GET_UPDATE);
  ASSERT_GT(a, 0);
  ASSERT_GT(y, 0);
  PageWords(a)[1] = 5;
  PageWords(a)[100] = 1;
  PageWords(y)[1] = 5;
  PageWords(y)[100] = 2;
  EXPECT_EQ(DKMRK0(y, 23, a), 0);
  EXPECT_EQ(DKGPA0(51, y), 1);
  EXPECT_EQ(DKGPA0(52, a), BufferBcb(y));
  DKPUT0(PUT_CHANGED, a);
  // The write of A fails: Y must not reach disk before it.
  fault_.FailNthWrite(1, EIO);
  int32_t rq[REQ_WORDS] = {entry, 41, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, y), -31);
  EXPECT_EQ(FileWord("order", 40, 100), 0);
  EXPECT_EQ(FileWord("order", 41, 100), 0);

  // Second round: A writes, and only then Y.
  int32_t a2 = Get(entry, 42, 2048, GET_UPDATE), y2 = Get(entry, 43, 2048, GET_UPDATE);
  PageWords(a2)[1] = 5;
  PageWords(a2)[100] = 3;
  PageWords(y2)[1] = 5;
  PageWords(y2)[100] = 4;
  EXPECT_EQ(DKMRK0(y2, 23, a2), 0);
  DKPUT0(PUT_CHANGED, a2);
  int writes = fault_.writes();
  fault_.FailNthWrite(2, EIO);  // the second write from now is Y's
  int32_t rq2[REQ_WORDS] = {entry, 43, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq2, WRP_WRITE_WAIT, y2), -44);
  EXPECT_EQ(fault_.writes(), writes + 2);
  EXPECT_EQ(FileWord("order", 42, 100), 3);
  EXPECT_EQ(FileWord("order", 43, 100), 0);
  // A page names one waiter: the same link again is nothing new, another is
  // an inconsistency.
  int32_t p = Get(entry, 44, 2048, GET_UPDATE), q = Get(entry, 45, 2048, GET_UPDATE),
          r = Get(entry, 46, 2048, GET_UPDATE);
  EXPECT_EQ(DKMRK0(q, 23, p), 0);
  EXPECT_EQ(DKMRK0(q, 23, p), 0);
  EXPECT_EQ(DKGPA0(51, q), 1);
  EXPECT_THROW(DKMRK0(r, 23, p), ServerException);
  // A link that would close a circle (p before q before r before p) is an
  // inconsistency too: no order could write them, and writing one would wait
  // for itself.
  EXPECT_EQ(DKMRK0(r, 23, q), 0);
  EXPECT_THROW(DKMRK0(p, 23, r), ServerException);
  EXPECT_THROW(DKMRK0(q, 23, r), ServerException);
  EXPECT_EQ(area_[BufferBcb(r) + BCB_WAITER], 0);
  EXPECT_EQ(DKGPA0(51, p), 0);
}

// A page whose write failed keeps its changes in the pool: it is not chosen
// for replacement, so it is never read back stale from disk, and every later
// request for it learns of the failure.
TEST_F(BufferpoolTest, AFailedWriteNeverDropsThePage) {
  int32_t entry = Create("failed", 1000);
  Stamp(entry, 40, 2048, 77);
  int32_t buffer = Get(entry, 40, 2048, GET_UPDATE);
  ASSERT_GT(buffer, 0);
  fault_.FailNthWrite(1, EIO);
  int32_t rq[REQ_WORDS] = {entry, 40, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, buffer), -44);
  EXPECT_EQ(rq[REQ_RC], -44);
  EXPECT_NE(rq[REQ_OS_ERROR], -1);
  // Swap-out writes that fail are kept the same way.
  Stamp(entry, 41, 2048, 78);
  fault_.FailNthWrite(1, EIO);
  int writes = fault_.writes();
  for (int32_t page = 100; page < 100 + 2 * Pages(2048); ++page) {
    int32_t b = Get(entry, page, 2048, GET_SHARED);
    ASSERT_GT(b, 0);
    DKPUT0(PUT_END_SHARED, b);
  }
  EXPECT_EQ(fault_.writes(), writes + 1);  // page 41 was swapped out once, and failed
  for (int32_t page : {40, 41}) {
    int32_t rc = 0;
    EXPECT_EQ(Get(entry, page, 2048, GET_SHARED, &rc), -44) << page;
    EXPECT_EQ(rc, -44);
    EXPECT_EQ(FileWord("failed", page, 100), 0) << page;
  }
  // A flush of the databank does not report success over pages it could not
  // write; an error left in the request by an earlier call is not reported
  // again by one that found nothing wrong.
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_EQ(DKPAG0(pag, 1), -44);
  EXPECT_EQ(pag[3], -44);
  EXPECT_NE(pag[4], -1);
  int32_t other = Create("clean", 200, 9);
  int32_t clean[PAGREQ_WORDS] = {other, 0, 0, -44, 5, 0, 0, 0};
  EXPECT_EQ(DKPAG0(clean, 1), 0);
  EXPECT_EQ(clean[3], 0);
  EXPECT_EQ(clean[4], -1);
}

// A page linked to a waiter but released unchanged has nothing to write: the
// waiter is written (and stays readable) rather than refused for a page that
// is on disk as it is.
TEST_F(BufferpoolTest, AnUnchangedPredecessorDoesNotHoldItsWaiterBack) {
  int32_t entry = Create("unchanged", 200);
  int32_t a = Get(entry, 40, 2048, GET_UPDATE), y = HeldDataPage(entry, 41, 41);
  ASSERT_TRUE(a > 0 && y > 0);
  EXPECT_EQ(DKMRK0(y, 23, a), 0);
  EXPECT_EQ(DKPUT0(PUT_UNCHANGED, a), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, y), 0);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_EQ(DKPAG0(pag, 1), 0);
  EXPECT_EQ(FileWord("unchanged", 41, 100), 41);
  int32_t again = Get(entry, 41, 2048, GET_SHARED);
  ASSERT_GT(again, 0);
  EXPECT_EQ(DKGPA0(51, again), 0);
  DKPUT0(PUT_END_SHARED, again);
}

// Dropping a databank's buffers clears their links whichever of two linked
// pages comes first: no buffer is left waiting (word 15) for a page that
// left the pool, so every buffer can be taken again.
TEST_F(BufferpoolTest, DroppingLinkedPagesLeavesNoBufferWaiting) {
  for (bool waiter_first : {true, false}) {
    SCOPED_TRACE(waiter_first);
    std::string name = waiter_first ? "dropa" : "dropb";
    int32_t entry = Create(name, 200, waiter_first ? 21 : 22);
    int32_t p = Get(entry, 40, 2048, GET_UPDATE), q = Get(entry, 41, 2048, GET_UPDATE);
    ASSERT_GT(p, 0);
    ASSERT_GT(q, 0);
    // The waiter is the one the drop meets first (the lower BCB) or last.
    bool p_lower = BufferBcb(p) < BufferBcb(q);
    int32_t waiter = p_lower == waiter_first ? p : q, before = waiter == p ? q : p;
    EXPECT_EQ(DKMRK0(waiter, 23, before), 0);
    DKPUT0(PUT_CHANGED, before);
    DKPUT0(PUT_CHANGED, waiter);
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
    EXPECT_EQ(DKPAG0(pag, 3), 0);
    int32_t pool = FindPool(2048);
    int32_t last = area_[pool + PART_LAST_BCB];
    for (int32_t bcb = last - BCB_WORDS * (Pages(2048) - 1); bcb <= last; bcb += BCB_WORDS) {
      EXPECT_EQ(area_[bcb + BCB_WAITS_FOR], 0) << bcb;
      EXPECT_EQ(area_[bcb + BCB_WAITER], 0) << bcb;
    }
  }
}

TEST_F(BufferpoolTest, ReadersShareAPageAndAWaitingWriterHoldsNewReadersBack) {
  int32_t entry = Create("threads", 200);
  Stamp(entry, 50, 2048, 1);
  int32_t r1 = Get(entry, 50, 2048, GET_SHARED), r2 = Get(entry, 50, 2048, GET_SHARED);
  ASSERT_GT(r1, 0);
  ASSERT_EQ(r1, r2);
  int32_t bcb = BufferBcb(r1);
  std::atomic<int> order{0};
  std::atomic<int> writer_done{0}, reader_done{0};
  auto semaphore_queued = [&](int word) {
    return std::atomic_ref<int32_t>(area_[bcb + word + ENQDEQ_HEAD]).load() != 0;
  };
  std::thread writer([&] {
    enqdeq_attach(enq_, 2);
    int32_t b = Get(entry, 50, 2048, GET_UPDATE);
    writer_done = ++order;
    PageWords(b)[100] = 2;
    DKPUT0(PUT_CHANGED, b);
  });
  // The writer holds W and waits on R for the two readers.
  while (!semaphore_queued(BCB_R)) std::this_thread::yield();
  std::thread reader([&] {
    enqdeq_attach(enq_, 3);
    int32_t b = Get(entry, 50, 2048, GET_SHARED);
    reader_done = ++order;
    EXPECT_EQ(PageWords(b)[100], 2);
    DKPUT0(PUT_END_SHARED, b);
  });
  // The late reader queues behind the writer on W.
  while (!semaphore_queued(BCB_W)) std::this_thread::yield();
  EXPECT_EQ(writer_done.load(), 0);
  EXPECT_EQ(reader_done.load(), 0);
  EXPECT_EQ(PageWords(r1)[100], 1);
  DKPUT0(PUT_END_SHARED, r1);
  EXPECT_EQ(writer_done.load(), 0);  // one reader still holds the page
  DKPUT0(PUT_END_SHARED, r2);
  writer.join();
  reader.join();
  EXPECT_EQ(writer_done.load(), 1);
  EXPECT_EQ(reader_done.load(), 2);
}

TEST_F(BufferpoolTest, ManyThreadsChangingPagesLoseNothing) {
  int32_t entry = Create("busy", 800);
  CountFromThreads(entry, "busy", 2048, 100, 40, 6, 300, [&](int, int, int32_t page) {
    int32_t s = Get(entry, page + 40, 2048, GET_SHARED);
    ASSERT_GT(s, 0);
    DKPUT0(PUT_END_SHARED, s);
  });
}

TEST_F(BufferpoolTest, ReadAheadAllowanceAndBlockSizes) {
  struct Case {
    int32_t size, kind, async_left, expect;
  };
  // The 16K pool has 24 buffers: n = min(24 / 3, async left).
  const Case cases[] = {{16384, 1, 20, 2}, {16384, 2, 20, 5}, {16384, 3, 20, 8}, {16384, 4, 3, 3},
                        {16384, 5, 20, 1}, {16384, 6, 20, 0}, {4096, 1, 20, -76}};
  for (const Case& c : cases) {
    area_[BP_ASYNC_IO_LEFT] = c.async_left;
    EXPECT_EQ(DKCPR0(c.size, c.kind), c.expect) << c.kind;
  }
  // The first pool whose longest record fits.
  int32_t longest[3];
  for (int i = 0; i < 3; ++i) longest[i] = area_[FindPool(kSizes[i]) + PART_MAX_RECORD];
  EXPECT_EQ(DKBSC0(0), 2048);
  EXPECT_EQ(DKBSC0(longest[0]), 2048);
  EXPECT_EQ(DKBSC0(longest[0] + 1), 16384);
  EXPECT_EQ(DKBSC0(longest[2]), 65536);
  EXPECT_THROW(DKBSC0(longest[2] + 1), ServerException);
}

// A pool of 30 buffers with 20 asynchronous I/Os left reads ahead 10 pages.
class ThirtyBufferTest : public PageTest {
 protected:
  void Shape() override {
    PageTest::Shape();
    params_.pages[PG_16K] = 30;
  }
};

TEST_F(ThirtyBufferTest, ReadsAheadTenPages) {
  area_[BP_ASYNC_IO_LEFT] = 20;
  EXPECT_EQ(DKCPR0(16384, 3), 10);
  EXPECT_EQ(DKCPR0(16384, 4), 10);
}

}  // namespace

namespace {

TEST_F(BufferpoolTest, AHeldBufferMovesToANewlyAllocatedPage) {
  int32_t entry = Create("move", 200);
  int32_t old_page = 0;
  ASSERT_EQ(Allocate(entry, 16384, &old_page), 0);
  int32_t buffer = Get(entry, old_page, 16384, GET_UPDATE);
  ASSERT_GT(buffer, 0);
  PageWords(buffer)[100] = 4242;
  int32_t rq[REQ_WORDS] = {entry, 0, 16384, 0, -1, 0};
  EXPECT_EQ(DKHLD0(rq, buffer), buffer);
  int32_t new_page = rq[REQ_PAGE];
  EXPECT_NE(new_page, old_page);
  EXPECT_EQ(new_page % 8, 0);
  // The same buffer, with its content, now names the new page; the old page
  // left the pool.
  EXPECT_EQ(PageWords(buffer)[100], 4242);
  EXPECT_EQ(DKGPA0(53, buffer), PageWords(buffer)[0]);
  EXPECT_EQ(area_[BufferBcb(buffer) + BCB_PAGE], new_page);
  EXPECT_EQ(Get(entry, old_page, 16384, GET_SHARED_IF_RESIDENT), 0);
  DKPUT0(PUT_CHANGED, buffer);
  Close(entry);
  EXPECT_EQ(FileWord("move", new_page, 100), 4242);
  EXPECT_EQ(FileWord("move", old_page, 100), 0);

  // A negative buffer asks for a zero-filled new page.
  entry = Create("fresh", 200);
  int32_t frq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
  int32_t fresh = DKHLD0(frq, -1);
  ASSERT_GT(fresh, 0);
  for (int w = 1; w < 512; ++w) ASSERT_EQ(PageWords(fresh)[w], 0) << w;
  DKPUT0(PUT_UNCHANGED, fresh);
}

TEST_F(BufferpoolTest, DeferredReleasesFreeTheirPagesOnceTheHolderIsWritten) {
  int32_t entry = Create("deferred", 200);
  int32_t released[3];
  for (int32_t& p : released) ASSERT_EQ(Allocate(entry, 2048, &p), 0);
  int32_t holder = Get(entry, 150, 2048, GET_UPDATE);
  ASSERT_GT(holder, 0);
  for (int32_t p : released) EXPECT_EQ(DKRPL0(holder, p, 7), 0);
  std::vector<uint8_t> map = Bitmap(entry);
  for (int32_t p : released) EXPECT_TRUE(BitmapBit(map.data(), p)) << p;
  int32_t rq[REQ_WORDS] = {entry, 150, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, holder), 0);
  map = Bitmap(entry);
  for (int32_t p : released) EXPECT_FALSE(BitmapBit(map.data(), p)) << p;
  // A failed write frees nothing: the releases wait for the page to be on disk.
  int32_t later;
  ASSERT_EQ(Allocate(entry, 2048, &later), 0);
  holder = Get(entry, 151, 2048, GET_UPDATE);
  EXPECT_EQ(DKRPL0(holder, later, 7), 0);
  fault_.FailNthWrite(1, EIO);
  int32_t rq2[REQ_WORDS] = {entry, 151, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq2, WRP_WRITE_WAIT, holder), -44);
  EXPECT_TRUE(BitmapBit(Bitmap(entry).data(), later));
}

// Releases recorded on a held buffer wait for its content to reach disk,
// also when the buffer moves to a newly allocated page: they go with the
// content to the new page, not with the old page that is dropped, and are
// run when the new page is written.
TEST_F(BufferpoolTest, DeferredReleasesMoveWithTheirBufferToANewPage) {
  int32_t entry = Create("moverel", 400);
  int32_t released;
  ASSERT_EQ(Allocate(entry, 2048, &released), 0);
  int32_t buffer = HeldNewDataPage(entry, 7);
  ASSERT_GT(buffer, 0);
  EXPECT_EQ(DKRPL0(buffer, released, 7), 0);
  int32_t new_page = MoveToNewPage(entry, buffer);
  EXPECT_TRUE(BitmapBit(Bitmap(entry).data(), released));
  // Nor does the next allocation free it: the new page is not on disk yet.
  int32_t other;
  ASSERT_EQ(Allocate(entry, 2048, &other), 0);
  EXPECT_NE(other, released);
  EXPECT_TRUE(BitmapBit(Bitmap(entry).data(), released));
  int32_t wrq[REQ_WORDS] = {entry, new_page, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(wrq, WRP_WRITE_WAIT, buffer), 0);
  EXPECT_EQ(FileWord("moverel", new_page, 100), 7);
  EXPECT_FALSE(BitmapBit(Bitmap(entry).data(), released));
}

// The rest of what belongs to a moved buffer's content goes with it too: its
// write set, the page that must wait for it, and the fact that it is not on
// disk at its new place, even when it is released unchanged.
TEST_F(BufferpoolTest, AMovedBufferKeepsItsWriteSetAndItsWaiter) {
  int32_t entry = Create("moveorder", 400);
  int32_t in_set = HeldNewDataPage(entry, 11);
  ASSERT_GT(in_set, 0);
  EXPECT_EQ(DKMRK0(5, 22, in_set), 0);
  int32_t set_page = MoveToNewPage(entry, in_set);
  EXPECT_EQ(DKPUT0(PUT_UNCHANGED, in_set), 0);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 5, 0};
  EXPECT_EQ(DKPAG0(pag, 2), 0);
  EXPECT_EQ(FileWord("moveorder", set_page, 100), 11);

  int32_t before = HeldNewDataPage(entry, 21), waiter = HeldDataPage(entry, 60, 22);
  ASSERT_TRUE(before > 0 && waiter > 0);
  EXPECT_EQ(DKMRK0(waiter, 23, before), 0);
  int32_t moved_page = MoveToNewPage(entry, before);
  EXPECT_EQ(DKGPA0(51, waiter), 1);
  EXPECT_EQ(DKGPA0(52, before), BufferBcb(waiter));
  EXPECT_EQ(DKPUT0(PUT_CHANGED, before), 0);
  // Writing the waiter writes the moved content first.
  int32_t wrq[REQ_WORDS] = {entry, 60, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(wrq, WRP_WRITE_WAIT, waiter), 0);
  EXPECT_EQ(FileWord("moveorder", moved_page, 100), 21);
  EXPECT_EQ(FileWord("moveorder", 60, 100), 22);
}

// A move while the caller holds the pages that must precede the moved one
// (a leaf moved while its children are held) writes none of them: their
// links, and a failure among them, go with the content, and the order holds
// when it is written. A move that waited for them would wait for itself.
TEST_F(BufferpoolTest, AMoveCarriesThePagesBeforeItWhileTheCallerHoldsThem) {
  int32_t entry = Create("movebefore", 400);
  int32_t big_page = 0, moved_page = 0, buffers[3] = {0, 0, 0};
  EndsWithin(20, "a move while holding the pages before it", [&] {
    int32_t& small = buffers[0] = HeldNewDataPage(entry, 31);
    ASSERT_EQ(Allocate(entry, 16384, &big_page), 0);
    int32_t& big = buffers[1] = Get(entry, big_page, 16384, GET_NEW);
    int32_t& moved = buffers[2] = HeldNewDataPage(entry, 33);
    ASSERT_TRUE(small > 0 && big > 0 && moved > 0);
    PageWords(big)[1] = 5;
    PageWords(big)[100] = 32;
    EXPECT_EQ(DKMRK0(moved, 23, small), 0);
    EXPECT_EQ(DKMRK0(moved, 23, big), 0);
    int32_t old_bcb = BufferBcb(moved);
    moved_page = MoveToNewPage(entry, moved);
    EXPECT_NE(BufferBcb(moved), old_bcb);
    EXPECT_EQ(DKGPA0(51, moved), 2);
    EXPECT_EQ(DKGPA0(52, small), BufferBcb(moved));
    EXPECT_EQ(DKGPA0(52, big), BufferBcb(moved));
    EXPECT_EQ(area_[old_bcb + BCB_WAITS_FOR], 0);
  });
  // Nothing was written by the move.
  EXPECT_EQ(FileWord("movebefore", PageOf(buffers[0]), 100), 0);
  EXPECT_EQ(FileWord("movebefore", big_page, 100), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, buffers[0]), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, buffers[1]), 0);
  int32_t wrq[REQ_WORDS] = {entry, moved_page, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(wrq, WRP_WRITE_WAIT, buffers[2]), 0);
  EXPECT_EQ(FileWord("movebefore", PageOf(buffers[0]), 100), 31);
  EXPECT_EQ(FileWord("movebefore", big_page, 100), 32);
  EXPECT_EQ(FileWord("movebefore", moved_page, 100), 33);
}

// A page before the moved one whose write failed keeps the content from
// being written at its new place too.
TEST_F(BufferpoolTest, AMoveCarriesAFailureOfAPageBeforeIt) {
  int32_t entry = Create("movefail", 400);
  int32_t before = HeldNewDataPage(entry, 41), moved = HeldNewDataPage(entry, 42);
  ASSERT_TRUE(before > 0 && moved > 0);
  int32_t before_page = PageOf(before);
  EXPECT_EQ(DKMRK0(moved, 23, before), 0);
  fault_.FailNthWrite(1, EIO);
  int32_t brq[REQ_WORDS] = {entry, before_page, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(brq, WRP_WRITE_WAIT, before), -44);
  int32_t moved_page = MoveToNewPage(entry, moved);
  EXPECT_EQ(DKGPA0(51, moved), 0);
  int32_t wrq[REQ_WORDS] = {entry, moved_page, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(wrq, WRP_WRITE_WAIT, moved), -31);
  EXPECT_EQ(FileWord("movefail", moved_page, 100), 0);
}

// The pages released later are of the holder's size; each size comes back
// as that size, also past the 11 pages one release record holds.
TEST_F(BufferpoolTest, DeferredReleasesKeepThePageSizeOfEachHolder) {
  int32_t entry = Create("sizes", 2000);
  for (int32_t size : kSizes) {
    int32_t units = size / kUnitBytes;
    std::vector<int32_t> released(13);
    for (int32_t& p : released) ASSERT_EQ(Allocate(entry, size, &p), 0);
    int32_t holder_page;
    ASSERT_EQ(Allocate(entry, size, &holder_page), 0);
    int32_t holder = Get(entry, holder_page, size, GET_NEW);
    ASSERT_GT(holder, 0);
    for (int32_t p : released) EXPECT_EQ(DKRPL0(holder, p, 3), 0);
    if (units > 1) {
      EXPECT_EQ(DKRPL0(holder, released[0] + 1, 3), -43);  // not a page of this size
    }
    EXPECT_EQ(DKRPL0(holder, 0, 3), -43);
    int32_t rq[REQ_WORDS] = {entry, holder_page, size, 0, -1, 0};
    ASSERT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, holder), 0);
    std::vector<uint8_t> map = Bitmap(entry);
    for (int32_t p : released)
      for (int32_t u = 0; u < units; ++u) EXPECT_FALSE(BitmapBit(map.data(), p + u)) << size;
    EXPECT_TRUE(BitmapBit(map.data(), holder_page)) << size;
  }
}

// A page that joins an earlier write set than the page naming it (its
// waiter), whether it joins before the link or after, takes the waiter and
// the waiter's waiter along: the write of the earlier set puts the names on
// disk with the content. Left in the later set, the parent on disk would
// still name the page's old place after the earlier set was written. So
// does a waiter held changed in no set yet when the page of the earlier set
// is linked before it (a walk that moved the page and changed the parent to
// name its new place) and put in the later set only once let go.
TEST_F(BufferpoolTest, APageInAnEarlierWriteSetTakesThePagesNamingItAlong) {
  int32_t entry = Create("waiterorder", 400);
  enum class Case { kLinkedFirst, kInSetFirst, kWaiterInNoSetWhenLinked };
  const std::pair<Case, const char*> cases[] = {
      {Case::kLinkedFirst, "linked, then the earlier set"},
      {Case::kInSetFirst, "in the earlier set, then linked"},
      {Case::kWaiterInNoSetWhenLinked, "linked before a changed waiter in no set"}};
  int32_t base = 0;
  for (const auto& [c, name] : cases) {
    SCOPED_TRACE(name);
    int32_t child = HeldNewDataPage(entry, 51 + base), parent = HeldDataPage(entry, 80 + base, 52 + base);
    int32_t top = HeldDataPage(entry, 81 + base, 53 + base), other = HeldDataPage(entry, 82 + base, 54 + base);
    ASSERT_TRUE(child > 0 && parent > 0 && top > 0 && other > 0);
    const int32_t child_page = PageOf(child);
    for (int32_t b : {top, other}) EXPECT_EQ(DKMRK0(200, 22, b), 0);
    if (c == Case::kWaiterInNoSetWhenLinked) {
      EXPECT_EQ(DKPUT0(PUT_CHANGED_HOLD, parent), 0);
    } else {
      EXPECT_EQ(DKMRK0(200, 22, parent), 0);
    }
    // The waiter in no set has none of its own: a waiter of a later set
    // would have it written, as a page that must precede it.
    const bool chain = c != Case::kWaiterInNoSetWhenLinked;
    if (chain) {
      EXPECT_EQ(DKMRK0(top, 23, parent), 0);
    }
    if (c == Case::kLinkedFirst) {
      EXPECT_EQ(DKMRK0(200, 22, child), 0);
      EXPECT_EQ(DKMRK0(parent, 23, child), 0);
      EXPECT_EQ(DKMRK0(199, 22, child), 0);
    } else {
      EXPECT_EQ(DKMRK0(199, 22, child), 0);
      EXPECT_EQ(DKMRK0(parent, 23, child), 0);
    }
    if (c == Case::kWaiterInNoSetWhenLinked) {
      EXPECT_EQ(DKMRK0(200, 22, parent), 0);
    }
    for (int32_t b : {child, parent, top, other}) EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 199, 0};
    EXPECT_EQ(DKPAG0(pag, PAG_WRITE_SETS_UP_TO), 0);
    EXPECT_EQ(FileWord("waiterorder", child_page, 100), 51 + base);
    EXPECT_EQ(FileWord("waiterorder", 80 + base, 100), 52 + base);
    EXPECT_EQ(FileWord("waiterorder", 81 + base, 100), chain ? 53 + base : 0);
    // A page of the later set that names nothing of the earlier one waits.
    EXPECT_EQ(FileWord("waiterorder", 82 + base, 100), 0);
    base += 10;
  }
}

// Pages put in write sets with order values, and marked pages, are written
// by the DKPAG0 code that chooses them and by no other.
// Calls `on_write` with the unit of each write, before the write (the
// tests that install it write one databank).
class WatchingFileSystem : public PassThroughFileSystem {
 public:
  WatchingFileSystem(FileSystem& base, std::function<void(int64_t)> on_write)
      : PassThroughFileSystem(base), on_write_(std::move(on_write)) {}
  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override {
    on_write_(offset / kUnitBytes);
    return base_.WriteAt(handle, offset, buffer, count, done);
  }

 private:
  std::function<void(int64_t)> on_write_;
};

// A walk on another thread may move a page of a write set to a new page
// (the move carries the write set along) while the sets up to its order
// value are written: here the write of the first of two pages of set 5
// moves the second, which the scan had collected under its old page. The
// write still ends with the moved content on disk and nothing of the set
// left in the pool; left there, a commit would be secured without it.
TEST_F(BufferpoolTest, AWriteOfSetsTakesAPageMovedWhileItRuns) {
  int32_t entry = Create("movedwhile", 400);
  std::map<int32_t, int32_t> values;  // page: word 100
  for (int32_t value : {51, 52}) {
    int32_t b = HeldNewDataPage(entry, value);
    ASSERT_GT(b, 0);
    values[PageOf(b)] = value;
    EXPECT_EQ(DKMRK0(5, 22, b), 0);
    EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
  }
  int32_t moved_from = 0, moved_to = 0;
  WatchingFileSystem watching(fault_, [&](int64_t unit) {
    if (moved_from != 0 || values.count(static_cast<int32_t>(unit)) == 0) return;
    for (const auto& [page, value] : values)
      if (page != unit) moved_from = page;
    const int32_t b = Get(entry, moved_from, 2048, GET_UPDATE);
    ASSERT_GT(b, 0);
    moved_to = MoveToNewPage(entry, b);
    EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
  });
  mdr_install_file_system(&watching);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 5, 0};
  const int32_t rc = DKPAG0(pag, PAG_WRITE_SETS_UP_TO);
  mdr_install_file_system(&fault_);
  EXPECT_EQ(rc, 0);
  ASSERT_GT(moved_to, 0);
  EXPECT_EQ(FileWord("movedwhile", moved_to, 100), values[moved_from]);
  const int32_t b = Get(entry, moved_to, 2048, GET_SHARED);
  ASSERT_GT(b, 0);
  EXPECT_NE(area_[BufferBcb(b) + BCB_WS_STATUS], WS_IN_SET);
  DKPUT0(PUT_END_SHARED, b);
}

TEST_F(BufferpoolTest, WriteSetsAreWrittenByTheirOrderValues) {
  int32_t entry = Create("sets", 200);
  struct Page {
    int32_t page, code, order;
  };
  // Code 22 puts a page in a write set, 28 marks it.
  const Page pages[] = {{40, 22, 5}, {41, 22, 7}, {42, 22, 9}, {43, 28, 7}, {44, 28, 9}};
  for (const Page& p : pages) {
    int32_t b = Get(entry, p.page, 2048, GET_UPDATE);
    PageWords(b)[1] = 1;
    PageWords(b)[100] = p.page;
    EXPECT_EQ(DKMRK0(p.order, p.code, b), 0);
    DKPUT0(PUT_CHANGED, b);
  }
  struct Step {
    int32_t code, order;
    std::set<int32_t> on_disk;
  };
  const Step steps[] = {
      {4, 6, {}},                   // exactly 6: none
      {2, 7, {40, 41}},             // at most 7
      {6, 9, {40, 41, 44}},         // marked with 9
      {4, 9, {40, 41, 42, 44}},     // exactly 9
      {1, 0, {40, 41, 42, 43, 44}}  // every changed page of the databank
  };
  for (const Step& s : steps) {
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, s.order, 0};
    EXPECT_EQ(DKPAG0(pag, s.code), 0);
    for (const Page& p : pages)
      EXPECT_EQ(FileWord("sets", p.page, 100), s.on_disk.count(p.page) ? p.page : 0)
          << s.code << " " << p.page;
  }
  // A smaller order value moves a page to the earlier group; a marked page
  // stays marked when put in a set later only through code 22.
  int32_t b = Get(entry, 45, 2048, GET_UPDATE);
  EXPECT_EQ(DKMRK0(9, 22, b), 0);
  EXPECT_EQ(DKMRK0(4, 22, b), 0);
  EXPECT_EQ(DKMRK0(6, 22, b), 0);
  EXPECT_EQ(area_[BufferBcb(b) + BCB_ORDER], 4);
  EXPECT_EQ(DKMRK0(2, 28, b), 0);  // already in a set: not marked
  EXPECT_EQ(area_[BufferBcb(b) + BCB_WS_STATUS], WS_IN_SET);
  DKPUT0(PUT_UNCHANGED, b);
}

}  // namespace

namespace {

// A full disk while a page is taken past the end of the file is reported by
// the kind of databank, and takes nothing from the bitmap.
TEST_F(BufferpoolTest, AFullDiskStopsAllocationWithTheDatabanksOwnCode) {
  struct Case {
    int word;  // control-area word naming the entry, 0 for an ordinary databank
    int32_t rc;
  };
  const Case cases[] = {{0, -21}, {BP_LOG_ENTRY, -22}, {BP_TRANS_ENTRY, -23}, {BP_WORK_ENTRY, -24}};
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "full" + std::to_string(n++);
    int32_t entry = Create(name, 40, 10 + n);
    if (c.word != 0) area_[c.word] = entry;
    std::vector<uint8_t> before = Bitmap(entry);
    fault_.SetDiskFull(true);
    int32_t page = 0;
    EXPECT_EQ(Allocate(entry, 65536, &page), c.rc);  // units 32..63 lie past unit 39
    fault_.SetDiskFull(false);
    EXPECT_EQ(PageWord(Bitmap(entry).data(), BMP_FREE), PageWord(before.data(), BMP_FREE));
    ASSERT_EQ(Allocate(entry, 65536, &page), 0);
    EXPECT_EQ(page, 32);
    if (c.word != 0) area_[c.word] = 0;
  }
}

}  // namespace

namespace {

TEST_F(BufferpoolTest, PrefetchReadsOnlyWhenAnAsynchronousIoIsLeft) {
  int32_t entry = Create("prefetch", 200);
  area_[BP_ASYNC_IO_LEFT] = 0;
  int reads = fault_.reads();
  EXPECT_EQ(Get(entry, 60, 2048, GET_PREFETCH), 0);
  EXPECT_EQ(fault_.reads(), reads);
  EXPECT_EQ(Get(entry, 60, 2048, GET_SHARED_IF_RESIDENT), 0);
  area_[BP_ASYNC_IO_LEFT] = 5;
  EXPECT_EQ(Get(entry, 60, 2048, GET_PREFETCH), 0);
  EXPECT_EQ(fault_.reads(), reads + 1);
  int32_t b = Get(entry, 60, 2048, GET_SHARED_IF_RESIDENT);
  EXPECT_GT(b, 0);
  DKPUT0(PUT_END_SHARED, b);
  EXPECT_EQ(fault_.reads(), reads + 1);
}

TEST_F(BufferpoolTest, FreeingAHeldPageDropsItsBuffer) {
  int32_t entry = Create("freeheld", 200);
  int32_t page;
  ASSERT_EQ(Allocate(entry, 16384, &page), 0);
  int32_t b = Get(entry, page, 16384, GET_UPDATE);
  PageWords(b)[100] = 9;
  DKPUT0(PUT_CHANGED_HOLD, b);
  int32_t rq[REQ_WORDS] = {entry, page, 16384, 0, -1, 0};
  EXPECT_EQ(DKFRE0(rq, b), 0);
  EXPECT_EQ(Get(entry, page, 16384, GET_SHARED_IF_RESIDENT), 0);
  EXPECT_FALSE(BitmapBit(Bitmap(entry).data(), page));
  Close(entry);
  EXPECT_EQ(FileWord("freeheld", page, 100), 0);  // a freed page is not written
}

}  // namespace

namespace {

// Threads allocating and freeing pages of all sizes at once never get
// overlapping pages, and the bitmap ends up naming exactly the pages kept.
TEST_F(BufferpoolTest, ConcurrentAllocationNeverHandsOutAUnitTwice) {
  int32_t entry = Create("concurrent", 64);
  constexpr int kWorkers = 4;
  std::vector<std::vector<std::pair<int32_t, int32_t>>> kept(kWorkers);  // page, units
  std::vector<std::thread> workers;
  for (int t = 0; t < kWorkers; ++t)
    workers.emplace_back([&, t] {
      enqdeq_attach(enq_, 2 + t);
      std::mt19937 rng(100 + t);
      auto& mine = kept[t];
      for (int i = 0; i < 150; ++i) {
        if (!mine.empty() && rng() % 3 == 0) {
          auto [page, units] = mine.back();
          mine.pop_back();
          int32_t rq[REQ_WORDS] = {entry, page, units * kUnitBytes, 0, -1, 0};
          ASSERT_EQ(DKFRE0(rq, 0), 0);
        } else {
          int32_t size = kSizes[rng() % 3];
          int32_t rq[REQ_WORDS] = {entry, 0, size, 0, -1, 0};
          ASSERT_EQ(DKHLD0(rq, 0), 0);
          mine.emplace_back(rq[REQ_PAGE], size / kUnitBytes);
        }
      }
    });
  for (auto& w : workers) w.join();
  std::set<int32_t> used = {0, 1};
  for (auto& mine : kept)
    for (auto [page, units] : mine)
      for (int32_t u = 0; u < units; ++u) ASSERT_TRUE(used.insert(page + u).second) << page;
  std::vector<uint8_t> map = Bitmap(entry);
  for (int32_t bit = 0; bit < 2000; ++bit)
    ASSERT_EQ(BitmapBit(map.data(), bit), used.count(bit) == 1) << bit;
  EXPECT_EQ(PageWord(map.data(), BMP_FREE), kBitmapChunkUnits - static_cast<int32_t>(used.size()));
}

}  // namespace

namespace {

// Every buffer of a pool held: the next miss waits until one is given back,
// and then takes it.
TEST_F(BufferpoolTest, AMissWaitsForABufferWhenAllAreHeld) {
  int32_t entry = Create("busy64", 2000);
  int32_t n = Pages(65536);
  std::vector<int32_t> held;
  for (int32_t i = 0; i < n; ++i) {
    int32_t b = Get(entry, 64 + 32 * i, 65536, GET_SHARED);
    ASSERT_GT(b, 0) << i;
    held.push_back(b);
  }
  std::atomic<int32_t> got{0};
  std::thread late([&] {
    enqdeq_attach(enq_, 2);
    got = Get(entry, 64 + 32 * n, 65536, GET_SHARED);
  });
  DKPUT0(PUT_END_SHARED, held.back());
  late.join();
  EXPECT_EQ(got.load(), held.back());
  DKPUT0(PUT_END_SHARED, got.load());
  held.pop_back();
  for (int32_t b : held) DKPUT0(PUT_END_SHARED, b);
}

}  // namespace

namespace {

// A swap-out that hands deferred releases to the databank takes the
// databank's release lock only after the partition lock is given back: a
// thread waiting for that lock never holds other threads out of the
// partition.
TEST_F(BufferpoolTest, ASwapOutHandsItsReleasesOnOutsideThePartitionLock) {
  int32_t entry = Create("handoff", 4000);
  int32_t released;
  ASSERT_EQ(Allocate(entry, 65536, &released), 0);
  int32_t holder = Get(entry, 64, 65536, GET_UPDATE);
  ASSERT_GT(holder, 0);
  EXPECT_EQ(DKRPL0(holder, released, 7), 0);
  PageWords(holder)[100] = 64;
  EXPECT_EQ(DKPUT0(PUT_CHANGED, holder), 0);
  // A page whose bucket the holder's partition guards.
  int32_t pool = FindPool(65536);
  auto group = [&](int32_t page) {
    int32_t bucket = (page / 32 + entry) % area_[pool + PART_HASH_SIZE];
    return (area_[pool + PART_HASH] + bucket) % area_[pool + PART_GROUPS];
  };
  int32_t beside = 96;
  while (group(beside) != group(64)) beside += 32;
  int32_t resident = Get(entry, beside, 65536, GET_SHARED);
  ASSERT_GT(resident, 0);
  EXPECT_EQ(DKPUT0(PUT_END_SHARED, resident), 0);
  int32_t* release_lock = area_ + entry + DBE_RELEASE_LOCK;
  enqdeq_take(release_lock);
  // Misses of other pages until the holder is swapped out, which waits for
  // the release lock.
  std::thread miss([&] {
    enqdeq_attach(enq_, 2);
    for (int32_t i = 0; FileWord("handoff", 64, 100) != 64 && i < 4 * Pages(65536); ++i) {
      if (128 + 32 * i == beside) continue;
      int32_t b = Get(entry, 128 + 32 * i, 65536, GET_SHARED);
      ASSERT_GT(b, 0);
      DKPUT0(PUT_END_SHARED, b);
    }
  });
  while (std::atomic_ref<int32_t>(release_lock[ENQDEQ_HEAD]).load() == 0) std::this_thread::yield();
  // The pool's partition is free meanwhile: a page found in it is taken.
  EndsWithin(20, "a get beside a waiting hand-off", [&] {
    int32_t b = Get(entry, beside, 65536, GET_SHARED);
    EXPECT_GT(b, 0);
    if (b > 0) DKPUT0(PUT_END_SHARED, b);
  });
  enqdeq_give(release_lock);
  miss.join();
  EXPECT_EQ(FileWord("handoff", 64, 100), 64);
  // The next allocation runs the handed-on release.
  int32_t page;
  ASSERT_EQ(Allocate(entry, 65536, &page), 0);
  EXPECT_EQ(page, released);
}

}  // namespace

namespace {

// A page whose predecessor's write failed is never written, not even when
// it is swapped out as a victim: it keeps its changes, the failure is logged
// once, every later request for it learns of it, and a flush reports it.
TEST_F(BufferpoolTest, ASwapOutNeverWritesAPageWhosePredecessorFailed) {
  int32_t entry = Create("swapfail", 1000);
  int32_t a = HeldDataPage(entry, 40, 40), y = HeldDataPage(entry, 41, 41);
  ASSERT_TRUE(a > 0 && y > 0);
  EXPECT_EQ(DKMRK0(y, 23, a), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, y), 0);
  fault_.FailNthWrite(1, EIO);
  int32_t rq[REQ_WORDS] = {entry, 40, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, a), -44);
  log_.records.clear();
  int writes = fault_.writes();
  for (int32_t page = 100; page < 100 + 2 * Pages(2048); ++page) {
    int32_t b = Get(entry, page, 2048, GET_SHARED);
    ASSERT_GT(b, 0);
    DKPUT0(PUT_END_SHARED, b);
  }
  EXPECT_EQ(fault_.writes(), writes);
  EXPECT_EQ(FileWord("swapfail", 41, 100), 0);
  int dependent = 0;
  for (const LogRecord& r : log_.records)
    for (const std::string& line : r.lines)
      dependent += line.find("dependent page I/O error") != std::string::npos;
  EXPECT_EQ(dependent, 1);
  int32_t rc = 0;
  EXPECT_EQ(Get(entry, 41, 2048, GET_SHARED, &rc), -44);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_EQ(DKPAG0(pag, 1), -44);
  EXPECT_EQ(FileWord("swapfail", 41, 100), 0);
}

}  // namespace

namespace {

class SwapOutTest : public BufferpoolTest {
 protected:
  // The partition (its group index) whose lock guards a page's bucket.
  int32_t PartitionOf(int32_t entry, int32_t page, int32_t size) {
    int32_t pool = FindPool(size);
    int32_t bucket = (page / (size / kUnitBytes) + entry) % area_[pool + PART_HASH_SIZE];
    int32_t number = (area_[pool + PART_HASH] + bucket) % area_[pool + PART_GROUPS];
    return area_[pool + PART_GROUP_TABLE] + GROUP_WORDS * number;
  }

  // A 64K page from `from` on that is guarded by partition `part`.
  int32_t PageIn(int32_t entry, int32_t part, int32_t from) {
    while (PartitionOf(entry, from, 65536) != part) from += 32;
    return from;
  }

  // True when any partition lock of any pool is taken.
  bool AnyPartitionLockHeld() {
    for (int32_t pool = area_[BP_FIRST_PARTITION]; pool > 0; pool = area_[pool - 1])
      for (int32_t g = 0; g < area_[pool + PART_GROUPS]; ++g) {
        int32_t part = area_[pool + PART_GROUP_TABLE] + GROUP_WORDS * g;
        if (std::atomic_ref<int32_t>(area_[part + GROUP_LOCK + ENQDEQ_COUNT]).load() != 1)
          return true;
      }
    return false;
  }

  // Misses of 64K pages from 128 on until `done` holds (at most four rounds
  // of the pool), leaving out `skip`.
  template <class Done>
  void MissUntil(int32_t entry, int32_t skip, Done done) {
    for (int32_t i = 0; !done() && i < 4 * Pages(65536); ++i) {
      if (128 + 32 * i == skip) continue;
      int32_t b = Get(entry, 128 + 32 * i, 65536, GET_SHARED);
      ASSERT_GT(b, 0);
      DKPUT0(PUT_END_SHARED, b);
    }
  }
};

// The swap-out of a changed victim is written after the partition lock is
// given back: its write may have to write other pages first, which would
// take partition locks and buffer semaphores in the wrong order. While it is
// written, its partition serves other threads; a miss there waits for the
// write and then takes the victim, whose page reached disk first.
TEST_F(SwapOutTest, AVictimIsWrittenWithNoPartitionLockHeld) {
  int32_t entry = Create("swaplock", 4000);
  int32_t pool = FindPool(65536);
  Stamp(entry, 64, 65536, 64);
  int32_t part = PartitionOf(entry, 64, 65536);
  int32_t beside = PageIn(entry, part, 96);
  int32_t resident = Get(entry, beside, 65536, GET_SHARED);
  ASSERT_GT(resident, 0);
  DKPUT0(PUT_END_SHARED, resident);
  int32_t late_page = PageIn(entry, part, 3200);
  int32_t swapped = area_[pool + PART_STAT_SWAPPED];
  int32_t swaps = area_[entry + DBE_PAGES_SWAPPED];

  HookedFileSystem hooked(fault_);
  bool seen = false;
  std::atomic<int32_t> late_buffer{0};
  std::thread late;
  hooked.before_write = [&](int64_t offset) {
    if (offset != int64_t{64} * kUnitBytes || seen) return;
    seen = true;
    EXPECT_FALSE(AnyPartitionLockHeld());
    // The victim chosen at the last replacement is the one written.
    int32_t victim = area_[part + GROUP_VICTIM];
    ASSERT_NE(victim, 0);
    EXPECT_EQ(area_[victim + BCB_PAGE], 64);
    EndsWithin(20, "a get in the partition of a victim being written", [&] {
      int32_t b = Get(entry, beside, 65536, GET_SHARED_IF_RESIDENT);
      if (b > 0) DKPUT0(PUT_END_SHARED, b);
    });
    // A miss in the partition waits for this write (it counts itself as a
    // user of the victim meanwhile).
    late = std::thread([&] {
      enqdeq_attach(enq_, 3);
      late_buffer = Get(entry, late_page, 65536, GET_SHARED);
    });
    while (std::atomic_ref<int32_t>(area_[victim + BCB_USERS]).load() < 2)
      std::this_thread::yield();
  };
  mdr_install_file_system(&hooked);
  MissUntil(entry, beside, [&] { return seen; });
  if (late.joinable()) late.join();
  mdr_install_file_system(&fault_);
  ASSERT_TRUE(seen);
  EXPECT_EQ(FileWord("swaplock", 64, 100), 64);
  EXPECT_EQ(area_[pool + PART_STAT_SWAPPED], swapped + 1);
  EXPECT_EQ(area_[entry + DBE_PAGES_SWAPPED], swaps + 1);
  ASSERT_GT(late_buffer.load(), 0);
  EXPECT_EQ(area_[BufferBcb(late_buffer) + BCB_PAGE], late_page);
  DKPUT0(PUT_END_SHARED, late_buffer);
  int32_t again = Get(entry, 64, 65536, GET_SHARED);
  ASSERT_GT(again, 0);
  EXPECT_EQ(PageWords(again)[100], 64);
  DKPUT0(PUT_END_SHARED, again);
}

// A flush of the databank while a swap-out is writing one of its pages waits
// for that write: the page reads as unchanged while it is written, and a
// flush that passed over it answered at once. A group commit's flush did so
// and reported a commit done while its page was still on its way to the
// file; a kill at that moment lost the commit.
TEST_F(SwapOutTest, AFlushWaitsForASwapOutStillWriting) {
  int32_t entry = Create("swapflush", 4000);
  Stamp(entry, 64, 65536, 64);
  int32_t part = PartitionOf(entry, 64, 65536);
  HookedFileSystem hooked(fault_);
  bool seen = false;
  std::atomic<bool> flushed{false}, written{false};
  bool flushed_before_written = false;
  std::thread flush;
  hooked.before_write = [&](int64_t offset) {
    if (offset != int64_t{64} * kUnitBytes || seen) return;
    seen = true;
    int32_t victim = area_[part + GROUP_VICTIM];
    ASSERT_NE(victim, 0);
    ASSERT_EQ(area_[victim + BCB_PAGE], 64);
    flush = std::thread([&] {
      enqdeq_attach(enq_, 3);
      int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
      EXPECT_EQ(DKPAG0(pag, PAG_FLUSH), 0);
      flushed_before_written = !written;
      flushed = true;
    });
    // Either the flush answers, or it waits for this page (counted as one
    // more user of the victim).
    while (!flushed && std::atomic_ref<int32_t>(area_[victim + BCB_USERS]).load() < 2)
      std::this_thread::yield();
  };
  hooked.after_write = [&](int64_t offset) {
    if (offset == int64_t{64} * kUnitBytes) written = true;
  };
  mdr_install_file_system(&hooked);
  MissUntil(entry, 0, [&] { return seen; });
  if (flush.joinable()) flush.join();
  mdr_install_file_system(&fault_);
  ASSERT_TRUE(seen);
  EXPECT_FALSE(flushed_before_written);
  EXPECT_EQ(FileWord("swapflush", 64, 100), 64);
}

// The same when the swap-out's write fails: the flush that waited for it
// answers the failure (the change never reached the file), and so does the
// next one, since the pool keeps the unwritten change.
TEST_F(SwapOutTest, AFlushWaitingForASwapOutThatFailsAnswersTheFailure) {
  int32_t entry = Create("swapfail", 4000);
  Stamp(entry, 64, 65536, 64);
  int32_t part = PartitionOf(entry, 64, 65536);
  struct FailingFileSystem : HookedFileSystem {
    using HookedFileSystem::HookedFileSystem;
    int64_t fail_at = -1;
    int WriteAt(int handle, int64_t offset, const void* buffer, size_t count,
                size_t* done) override {
      if (offset != fail_at) return HookedFileSystem::WriteAt(handle, offset, buffer, count, done);
      if (before_write) before_write(offset);
      *done = 0;
      return EIO;
    }
  } failing(fault_);
  failing.fail_at = int64_t{64} * kUnitBytes;
  bool seen = false;
  std::atomic<bool> flushed{false};
  std::atomic<int32_t> flush_rc{0};
  std::thread flush;
  failing.before_write = [&](int64_t offset) {
    if (offset != failing.fail_at || seen) return;
    seen = true;
    int32_t victim = area_[part + GROUP_VICTIM];
    ASSERT_NE(victim, 0);
    flush = std::thread([&] {
      enqdeq_attach(enq_, 3);
      int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
      flush_rc = DKPAG0(pag, PAG_FLUSH);
      flushed = true;
    });
    while (!flushed && std::atomic_ref<int32_t>(area_[victim + BCB_USERS]).load() < 2)
      std::this_thread::yield();
  };
  mdr_install_file_system(&failing);
  MissUntil(entry, 0, [&] { return seen; });
  if (flush.joinable()) flush.join();
  failing.fail_at = -1;
  ASSERT_TRUE(seen);
  EXPECT_NE(flush_rc.load(), 0);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_NE(DKPAG0(pag, PAG_FLUSH), 0);
  mdr_install_file_system(&fault_);
  EXPECT_NE(FileWord("swapfail", 64, 100), 64);
}

// A caller may link pages it does not hold: a victim linked to after it was
// chosen waits for another page and is not reused, so the link never lands
// on the page that would have replaced it.
TEST_F(SwapOutTest, AVictimLinkedAfterItWasChosenIsNotReused) {
  int32_t entry = Create("relink", 4000);
  // Every buffer holds a page of the databank by now.
  MissUntil(entry, 0, [] { return false; });
  int32_t part = PartitionOf(entry, 128, 65536);
  int32_t victim = area_[part + GROUP_VICTIM];
  ASSERT_NE(victim, 0);
  int32_t victim_page = area_[victim + BCB_PAGE];
  ASSERT_EQ(area_[victim + BCB_DATABANK], entry);
  int32_t before = HeldDataPage(entry, 40, 40);
  ASSERT_GT(before, 0);
  EXPECT_EQ(DKMRK0(area_[victim + BCB_BUFFER], 23, before), 0);
  int32_t late = Get(entry, PageIn(entry, part, 3200), 65536, GET_SHARED);
  ASSERT_GT(late, 0);
  EXPECT_NE(BufferBcb(late), victim);
  EXPECT_EQ(area_[victim + BCB_PAGE], victim_page);
  EXPECT_EQ(area_[victim + BCB_WAITS_FOR], 1);
  EXPECT_EQ(DKGPA0(52, before), victim);
  DKPUT0(PUT_END_SHARED, late);
  // Once the page before it is written, the victim may go.
  int32_t rq[REQ_WORDS] = {entry, 40, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, before), 0);
  EXPECT_EQ(area_[victim + BCB_WAITS_FOR], 0);
}

}  // namespace

namespace {

// Threads that change more 64K pages than the pool holds meet each other's
// swap-outs (a miss waiting for one, a hit on a victim being written, a
// flush getting a page being written): every change reaches the file.
TEST_F(SwapOutTest, ConcurrentSwapOutsLoseNoChange) {
  int32_t entry = Create("swapbusy", 3000);
  int32_t pool = FindPool(65536), swapped = area_[pool + PART_STAT_SWAPPED];
  CountFromThreads(entry, "swapbusy", 65536, 64, 60, 4, 250, [&](int t, int i, int32_t) {
    if (t != 0 || i % 50 != 49) return;
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
    EXPECT_EQ(DKPAG0(pag, 1), 0);
  });
  EXPECT_GT(area_[pool + PART_STAT_SWAPPED], swapped);
}

}  // namespace
