// Trees whose pages hold what a damaged file could hold, and trees changed by
// several threads at once. A damaged page gives the kernel's corruption code
// and leaves no page held; threads that share a table lose no record.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "dk/tests/table_fixture.h"

namespace {

class TreeFaultTest : public TableTest {
 protected:
  // A two-level table of 100-byte records on 2048-byte pages.
  Table TwoLevels(int32_t tbl) {
    Table t = CreateTable(tbl, 8, 100, 2048, 2048);
    for (int32_t i = 0; i < 60; ++i)
      EXPECT_EQ(Insert(t, MakeRecord("k" + std::to_string(1000 + 10 * i), 8, 100)), 0);
    EXPECT_EQ(Levels(t), 2);
    return t;
  }
  // Changes a page as a read of a damaged file would have left it.
  void Damage(int32_t page, const std::function<void(uint8_t*)>& change) {
    int32_t b = Get(db_, page, 2048, GET_UPDATE);
    ASSERT_GT(b, 0);
    change(PageBytes(b));
    DKPUT0(PUT_CHANGED, b);
  }
  void ThreadsOnOneTable(int32_t method);
  int32_t FirstChild(const Table& t) {
    int32_t b = Get(db_, Top(t), 2048, GET_SHARED);
    int32_t child = LoadChild(PageBytes(b) + kPageHeaderBytes + 8);
    DKPUT0(PUT_END_SHARED, b);
    return child;
  }
};

TEST_F(TreeFaultTest, DamagedPagesGiveTheCorruptionCodeAndHoldNothing) {
  struct Case {
    const char* what;
    bool leaf;  // damage the first leaf, else the top page
    std::function<void(uint8_t*, int32_t top)> change;
  };
  const Case cases[] = {
      {"entry length 0", true, [](uint8_t* p, int32_t) { SetPageWord(p, 1, 0); }},
      {"entry length below the key", true, [](uint8_t* p, int32_t) { SetPageWord(p, 1, 7); }},
      {"negative entry length", true, [](uint8_t* p, int32_t) { SetPageWord(p, 1, -100); }},
      {"used end past the page", true, [](uint8_t* p, int32_t) { SetPageWord(p, 2, 3016); }},
      {"used end in the header", true, [](uint8_t* p, int32_t) { SetPageWord(p, 2, 4); }},
      {"used end between entries", true, [](uint8_t* p, int32_t) { SetPageWord(p, 2, 166); }},
      {"index entry length wrong", false, [](uint8_t* p, int32_t) { SetPageWord(p, 1, 100); }},
      {"child page 0", false, [](uint8_t* p, int32_t) { StoreChild(p + 24, 0); }},
      {"child is the header", false, [](uint8_t* p, int32_t) { StoreChild(p + 24, 1); }},
      {"child is the page itself", false, [](uint8_t* p, int32_t top) { StoreChild(p + 24, top); }},
      {"child past the file", false, [](uint8_t* p, int32_t) { StoreChild(p + 24, 3000000); }},
      {"child is negative", false, [](uint8_t* p, int32_t) { StoreChild(p + 24, -77); }},
      {"no fill key: the key lands past the last entry", false,
       [](uint8_t* p, int32_t) { SetPageWord(p, 2, 16 + 24); }},
  };
  const Table clean = CreateTable(90, 8, 100, 2048, 2048);
  int32_t tbl = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Table t = TwoLevels(tbl++);
    int32_t top = Top(t);
    Damage(c.leaf ? FirstChild(t) : top, [&](uint8_t* p) { c.change(p, top); });
    // The first key of the table goes through the damaged entry; past every
    // key when the top page lost its fill key.
    const std::string r =
        MakeRecord(std::string(c.what).starts_with("no fill") ? "zzzz" : "k1000", 8, 100);
    EndsWithin(20, c.what, [&] {
      for (int32_t code : {38, 55, 20, 10}) {
        int32_t status = Send(code, t, r);
        EXPECT_TRUE(status == -63 || status == -65 || status == -44)
            << c.what << " " << code << ": " << status;
      }
      // Nothing stayed held: the root page they share is free for others.
      EXPECT_EQ(Insert(clean, MakeRecord(std::to_string(tbl), 8, 100)), 0);
    });
  }
}

TEST_F(TreeFaultTest, DamagedDirectoryPagesGiveTheCorruptionCode) {
  struct Case {
    const char* what;
    std::function<void(uint8_t*)> change;
  } cases[] = {
      {"count past the page", [](uint8_t* p) { SetPageWord(p, 511, 100000); }},
      {"negative count", [](uint8_t* p) { SetPageWord(p, 511, -3); }},
      {"first entry not at byte 16", [](uint8_t* p) { SetPageWord(p, 510, 5); }},
      {"offset past the used end", [](uint8_t* p) { SetPageWord(p, 509, 2000); }},
      {"offsets out of order", [](uint8_t* p) { SetPageWord(p, 508, 17); }},
      {"used end into the directory", [](uint8_t* p) { SetPageWord(p, 2, 2040); }},
      {"record length changed", [](uint8_t* p) { SetPageWord(p, 1, 99); }},
      {"garbled compressed bytes", [](uint8_t* p) { std::memset(p + 16, 0xC0, 40); }},
      {"keys out of order",
       [](uint8_t* p) {
         // The three records have forms of one length: the first and the
         // last change places.
         const int32_t n = DirLength(p, 2048, 1);
         std::vector<uint8_t> first(p + 16, p + 16 + n);
         std::memcpy(p + 16, p + 16 + 2 * n, static_cast<size_t>(n));
         std::memcpy(p + 16 + 2 * n, first.data(), static_cast<size_t>(n));
       }},
  };
  // Keys are checked for order while the databank's check is not complete.
  area_[db_ + DBE_STATE] = 17;
  int32_t tbl = 500;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Table t = CreateTable(tbl++, 8, 120, 2048, 2048, nullptr, 1);
    for (int32_t i = 0; i < 3; ++i)
      ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(10 + i), 8, 120, 'x')), 0);
    ASSERT_EQ(Levels(t), 1);
    Damage(Top(t), c.change);
    EndsWithin(20, c.what, [&] {
      for (int32_t code : {38, 55, 20, 10}) {
        int32_t status = Send(code, t, MakeRecord("k11", 8, 120, 'y'));
        EXPECT_TRUE(status == -65 || status == -43) << c.what << " " << code << ": " << status;
      }
    });
  }
}

TEST_F(TreeFaultTest, DamagedRootEntriesAreRefused) {
  const Table t = TwoLevels(300);
  struct Case {
    const char* what;
    int32_t word;  // root entry word, -1..8
    int32_t value;
  } cases[] = {
      {"levels beyond any tree", 0, 99},        {"negative levels", 0, -1},
      {"record length past the page", 2, 5000}, {"key longer than the record", 1, 101},
      {"unknown page size", 6, 4096},           {"a top page with no levels", -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t record = 0;
    int32_t b = GetRootEntry(t.entry, GET_UPDATE, 10, &record);
    ASSERT_GT(b, 0);
    int32_t saved = area_[record + c.word];
    area_[record + c.word] = c.value;
    DKPUT0(PUT_CHANGED, b);
    EndsWithin(20, c.what, [&] {
      EXPECT_EQ(Insert(t, MakeRecord("k5", 8, 100)), -64);
      EXPECT_EQ(Check(t, MakeRecord("k5", 8, 100)), -64);
    });
    b = GetRootEntry(t.entry, GET_UPDATE, 10, &record);
    area_[record + c.word] = saved;
    DKPUT0(PUT_CHANGED, b);
  }
  EXPECT_EQ(Check(t, MakeRecord("k1000", 8, 100)), 0);
}

TEST_F(TreeFaultTest, ThreadsChangingOneTableLoseNothing) {
  for (int32_t method : {0, 1}) ThreadsOnOneTable(method);
}

void TreeFaultTest::ThreadsOnOneTable(int32_t method) {
  SCOPED_TRACE(method);
  const Table t = CreateTable(400 + method, 8, 100, 2048, 2048, nullptr, method);
  constexpr int kWriters = 4, kEach = 1500;
  // Records that stay put while the writers split and merge pages around
  // them: a reader must find each of them every time.
  for (int i = 0; i < 50; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("m" + std::to_string(100000 + i), 8, 100)), 0);
  std::atomic<bool> writing{true};
  EndsWithin(60, "four writers and a reader", [&] {
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
      enqdeq_attach(enq_, 2 + 2 * kWriters + method);
      for (int round = 0; writing.load(); ++round)
        ASSERT_EQ(Check(t, MakeRecord("m" + std::to_string(100000 + round % 50), 8, 100)), 0)
            << round;
    });
    for (int w = 0; w < kWriters; ++w)
      threads.emplace_back([&, w] {
        enqdeq_attach(enq_, 2 + w + kWriters * method);  // an index per thread of the test
        char key[16];
        for (int i = 0; i < kEach; ++i) {
          std::snprintf(key, sizeof key, "%c%06d", 'a' + w, i * 7919 % kEach);
          EXPECT_EQ(Insert(t, MakeRecord(key, 8, 100, static_cast<char>('0' + w))), 0);
        }
        for (int i = 0; i < kEach; i += 2) {
          std::snprintf(key, sizeof key, "%c%06d", 'a' + w, i);
          EXPECT_EQ(Delete(t, MakeRecord(key, 8, 100)), 0);
          if (i % 6 == 0) {
            EXPECT_EQ(Check(t, MakeRecord(key, 8, 100)), kStatusCheck);
          }
        }
      });
    for (size_t n = 1; n < threads.size(); ++n) threads[n].join();
    writing = false;
    threads[0].join();
  });
  TreeShape shape = ReadTree(t);
  ASSERT_EQ(shape.records.size(), static_cast<size_t>(kWriters * kEach / 2 + 50));
  char key[16];
  size_t i = 0;
  for (int w = 0; w < kWriters; ++w)
    for (int n = 1; n < kEach; n += 2) {
      std::snprintf(key, sizeof key, "%c%06d", 'a' + w, n);
      EXPECT_EQ(shape.records[i++], MakeRecord(key, 8, 100, static_cast<char>('0' + w)));
    }
}

}  // namespace

namespace {

class ConcurrentCreateTest : public TableTest {};

TEST_F(ConcurrentCreateTest, ThreadsCreatingOneTableShareItsEntries) {
  constexpr int kThreadsAtOnce = 4;
  int32_t entries[kThreadsAtOnce] = {};
  EndsWithin(30, "four creates", [&] {
    std::vector<std::thread> threads;
    for (int w = 0; w < kThreadsAtOnce; ++w)
      threads.emplace_back([&, w] {
        enqdeq_attach(enq_, 2 + w);
        int32_t rc = 0;
        Table t = CreateTable(600, 8, 40, 0, 0, &rc);
        EXPECT_EQ(rc, 0);
        entries[w] = t.entry;
        for (int i = 0; i < 200; ++i)
          EXPECT_EQ(Insert(t, MakeRecord(std::to_string(w * 1000 + i), 8, 40)), 0);
      });
    for (auto& th : threads) th.join();
  });
  for (int w = 1; w < kThreadsAtOnce; ++w) EXPECT_EQ(entries[w], entries[0]);
  Table t{entries[0], 600, 8, 40};
  EXPECT_EQ(ReadTree(t).records.size(), 800u);
  // One root entry only: the walk of the root entries finds the table once.
  int32_t block[NTE_WORDS] = {0, db_, 0, 0};
  int32_t seen = 0;
  for (DKNTE1(block); block[NTE_STATUS] == 0; DKNTE1(block)) seen += block[NTE_TBL] == 600;
  EXPECT_EQ(seen, 1);
}

}  // namespace
