// Large objects: the page sizes an object takes, round trips of objects from
// 0 bytes to 10 MB, reads past the end, puts that do not continue a page,
// frees that give every unit back, and requests with bad input.
#include "dk/large_object.h"

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/page_runs.h"
#include "dk/tests/large_object_fixture.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

constexpr int BTR_WORDS_FOR_TEST = 8;

using PageSizes = std::vector<int32_t>;

PageSizes SizesOf(const std::vector<std::pair<int32_t, int32_t>>& pages) {
  PageSizes sizes;
  for (auto& p : pages) sizes.push_back(p.second);
  return sizes;
}

struct SizeCase {
  int64_t length;
  PageSizes sizes;
};

TEST_F(LargeObjectTest, AnObjectTakesTheSmallestPagesThatHoldItsRest) {
  const SizeCase cases[] = {
      {0, {}},
      {1, {2048}},
      {2008, {2048}},
      {2009, {16384}},
      {16344, {16384}},
      {16345, {65536}},
      {65496 + 1, {65536, 2048}},
      {65496 + 2009, {65536, 16384}},
      {2 * 65496 + 16345, {65536, 65536, 65536}},
  };
  int32_t id = 1;
  for (const SizeCase& c : cases) {
    Object o;
    ASSERT_EQ(Allocate(&o, c.length, 8, id++), 0) << c.length;
    EXPECT_EQ(SizesOf(Pages(o)), c.sizes) << c.length;
    for (auto& [page, size] : Pages(o)) EXPECT_EQ(page % (size / 2048), 0);
    EXPECT_EQ(Free(o), 0);
  }
}

class SmallPagesTest : public LargeObjectTest {
 protected:
  void Shape() override {
    LargeObjectTest::Shape();
    params_.pages[PG_64K] = 0;
  }
};

TEST_F(SmallPagesTest, WithoutLargePagesTheRestGoesOnMiddleAndSmallPages) {
  const SizeCase cases[] = {
      {16345, {16384, 2048}},
      {2 * 16344 + 2009, {16384, 16384, 16384}},
      {16344 + 2008, {16384, 2048}},
  };
  for (const SizeCase& c : cases) {
    Object o;
    ASSERT_EQ(Allocate(&o, c.length, 8), 0);
    EXPECT_EQ(SizesOf(Pages(o)), c.sizes) << c.length;
    std::string bytes = Pattern(c.length, 7);
    ASSERT_EQ(Put(o, 0, bytes), 0);
    EXPECT_EQ(Get(o, 0, static_cast<int32_t>(c.length)), bytes);
    EXPECT_EQ(Free(o), 0);
  }
}

TEST_F(LargeObjectTest, ObjectsRoundTripByteForByteAndFreeEveryUnit) {
  const int64_t before = FreeUnits();
  const int64_t lengths[] = {0, 1, 10 * 1024 * 1024};
  for (int64_t length : lengths) {
    Object o;
    ASSERT_EQ(Allocate(&o, length, 400, static_cast<int32_t>(length % 1000) + 1), 0);
    std::string bytes = Pattern(length, static_cast<uint32_t>(length));
    // Written in pieces that cross page boundaries at odd places.
    for (int64_t at = 0; at < length;) {
      int64_t n = std::min<int64_t>(length - at, 100003);
      ASSERT_EQ(Put(o, at, bytes.substr(static_cast<size_t>(at), static_cast<size_t>(n))), 0);
      at += n;
    }
    FlushAndDrop();
    EXPECT_EQ(Get(o, 0, static_cast<int32_t>(length) + 10), bytes) << length;
    EXPECT_EQ(Free(o), 0);
    EXPECT_EQ(storage_[o.list], 0) << "the list is emptied";
    EXPECT_EQ(FreeUnits(), before) << length;
  }
}

TEST_F(LargeObjectTest, AGetPastTheEndDeliversOnlyTheBytesThere) {
  Object o;
  const int64_t length = 65496 + 3000;  // a full large page, then a middle one
  ASSERT_EQ(Allocate(&o, length), 0);
  std::string bytes = Pattern(length, 3);
  ASSERT_EQ(Put(o, 0, bytes), 0);
  struct {
    int64_t offset;
    int32_t count;
  } reads[] = {{length - 10, 100},  {65496 - 5, 100000},    {length, 10},
               {length + 5000, 10}, {int64_t{1} << 40, 10}, {0, 0}};
  for (auto& r : reads) {
    int64_t from = std::min(r.offset, length);
    int64_t n = std::min<int64_t>(r.count, length - from);
    EXPECT_EQ(Get(o, r.offset, r.count),
              bytes.substr(static_cast<size_t>(from), static_cast<size_t>(n)))
        << r.offset;
  }
}

TEST_F(LargeObjectTest, APutThatDoesNotContinueItsPageIsRefused) {
  Object o;
  ASSERT_EQ(Allocate(&o, 5000), 0);
  ASSERT_EQ(Put(o, 0, std::string(100, 'a')), 0);
  EXPECT_EQ(Put(o, 50, "xx"), -55) << "inside the data";
  EXPECT_EQ(Put(o, 200, "xx"), -55) << "past the data";
  EXPECT_EQ(Put(o, 100, std::string(20, 'b')), 0);
  EXPECT_EQ(Get(o, 0, 5000), std::string(100, 'a') + std::string(20, 'b'));
  // The same after the page went to disk and came back.
  FlushAndDrop();
  EXPECT_EQ(Put(o, 119, "x"), -55);
  EXPECT_EQ(Put(o, 120, "c"), 0);
  EXPECT_EQ(Get(o, 118, 10), "bbc");
}

TEST_F(LargeObjectTest, APutForATransactionReachesTheFileAtOnce) {
  int32_t begin[BTR_WORDS_FOR_TEST] = {};
  DKBTR1(begin);
  ASSERT_EQ(begin[BTR_MODE], 0);
  const int32_t tss = begin[BTR_TSS];
  Object o;
  ASSERT_EQ(Allocate(&o, 3000), 0);
  std::string bytes = Pattern(3000, 9);
  ASSERT_EQ(Put(o, 0, bytes, tss), 0);
  int32_t page = Pages(o)[0].first;
  std::vector<char> unit = FileUnit("lob", page);
  EXPECT_EQ(PageWord(reinterpret_cast<uint8_t*>(unit.data()), LOP_COUNT), 3000);
  EXPECT_EQ(std::string(unit.data() + LOP_DATA_BYTE, 100), bytes.substr(0, 100));
  // An entry that is free again, or no entry at all, is no transaction.
  DKFreeTss(tss);
  EXPECT_EQ(Put(o, 3000 - 1, "x", tss), -85);
  EXPECT_EQ(Put(o, 0, "x", tss + 1), -85);
}

// The frees by runs: pages that follow each other in the file.
TEST_F(LargeObjectTest, FreeByRunsGivesBackEveryPageOfEachRun) {
  const int64_t before = FreeUnits();
  std::vector<int32_t> block(FLO_FIRST_RUN + 2 * RUN_WORDS, 0);
  for (int r = 0; r < 2; ++r) {
    int32_t size = r == 0 ? 2048 : 16384;
    int32_t first = 0;
    for (int k = 0; k < 3; ++k) {
      int32_t rq[REQ_WORDS] = {db_, 0, size, 0, -1, 0};
      ASSERT_EQ(DKHLD0(rq, 0), 0);
      if (k == 0) first = rq[REQ_PAGE];
      ASSERT_EQ(rq[REQ_PAGE], first + k * size / 2048) << "pages of a new file follow each other";
    }
    int32_t* run = block.data() + FLO_FIRST_RUN + r * RUN_WORDS;
    run[RUN_PAGE] = first;
    run[RUN_PAGE_SIZE] = size;
    run[RUN_PAGES] = 3;
  }
  EXPECT_EQ(FreeUnits(), before - 3 - 24);
  block[FLO_RUNS] = 2;
  int32_t did = 5;
  DKEXE2(DKF_FLO1, block.data(), &did);
  EXPECT_EQ(block[FLO_STATUS], 0);
  EXPECT_EQ(FreeUnits(), before);
  block[FLO_RUNS] = 0;
  DKEXE2(DKF_FLO1, block.data(), &did);
  EXPECT_EQ(block[FLO_STATUS], 0);
}

TEST_F(LargeObjectTest, FreeByRunsRefusesBadRunsBeforeFreeingAnything) {
  struct {
    int32_t page, size, pages, expected;
  } cases[] = {
      {64, 4096, 1, -76},               // no page size
      {0, 2048, 1, -43},                // the bitmap page
      {1, 2048, 1, -43},                // the header page
      {12, 16384, 1, -43},              // not aligned to its size
      {16255, 2048, 2, -43},            // runs into the next bitmap page
      {16256, 65536, 1, -43},           // a large page on the next bitmap page
      {32, 65536, -1, -43},             // a negative count
      {INT32_MAX - 31, 65536, 3, -43},  // past the largest page number
  };
  const int64_t before = FreeUnits();
  int32_t did = 5;
  for (auto& c : cases) {
    std::vector<int32_t> block(FLO_FIRST_RUN + 2 * RUN_WORDS, 0);
    block[FLO_RUNS] = 2;
    // A sound first run that must stay allocated.
    int32_t rq[REQ_WORDS] = {db_, 0, 2048, 0, -1, 0};
    ASSERT_EQ(DKHLD0(rq, 0), 0);
    block[FLO_FIRST_RUN + RUN_PAGE] = rq[REQ_PAGE];
    block[FLO_FIRST_RUN + RUN_PAGE_SIZE] = 2048;
    block[FLO_FIRST_RUN + RUN_PAGES] = 1;
    int32_t* run = block.data() + FLO_FIRST_RUN + RUN_WORDS;
    run[RUN_PAGE] = c.page;
    run[RUN_PAGE_SIZE] = c.size;
    run[RUN_PAGES] = c.pages;
    DKEXE2(DKF_FLO1, block.data(), &did);
    EXPECT_EQ(block[FLO_STATUS], c.expected) << c.page;
    EXPECT_EQ(FreeUnits(), before - 1) << c.page;
    block[FLO_RUNS] = 1;
    DKEXE2(DKF_FLO1, block.data(), &did);
    ASSERT_EQ(block[FLO_STATUS], 0);
  }
  did = 99;
  std::vector<int32_t> block(FLO_FIRST_RUN, 0);
  DKEXE2(DKF_FLO1, block.data(), &did);
  EXPECT_EQ(block[FLO_STATUS], -45);
}

TEST_F(LargeObjectTest, BadRequestsAreRefusedWithoutTouchingAPage) {
  Object o;
  ASSERT_EQ(Allocate(&o, 5000, 4), 0);
  ASSERT_EQ(Put(o, 0, std::string(4000, 'q')), 0);
  const int64_t before = FreeUnits();

  Object small;
  EXPECT_EQ(Allocate(&small, int64_t{1} << 31, 4, 2), -43) << "more pages than the list holds";
  EXPECT_EQ(Allocate(&small, int64_t{1} << 40, 4, 2), -43);
  EXPECT_EQ(Allocate(&small, -1, 4, 2), -43);
  EXPECT_EQ(FreeUnits(), before) << "no page taken";

  EXPECT_EQ(Put(o, -1, "x"), -43);
  EXPECT_EQ(Put(o, int64_t{-1} << 40, "x"), -43);
  EXPECT_EQ(Put(o, 4000, std::string(20000, 'x')), -43) << "more than the pages hold";
  EXPECT_EQ(Put(o, INT64_MAX, "x"), -43);
  int32_t rc = 0;
  EXPECT_EQ(Get(o, -5, 10, &rc), "");
  EXPECT_EQ(rc, -43);
  auto b = Request(o);
  b[LOB_COUNT] = -1;
  std::string out(10, '\0');
  DKEXE2(DKF_GLO1, b.data(), out.data());
  EXPECT_EQ(b[LOB_STATUS], -43);

  // Lists that are not in the storage, or whose capacity runs past it.
  for (int32_t list : {0, 1, -7, storage_.Size() + 1, storage_.Size() + 100}) {
    Object bad = o;
    bad.list = list;
    EXPECT_EQ(Put(bad, 0, "x"), -43) << list;
    EXPECT_EQ(Get(bad, 0, 10, &rc), "");
    EXPECT_EQ(rc, -43) << list;
    EXPECT_EQ(Free(bad), -43) << list;
  }
  Object huge;
  huge.list = storage_.NewList(1);
  storage_[huge.list - 1] = 1 << 28;
  EXPECT_EQ(Get(huge, 0, 10, &rc), "");
  EXPECT_EQ(rc, -43);

  // A listed page of no page size, or one that is a bitmap page.
  Object listed;
  listed.list = storage_.NewList(2);
  for (auto [page, size, expected] :
       {std::tuple{2, 4096, -76}, {1, 2048, -43}, {16256, 2048, -43}}) {
    storage_[listed.list] = page;
    storage_[listed.list + 1] = size;
    EXPECT_EQ(Get(listed, 0, 10, &rc), "");
    EXPECT_EQ(rc, expected);
    EXPECT_EQ(Free(listed), expected);
  }
  auto unknown = Request(o);
  unknown[LOB_DID] = 99;
  DKEXE2(DKF_GLO1, unknown.data(), out.data());
  EXPECT_EQ(unknown[LOB_STATUS], -45);
  EXPECT_EQ(FreeUnits(), before);
  EXPECT_EQ(Get(o, 0, 5000), std::string(4000, 'q'));
}

TEST_F(LargeObjectTest, FreedAndNeverWrittenObjectsAreNotReadAsData) {
  Object never;
  ASSERT_EQ(Allocate(&never, 3000, 4, 1), 0);
  int32_t rc = 0;
  EXPECT_EQ(Get(never, 0, 10, &rc), "");
  EXPECT_EQ(rc, -55) << "a page no put reached";

  Object a;
  ASSERT_EQ(Allocate(&a, 3000, 4, 2), 0);
  ASSERT_EQ(Put(a, 0, std::string(3000, 'a')), 0);
  const std::vector<int32_t> stale(&storage_[a.list], &storage_[a.list] + 4);
  ASSERT_EQ(Free(a), 0);
  EXPECT_EQ(Get(a, 0, 10), "") << "a freed list names no page";
  EXPECT_EQ(Free(a), 0);
  // Its page taken by another object: a stale copy of the list reads it no more.
  Object b;
  ASSERT_EQ(Allocate(&b, 3000, 4, 3), 0);
  ASSERT_EQ(Pages(b)[0].first, stale[0]);
  ASSERT_EQ(Put(b, 0, std::string(3000, 'b')), 0);
  std::copy(stale.begin(), stale.end(), &storage_[a.list]);
  EXPECT_EQ(Get(a, 0, 10, &rc), "");
  EXPECT_EQ(rc, -55);
}

TEST_F(LargeObjectTest, AFreeThatFailsPartWayKeepsOnlyThePagesNotFreed) {
  Object o;
  ASSERT_EQ(Allocate(&o, 2 * 65496 + 1, 4), 0);
  auto pages = Pages(o);
  ASSERT_EQ(pages.size(), 3u);
  // The second page was freed elsewhere: freeing it again fails.
  int32_t rq[REQ_WORDS] = {db_, pages[1].first, pages[1].second, 0, -1, 0};
  ASSERT_EQ(DKFRE0(rq, 0), 0);
  EXPECT_EQ(Free(o), -49);
  auto left = Pages(o);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0], pages[1]);
  EXPECT_EQ(left[1], pages[2]);
}

// The same for a free by runs: the block keeps only the runs and pages not
// freed, so that a page freed and taken again by another object is never
// freed a second time.
TEST_F(LargeObjectTest, AFreeByRunsThatFailsPartWayKeepsOnlyThePagesNotFreed) {
  const int64_t before = FreeUnits();
  int32_t runs = 0, a = 0, b = 0;
  ASSERT_EQ(DKALC0(db_, 2048, 3, &runs, &a), 0);
  ASSERT_EQ(DKALC0(db_, 16384, 2, &runs, &b), 0);
  std::vector<int32_t> block(FLO_FIRST_RUN + 2 * RUN_WORDS, 0);
  block[FLO_RUNS] = 2;
  const int32_t given[2][RUN_WORDS] = {{a, 11, 2048, 3}, {b, 12, 16384, 2}};
  std::copy(&given[0][0], &given[0][0] + 2 * RUN_WORDS, block.begin() + FLO_FIRST_RUN);
  int32_t rq[REQ_WORDS] = {db_, a + 1, 2048, 0, -1, 0};
  ASSERT_EQ(DKFRE0(rq, 0), 0);
  int32_t did = 5;
  DKEXE2(DKF_FLO1, block.data(), &did);
  EXPECT_EQ(block[FLO_STATUS], -49);
  EXPECT_EQ(FreeUnits(), before - 1 - 16) << "the third small page and the run of middle pages";
  const std::vector<int32_t> left = {a + 1, 11, 2048, 2, b, 12, 16384, 2};
  EXPECT_EQ(block[FLO_RUNS], 2);
  EXPECT_EQ(std::vector<int32_t>(block.begin() + FLO_FIRST_RUN, block.end()), left);
  // Its first page taken again: a second free fails where the first did and
  // leaves it alone.
  int32_t again[REQ_WORDS] = {db_, 0, 2048, 0, -1, 0};
  ASSERT_EQ(DKHLD0(again, 0), 0);
  ASSERT_EQ(again[REQ_PAGE], a);
  DKEXE2(DKF_FLO1, block.data(), &did);
  EXPECT_EQ(block[FLO_STATUS], -49);
  EXPECT_EQ(FreeUnits(), before - 2 - 16);
  // Past the failing page, the rest frees.
  block[FLO_FIRST_RUN + RUN_PAGE] = a + 2;
  block[FLO_FIRST_RUN + RUN_PAGES] = 1;
  DKEXE2(DKF_FLO1, block.data(), &did);
  EXPECT_EQ(block[FLO_STATUS], 0);
  EXPECT_EQ(FreeUnits(), before - 1);
}

TEST_F(LargeObjectTest, DamagedPagesFromTheFileAreRefused) {
  Object o;
  ASSERT_EQ(Allocate(&o, 2000, 4), 0);
  ASSERT_EQ(Put(o, 0, std::string(1000, 'd')), 0);
  const int32_t page = Pages(o)[0].first;
  struct Damage {
    int word;
    int32_t value;
  } damages[] = {{LOP_COUNT, 5000},    {LOP_COUNT, -3},     {LOP_COUNT, 999},
                 {LOP_LAST_WORD, 511}, {LOP_LAST_WORD, -1}, {LobTrailerWord(1000), 7},
                 {LOP_IDENTITY, 42}};
  for (const Damage& d : damages) {
    FlushAndDrop();
    std::vector<char> unit = FileUnit("lob", page);
    int32_t saved = PageWord(reinterpret_cast<uint8_t*>(unit.data()), d.word);
    auto patch = [&](int32_t v) {
      std::FILE* f = std::fopen(Path("lob").c_str(), "r+b");
      ASSERT_NE(f, nullptr);
      std::fseek(f, static_cast<long>(page) * kUnitBytes + 4 * d.word, SEEK_SET);
      std::fwrite(&v, 4, 1, f);
      std::fclose(f);
    };
    patch(d.value);
    int32_t rc = 0;
    EXPECT_EQ(Get(o, 0, 2000, &rc), "") << d.word;
    EXPECT_EQ(rc, -55) << d.word;
    if (d.word != LOP_IDENTITY) {
      EXPECT_EQ(Put(o, 1000, "x"), -55) << d.word;
    }
    FlushAndDrop();
    patch(saved);
  }
  FlushAndDrop();
  EXPECT_EQ(Get(o, 0, 2000), std::string(1000, 'd'));
}

// Threads that allocate, put, get and free objects of their own in one
// databank at once: every object reads back byte for byte, and every unit
// is back in the bitmaps at the end.
TEST_F(LargeObjectTest, ObjectsOfConcurrentThreadsStayApart) {
  constexpr int kRunning = 4, kObjects = 5;
  const int64_t before = FreeUnits();
  // Lists made beforehand: the test's word storage is not for threads.
  std::vector<Object> objects(kRunning * kObjects);
  for (Object& o : objects) o.list = storage_.NewList(16);
  std::atomic<int> wrong{0};
  std::vector<std::thread> running;
  for (int t = 0; t < kRunning; ++t)
    running.emplace_back([&, t] {
      enqdeq_attach(enq_, 2 + t);
      for (int i = 0; i < kObjects; ++i) {
        Object& o = objects[t * kObjects + i];
        const int64_t length = (t * 7919 + i * 30011) % 150000;
        o.identity[0] = t * 100 + i + 1;
        auto a = Request(o, length, LOB_LENGTH);
        int32_t index = o.list;
        DKEXE2(DKF_ALO1, a.data(), &index);
        std::string bytes = Pattern(length, static_cast<uint32_t>(t * 10 + i));
        auto p = Request(o, 0);
        p[LOB_COUNT] = static_cast<int32_t>(length);
        DKEXE2(DKF_PLO1, p.data(), bytes.data());
        std::string out(static_cast<size_t>(length) + 5, '\0');
        auto g = Request(o, 0);
        g[LOB_COUNT] = static_cast<int32_t>(out.size());
        DKEXE2(DKF_GLO1, g.data(), out.data());
        auto f = Request(o);
        DKEXE2(DKF_FLX1, f.data(), nullptr);
        if (a[LOB_STATUS] != 0 || p[LOB_STATUS] != 0 || g[LOB_STATUS] != 0 ||
            g[LOB_COUNT] != length || out.substr(0, static_cast<size_t>(length)) != bytes ||
            f[LOB_STATUS] != 0)
          ++wrong;
      }
    });
  for (std::thread& r : running) r.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(FreeUnits(), before);
}

TEST_F(LargeObjectTest, WithoutTheWordStorageEveryRequestIsRefused) {
  Object o;
  ASSERT_EQ(Allocate(&o, 100, 4), 0);
  TestWordStorage::Uninstall();
  log_.records.clear();
  EXPECT_EQ(Put(o, 0, "x"), -43);
  EXPECT_EQ(Free(o), -43);
  bool named = false;
  for (auto& r : log_.records)
    for (auto& line : r.lines)
      named |= line.find("word storage service not installed") != std::string::npos;
  EXPECT_TRUE(named);
  storage_.Install();
  EXPECT_EQ(Free(o), 0);
}

}  // namespace
