// Databank operations as a caller sees them through the dispatcher: opening
// for use with sharing by access mode, closing by DID or by copy with the
// close mark on disk, the size from the bitmap pages, and the file cut after
// its last used unit.
#include "dk/databank_operations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstring>
#include <thread>

#include "dk/tests/databank_fixture.h"
#include "dk/tests/failing_writes.h"

namespace {

class DatabankOperationsTest : public DatabankTest {
 protected:
  std::vector<int32_t> Size(int32_t did, int32_t seqno = -1) {
    int32_t rq[SIZ_WORDS] = {0, did, seqno, -9, -9, -9};
    DKCallEntry(52, rq, nullptr);
    return {rq[0], rq[SIZ_IN_USE], rq[SIZ_UNITS], rq[SIZ_HIGHEST]};
  }

  int32_t Truncate(int32_t did, int32_t seqno = -1) {
    int32_t rq[TDB_WORDS] = {0, 0, did, seqno};
    DKCallEntry(54, rq, nullptr);
    return rq[0];
  }
};

TEST_F(DatabankOperationsTest, SharedOpenClosesOnTheLastCloseWithMarkOne) {
  Make("db", 64);
  int32_t first = 0, second = 0;
  ASSERT_EQ(OpenDb("db", 3, 5, -1, &first), 0);
  EXPECT_EQ(area_[first + DBE_STATE], CHK_COMPLETE);
  EXPECT_EQ(FileWord("db", 1, HDR_CLOSE_MARK), 0);  // open on disk
  ASSERT_EQ(OpenDb("db", 3, 5, -1, &second), 0);
  EXPECT_EQ(second, first);
  EXPECT_EQ(area_[first + DBE_OPENS], 2);

  EXPECT_EQ(CloseDb(1, 5, -1), 0);
  EXPECT_EQ(area_[first + DBE_DID], 5);
  EXPECT_EQ(area_[first + DBE_OPENS], 1);
  EXPECT_EQ(FileWord("db", 1, HDR_CLOSE_MARK), 0);

  EXPECT_EQ(CloseDb(1, 5, -1), 0);
  EXPECT_EQ(area_[first + DBE_DID], 0);
  EXPECT_EQ(FileWord("db", 1, HDR_CLOSE_MARK), 1);
}

// A close whose page write or close-mark write fails answers the failure and
// leaves the header marked open, as a crash leaves it, so that the next open
// runs the crash checks over a file whose pages never reached it; the entry
// and its file are given back all the same. Mode 2 writes no mark at all.
TEST_F(DatabankOperationsTest, ACloseWhoseWriteFailsAnswersItAndLeavesNoCloseMark) {
  struct Case {
    const char* what;
    int32_t mode;
    bool fail_page, fail_mark;
    int32_t mark;
  };
  const Case cases[] = {
      {"nothing fails", 1, false, false, CLOSE_MARK_CLOSED},
      {"the page write fails", 1, true, false, 0},
      {"the close-mark write fails", 1, false, true, 0},
      {"nothing fails, no mark asked", 2, false, false, 0},
      {"the page write fails, no mark asked", 2, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = std::string("closefail") + std::to_string(&c - cases);
    Make(name, 64);
    int32_t entry = 0;
    ASSERT_EQ(OpenDb(name, 3, 5, 3, &entry), 0);
    const int32_t page = ChangedPage(entry);

    FailingWrites failing(fault_);
    failing.Choose(c.fail_page, c.fail_mark, page);
    mdr_install_file_system(&failing);
    const int32_t rc = CloseDb(c.mode, 5, 3);
    mdr_install_file_system(&fault_);
    EXPECT_EQ(rc != 0, c.fail_page || c.fail_mark);
    EXPECT_EQ(failing.failed > 0, c.fail_page || c.fail_mark);
    EXPECT_EQ(area_[entry + DBE_DID], 0);
    EXPECT_EQ(FileWord(name, kHeaderUnit, HDR_CLOSE_MARK), c.mark);
    EXPECT_EQ(FileWord(name, page, 100) == 4711, !c.fail_page);
    // The file opens again and closes cleanly.
    ASSERT_EQ(OpenDb(name, 3, 5, 3), 0);
    EXPECT_EQ(CloseDb(1, 5, 3), 0);
    EXPECT_EQ(FileWord(name, kHeaderUnit, HDR_CLOSE_MARK), CLOSE_MARK_CLOSED);
  }
}

// The shutdown closes every databank the same way: a page it cannot write
// answers the failure and leaves that file marked open, and every other
// databank is still closed with its mark (its file given back, so that a
// start in the same process opens it again).
TEST_F(DatabankOperationsTest, AShutdownWhosePageWriteFailsAnswersItAndLeavesNoCloseMark) {
  int32_t page = 0;
  for (int32_t did : {5, 6, 7}) {
    const std::string name = "down" + std::to_string(did);
    Make(name, 64, did);
    int32_t entry = 0;
    ASSERT_EQ(OpenDb(name, 3, did, 3, &entry), 0);
    page = ChangedPage(entry);
  }
  // The same page of each file: its write fails for the first file only.
  FailingWrites failing(fault_);
  failing.fail_unit = page;
  failing.one_file = true;
  mdr_install_file_system(&failing);
  int32_t rc = 0;
  DKShutdown(&rc);
  mdr_install_file_system(&fault_);
  open_.clear();  // the area is gone with every entry
  EXPECT_NE(rc, 0);
  EXPECT_GT(failing.failed, 0);
  int marked = 0;
  for (int32_t did : {5, 6, 7}) {
    const std::string name = "down" + std::to_string(did);
    const bool written = FileWord(name, page, 100) == 4711;
    EXPECT_EQ(FileWord(name, kHeaderUnit, HDR_CLOSE_MARK), written ? CLOSE_MARK_CLOSED : 0) << name;
    marked += written;
  }
  EXPECT_EQ(marked, 2);
}

TEST_F(DatabankOperationsTest, AccessModesDecideSharing) {
  Make("db", 64);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb("db", 1, 5, 3, &entry), 0);
  // Modes adding up to 5 or less do not share: an explicit SEQNO, and one
  // learnt from the header, alike.
  EXPECT_EQ(OpenDb("db", 1, 5, 3), -32);
  EXPECT_EQ(OpenDb("db", 4, 5, -1), -32);
  EXPECT_EQ(area_[entry + DBE_OPENS], 1);
  EXPECT_EQ(OpenDb("db", 5, 5, 3), 0);
  EXPECT_EQ(area_[entry + DBE_OPENS], 2);
  EXPECT_EQ(area_[entry + DBE_ACCESS], 1);
}

TEST_F(DatabankOperationsTest, CloseModesAndUnknownCopies) {
  Make("db", 64);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb("db", 1, 5, 3, &entry), 0);
  EXPECT_EQ(CloseDb(1, 9, -1), -45);
  EXPECT_EQ(CloseDb(1, 5, 4), -47);
  EXPECT_EQ(CloseDb(1, -1, -1, 7), -45);  // no entry there
  // Mode 0 only lowers the count; the entry stays for a later open.
  EXPECT_EQ(CloseDb(0, 5, -1), 0);
  EXPECT_EQ(area_[entry + DBE_ACCESS], 5);
  ASSERT_EQ(OpenDb("db", 1, 5, 3), 0);
  EXPECT_EQ(area_[entry + DBE_OPENS], 1);
  // A close of the copy by entry and SEQNO in mode 2 writes no mark.
  EXPECT_EQ(CloseDb(2, -1, 3, entry), 0);
  EXPECT_EQ(area_[entry + DBE_DID], 0);
  EXPECT_EQ(FileWord("db", 1, HDR_CLOSE_MARK), 0);
}

// A databank its last user closed in mode 0 stays open, its file locked:
// a file open (DKCRD1) asking for the file's SEQNO takes that entry over
// instead of opening the file a second time, which the lock refuses. An
// entry still in use is not taken.
TEST_F(DatabankOperationsTest, AFileOpenTakesOverTheEntryItsLastUserLeft) {
  Make("db", 64);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb("db", 1, 5, -1, &entry), 0);
  ASSERT_EQ(CloseDb(0, 5, -1), 0);
  ASSERT_EQ(area_[entry + DBE_ACCESS], 5);
  int32_t seqno = -1, taken = 0;
  ASSERT_EQ(Open("db", 5, &seqno, &taken), 0);
  EXPECT_EQ(taken, entry);
  EXPECT_EQ(seqno, 3);
  EXPECT_EQ(area_[entry + DBE_ACCESS], 1);
  EXPECT_EQ(area_[entry + DBE_OPENS], 1);
  EXPECT_EQ(mdr_open_file_count(), 1);
  open_.pop_back();
  // In use now: a second file open is refused and leaves the entry alone.
  seqno = -1;
  EXPECT_LT(Open("db", 5, &seqno, &taken), 0) << "in use";
  EXPECT_EQ(area_[entry + DBE_OPENS], 1);
  EXPECT_EQ(mdr_open_file_count(), 1);
  // Given back, it closes for real in mode 1 and the file opens anew.
  EXPECT_EQ(CloseDb(1, 5, -1), 0);
  EXPECT_EQ(FileWord("db", 1, HDR_CLOSE_MARK), 1);
  seqno = -1;
  ASSERT_EQ(Open("db", 5, &seqno, &taken), 0);
  EXPECT_EQ(seqno, 3);
}

TEST_F(DatabankOperationsTest, FailedOpenLeavesNoEntryAndTheFileAsItWas) {
  Make("db", 64);
  std::vector<char> before = FileBytes("db");
  EXPECT_EQ(OpenDb("db", 1, 6, -1), -16);  // another DID
  EXPECT_EQ(OpenDb("missing", 1, 6, -1), -2);
  EXPECT_EQ(FileBytes("db"), before);
  // Nothing of the failures is left to answer a later open.
  EXPECT_EQ(CloseDb(1, 6, -1), -45);
  EXPECT_EQ(OpenDb("db", 1, 5, -1), 0);
}

TEST_F(DatabankOperationsTest, SizeCountsUnitsInUse) {
  Make("db", 100);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb("db", 1, 5, -1, &entry), 0);
  EXPECT_EQ(Size(5), (std::vector<int32_t>{0, 2, 100, 1}));
  EXPECT_EQ(Allocate(entry, 16384), 8);
  EXPECT_EQ(Allocate(entry, 2048), 2);
  EXPECT_EQ(Size(5, 3), (std::vector<int32_t>{0, 11, 100, 15}));
  EXPECT_EQ(Size(7)[0], -45);
  EXPECT_EQ(Size(5, 4)[0], -47);
}

TEST_F(DatabankOperationsTest, TruncationCutsAfterTheLastUsedUnit) {
  struct Case {
    int32_t units;
    std::vector<int32_t> sizes;  // pages to allocate
    int32_t last_unit;           // of the cut file
  };
  const Case cases[] = {
      {100, {}, 1},
      {100, {16384, 2048}, 15},
      {16256 + 40, {}, 1},          // an empty last chunk goes
      {16256 * 2 + 40, {2048}, 2},  // two of them
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.units);
    std::string name = "t" + std::to_string(c.units) + "_" + std::to_string(c.sizes.size());
    Make(name, c.units);
    int32_t entry = 0;
    ASSERT_EQ(OpenDb(name, 1, 5, -1, &entry), 0);
    for (int32_t size : c.sizes) Allocate(entry, size);
    EXPECT_EQ(Truncate(5), 0);
    EXPECT_EQ(FileSize(name), int64_t{c.last_unit + 1} * kUnitBytes);
    EXPECT_EQ(FileWord(name, 0, BMP_NEXT), c.last_unit);
    EXPECT_EQ(Size(5)[2], c.last_unit + 1);
    // The file still grows as pages are taken after the cut.
    int32_t page = Allocate(entry, 16384);
    EXPECT_GT(page, c.last_unit);
    EXPECT_EQ(CloseDb(1, 5, -1), 0);
    EXPECT_GE(FileSize(name), int64_t{page + 8} * kUnitBytes);
  }
}

// A cut first writes the databank's changed pages. When one of them cannot
// be written the cut answers that failure and leaves the file as it was (no
// bitmap page rewritten, nothing cut): the databank is disabled and its next
// open checks the file as the failure left it. Once it is opened again the
// cut goes through.
TEST_F(DatabankOperationsTest, ATruncationWhosePageWriteFailsAnswersItAndCutsNothing) {
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "the page write fails" : "nothing fails");
    const std::string name = fail ? "cutfail" : "cutwrites";
    Make(name, 16256 + 40);  // an empty last chunk, which a cut drops
    const int64_t size = FileSize(name);
    const int32_t next = FileWord(name, 0, BMP_NEXT);
    int32_t entry = 0;
    ASSERT_EQ(OpenDb(name, 1, 5, -1, &entry), 0);
    const int32_t page = ChangedPage(entry);

    FailingWrites failing(fault_);
    failing.Choose(fail, false, page);
    mdr_install_file_system(&failing);
    const int32_t rc = Truncate(5);
    mdr_install_file_system(&fault_);
    EXPECT_EQ(failing.failed > 0, fail);
    EXPECT_EQ(FileWord(name, page, 100) == 4711, !fail);
    if (!fail) {
      EXPECT_EQ(rc, 0);
      EXPECT_LT(FileSize(name), size);
      EXPECT_EQ(CloseDb(1, 5, -1), 0);
      continue;
    }
    EXPECT_EQ(rc, -44);
    EXPECT_EQ(area_[entry + DBE_ERROR], -44);
    EXPECT_EQ(FileSize(name), size);
    EXPECT_EQ(FileWord(name, 0, BMP_NEXT), next);
    // The close cannot write the page either and leaves the file marked
    // open; the next open takes it as after a crash, and the cut then runs.
    EXPECT_EQ(CloseDb(1, 5, -1), -44);
    EXPECT_EQ(FileWord(name, kHeaderUnit, HDR_CLOSE_MARK), 0);
    ASSERT_EQ(OpenDb(name, 1, 5, -1), 0);
    EXPECT_EQ(Truncate(5), 0);
    EXPECT_LT(FileSize(name), size);
    EXPECT_EQ(CloseDb(1, 5, -1), 0);
  }
}

// Each write of a cut failing in turn (every bitmap page it writes, first to
// last, and the cut of the file): the failure is the answer, never 0, and the
// file stays one whose bitmap chain ends inside it, so that the databank
// opens again (as after a crash) and the cut then goes through.
TEST_F(DatabankOperationsTest, ACutWhoseWriteFailsAnswersItAndLeavesAFileThatOpens) {
  // Refuses the cut of the file.
  class FailingCut : public PassThroughFileSystem {
   public:
    using PassThroughFileSystem::PassThroughFileSystem;
    int Truncate(int, int64_t) override { return EIO; }
  };
  struct Case {
    int32_t empty_chunks;  // behind the first chunk
    int write;             // the write that fails, from 1; 0: the cut
    int32_t rc;
  };
  // One empty chunk: its bitmap page ends before it (1), it is marked no
  // chunk (2), the first page ends the file (3). Two: the same for each.
  const Case cases[] = {
      {1, 1, -59}, {1, 2, -59}, {1, 3, -59}, {1, 0, -44},
      {2, 1, -59}, {2, 2, -59}, {2, 3, -59}, {2, 4, -59}, {2, 5, -59},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.empty_chunks << " empty, write " << c.write);
    const std::string name = "cut" + std::to_string(n++);
    Make(name, kBitmapChunkUnits * c.empty_chunks + 40);
    int32_t entry = 0;
    ASSERT_EQ(OpenDb(name, 1, 5, -1, &entry), 0);
    FailingCut cut_fails(fault_);
    if (c.write == 0)
      mdr_install_file_system(&cut_fails);
    else
      fault_.FailNthWrite(c.write, EIO);
    EXPECT_EQ(Truncate(5), c.rc);
    mdr_install_file_system(&fault_);
    EXPECT_EQ(area_[entry + DBE_ERROR], -44);  // the failed write disabled it
    EXPECT_EQ(CloseDb(1, 5, -1), 0);
    EXPECT_EQ(FileWord(name, kHeaderUnit, HDR_CLOSE_MARK), 0);  // as after a crash
    ASSERT_EQ(OpenDb(name, 1, 5, -1), 0);
    const std::vector<int32_t> size = Size(5);
    EXPECT_EQ(size[0], 0);
    EXPECT_LE(int64_t{size[2]} * kUnitBytes, FileSize(name));
    EXPECT_EQ(Truncate(5), 0);
    EXPECT_EQ(FileSize(name), 2 * kUnitBytes);
    EXPECT_EQ(CloseDb(1, 5, -1), 0);
  }
}

// Pages taken on other threads while the file is cut: an empty last chunk
// that gets a page, and a kept chunk that grows, are never cut under them.
TEST_F(DatabankOperationsTest, TruncationRacingAllocationsCutsNoPageInUse) {
  const std::string name = "race";
  Make(name, kBitmapChunkUnits + 40);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb(name, 1, 5, -1, &entry), 0);
  // The first chunk full, so that pages come from the last one.
  for (int32_t unit = 2; unit < 8; ++unit) ASSERT_EQ(Allocate(entry, 2048), unit);
  for (int32_t unit = 8; unit < kBitmapChunkUnits; unit += 8)
    ASSERT_EQ(Allocate(entry, 16384), unit);
  // One thread cuts the file while the others take pages, round after
  // round; between rounds the test thread looks at the file.
  constexpr int kThreads = 3, kPages = 4, kRounds = 150;
  std::barrier start(kThreads + 2), end(kThreads + 2);
  std::atomic<bool> stop{false};
  std::atomic<int32_t> cut_rc{0};
  std::vector<std::vector<int32_t>> pages(kThreads);
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    enqdeq_attach(enq_, 2);
    for (;;) {
      start.arrive_and_wait();
      if (stop) return;
      for (int i = 0; i < 3; ++i)
        if (int32_t rc = Truncate(5)) cut_rc = rc;
      end.arrive_and_wait();
    }
  });
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      enqdeq_attach(enq_, 3 + t);
      for (;;) {
        start.arrive_and_wait();
        if (stop) return;
        for (int i = 0; i < kPages; ++i) {
          int32_t rq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
          if (DKHLD0(rq, 0) == 0) pages[t].push_back(rq[REQ_PAGE]);
        }
        end.arrive_and_wait();
      }
    });
  }
  for (int round = 0; round < kRounds && !HasFailure(); ++round) {
    SCOPED_TRACE(round);
    for (std::vector<int32_t>& list : pages) list.clear();
    start.arrive_and_wait();
    end.arrive_and_wait();
    EXPECT_EQ(cut_rc.load(), 0);
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
    EXPECT_EQ(DKPAG0(pag, PAG_FLUSH), 0);
    int64_t units = FileSize(name) / kUnitBytes;
    for (const std::vector<int32_t>& list : pages) {
      EXPECT_EQ(list.size(), size_t{kPages});
      for (int32_t page : list) EXPECT_LT(page, units);
    }
    // The chain of bitmap pages on disk stays inside the file.
    for (int32_t unit = 0;;) {
      int32_t next = FileWord(name, unit, BMP_NEXT);
      EXPECT_LT(next, units) << "bitmap page " << unit;
      if (next != unit + kBitmapChunkUnits || next >= units) break;
      unit = next;
    }
    if (HasFailure()) break;
    // The round's pages go back, so that the next round starts again with
    // an empty last chunk.
    for (const std::vector<int32_t>& list : pages) {
      for (int32_t page : list) {
        int32_t rq[REQ_WORDS] = {entry, page, 2048, 0, -1, 0};
        EXPECT_EQ(DKFRE0(rq, 0), 0);
      }
    }
  }
  stop = true;
  start.arrive_and_wait();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(CloseDb(1, 5, -1), 0);
}

TEST_F(DatabankOperationsTest, CopyTakesTheFileUpToItsLastUnit) {
  Make("src", 64);
  int32_t from = 0;
  ASSERT_EQ(OpenDb("src", 1, 5, 3, &from), 0);
  int32_t page = Allocate(from, 16384);
  int32_t b = Get(from, page, 16384, GET_NEW);
  ASSERT_GT(b, 0);
  std::memset(PageWords(b) + 1, 0x5a, 16384 - 4);
  DKPUT0(PUT_CHANGED, b);  // still in the pool: the copy writes it first
  int32_t to = Create("tgt", 200, 5, 4);
  auto copy = [&](int32_t did, int32_t seqno) {
    int32_t rq[COP_WORDS] = {0, from, 5, 3, to, did, seqno};
    DKCallEntry(14, rq, nullptr);
    return rq[0];
  };
  EXPECT_EQ(copy(6, 4), -45);
  EXPECT_EQ(copy(5, 7), -43);
  ASSERT_EQ(copy(5, 4), 0);
  std::vector<char> source = FileBytes("src"), target = FileBytes("tgt");
  ASSERT_EQ(source.size(), 64u * kUnitBytes);
  target.resize(source.size());
  // Word 0 of each page holds the in-memory buffer index; the rest matches.
  EXPECT_EQ(FileWord("tgt", page, 1), FileWord("src", page, 1));
  EXPECT_EQ(FileWord("tgt", page, 1), 0x5a5a5a5a);
  for (int64_t u = 2; u < 64; ++u)
    EXPECT_EQ(std::vector<char>(source.begin() + u * kUnitBytes + 4,
                                source.begin() + (u + 1) * kUnitBytes),
              std::vector<char>(target.begin() + u * kUnitBytes + 4,
                                target.begin() + (u + 1) * kUnitBytes))
        << u;
  EXPECT_EQ(FileWord("tgt", 0, BMP_FREE), FileWord("src", 0, BMP_FREE));
}

}  // namespace
