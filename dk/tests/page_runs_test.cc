// Runs of pages: appending runs to page lists, taking runs whole from free
// runs or new pages, giving them back, and copying a run's pages into
// another databank, where the object reads back byte for byte.
#include "dk/page_runs.h"

#include <string>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/tests/large_object_fixture.h"

namespace {

using PageRunsTest = LargeObjectTest;

TEST_F(PageRunsTest, AppendingRunsMakesAndGrowsTheList) {
  int32_t list = 0, counter = 0;
  ASSERT_EQ(DKELC0(32, 65536, 5, &list, &counter), 0);
  EXPECT_EQ(storage_[list - 1], 100) << "a new list holds at least 100 pairs";
  EXPECT_EQ(counter, 11);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(storage_[list + 2 * k], 32 + 32 * k);
    EXPECT_EQ(storage_[list + 2 * k + 1], 65536);
  }
  EXPECT_EQ(storage_[list + 10], 0);
  struct {
    int32_t pages, capacity;
  } steps[] = {{95, 100}, {1, 150}, {200, 301}};
  int32_t first = 2;
  for (auto& s : steps) {
    ASSERT_EQ(DKELC0(first, 2048, s.pages, &list, &counter), 0);
    EXPECT_EQ(storage_[list - 1], s.capacity) << s.pages;
    first += s.pages;
  }
  EXPECT_EQ(counter, 2 * 301 + 1);
  EXPECT_EQ(storage_[list], 32) << "the pairs before moved with the list";
  EXPECT_EQ(storage_[list + 2 * 300], first - 1);
  EXPECT_EQ(storage_[list + 2 * 301], 0);
  EXPECT_EQ(DKELC0(2, 4096, 1, &list, &counter), -76);
  int32_t even = 4;
  EXPECT_EQ(DKELC0(2, 2048, 1, &list, &even), -43);
}

TEST_F(PageRunsTest, ARunIsTakenFromAFreeRunOfItsShapeOrFromNewPages) {
  const int64_t before = FreeUnits();
  // Two free runs: 3 middle pages and 2 small ones.
  int32_t runs = 0, first = 0;
  ASSERT_EQ(DKALC0(db_, 16384, 3, &runs, &first), 0);
  const int32_t middle = first;
  int32_t small = 0;
  ASSERT_EQ(DKALC0(db_, 2048, 2, &runs, &small), 0);
  ASSERT_EQ(runs, 0);
  for (auto [page, units, pages] : {std::tuple{middle, 8, 3}, {small, 1, 2}}) {
    int32_t r = storage_.NewList(1) - 1;  // any 4-word block will do
    storage_[r + FRR_LINK] = runs;
    storage_[r + FRR_PAGE] = page;
    storage_[r + FRR_UNITS] = units;
    storage_[r + FRR_PAGES] = pages;
    runs = r;
  }
  // Exactly that shape: taken, and off the list.
  ASSERT_EQ(DKALC0(db_, 2048, 2, &runs, &first), 0);
  EXPECT_EQ(first, small);
  EXPECT_EQ(storage_[runs + FRR_LINK], 0);
  EXPECT_EQ(storage_[runs + FRR_PAGE], middle);
  // No such shape: the smallest larger run goes back, new pages come.
  ASSERT_EQ(DKALC0(db_, 2048, 4, &runs, &first), 0);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(FreeUnits(), before - 2 - 4);
  ASSERT_EQ(DKDLC0(db_, first, 1, 4, &runs), 0);
  ASSERT_EQ(DKDLC0(db_, small, 1, 2, nullptr), 0);
  EXPECT_EQ(FreeUnits(), before);
}

TEST_F(PageRunsTest, PagesThatDoNotFollowEachOtherBecomeFreeRuns) {
  const int64_t before = FreeUnits();
  int32_t pages[4];
  for (int32_t& p : pages) {
    int32_t rq[REQ_WORDS] = {db_, 0, 2048, 0, -1, 0};
    ASSERT_EQ(DKHLD0(rq, 0), 0);
    p = rq[REQ_PAGE];
  }
  // A hole of one page between pages in use.
  int32_t rq[REQ_WORDS] = {db_, pages[1], 2048, 0, -1, 0};
  ASSERT_EQ(DKFRE0(rq, 0), 0);
  int32_t runs = 0, first = 0;
  ASSERT_EQ(DKALC0(db_, 2048, 3, &runs, &first), 0);
  EXPECT_EQ(first, pages[3] + 1) << "three pages in a row after the last one in use";
  ASSERT_NE(runs, 0);
  EXPECT_EQ(storage_[runs + FRR_PAGE], pages[1]);
  EXPECT_EQ(storage_[runs + FRR_UNITS], 1);
  EXPECT_EQ(storage_[runs + FRR_PAGES], 1);
  EXPECT_EQ(storage_[runs + FRR_LINK], 0);
  ASSERT_EQ(DKDLC0(db_, first, 1, 3, &runs), 0);
  EXPECT_EQ(runs, 0);
  for (int32_t p : {pages[0], pages[2], pages[3]}) {
    int32_t r[REQ_WORDS] = {db_, p, 2048, 0, -1, 0};
    ASSERT_EQ(DKFRE0(r, 0), 0);
  }
  EXPECT_EQ(FreeUnits(), before);
}

TEST_F(PageRunsTest, ARunCopiedIntoAnotherDatabankReadsBackTheSame) {
  const int32_t other = Create("copy", 2000, 6);
  // An object on a run of three middle pages.
  int32_t source_runs = 0, source = 0, counter = 0;
  ASSERT_EQ(DKALC0(db_, 16384, 3, &source_runs, &source), 0);
  Object o;
  ASSERT_EQ(DKELC0(source, 16384, 3, &o.list, &counter), 0);
  o.identity[0] = 4;
  const int64_t length = 3 * 16344;
  auto pages = Pages(o);
  ASSERT_EQ(pages.size(), 3u);
  const std::string bytes = Pattern(length, 12);
  ASSERT_EQ(Put(o, 0, bytes), 0);
  int32_t runs = 0, target = 0;
  ASSERT_EQ(DKALC0(other, 16384, 3, &runs, &target), 0);
  int32_t l1 = 0, l2 = 0;
  ASSERT_EQ(DKCLP1(db_, other, pages[0].first, target, 16384, 3, &l1, &l2), 0);
  Object copy = o;
  copy.list = l2;
  auto b = Request(copy);
  b[LOB_DID] = 6;
  b[LOB_COUNT] = static_cast<int32_t>(length);
  std::string back(static_cast<size_t>(length), '\0');
  DKEXE2(DKF_GLO1, b.data(), back.data());
  EXPECT_EQ(b[LOB_STATUS], 0);
  EXPECT_EQ(back, bytes);
  // Lists of different capacities are no pair to copy.
  int32_t three = storage_.NewList(4);
  storage_[three] = target;
  storage_[three + 1] = 16384;
  EXPECT_EQ(DKCLP0(db_, other, l1, three), -43);
  EXPECT_EQ(DKDLC0(other, target, 8, 3, &runs), 0);
}

// A free run whose middle page was freed elsewhere: giving the run back
// fails there, and the pages not freed stay on the list, so that none is
// lost. Both ways of giving free runs back: DKDLC0 with the list, and
// DKALC0 when the run is the smallest larger than the one wanted.
TEST_F(PageRunsTest, AFreeRunThatFailsPartWayKeepsItsPagesNotFreed) {
  for (bool through_alc : {false, true}) {
    SCOPED_TRACE(through_alc ? "DKALC0" : "DKDLC0");
    const int64_t before = FreeUnits();
    int32_t runs = 0, first = 0;
    ASSERT_EQ(DKALC0(db_, 2048, 3, &runs, &first), 0);
    ASSERT_EQ(runs, 0);
    runs = storage_.NewList(1) - 1;  // any 4-word block will do
    storage_[runs + FRR_LINK] = 0;
    storage_[runs + FRR_PAGE] = first;
    storage_[runs + FRR_UNITS] = 1;
    storage_[runs + FRR_PAGES] = 3;
    int32_t rq[REQ_WORDS] = {db_, first + 1, 2048, 0, -1, 0};
    ASSERT_EQ(DKFRE0(rq, 0), 0);
    int32_t taken = 0;
    const int32_t rc =
        through_alc ? DKALC0(db_, 2048, 1, &runs, &taken) : DKDLC0(db_, 0, 1, 0, &runs);
    EXPECT_EQ(rc, -49);
    EXPECT_EQ(FreeUnits(), before - 1) << "the last page is still held";
    ASSERT_NE(runs, 0);
    EXPECT_EQ(storage_[runs + FRR_PAGE], first + 1);
    EXPECT_EQ(storage_[runs + FRR_UNITS], 1);
    EXPECT_EQ(storage_[runs + FRR_PAGES], 2);
    EXPECT_EQ(storage_[runs + FRR_LINK], 0);
    int32_t last[REQ_WORDS] = {db_, first + 2, 2048, 0, -1, 0};
    ASSERT_EQ(DKFRE0(last, 0), 0);
    EXPECT_EQ(FreeUnits(), before);
  }
}

}  // namespace
