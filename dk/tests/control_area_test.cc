// Start and stop of the control area: the start checks and their texts, the
// layout (checked against a model of disjoint regions), the needed size, the
// hash tables, and the stop steps.
#include "dk/control_area.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <set>

#include "dk/tests/kernel_fixture.h"

namespace {

class StartTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = InstallHostServices(&log_); }
  void TearDown() override {
    int32_t rc = 0;
    DKShutdown(&rc);
    EXPECT_EQ(Bufferpool(), nullptr);
    InstallHostServices(previous_);
  }
  CapturingServices log_;
  HostServices* previous_ = nullptr;
};

TEST_F(StartTest, StartChecksRefuseBadParametersWithTheirTexts) {
  struct Case {
    const char* what;
    void (*change)(StartParams&);
    int32_t rc;
    std::vector<std::string> message;  // from the third line on
  } cases[] = {
      {"empty name",
       [](StartParams& p) { p.name = ""; },
       -1,
       {"         Database name must be between 1 and 256 characters"}},
      {"long name",
       [](StartParams& p) { p.name = std::string(257, 'N'); },
       -1,
       {"         Database name must be between 1 and 256 characters"}},
      {"3 databanks",
       [](StartParams& p) { p.counts[2] = 3; },
       -3,
       {"         Too few concurrently opened databanks specified = 3"}},
      {"3 tables",
       [](StartParams& p) { p.counts[3] = 3; },
       -4,
       {"         Too few concurrently opened tables specified = 3"}},
      {"9 transactions",
       [](StartParams& p) { p.counts[1] = 9; },
       -4,
       {"         Too few concurrent transactions specified = 9"}},
      {"0 request threads",
       [](StartParams& p) { p.threads[0] = 0; },
       -5,
       {"         Invalid number of request threads specified = 0"}},
      {"0 background threads",
       [](StartParams& p) { p.threads[1] = 0; },
       -6,
       {"         Invalid number of background threads specified = 0"}},
      {"-1 I/O servers",
       [](StartParams& p) { p.threads[2] = -1; },
       -5,
       {"         Invalid number of I/O servers specified = -1"}},
      {"0 users",
       [](StartParams& p) { p.threads[3] = 0; },
       -5,
       {"         Invalid number of users specified = 0"}},
      {"-1 net threads",
       [](StartParams& p) { p.threads[4] = -1; },
       -5,
       {"         Invalid number of net request threads specified = -1"}},
      {"check option 2",
       [](StartParams& p) { p.check = 2; },
       -7,
       {"         Invalid databank check option = 2, 0 = Quick and 1 = Complete check"}},
      {"size below the databank minimum",
       [](StartParams& p) { p.counts[0] = 62 * 30 + 5637; },
       -2,
       {"         The specified bufferpool size was too small = 7497"}},
      {"size below what the pages need",
       [](StartParams& p) { p.counts[0] = 62 * 30 + 5638; },
       -2,
       {"         The specified bufferpool size was too small = 7498"}},
      {"too many threads",
       [](StartParams& p) {
         p.threads[0] = 200;
         p.threads[1] = 55;
       },
       -8,
       {"         Too many request and background threads specified: 200+55, max = 254"}},
      {"too many threads with net threads",
       [](StartParams& p) {
         p.threads[0] = 200;
         p.threads[1] = 50;
         p.threads[4] = 4;
         p.pages[2] = 10;
       },
       -8,
       {"         Too many net request, reques and background threads specified: 4+200+50, "
        "max = 253"}},
      {"too few pages for the threads",
       [](StartParams& p) { p.pages[0] = 20; },
       -10,
       {"         Too many request and background threads specified: 2+2=4",
        "         20 pages of size 2K allows a maximum of  3 servers",
        "         32 pages of size 16K allows a maximum of  6 servers"}},
      {"too few pages with net threads",
       [](StartParams& p) {
         p.threads[4] = 3;
         p.pages[1] = 35;
       },
       -10,
       {"         Too many net request, request and background threads specified: 3+2+2=7",
        "         64 pages of size 2K allows a maximum of  12 servers",
        "         35 pages of size 16K allows a maximum of  6 servers"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartParams p;
    p.counts[0] = p.NeededSize();
    c.change(p);
    log_.records.clear();
    EXPECT_EQ(p.Start(), c.rc);
    EXPECT_EQ(Bufferpool(), nullptr);
    ASSERT_EQ(log_.records.size(), 1u);
    EXPECT_EQ(log_.records[0].kind, 5);
    std::vector<std::string> expected = {"ZAVOR/DB Startup Error",
                                         "         Error when initializing bufferpool (DKSTA9)"};
    expected.insert(expected.end(), c.message.begin(), c.message.end());
    EXPECT_EQ(log_.records[0].lines, expected);
  }
}

TEST_F(StartTest, OneMorePageThanFiveTimesTheThreadsPasses) {
  for (int32_t pages : {20, 21}) {
    StartParams p;
    p.counts[0] = p.NeededSize();
    p.pages[0] = pages;  // request 2 + background 2 threads
    EXPECT_EQ(p.Start(), pages == 21 ? 0 : -10);
    int32_t rc;
    DKShutdown(&rc);
  }
  StartParams p;
  p.counts[0] = p.NeededSize() + 1;  // the topmost buffer would be off its boundary
  EXPECT_EQ(p.Start(), -2);
  EXPECT_NE(log_.records.back().lines.at(2).find("is not aligned on a "), std::string::npos);
}

// Every region of the area as [first, last] word, checked to be disjoint and
// inside the area.
void ExpectDisjointLayout(const StartParams& p) {
  const int32_t* w = Bufferpool();
  const int32_t size = w[BP_SIZE];
  std::map<int64_t, std::pair<int64_t, std::string>> regions;
  auto add = [&](int64_t first, int64_t words, const std::string& what) {
    if (words <= 0) return;
    ASSERT_GE(first, 0) << what;
    ASSERT_LE(first + words, size) << what;
    regions[first] = {first + words - 1, what};
  };
  add(0, BP_FIRST_SWA_INDEX - 1, "header");
  for (int32_t s = w[BP_FIRST_SWA]; s <= w[BP_LAST_SWA]; s += SWA_WORDS)
    add(s - 1, SWA_WORDS, "slot");
  struct Table {
    int32_t hash, first, last, stride, count;
  } tables[] = {
      {w[BP_DATABANK_HASH], w[BP_DATABANK_FIRST], w[BP_DATABANK_LAST], DBE_WORDS, p.counts[2]},
      {w[BP_TSS_HASH], w[BP_TSS_FIRST], w[BP_TSS_LAST], TSS_WORDS, p.counts[1]},
      {w[BP_TABLE_HASH], w[BP_TABLE_FIRST], w[BP_TABLE_LAST], TBE_WORDS, p.counts[3]},
  };
  for (const Table& t : tables) {
    EXPECT_GE(w[t.hash + HASH_BUCKETS], 1);
    // Count, free list head, in-use count and the buckets.
    add(t.hash - 1, 3 + w[t.hash + HASH_BUCKETS], "hash table");
    EXPECT_EQ(t.last, t.first + (t.count - 1) * t.stride);
    EXPECT_EQ(t.first % 2, 1);
    for (int32_t e = t.first; e <= t.last; e += t.stride) add(e - 1, t.stride, "entry");
    // Every entry is on the free list, the first entry at its head.
    EXPECT_EQ(w[t.hash + HASH_FREE_HEAD], t.first);
    int32_t on_list = 0;
    for (int32_t e = w[t.hash + HASH_FREE_HEAD]; e != 0; e = w[e + ENTRY_LINK]) ++on_list;
    EXPECT_EQ(on_list, t.count);
  }
  EXPECT_EQ(w[BP_TABLE_END], w[BP_TABLE_LAST] + TBE_WORDS - 1);
  int32_t partitions = 0;
  std::set<int32_t> bcbs;
  for (int32_t x = w[BP_FIRST_PARTITION]; x != 0; x = w[x + ENTRY_LINK], ++partitions) {
    add(x - 1, PART_WORDS, "partition");
    const int32_t pages = w[x + PART_PAGES];
    EXPECT_EQ(pages, p.pages[partitions]);
    add(w[x + PART_GROUP_TABLE] - 1, GROUP_WORDS * w[x + PART_GROUPS], "groups");
    add(w[x + PART_HASH], w[x + PART_HASH_SIZE], "page hash");
    EXPECT_EQ(w[x + PART_HASH_SIZE], pages % 62 == 0 ? pages - 1 : pages);
    const int32_t page_words = w[x + PART_PAGE_SIZE] / 4;
    for (int32_t k = 0; k < pages; ++k) {
      const int32_t bcb = w[x + PART_LAST_BCB] - (pages - 1 - k) * BCB_WORDS;
      add(bcb - 1, BCB_WORDS, "bcb");
      const int32_t buffer = w[bcb + BCB_BUFFER];
      add(buffer - 1, page_words, "page buffer");
      EXPECT_EQ(w[buffer - 1], bcb);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(w + buffer - 1) % 2048, 0u);
      EXPECT_GE(buffer - 1, w[BP_LOWEST_BUFFER]);
      bcbs.insert(bcb);
    }
  }
  EXPECT_EQ(partitions, p.pages[2] > 0 ? 3 : 2);
  int64_t end = -1;
  for (const auto& [first, region] : regions) {
    EXPECT_GT(first, end) << region.second << " at " << first << " overlaps";
    end = region.first;
  }
}

TEST_F(StartTest, LayoutsOfTheNeededSizeFitAndAreDisjoint) {
  struct Case {
    int32_t transactions, databanks, tables;
    int32_t pages[3];
    int32_t threads[5];
  } cases[] = {
      {30, 30, 30, {64, 32, 0}, {2, 2, 0, 10, 0}},
      {10, 4, 4, {11, 11, 0}, {1, 1, 0, 1, 0}},  // the smallest counts
      {500, 100, 1000, {2000, 600, 100}, {8, 4, 2, 300, 3}},
      {200, 40, 80, {5000, 3000, 0}, {4, 2, 0, 50, 0}},  // several groups
  };
  for (const Case& c : cases) {
    StartParams p;
    p.counts[1] = c.transactions;
    p.counts[2] = c.databanks;
    p.counts[3] = c.tables;
    std::copy(c.pages, c.pages + 3, p.pages);
    std::copy(c.threads, c.threads + 5, p.threads);
    SCOPED_TRACE(c.tables);
    ASSERT_EQ(p.Start(), 0) << (log_.records.empty() ? "" : log_.records.back().lines.back());
    ASSERT_NE(Bufferpool(), nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(Bufferpool()) % 4096, 0u);
    ExpectDisjointLayout(p);
    int32_t rc = 1;
    DKShutdown(&rc);
    EXPECT_EQ(rc, 0);
  }
}

TEST_F(StartTest, HeaderWordsAfterStart) {
  StartParams p;
  p.threads[0] = 9;
  p.threads[1] = 5;
  p.threads[2] = 2;
  p.threads[4] = 1;
  p.pages[0] = 200;
  p.pages[1] = 100;
  p.check = 1;
  p.counts[1] = 2000;
  ASSERT_EQ(p.Start(), 0);
  const int32_t* w = Bufferpool();
  const std::map<int32_t, int32_t> expected = {
      {BP_SIZE, p.counts[0]},
      {BP_VERSION, 913},
      {BP_STATUS, 3},
      {BP_LAST_OS_ERROR, -1},
      {BP_CHECK_OPTION, 1},
      {BP_DBNAME_LENGTH, 6},
      {BP_GROUP_COMMIT_SLEEP, 2},
      {BP_TSS_OVERFLOW_LIMIT, 1000},  // 2000 - 4 x 250
      {BP_TSS_OVERFLOW_CHUNK, 150},
      {BP_BACKGROUND_FLUSH_RATE, 50},
      {BP_POSTPROC_FLUSH_LIMIT, 400},
      {BP_HALF_BACKGROUND, 2},
      {BP_FIRST_SWA, 259},
      {BP_LAST_SWA, 259 + 14 * 4},
      {BP_DATABANK_HASH, 259 + 14 * 5},
      {BP_REQUEST_THREADS, 9},
      {BP_NET_REQUEST_THREADS, 1},
      {BP_BACKGROUND_THREADS, 5},
      {BP_IO_SERVERS, 2},
      {BP_LEVEL1_ENTRIES_LEFT, 9},
      {BP_ASYNC_IO_LEFT, 256 - 9 - 5 - 2},
      {BP_MAX_PAGE_SIZE, 16384},
      {BP_MAX_RECORD_LENGTH, (16384 - 32) / 4},
      {BP_LOCK_LOG, 1},
      {BP_LOCK_GROUP_COMMIT_STOPPER, 9 / 4 + 1},
      {BP_LOCK_KERNEL_WAIT_SYNCH, 0},
      {BP_LOCK_BACKGROUND_BARRIER, 1},
      {BP_LOCK_RESTART_SET_CREATE, 1},
      {BP_CANCELLED_REQUESTS, 0},
  };
  for (const auto& [word, value] : expected) EXPECT_EQ(w[word], value) << "word " << word;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(w + BP_DBNAME), 6), "TESTDB");
  const int32_t first = w[BP_FIRST_PARTITION];
  EXPECT_EQ(first % 2, 1);
  EXPECT_EQ(w[first + PART_MAX_RECORD], (2048 - 16) / 10);  // not the last partition
  EXPECT_EQ(w[first + PART_TUNING_READERS], 4);
  EXPECT_EQ(w[first + PART_TUNING_FANIN], std::max(5, (200 - 5 * 15) / 4));
  for (int32_t sel : {1, 2, 3, 4, 0}) {
    int32_t word = sel;
    DKGetSetting(&word);
    EXPECT_EQ(word, sel == 3 ? 16384 : sel == 4 || sel == 0 ? -1 : (16384 - 32) / 4) << sel;
  }
}

TEST_F(StartTest, NeededSizeRefusesWhatStartRefuses) {
  StartParams p;
  p.counts[2] = 3;
  EXPECT_EQ(p.NeededSize(), 0);
  ASSERT_EQ(log_.records.size(), 1u);
  EXPECT_EQ(
      log_.records[0].lines,
      (std::vector<std::string>{"Zavor SQL Startup Error",
                                "         Too few concurrently opened databanks specified = 3"}));
  StartParams ok;
  const int32_t size = ok.NeededSize();
  EXPECT_GT(size, 0);
  EXPECT_EQ(size % 512, 0);
  // More pages never need less room.
  ok.pages[0] += 100;
  EXPECT_GE(ok.NeededSize(), size + 100 * 512);
}

// The start accepts every size the check advises, and nothing smaller: both
// read the same layout plan. Random parameter sets, and one where the size
// once advised was refused.
TEST_F(StartTest, StartAcceptsExactlyTheAdvisedSize) {
  std::vector<StartParams> sets(1);
  StartParams& refused_once = sets[0];
  refused_once.counts[1] = 336;
  refused_once.counts[2] = 100;
  refused_once.counts[3] = 1450;
  refused_once.pages[0] = 532;
  refused_once.pages[1] = 51;
  refused_once.pages[2] = 113;
  refused_once.threads[0] = 6;
  refused_once.threads[1] = 1;
  std::mt19937 rng(12);
  auto pick = [&](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(rng);
  };
  for (int i = 0; i < 150; ++i) {
    StartParams p;
    p.counts[1] = pick(10, 3000);
    p.counts[2] = pick(4, 400);
    p.counts[3] = pick(4, 3000);
    p.threads[0] = pick(1, 12);
    p.threads[1] = pick(1, 6);
    p.threads[4] = pick(0, 3);
    const int32_t least = 5 * (p.threads[0] + p.threads[1] + p.threads[4]) + 1;
    p.pages[0] = pick(least, 2500);
    p.pages[1] = pick(least, 700);
    p.pages[2] = pick(0, 3) == 0 ? 0 : pick(least, 150);
    sets.push_back(p);
  }
  int started = 0;
  for (StartParams& p : sets) {
    SCOPED_TRACE(testing::Message()
                 << p.counts[1] << " " << p.counts[2] << " " << p.counts[3] << " pages "
                 << p.pages[0] << "/" << p.pages[1] << "/" << p.pages[2] << " threads "
                 << p.threads[0] << "/" << p.threads[1] << "/" << p.threads[4]);
    const int32_t size = p.NeededSize();
    if (size == 0) continue;
    p.counts[0] = size - 512;
    EXPECT_EQ(p.Start(), -2);
    p.counts[0] = size;
    ASSERT_EQ(p.Start(), 0) << (log_.records.empty() ? "" : log_.records.back().lines.back());
    ExpectDisjointLayout(p);
    int32_t rc = 1;
    DKShutdown(&rc);
    ++started;
  }
  EXPECT_GT(started, 100);
}

using HashTest = KernelTest;

TEST_F(HashTest, ThirtyDatabanksHaveSevenBucketsAndMinusEightFallsInBucketOne) {
  int32_t* w = Bufferpool();
  const int32_t h = w[BP_DATABANK_HASH];
  EXPECT_EQ(w[h + HASH_BUCKETS], 7);
  const int32_t e = DKHMA0(h);
  EXPECT_EQ(DKHMU0(h), 1);
  w[e + ENTRY_KEY] = -8;
  DKHML0(h, e);
  EXPECT_EQ(w[h + HASH_FIRST_BUCKET + 1], e);
  EXPECT_EQ(DKHMI0(h, -8), e);
  EXPECT_EQ(DKHMI0(h, 8), 0);
  DKHMP0(h, e);
  EXPECT_EQ(DKHMI0(h, -8), 0);
  w[e + ENTRY_KEY] = 0;
  DKHML0(h, e);  // back on the free list
  EXPECT_EQ(DKHMU0(h), 0);
  EXPECT_EQ(w[h + HASH_FREE_HEAD], e);
}

TEST_F(HashTest, IterationVisitsEveryLinkedEntryOnceAndDependentsStayOut) {
  int32_t* w = Bufferpool();
  const int32_t h = w[BP_DATABANK_HASH];
  std::set<int32_t> linked;
  for (int32_t key : {1, 8, 15, -8, 3, 700, -701, 22}) linked.insert(AddDatabank(key, "X"));
  // A dependent (shadow) with key 3, reached only through its head.
  const int32_t head = DKHMI0(h, 3);
  const int32_t dependent = DKHMA0(h);
  w[dependent + ENTRY_KEY] = 3;
  w[head + DBE_DEPENDENT] = dependent;
  std::multiset<int32_t> seen;
  int32_t state[4] = {0, h, 0, 0};
  for (int32_t e = DKHMS0(state); e != 0; e = DKHMS0(state)) seen.insert(e);
  EXPECT_EQ(seen, std::multiset<int32_t>(linked.begin(), linked.end()));
  // Removing the head hands its place to the dependent.
  DKHMR0(h, head);
  EXPECT_EQ(DKHMI0(h, 3), dependent);
  // A dependent alone is cut from its head.
  const int32_t other = DKHMA0(h);
  w[other + ENTRY_KEY] = 3;
  w[dependent + DBE_DEPENDENT] = other;
  DKHMR0(h, other);
  EXPECT_EQ(w[dependent + DBE_DEPENDENT], 0);
  EXPECT_EQ(DKHMI0(h, 3), dependent);
}

TEST_F(HashTest, ReadsGoToAUsableCopy) {
  int32_t* w = Bufferpool();
  const int32_t bank = AddDatabank(5, "B");
  const int32_t h = w[BP_DATABANK_HASH];
  const int32_t copy1 = DKHMA0(h), copy2 = DKHMA0(h);
  w[bank + DBE_DEPENDENT] = copy1;
  w[copy1 + DBE_DEPENDENT] = copy2;
  EXPECT_EQ(DKChooseDatabankCopy(bank), bank);
  w[bank + DBE_ERROR] = -42;
  w[copy1 + DBE_ERROR2] = 1;
  EXPECT_EQ(DKChooseDatabankCopy(bank), copy2);
  w[copy2 + DBE_ERROR] = -44;
  EXPECT_EQ(DKChooseDatabankCopy(bank), bank);
  w[bank + DBE_DID] = 2;
  EXPECT_EQ(DKChooseDatabankCopy(bank), bank);
  EXPECT_EQ(DKChooseDatabankCopy(bank + 3), bank + 3);  // not an entry: as given
}

TEST_F(HashTest, StopWakesBackgroundSlotsAndShutdownReleasesTheArea) {
  int32_t* w = Bufferpool();
  int32_t rc = 1;
  DKStopBackground(&rc);
  EXPECT_EQ(w[BP_STATUS], BP_STATUS_SHUTDOWN);
  for (int32_t s = w[BP_FIRST_SWA]; s <= w[BP_LAST_SWA]; s += SWA_WORDS)
    EXPECT_EQ(w[s + SWA_WAKE], 1);
  DKShutdown(&rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Bufferpool(), nullptr);
  int32_t setting = 1;
  DKGetSetting(&setting);
  EXPECT_EQ(setting, -1);
}

TEST_F(HashTest, SystemDatabankOpenFailsWithoutItsFile) {
  // The test runs where no system databank file lies: the open's file
  // failure (-2, no such file) is the answer.
  int32_t rc = 0;
  DKOSY9(&rc);
  EXPECT_EQ(rc, -2 - 16140);
  EXPECT_EQ(Bufferpool()[BP_STATUS], BP_STATUS_DOWN);
}

}  // namespace
