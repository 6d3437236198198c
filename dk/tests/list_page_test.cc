// Ordered writes of list pages (word 1 = -40, the directory pages of large
// objects): the pages a list names are written in list order before it, and
// the list page on disk never names a page whose contents are not on disk,
// also when one of those writes fails.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/tests/bufferpool_fixture.h"

namespace {

constexpr int32_t kList = 40;       // the list page, a 2048-byte page
constexpr int32_t kListed = 16384;  // the size of the pages it lists
constexpr int32_t kFirstSlot = 6;

class ListPageTest : public PageTest {
 protected:
  // Makes the list page empty (word 5, the last slot in use, and the
  // progress mark just before the first slot) and leaves it held.
  int32_t NewList(int32_t entry, int32_t page = kList) {
    int32_t list = Get(entry, page, 2048, GET_UPDATE);
    EXPECT_GT(list, 0);
    PageWords(list)[1] = -40;
    PageWords(list)[2] = kListed;
    PageWords(list)[5] = kFirstSlot - 1;
    EXPECT_EQ(DKMRK0(kFirstSlot - 1, 24, list), 0);
    return list;
  }

  // Appends pages to the held list page: each is stamped, linked to the list
  // and released changed.
  void Append(int32_t entry, int32_t list, const std::vector<int32_t>& pages, int32_t stamp) {
    for (int32_t page : pages) {
      int32_t b = Get(entry, page, kListed, GET_UPDATE);
      ASSERT_GT(b, 0);
      PageWords(b)[1] = 1;
      PageWords(b)[100] = page + stamp;
      stamps_[page] = page + stamp;
      EXPECT_EQ(DKMRK0(list, 23, b), 0);
      EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
      int32_t* words = PageWords(list);
      words[++words[5]] = page;
    }
  }

  // The list page on disk names only pages whose latest contents reached
  // disk, and its entries are those of the list in the pool. Returns word 5
  // of the list on disk, its last slot (0: never written).
  int32_t CheckDisk(const std::string& name, int32_t list) {
    int32_t end = FileWord(name, kList, 5);
    if (FileWord(name, kList, 1) != -40) {
      EXPECT_EQ(end, 0);
      return 0;
    }
    EXPECT_LE(end, PageWords(list)[5]);
    for (int32_t slot = kFirstSlot; slot <= end; ++slot) {
      int32_t page = FileWord(name, kList, slot);
      EXPECT_EQ(page, PageWords(list)[slot]) << slot;
      EXPECT_EQ(FileWord(name, page, 100), stamps_[page]) << "slot " << slot << " page " << page;
    }
    return end;
  }

  std::map<int32_t, int32_t> stamps_;
};

// One listed page's write fails. Flushing the list's write set writes the
// pages in list order and the list page up to the entry before the failed
// one; a flush of the whole databank writes them first in pool order, and
// the list page, whose predecessor failed, waits whole.
TEST_F(ListPageTest, AFailedListedWriteIsNeverNamedOnDisk) {
  const std::vector<int32_t> pages = {96, 64, 88, 72, 80};
  struct Case {
    int32_t code;      // DKPAG0 code
    int fail;          // the nth write from the flush fails (0: none)
    int32_t end;       // word 5 of the list page on disk
    int32_t progress;  // progress mark afterwards
  };
  const Case cases[] = {
      {4, 0, 10, 10}, {4, 1, 0, 5},   {4, 2, 6, 6}, {4, 3, 7, 7},
      {4, 5, 9, 9},   {1, 0, 10, 10}, {1, 2, 0, 5}, {1, 5, 0, 5},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " fail " << c.fail);
    std::string name = "list" + std::to_string(n++);
    int32_t entry = Create(name, 400, 10 + n);
    stamps_.clear();
    int32_t list = NewList(entry);
    Append(entry, list, pages, 1000);
    EXPECT_EQ(DKMRK0(7, 22, list), 0);
    EXPECT_EQ(DKGPA0(51, list), 5);
    EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
    if (c.fail > 0) fault_.FailNthWrite(c.fail, EIO);
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 7, 0};
    int32_t rc = DKPAG0(pag, c.code);
    if (c.fail == 0) {
      EXPECT_EQ(rc, 0);
    } else {
      EXPECT_LT(rc, 0);
      EXPECT_LT(pag[3], 0);
    }
    // The list page's buffer still holds it: it is either clean or keeps
    // its changes (a page whose write was refused is never replaced).
    EXPECT_EQ(CheckDisk(name, list), c.end);
    EXPECT_EQ(PageWords(list)[5], 10);  // the buffer keeps the whole list
    EXPECT_EQ(DKGPA0(50, list), c.progress);
    if (c.fail == 0) {
      EXPECT_EQ(BufferIoStatus(list), IOS_CLEAN);
    }
    if (c.code == 4 && c.end > 0 && c.fail > 0) {
      // Written in part: still changed, still in its write set, and still
      // waited for by the pages it names that are not on disk.
      EXPECT_EQ(BufferIoStatus(list), IOS_CHANGED);
      EXPECT_EQ(area_[BufferBcb(list) + BCB_WS_STATUS], WS_IN_SET);
      EXPECT_EQ(DKGPA0(51, list), 10 - c.end);
    }
    if (c.code == 1 && c.fail > 0) {
      EXPECT_EQ(BufferIoStatus(list), -31);
    }
    int32_t drop[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
    DKPAG0(drop, 3);
  }
}

// Pages appended over several flushes: each flush writes only the pages
// after the progress mark, then the list page naming them all, and the list
// ends fully written with its mark at its last entry (the slot in word 5).
TEST_F(ListPageTest, AListWrittenOverSeveralRoundsEndsWhole) {
  int32_t entry = Create("rounds", 600);
  int32_t list = NewList(entry);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  const std::vector<std::vector<int32_t>> rounds = {{64, 72}, {200, 80, 120}, {88}, {}};
  int32_t end = kFirstSlot - 1;
  for (size_t r = 0; r < rounds.size(); ++r) {
    SCOPED_TRACE(r);
    list = Get(entry, kList, 2048, GET_UPDATE);
    ASSERT_GT(list, 0);
    Append(entry, list, rounds[r], 1000 * static_cast<int32_t>(r + 1));
    end += static_cast<int32_t>(rounds[r].size());
    EXPECT_EQ(DKMRK0(7, 22, list), 0);
    EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
    int writes = fault_.writes();
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 7, 0};
    EXPECT_EQ(DKPAG0(pag, 4), 0);
    // Only this round's pages and the list page itself.
    EXPECT_EQ(fault_.writes(), writes + static_cast<int>(rounds[r].size()) + 1);
    EXPECT_EQ(CheckDisk("rounds", list), end);
    EXPECT_EQ(DKGPA0(50, list), end);
    EXPECT_EQ(DKGPA0(51, list), 0);
    EXPECT_EQ(BufferIoStatus(list), IOS_CLEAN);
  }
  // Nobody waits for the list, yet a changed entry after the mark that was
  // never linked to it still goes to disk first.
  list = Get(entry, kList, 2048, GET_UPDATE);
  int32_t extra = Get(entry, 160, kListed, GET_UPDATE);
  PageWords(extra)[100] = stamps_[160] = 4160;
  EXPECT_EQ(DKPUT0(PUT_CHANGED, extra), 0);
  PageWords(list)[++end] = 160;
  PageWords(list)[5] = end;
  PageWords(list)[4] = 48;
  EXPECT_EQ(DKMRK0(7, 22, list), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  int writes = fault_.writes();
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 7, 0};
  EXPECT_EQ(DKPAG0(pag, 4), 0);
  EXPECT_EQ(fault_.writes(), writes + 2);
  EXPECT_EQ(FileWord("rounds", kList, 4), 48);
  EXPECT_EQ(CheckDisk("rounds", list), end);
  EXPECT_EQ(DKGPA0(50, list), end);
}

// A list page others wait for must have a progress mark; an entry that is
// no page of the listed size is a corrupt page. Neither is written.
TEST_F(ListPageTest, AWaitedForListWithoutAMarkOrWithABadEntryIsNotWritten) {
  int32_t entry = Create("bad", 400);
  int32_t list = NewList(entry);
  Append(entry, list, {64}, 1000);
  EXPECT_EQ(DKMRK0(0, 24, list), 0);
  EXPECT_EQ(DKMRK0(7, 22, list), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 7, 0};
  EXPECT_EQ(DKPAG0(pag, 4), -55);
  EXPECT_EQ(FileWord("bad", kList, 1), 0);

  list = Get(entry, kList, 2048, GET_UPDATE);
  EXPECT_EQ(DKMRK0(kFirstSlot - 1, 24, list), 0);
  PageWords(list)[kFirstSlot] = 65;  // not a multiple of 8 units
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  EXPECT_THROW(DKPAG0(pag, 4), ServerException);
  EXPECT_EQ(FileWord("bad", kList, 1), 0);
}

// More lists stuck than one round sets apart (each waits for an entry whose
// write failed): a flush tries each of them once, reports the failure and
// ends, rather than scanning again for ever.
TEST_F(ListPageTest, AFlushOfManyStuckListsEnds) {
  int32_t entry = Create("stuck", 2000);
  constexpr int kLists = 12;
  for (int i = 0; i < kLists; ++i) {
    int32_t list_page = kList + i;
    int32_t list = NewList(entry, list_page);
    Append(entry, list, {64 + 8 * i}, 1000);
    EXPECT_EQ(DKMRK0(100 + i, 22, list), 0);
    EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
    // The entry's write fails: it stays linked to its list, unwritten.
    fault_.FailNthWrite(1, EIO);
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 100 + i, 0};
    EXPECT_EQ(DKPAG0(pag, 4), -44);
    EXPECT_EQ(FileWord("stuck", list_page, 1), 0);
  }
  int32_t rc = 0;
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 100 + kLists, 0};
  EndsWithin(20, "DKPAG0 code 2", [&] { rc = DKPAG0(pag, 2); });
  EXPECT_EQ(rc, -44);
  for (int i = 0; i < kLists; ++i) EXPECT_EQ(FileWord("stuck", kList + i, 1), 0) << i;
}

// A list page that names itself (a corrupt page) is refused as corrupt
// instead of waiting for its own buffer.
TEST_F(ListPageTest, AListNamingItselfIsCorrupt) {
  int32_t entry = Create("self", 400);
  int32_t list = Get(entry, kList, 2048, GET_UPDATE);
  ASSERT_GT(list, 0);
  PageWords(list)[1] = -40;
  PageWords(list)[2] = 2048;
  PageWords(list)[kFirstSlot] = kList;
  PageWords(list)[5] = kFirstSlot;
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EndsWithin(20, "DKPAG0 of a list naming itself",
             [&] { EXPECT_THROW(DKPAG0(pag, 1), ServerException); });
  EXPECT_EQ(FileWord("self", kList, 1), 0);
}

// A page that waits for a list page whose walk stops before an entry that
// failed: the list goes to disk in part, and the page is refused (-31) for
// good, keeping its changes; a flush reports it rather than success.
TEST_F(ListPageTest, APageWaitingForAListWrittenInPartIsRefused) {
  int32_t entry = Create("partial", 400);
  int32_t list = NewList(entry);
  Append(entry, list, {64, 72}, 1000);
  int32_t y = HeldDataPage(entry, 41, 4141);
  ASSERT_GT(y, 0);
  EXPECT_EQ(DKMRK0(y, 23, list), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  fault_.FailNthWrite(2, EIO);  // the second entry's write
  int32_t rq[REQ_WORDS] = {entry, 41, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, y), -31);
  EXPECT_EQ(rq[REQ_RC], -31);
  EXPECT_EQ(FileWord("partial", 41, 100), 0);
  EXPECT_EQ(FileWord("partial", 64, 100), 1064);
  EXPECT_EQ(FileWord("partial", kList, 5), kFirstSlot);
  int32_t rc = 0;
  EXPECT_EQ(Get(entry, 41, 2048, GET_SHARED, &rc), -44);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_LT(DKPAG0(pag, 1), 0);
  EXPECT_EQ(FileWord("partial", 41, 100), 0);
}

// A page waiting for a list page that itself waits for a page it does not
// list (the next list page, say): written from the page, the list's walk
// finds nothing new and leaves it, so the page is refused (-31) for now.
// Nothing failed: the page stays changed and readable, and a flush of the
// databank writes all three in order.
TEST_F(ListPageTest, APageWaitingForAPendingListIsRefusedButKept) {
  int32_t entry = Create("pending", 400);
  int32_t list = NewList(entry);
  Append(entry, list, {64}, 1000);
  EXPECT_EQ(DKMRK0(7, 22, list), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  int32_t flush[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 7, 0};
  ASSERT_EQ(DKPAG0(flush, 4), 0);
  ASSERT_EQ(CheckDisk("pending", list), kFirstSlot);

  list = Get(entry, kList, 2048, GET_UPDATE);
  int32_t next = HeldDataPage(entry, 41, 4141), y = HeldDataPage(entry, 42, 4242);
  ASSERT_TRUE(next > 0 && y > 0);
  PageWords(list)[4] = 77;
  EXPECT_EQ(DKMRK0(list, 23, next), 0);
  EXPECT_EQ(DKMRK0(y, 23, list), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, next), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  int32_t rq[REQ_WORDS] = {entry, 42, 2048, 0, -1, 0};
  EXPECT_EQ(DKWRP0(rq, WRP_WRITE_WAIT, y), -31);
  EXPECT_EQ(FileWord("pending", 42, 100), 0);
  EXPECT_EQ(FileWord("pending", kList, 4), 0);
  int32_t again = Get(entry, 42, 2048, GET_SHARED);
  ASSERT_GT(again, 0);
  EXPECT_EQ(PageWords(again)[100], 4242);
  EXPECT_EQ(BufferIoStatus(again), IOS_CHANGED);
  DKPUT0(PUT_END_SHARED, again);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_EQ(DKPAG0(pag, 1), 0);
  EXPECT_EQ(FileWord("pending", 41, 100), 4141);
  EXPECT_EQ(FileWord("pending", kList, 4), 77);
  EXPECT_EQ(FileWord("pending", 42, 100), 4242);
  EXPECT_EQ(CheckDisk("pending", list), kFirstSlot);
}

// A buffer taken for another page starts without the progress mark of the
// page it held: a list page read into it that nobody waits for is walked from
// its first entry, so the entries it names reach disk before it.
TEST_F(ListPageTest, ABufferTakenForAnotherPageForgetsTheProgressMark) {
  int32_t entry = Create("reused", 1200);
  int32_t old = NewList(entry);
  const int32_t bcb = BufferBcb(old);
  EXPECT_EQ(DKMRK0(200, 24, old), 0);
  EXPECT_EQ(DKPUT0(PUT_UNCHANGED, old), 0);
  int32_t drop[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_EQ(DKPAG0(drop, 3), 0);
  int32_t list = 0, list_page = 0;
  for (int32_t page = 100; page < 1100 && list == 0; ++page) {
    int32_t b = Get(entry, page, 2048, GET_NEW);
    ASSERT_GT(b, 0);
    if (BufferBcb(b) == bcb) {
      list = b;
      list_page = page;
    } else {
      EXPECT_EQ(DKPUT0(PUT_UNCHANGED, b), 0);
    }
  }
  ASSERT_GT(list, 0);
  EXPECT_EQ(DKGPA0(50, list), 0);
  std::fill(PageWords(list) + 1, PageWords(list) + 512, 0);
  PageWords(list)[1] = -40;
  PageWords(list)[2] = kListed;
  PageWords(list)[5] = kFirstSlot - 1;
  for (int32_t page : {1120, 1136, 1152}) {
    int32_t b = Get(entry, page, kListed, GET_NEW);
    ASSERT_GT(b, 0);
    PageWords(b)[1] = 1;
    PageWords(b)[100] = page + 7;
    EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
    PageWords(list)[++PageWords(list)[5]] = page;
  }
  EXPECT_EQ(DKMRK0(7, 22, list), 0);
  EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 7, 0};
  EXPECT_EQ(DKPAG0(pag, 4), 0);
  EXPECT_EQ(FileWord("reused", list_page, 5), kFirstSlot + 2);
  for (int32_t page : {1120, 1136, 1152}) EXPECT_EQ(FileWord("reused", page, 100), page + 7);
}

// Two lists appended to on threads of their own while another thread flushes
// the databank: whenever an appender holds its list (so no walk of it is
// under way), the list on disk names only pages whose contents are on disk;
// the last page is sometimes changed again after it was listed, as appends
// to it do. At the end everything is on disk and the lists are whole.
TEST_F(ListPageTest, ListsAppendedWhileFlushedNeverNameMissingPages) {
  int32_t entry = Create("concurrent", 2400);
  constexpr int kLists = 2, kRounds = 50;
  std::atomic<bool> stop{false};
  std::thread flusher([&] {
    enqdeq_attach(enq_, 2);
    while (!stop.load()) {
      int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
      EXPECT_EQ(DKPAG0(pag, 1), 0);
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> appenders;
  for (int t = 0; t < kLists; ++t)
    appenders.emplace_back([&, t] {
      enqdeq_attach(enq_, 3 + t);
      int32_t list_page = kList + t;
      int32_t list = NewList(entry, list_page);
      ASSERT_GT(list, 0);
      std::map<int32_t, int32_t> first;  // page -> the stamp it was listed with
      int32_t next_page = 64 + 8 * 130 * t, stamp = 1;
      std::mt19937 rng(t);
      std::string name = "concurrent";
      for (int round = 0; round < kRounds; ++round) {
        int32_t* words = PageWords(list);
        // No walk of this list is under way while it is held.
        int32_t disk_end = FileWord(name, list_page, 1) == -40 ? FileWord(name, list_page, 5) : 0;
        EXPECT_LE(disk_end, words[5]);
        for (int32_t slot = kFirstSlot; slot <= disk_end; ++slot) {
          int32_t page = FileWord(name, list_page, slot);
          ASSERT_EQ(page, words[slot]);
          EXPECT_GE(FileWord(name, page, 100), first[page]) << "list " << t << " slot " << slot;
        }
        if (words[5] >= kFirstSlot && rng() % 3 == 0) {
          // The last page changes again.
          int32_t b = Get(entry, words[words[5]], kListed, GET_UPDATE);
          ASSERT_GT(b, 0);
          PageWords(b)[100] = ++stamp;
          if (DKGPA0(52, b) == 0) {
            EXPECT_EQ(DKMRK0(list, 23, b), 0);
          }
          EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
        }
        for (int k = 0; k < 2; ++k) {
          int32_t page = next_page;
          next_page += 8;
          int32_t b = Get(entry, page, kListed, GET_NEW);
          ASSERT_GT(b, 0);
          PageWords(b)[1] = 1;
          PageWords(b)[100] = first[page] = ++stamp;
          EXPECT_EQ(DKMRK0(list, 23, b), 0);
          EXPECT_EQ(DKPUT0(PUT_CHANGED, b), 0);
          words[++words[5]] = page;
        }
        EXPECT_EQ(DKMRK0(10 + t, 22, list), 0);
        EXPECT_EQ(DKPUT0(PUT_CHANGED, list), 0);
        if (round % 4 == 0) {
          int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 10 + t, 0};
          EXPECT_EQ(DKPAG0(pag, 4), 0);
        }
        list = Get(entry, list_page, 2048, GET_UPDATE);
        ASSERT_GT(list, 0);
      }
      EXPECT_EQ(DKPUT0(PUT_UNCHANGED, list), 0);
    });
  for (auto& a : appenders) a.join();
  stop = true;
  flusher.join();
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  EXPECT_EQ(DKPAG0(pag, 1), 0);
  for (int t = 0; t < kLists; ++t) {
    EXPECT_EQ(FileWord("concurrent", kList + t, 5), kFirstSlot + 2 * kRounds - 1) << t;
    int32_t list = Get(entry, kList + t, 2048, GET_SHARED);
    ASSERT_GT(list, 0);
    EXPECT_EQ(DKGPA0(51, list), 0);
    EXPECT_EQ(BufferIoStatus(list), IOS_CLEAN);
    for (int32_t slot = kFirstSlot; slot < kFirstSlot + 2 * kRounds; ++slot) {
      int32_t page = PageWords(list)[slot];
      int32_t b = Get(entry, page, kListed, GET_SHARED);
      ASSERT_GT(b, 0);
      EXPECT_EQ(FileWord("concurrent", page, 100), PageWords(b)[100]) << page;
      DKPUT0(PUT_END_SHARED, b);
    }
    DKPUT0(PUT_END_SHARED, list);
  }
}

}  // namespace
