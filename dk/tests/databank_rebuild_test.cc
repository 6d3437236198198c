// The databank check rebuilds the bitmap from every structure that owns
// pages: a databank holding a table tree, a set, a table of large-object
// runs and a restore directory comes back after a crash with exactly the
// units those own in use (a leaked page freed, a lost bit set again); a
// page owned twice is recorded and fails the open; the background check
// reads every leaf and stops when asked.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include "dk/databank_verification.h"
#include "dk/set_table.h"
#include "dk/tests/large_object_fixture.h"
#include "dk/tests/table_fixture.h"
#include "dk/verification_pages.h"

namespace {

class RebuildTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    storage_.Install();
  }
  void TearDown() override {
    TestWordStorage::Uninstall();
    TableTest::TearDown();
  }

  // A table of kind 6 (key 20, records of 44 bytes) whose records name runs.
  Table RunTable(int32_t tbl) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = 5;
    b[RQ_TYPE] = 60;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = 20;
    b[RQ_RECORD_LENGTH] = 44;
    b[RQ_DATA_PAGE_SIZE] = 2048;
    b[RQ_INDEX_PAGE_SIZE] = 2048;
    DKEXE1(16, b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return {b[RQ_TABLE], tbl, 20, 44};
  }
  static std::string RunRecord(int32_t id, int32_t page, int32_t size, int32_t pages) {
    std::string r(44, '\0');
    r[3] = static_cast<char>(id);
    int32_t run[4] = {page, 0, size, pages};
    std::memcpy(r.data() + 20, run, sizeof run);
    return r;
  }
  // A run of `pages` pages of `size` bytes taken one after the other.
  int32_t TakeRun(int32_t size, int32_t pages) {
    int32_t first = 0;
    for (int32_t k = 0; k < pages; ++k) {
      int32_t rq[REQ_WORDS] = {db_, 0, size, 0, -1, 0};
      EXPECT_EQ(DKHLD0(rq, 0), 0);
      if (k == 0) first = rq[REQ_PAGE];
      EXPECT_EQ(rq[REQ_PAGE], first + k * size / kUnitBytes);
    }
    return first;
  }
  int32_t AppendToSet(int32_t table, int32_t tbl, int32_t words, int32_t seed) {
    std::vector<int32_t> b(SETRQ_RECORD + words, 0);
    b[SETRQ_TABLE] = table;
    b[SETRQ_TBL] = tbl;
    b[SETRQ_LENGTH] = words;
    for (int32_t i = 0; i < words; ++i) b[SETRQ_RECORD + i] = seed + i;
    DKEXE1(6, b.data());
    return b[SETRQ_RC];
  }

  // The units in use by the file's bitmap pages (the first chunk).
  std::set<int32_t> UsedOnDisk() {
    std::vector<char> page = FileUnit("tables", 0);
    std::set<int32_t> used;
    for (int32_t u = 0; u < kBitmapChunkUnits; ++u)
      if (static_cast<uint8_t>(page[16 + u / 8]) & (0x80 >> (u % 8))) used.insert(u);
    return used;
  }
  void SetBit(int32_t unit, bool on) {
    int32_t buffer = Get(db_, 0, kUnitBytes, GET_UPDATE);
    ASSERT_GT(buffer, 0);
    ASSERT_EQ(on ? BitmapMark(PageBytes(buffer), unit, 1) : BitmapFree(PageBytes(buffer), unit, 1),
              0);
    ASSERT_EQ(WriteUnitPage(db_, 0, buffer), 0);
  }

  // The databank left without a close, then opened again (its check runs).
  int32_t Reopen(int32_t* entry) {
    ReleaseDatabank(db_, true);
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = 1;
    rq[CRD_DID] = 5;
    rq[CRD_SEQNO] = -1;
    rq[CRD_TYPE] = 9;
    FillNames(rq.data(), "tables");
    DKCallEntry(44, rq.data(), nullptr);
    if (rq[CRD_MODE] == 0) {
      *entry = rq[CRD_UNITS];
      open_.push_back(*entry);
    }
    return rq[CRD_MODE];
  }
  int32_t CloseAll() {
    int32_t close[4] = {1, 0, 5, -1};
    DKCallEntry(12, close, nullptr);
    return close[0];
  }

  // A table tree of several levels, a set over several data pages, a table
  // of kind 6 naming three runs and a restore directory page: everything on
  // disk. Returns the units in use then.
  std::set<int32_t> Populate() {
    Table t = CreateTable(70, 4, 200, 2048, 2048);
    for (int i = 0; i < 300; ++i)
      EXPECT_EQ(Insert(t, MakeRecord(std::to_string(1000 + i), 4, 200)), 0);
    EXPECT_GE(Levels(t), 2);
    int32_t crt[CRT_WORDS] = {};
    crt[RQ_DID] = 5;
    crt[RQ_TYPE] = 10 * kKindSet;
    crt[RQ_TBL] = 80;
    crt[RQ_INDEX_PAGE_SIZE] = 2048;
    crt[RQ_DATA_PAGE_SIZE] = 2048;
    DKCRT1(crt);
    EXPECT_EQ(crt[RQ_STATUS], 0);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(AppendToSet(crt[RQ_TABLE], 80, 100, i), 0);
    runs_ = RunTable(90);
    lob_runs_ = {
        {TakeRun(2048, 3), 2048, 3}, {TakeRun(16384, 2), 16384, 2}, {TakeRun(65536, 1), 65536, 1}};
    for (size_t i = 0; i < lob_runs_.size(); ++i)
      EXPECT_EQ(Insert(runs_, RunRecord(static_cast<int32_t>(i), lob_runs_[i].page,
                                        lob_runs_[i].page_size, lob_runs_[i].pages)),
                0);
    int32_t dir = Allocate(kUnitBytes);
    int32_t b = Get(db_, dir, kUnitBytes, GET_NEW);
    std::memset(PageBytes(b) + 4, 0, kUnitBytes - 4);
    EXPECT_EQ(WriteUnitPage(db_, dir, b), 0);
    b = Get(db_, kHeaderUnit, kUnitBytes, GET_UPDATE);
    SetPageWord(PageBytes(b), HDR_RESTORE_DIRECTORY, dir);
    EXPECT_EQ(WriteUnitPage(db_, kHeaderUnit, b), 0);
    Flush();
    return UsedOnDisk();
  }
  int32_t Allocate(int32_t size) {
    int32_t rq[REQ_WORDS] = {db_, 0, size, 0, -1, 0};
    EXPECT_EQ(DKHLD0(rq, 0), 0);
    return rq[REQ_PAGE];
  }

  TestWordStorage storage_{1 << 16};
  Table runs_;
  std::vector<PageRun> lob_runs_;
};

// The open after a crash, with the check option of the control area.
class RebuildAtOpenTest : public RebuildTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(RebuildAtOpenTest, BitmapIsRebuiltToWhatTheStructuresOwn) {
  std::set<int32_t> owned = Populate();
  // A leaked page (taken, owned by nothing) and the lost bit of a page a
  // run owns.
  const int32_t leak = Allocate(kUnitBytes);
  const int32_t run_unit = lob_runs_[0].page + 2;
  SetBit(run_unit, false);
  Flush();
  ASSERT_TRUE(UsedOnDisk().count(leak));
  ASSERT_FALSE(UsedOnDisk().count(run_unit));
  ASSERT_FALSE(owned.count(leak));
  ASSERT_TRUE(owned.count(run_unit));
  area_[BP_CHECK_OPTION] = GetParam();
  int32_t entry = 0;
  ASSERT_EQ(Reopen(&entry), 0);
  EXPECT_EQ(area_[entry + DBE_STATE], GetParam() == 1 ? CHK_WAIT_BACKGROUND : CHK_COMPLETE);
  EXPECT_TRUE(DKUnitsReachedTwice(entry).empty());
  ASSERT_EQ(CloseAll(), 0);
  EXPECT_EQ(UsedOnDisk(), owned);
  EXPECT_EQ(FileWord("tables", 0, BMP_FREE),
            kBitmapChunkUnits - static_cast<int32_t>(owned.size()));
  EXPECT_EQ(FileWord("tables", 0, BMP_HINT), 0);
}

INSTANTIATE_TEST_SUITE_P(Options, RebuildAtOpenTest, ::testing::Values(0, 1, 2));

TEST_F(RebuildTest, PageOwnedTwiceIsRecordedAndFailsTheOpen) {
  std::set<int32_t> owned = Populate();
  // A fourth record names the pages of the first run again.
  ASSERT_EQ(Insert(runs_, RunRecord(9, lob_runs_[0].page + 1, 2048, 2)), 0);
  Flush();
  int32_t request[VED_WORDS] = {0, db_};
  ASSERT_EQ(DKVED0(request), 0);
  const int32_t p = lob_runs_[0].page;
  EXPECT_EQ(DKUnitsReachedTwice(db_), (std::vector<int32_t>{p + 1, p + 2}));
  EXPECT_NE(area_[db_ + DBE_CORRUPT], 0);
  // A restart that finds one owner gone settles the unit.
  DKSettleUnitReachedTwice(db_, p + 1);
  EXPECT_EQ(DKUnitsReachedTwice(db_), (std::vector<int32_t>{p + 2}));
  DKSettleUnitReachedTwice(db_, p + 2);
  EXPECT_TRUE(DKUnitsReachedTwice(db_).empty());
  EXPECT_EQ(area_[db_ + DBE_CORRUPT], 0);

  const int32_t failures = area_[BP_STAT_175];
  int32_t entry = 0;
  log_.records.clear();
  EXPECT_EQ(Reopen(&entry), -42);
  EXPECT_EQ(area_[BP_STAT_175], failures + 1);
  bool logged = false;
  for (const LogRecord& r : log_.records)
    for (const std::string& line : r.lines)
      logged = logged || line.find(" corrupt") != std::string::npos;
  EXPECT_TRUE(logged);
  // Nothing was written: the crash stays on disk for the next check.
  EXPECT_EQ(FileWord("tables", kHeaderUnit, HDR_CLOSE_MARK), 0);
  (void)owned;
}

TEST_F(RebuildTest, CorruptStructuresFailTheCheck) {
  Populate();
  struct Case {
    const char* what;
    int32_t record_page, size, pages;
  } cases[] = {
      {"a run on the bitmap page", 0, 2048, 1},
      {"a run past the end of the file", 3990, 2048, 20},
      {"a misaligned 16K page", 9, 16384, 1},
      {"a page size no pool has", 64, 4096, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Insert(runs_, RunRecord(50, c.record_page, c.size, c.pages)), 0);
    int32_t request[VED_WORDS] = {0, db_};
    EXPECT_EQ(DKVED0(request), -42);
    EXPECT_EQ(area_[db_ + DBE_STATE], CHK_INIT);
    ASSERT_EQ(Delete(runs_, RunRecord(50, 0, 0, 0)), 0);
    area_[db_ + DBE_ERROR] = 0;
  }
}

TEST_F(RebuildTest, OptionTwoFindsLeavesOutOfOrder) {
  Table t = CreateTable(71, 4, 200, 2048, 2048);
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(Insert(t, MakeRecord(std::to_string(1000 + i), 4, 200)), 0);
  Flush();
  int32_t zero[VED_WORDS] = {2, db_};
  ASSERT_EQ(DKVED0(zero), 0);
  // The first two records of a leaf change places.
  std::vector<int32_t> e = RootEntry(t);
  int32_t page = e[0];
  for (int level = 1; level < e[1]; ++level) {
    int32_t b = Get(db_, page, 2048, GET_SHARED);
    page = LoadChild(PageBytes(b) + kPageHeaderBytes + 4);
    DKPUT0(PUT_END_SHARED, b);
  }
  int32_t b = Get(db_, page, 2048, GET_UPDATE);
  uint8_t* p = PageBytes(b);
  std::string first(reinterpret_cast<char*>(p) + 16, 200);
  std::memmove(p + 16, p + 216, 200);
  std::memcpy(p + 216, first.data(), 200);
  DKPUT0(PUT_CHANGED, b);
  int32_t index_only[VED_WORDS] = {0, db_};
  EXPECT_EQ(DKVED0(index_only), 0);  // leaves are not read
  area_[db_ + DBE_ERROR] = 0;
  int32_t all[VED_WORDS] = {2, db_};
  EXPECT_EQ(DKVED0(all), -42);
  area_[db_ + DBE_ERROR] = 0;
  area_[db_ + DBE_STATE] = CHK_BACKGROUND;
  int32_t background[VED_WORDS] = {0, db_};
  EXPECT_EQ(DKVDB0(background), -42);
  EXPECT_EQ(area_[db_ + DBE_STATE], CHK_ABORTED);
  EXPECT_EQ(area_[db_ + DBE_ERROR], -42);  // disabled: its close writes no mark
}

TEST_F(RebuildTest, BackgroundCheckReadsEveryLeafAndStopsWhenAsked) {
  Populate();
  Table t = CreateTable(72, 4, 200, 2048, 2048, nullptr, 1);  // compressed leaves
  for (int i = 0; i < 200; ++i)
    ASSERT_EQ(Insert(t, MakeRecord(std::to_string(5000 + i), 4, 200)), 0);
  struct Case {
    int32_t state, status, result, after;
  } cases[] = {
      {CHK_BACKGROUND, BP_STATUS_UP, 0, CHK_COMPLETE},
      {CHK_ABORTING, BP_STATUS_UP, kCheckStopped, CHK_ABORTED},
      {CHK_BACKGROUND, BP_STATUS_SHUTDOWN, kCheckStopped, CHK_ABORTED},
  };
  for (const Case& c : cases) {
    area_[db_ + DBE_STATE] = c.state;
    area_[BP_STATUS] = c.status;
    int32_t request[VED_WORDS] = {0, db_};
    EXPECT_EQ(DKVDB0(request), c.result);
    EXPECT_EQ(request[VED_OPTION], c.result);
    EXPECT_EQ(area_[db_ + DBE_STATE], c.after);
  }
  area_[BP_STATUS] = BP_STATUS_UP;
  int32_t bad[VED_WORDS] = {0, db_ + 1};
  EXPECT_EQ(DKVDB0(bad), -45);
}

// The background check reads beside writers that split and merge the pages
// it walks: every bound it checks a leaf against comes from a parent it still
// holds, so it finds nothing wrong with a sound tree however it changes.
TEST_F(RebuildTest, BackgroundCheckBesideWritersFindsNothingWrong) {
  for (int32_t method : {0, 1}) {
    SCOPED_TRACE(method);
    const Table t = CreateTable(80 + method, 8, 100, 2048, 2048, nullptr, method);
    for (int i = 0; i < 400; ++i)
      ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(100000 + i), 8, 100)), 0);
    std::atomic<bool> writing{true};
    std::vector<int32_t> results;
    EndsWithin(60, "writers beside the background check", [&] {
      std::vector<std::thread> threads;
      threads.emplace_back([&] {
        enqdeq_attach(enq_, 2 + 3 * method);  // an index per thread of the test
        do {
          StoreWord(db_ + DBE_STATE, CHK_BACKGROUND);
          int32_t request[VED_WORDS] = {0, db_};
          results.push_back(DKVDB0(request));
        } while (writing.load());
      });
      for (int w = 0; w < 2; ++w)
        threads.emplace_back([&, w] {
          enqdeq_attach(enq_, 3 + w + 3 * method);
          char key[16];
          for (int i = 0; i < 1500; ++i) {
            std::snprintf(key, sizeof key, "%c%06d", 'a' + w, i * 7919 % 1500);
            EXPECT_EQ(Insert(t, MakeRecord(key, 8, 100)), 0);
          }
          for (int i = 0; i < 1500; i += 2) {
            std::snprintf(key, sizeof key, "%c%06d", 'a' + w, i);
            EXPECT_EQ(Delete(t, MakeRecord(key, 8, 100)), 0);
          }
        });
      for (size_t n = 1; n < threads.size(); ++n) threads[n].join();
      writing = false;
      threads[0].join();
    });
    ASSERT_FALSE(results.empty());
    for (int32_t rc : results) EXPECT_EQ(rc, 0);
    EXPECT_EQ(area_[db_ + DBE_ERROR], 0);
    EXPECT_EQ(area_[db_ + DBE_STATE], CHK_COMPLETE);
  }
}

}  // namespace
