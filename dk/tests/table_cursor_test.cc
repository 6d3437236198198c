// Cursors, opens and generated keys of tables: fetches in both directions
// against a sorted model, a cursor that survives inserts into its page, the
// access-mode rule of open, the generated key base, and bad or damaged
// input giving error codes with nothing held.
#include "dk/table_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "dk/table_open.h"
#include "dk/tests/table_fixture.h"
#include "platform/packed_decimal.h"

namespace {

class CursorTest : public TableTest {
 protected:
  std::vector<int32_t> Cursor(const Table& t, int32_t mode, const std::string& key = "") {
    std::vector<int32_t> c(static_cast<size_t>(CursorBlockWords(t.length)) + 1, 0);
    c[CUR_STATUS] = mode;
    c[CUR_TABLE] = t.entry;
    c[CUR_TBL] = t.tbl;
    c[CUR_KEY_LENGTH] = t.key;
    c[CUR_RECORD_LENGTH] = t.length;
    std::memcpy(c.data() + CUR_RECORD, key.data(), std::min<size_t>(key.size(), t.key));
    return c;
  }
  static std::string RecordIn(const std::vector<int32_t>& c, int32_t length) {
    return std::string(reinterpret_cast<const char*>(c.data() + CUR_RECORD),
                       static_cast<size_t>(length));
  }
  // Fetches with `code` until the status is not 0; the records in order.
  std::vector<std::string> Scan(const Table& t, int32_t code, std::vector<int32_t> c) {
    std::vector<std::string> out;
    for (;;) {
      DKEXE1(code, c.data());
      if (c[CUR_STATUS] != 0) {
        EXPECT_EQ(c[CUR_STATUS], kStatusEnd);
        return out;
      }
      out.push_back(RecordIn(c, t.length));
      c[CUR_STATUS] = FET_NEXT;
    }
  }
  int32_t OpenTable(int32_t tbl, int32_t mode, int32_t key, int32_t length,
                    int32_t* entry = nullptr) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_STATUS] = mode;
    b[RQ_DID] = 5;
    b[OPT_KIND] = kOpenAnyKind;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = key;
    b[RQ_RECORD_LENGTH] = length;
    DKEXE1(45, b);
    if (entry) *entry = b[RQ_TABLE];
    return b[RQ_STATUS];
  }
};

TEST_F(CursorTest, FetchOnAnEmptyTableAnswersEnd) {
  Table t = CreateTable(40, 8, 100);
  auto c = Cursor(t, FET_FROM_KEY);
  DKEXE1(27, c.data());
  EXPECT_EQ(c[CUR_STATUS], kStatusEnd);
  c[CUR_STATUS] = FET_FROM_KEY;
  DKEXE1(26, c.data());
  EXPECT_EQ(c[CUR_STATUS], kStatusEnd);
}

TEST_F(CursorTest, ScansBothWaysAgreeWithASortedModelAcrossLevels) {
  Table t = CreateTable(41, 200, 300, 2048, 2048);
  std::set<std::string> model;
  std::mt19937 rng(7);
  for (int i = 0; i < 600; ++i) {
    std::string r =
        MakeRecord(std::to_string(rng() % 100000), 200, 300, static_cast<char>('a' + i % 26));
    if (Insert(t, r) == 0) model.insert(r);
  }
  ASSERT_GE(Levels(t), 3);
  std::vector<std::string> forward = Scan(t, 27, Cursor(t, FET_FROM_KEY));
  EXPECT_EQ(forward, std::vector<std::string>(model.begin(), model.end()));
  std::vector<std::string> backward =
      Scan(t, 26, Cursor(t, FET_FROM_KEY, std::string(200, '\xFF')));
  EXPECT_EQ(backward, std::vector<std::string>(model.rbegin(), model.rend()));
  // From a key in the middle: at or after, after, before.
  const std::string mid = *std::next(model.begin(), 300);
  auto c = Cursor(t, FET_FROM_KEY, mid);
  DKEXE1(27, c.data());
  EXPECT_EQ(RecordIn(c, 300), mid);
  c = Cursor(t, FET_AFTER_KEY, mid);
  DKEXE1(27, c.data());
  EXPECT_EQ(RecordIn(c, 300), *std::next(model.begin(), 301));
  c = Cursor(t, FET_AFTER_KEY, mid);
  DKEXE1(26, c.data());
  EXPECT_EQ(RecordIn(c, 300), *std::next(model.begin(), 299));
}

TEST_F(CursorTest, CompressedTablesAreReadRecordByRecordInBothDirections) {
  for (int32_t method : {1, 2}) {
    SCOPED_TRACE(method);
    Table t = CreateTable(51 + method, 8, 300, 2048, 2048, nullptr, method);
    std::set<std::string> model;
    std::mt19937 rng(3);
    for (int i = 0; i < 400; ++i) {
      std::string r = MakeRecord(std::to_string(rng() % 100000), 8, 300, ' ');
      r.replace(40, 20, std::string(20, static_cast<char>('a' + i % 26)));
      if (Insert(t, r) == 0) model.insert(r);
    }
    ASSERT_GE(Levels(t), 2);
    EXPECT_EQ(Scan(t, 27, Cursor(t, FET_FROM_KEY)),
              std::vector<std::string>(model.begin(), model.end()));
    EXPECT_EQ(Scan(t, 26, Cursor(t, FET_FROM_KEY, std::string(8, '\xFF'))),
              std::vector<std::string>(model.rbegin(), model.rend()));
    // A cursor on a directory page steps by slot and survives an insert.
    auto c = Cursor(t, FET_FROM_KEY);
    DKEXE1(27, c.data());
    EXPECT_EQ(c[CUR_POSITION], 1);
    c[CUR_STATUS] = FET_NEXT;
    DKEXE1(27, c.data());
    const std::string second = RecordIn(c, 300);
    EXPECT_EQ(second, *std::next(model.begin()));
    ASSERT_EQ(Insert(t, MakeRecord(model.begin()->substr(0, 7) + "~", 8, 300, ' ')), 0);
    c[CUR_STATUS] = FET_NEXT;
    DKEXE1(27, c.data());
    EXPECT_EQ(RecordIn(c, 300), *std::next(model.begin(), 2));
    c[CUR_STATUS] = FET_NEXT;
    c[CUR_POSITION] = 0;
    DKEXE1(27, c.data());
    EXPECT_EQ(c[CUR_STATUS], -43);  // slot 0
  }
}

TEST_F(CursorTest, AFetchAfterAnInsertIntoTheCursorsPageResumesAfterTheLastRecord) {
  Table t = CreateTable(42, 8, 100);
  for (const char* k : {"k10", "k20", "k30", "k40"}) ASSERT_EQ(Insert(t, MakeRecord(k, 8, 100)), 0);
  auto c = Cursor(t, FET_FROM_KEY);
  DKEXE1(27, c.data());
  c[CUR_STATUS] = FET_NEXT;
  DKEXE1(27, c.data());
  ASSERT_EQ(RecordIn(c, 100).substr(0, 3), "k20");
  const int32_t stamp = c[CUR_STAMP];
  ASSERT_EQ(Insert(t, MakeRecord("k15", 8, 100)), 0);
  ASSERT_EQ(Insert(t, MakeRecord("k25", 8, 100)), 0);
  c[CUR_STATUS] = FET_NEXT;
  DKEXE1(27, c.data());
  EXPECT_EQ(c[CUR_STATUS], 0);
  EXPECT_EQ(RecordIn(c, 100).substr(0, 3), "k25");
  EXPECT_NE(c[CUR_STAMP], stamp);
  c[CUR_STATUS] = FET_NEXT;
  DKEXE1(27, c.data());
  EXPECT_EQ(RecordIn(c, 100).substr(0, 3), "k30");
}

// Scans while writers split and merge the pages under them: every scan
// delivers keys strictly ascending and finds each record that stays put.
TEST_F(CursorTest, ScansSurviveWritersChangingThePagesUnderThem) {
  for (int32_t method : {0, 1}) {
    SCOPED_TRACE(method);
    const Table t = CreateTable(60 + method, 8, 100, 2048, 2048, nullptr, method);
    for (int i = 0; i < 50; ++i)
      ASSERT_EQ(Insert(t, MakeRecord("m" + std::to_string(100000 + i), 8, 100)), 0);
    std::atomic<bool> writing{true};
    EndsWithin(60, "two writers and a scanner", [&] {
      std::vector<std::thread> threads;
      threads.emplace_back([&] {
        enqdeq_attach(enq_, 8 + method);
        for (int round = 0; writing.load() || round < 3; ++round) {
          std::vector<std::string> seen =
              Scan(t, round % 2 ? 26 : 27,
                   Cursor(t, FET_FROM_KEY, std::string(round % 2 ? 8 : 0, '\xFF')));
          if (round % 2) std::reverse(seen.begin(), seen.end());
          int stayed = 0;
          for (size_t i = 0; i < seen.size(); ++i) {
            if (i > 0) {
              ASSERT_LT(seen[i - 1].substr(0, 8), seen[i].substr(0, 8)) << round;
            }
            stayed += seen[i][0] == 'm';
          }
          ASSERT_EQ(stayed, 50) << round;
        }
      });
      for (int w = 0; w < 2; ++w)
        threads.emplace_back([&, w] {
          enqdeq_attach(enq_, 2 + w + 2 * method);
          char key[16];
          for (int i = 0; i < 1500; ++i) {
            std::snprintf(key, sizeof key, "%c%06d", 'a' + w * 20, i * 7919 % 1500);
            EXPECT_EQ(Insert(t, MakeRecord(key, 8, 100, static_cast<char>('0' + w))), 0);
          }
          for (int i = 0; i < 1500; i += 2) {
            std::snprintf(key, sizeof key, "%c%06d", 'a' + w * 20, i);
            EXPECT_EQ(Delete(t, MakeRecord(key, 8, 100)), 0);
          }
        });
      for (size_t n = 1; n < threads.size(); ++n) threads[n].join();
      writing = false;
      threads[0].join();
    });
    EXPECT_EQ(Scan(t, 27, Cursor(t, FET_FROM_KEY)).size(), 50u + 1500u);
  }
}

TEST_F(CursorTest, OpenOfATableHeldInMode1AnswersConflictForEveryModeBut5) {
  Table held = CreateTable(43, 8, 100);  // create leaves mode 1
  for (int32_t mode = 1; mode <= 4; ++mode)
    EXPECT_EQ(OpenTable(43, mode, 8, 100), kStatusModeConflict) << mode;
  EXPECT_EQ(OpenTable(43, 5, 8, 100), 0);
  Table shared = CreateTable(44, 8, 100);
  int32_t close[CRT_WORDS] = {};
  close[RQ_TABLE] = shared.entry;
  close[RQ_TBL] = 44;
  DKEXE1(13, close);
  ASSERT_EQ(close[RQ_STATUS], 0);
  int32_t entry = 0;
  EXPECT_EQ(OpenTable(44, 3, 8, 100, &entry), 0);
  EXPECT_EQ(OpenTable(44, 3, 8, 100), 0);
  EXPECT_EQ(OpenTable(44, 2, 8, 100), kStatusModeConflict);
  EXPECT_EQ(Bufferpool()[entry + TBE_USES], 2);
  // Lengths other than the table's are refused and leave the count as it was.
  EXPECT_EQ(OpenTable(44, 4, 8, 99), -67);
  EXPECT_EQ(Bufferpool()[entry + TBE_USES], 2);
  EXPECT_EQ(OpenTable(45, 3, 8, 100), -50);  // no such table
  EXPECT_EQ(OpenTable(0, 3, 8, 100), -43);
  (void)held;
}

TEST_F(CursorTest, GeneratedKeysStartAt2OnAnEmptyTableAndFollowTheHighestKey) {
  Table t = CreateTable(46, 12, 20);
  int32_t g[GGK_WORDS] = {};
  g[GGK_TABLE] = t.entry;
  g[GGK_TBL] = 46;
  g[GGK_KEY_LENGTH] = 12;
  DKEXE1(33, g);
  EXPECT_EQ(g[GGK_STATUS], 0);
  EXPECT_EQ(g[GGK_BASE], 2);
  EXPECT_EQ(g[GGK_COUNTER], 0);
  DKEXE1(33, g);
  EXPECT_EQ(g[GGK_BASE], 2);
  EXPECT_EQ(g[GGK_COUNTER], 1);

  Table u = CreateTable(47, 12, 20);
  std::string r(20, '\0');
  value_descriptor v{0, 20, 0, 0};
  ByteSpan area(reinterpret_cast<uint8_t*>(r.data()), r.size());
  const int64_t key = 41 * int64_t{10000000000} + 17;
  ASSERT_EQ(int64_to_decimal(area, v, static_cast<int32_t>(key >> 32), static_cast<int32_t>(key)),
            0);
  ASSERT_EQ(Insert(u, r), 0);
  g[GGK_TABLE] = u.entry;
  g[GGK_TBL] = 47;
  DKEXE1(33, g);
  EXPECT_EQ(g[GGK_STATUS], 0);
  EXPECT_EQ(g[GGK_BASE], 42);
  EXPECT_EQ(g[GGK_COUNTER], 0);
}

TEST_F(CursorTest, BadCursorsAreRefused) {
  Table t = CreateTable(48, 8, 100);
  ASSERT_EQ(Insert(t, MakeRecord("a", 8, 100)), 0);
  ASSERT_EQ(Insert(t, MakeRecord("b", 8, 100)), 0);
  auto c = Cursor(t, FET_FROM_KEY);
  DKEXE1(27, c.data());
  ASSERT_EQ(c[CUR_STATUS], 0);
  struct Case {
    const char* what;
    int word, value, status;
  };
  const Case cases[] = {
      {"position 0 in mode 0", CUR_POSITION, 0, -43},
      {"position past the page", CUR_POSITION, 20000, -43},
      {"page size not configured", CUR_PAGE_SIZE, 4096, -43},
      {"record length not the table's", CUR_RECORD_LENGTH, 99, -67},
      {"record length beyond any page", CUR_RECORD_LENGTH, 1 << 30, -67},
      {"key length 0", CUR_KEY_LENGTH, 0, -67},
      {"table entry of another TBL", CUR_TBL, 77, -46},
      {"table entry that is none", CUR_TABLE, 3, -46},
  };
  for (const Case& k : cases) {
    auto bad = c;
    bad[CUR_STATUS] = FET_NEXT;
    bad[k.word] = k.value;
    DKEXE1(27, bad.data());
    EXPECT_EQ(bad[CUR_STATUS], k.status) << k.what;
  }
  // A page that no longer holds the cursor's records makes the fetch search
  // again from the top page.
  auto moved = c;
  moved[CUR_STATUS] = FET_NEXT;
  moved[CUR_STAMP] ^= 0x5555;
  DKEXE1(27, moved.data());
  EXPECT_EQ(moved[CUR_STATUS], 0);
  EXPECT_EQ(RecordIn(moved, 100)[0], 'b');
}

TEST_F(CursorTest, ADamagedLeafGivesTheCorruptionCodeAndHoldsNothing) {
  Table t = CreateTable(49, 8, 100, 2048, 2048);
  for (int32_t i = 0; i < 60; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(1000 + 10 * i), 8, 100)), 0);
  ASSERT_EQ(Levels(t), 2);
  int32_t top = Get(db_, Top(t), 2048, GET_SHARED);
  const int32_t leaf = LoadChild(PageBytes(top) + kPageHeaderBytes + 8);
  DKPUT0(PUT_END_SHARED, top);
  int32_t b = Get(db_, leaf, 2048, GET_UPDATE);
  SetPageWord(PageBytes(b), PAGE_USED_END, 3000);
  DKPUT0(PUT_CHANGED, b);
  auto c = Cursor(t, FET_FROM_KEY);
  DKEXE1(27, c.data());
  EXPECT_EQ(c[CUR_STATUS], -65);
  // Nothing is held: the page can be had for update at once.
  b = Get(db_, leaf, 2048, GET_UPDATE);
  ASSERT_GT(b, 0);
  DKPUT0(PUT_UNCHANGED, b);
}

TEST_F(CursorTest, DescribeGivesTheRootEntryAndTheTopPageEntries) {
  Table t = CreateTable(50, 8, 100, 2048, 2048);
  for (int32_t i = 0; i < 15; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(i), 8, 100)), 0);
  int32_t b[CRT_WORDS + 4] = {};
  b[RQ_TABLE] = t.entry;
  b[RQ_TBL] = 50;
  DKEXE1(36, b);
  EXPECT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(b[RQ_TYPE], 10);
  EXPECT_EQ(b[RQ_KEY_LENGTH], 8);
  EXPECT_EQ(b[RQ_RECORD_LENGTH], 100);
  EXPECT_EQ(b[GTS_LEVELS], Levels(t));
  EXPECT_GT(b[GTS_TOP_ENTRIES], 0);
}

// A describe reads the top page the root entry names while writers give
// the tree a new top page and take it away again: it must never read a
// page of another level for the top (the corruption code, which disables
// the databank).
TEST_F(CursorTest, DescribeWhileWritersChangeTheTopPage) {
  for (int32_t method : {0, 1}) {
    SCOPED_TRACE(method);
    Table t = CreateTable(70 + method, 8, 100, 2048, 2048, nullptr, method);
    std::atomic<bool> writing{true};
    std::atomic<int> describes{0};
    std::thread writer([&] {
      enqdeq_attach(enq_, 2 + method);
      while (describes.load() == 0) std::this_thread::yield();
      // Enough records for a second level, compressed or not. The rounds
      // are few: the pages merges free wait for a page write that never
      // comes here, each in a record of the table entries.
      const int32_t count = method == 0 ? 40 : 400;
      for (int round = 0; round < 25; ++round) {
        for (int32_t i = 0; i < count; ++i)
          EXPECT_EQ(Insert(t, MakeRecord("k" + std::to_string(100 + i), 8, 100)), 0);
        for (int32_t i = 0; i < count; ++i)
          EXPECT_EQ(Delete(t, MakeRecord("k" + std::to_string(100 + i), 8, 100)), 0);
      }
      writing = false;
    });
    for (; writing.load(); ++describes) {
      int32_t b[CRT_WORDS + 4] = {};
      b[RQ_TABLE] = t.entry;
      b[RQ_TBL] = t.tbl;
      DKEXE1(36, b);
      if (b[RQ_STATUS] < 0) {
        ADD_FAILURE() << "describe answered " << b[RQ_STATUS];
        break;
      }
    }
    writer.join();
    EXPECT_EQ(area_[db_ + DBE_ERROR], 0);
  }
}

TEST_F(CursorTest, DescribeByDidFindsTheRootEntryOfTheKindAsked) {
  Table t = CreateTable(63, 8, 100, 2048, 2048);
  ASSERT_EQ(Insert(t, MakeRecord("a", 8, 100)), 0);
  int32_t b[CRT_WORDS + 4] = {};
  b[RQ_DID] = 5;
  b[RQ_TYPE] = 1;  // kind
  b[RQ_TBL] = 63;
  DKEXE1(36, b);
  EXPECT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(b[RQ_RECORD_LENGTH], 100);
  EXPECT_EQ(b[GTS_LEVELS], 1);
  EXPECT_EQ(b[GTS_TOP_ENTRIES], 1);
  b[RQ_TYPE] = 2;  // no table 63 of kind 2
  DKEXE1(36, b);
  EXPECT_EQ(b[RQ_STATUS], -50);
  b[RQ_DID] = 77;
  DKEXE1(36, b);
  EXPECT_EQ(b[RQ_STATUS], -45);
}

TEST_F(CursorTest, KindAndTypeChangeAndPageSizesOnlyWhileEmpty) {
  Table t = CreateTable(64, 8, 100, 2048, 2048);
  struct Case {
    const char* what;
    int32_t code, data, index, status;
  };
  const Case cases[] = {
      {"type 2 is none of 1, 3, 4", 12, 0, 0, -43},
      {"kind 3 is none of 1, 2, 5, 6", 31, 0, 0, -43},
      {"page size not configured", 21, 4096, 0, -76},
      {"kind 2 type 1 with new sizes", 21, 16384, 16384, 0},
  };
  for (const Case& c : cases) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_TYPE] = c.code;
    b[RQ_TABLE] = t.entry;
    b[RQ_TBL] = 64;
    b[RQ_DATA_PAGE_SIZE] = c.data;
    b[RQ_INDEX_PAGE_SIZE] = c.index;
    DKEXE1(41, b);
    EXPECT_EQ(b[RQ_STATUS], c.status) << c.what;
  }
  auto e = RootEntry(t);
  EXPECT_EQ(e[5], 2);  // kind
  EXPECT_EQ(e[6], 1);  // type
  EXPECT_EQ(e[7], 16384);
  ASSERT_EQ(Insert(t, MakeRecord("a", 8, 100)), 0);
  int32_t b[CRT_WORDS] = {};
  b[RQ_TYPE] = 13;
  b[RQ_TABLE] = t.entry;
  b[RQ_TBL] = 64;
  b[RQ_DATA_PAGE_SIZE] = 2048;
  DKEXE1(41, b);
  EXPECT_EQ(b[RQ_STATUS], 0);
  e = RootEntry(t);
  EXPECT_EQ(e[6], 3);
  EXPECT_EQ(e[7], 16384);  // a table with records keeps its page sizes
}

TEST_F(CursorTest, StoredLengthIsTheCompressedLengthWithCompression) {
  Table plain = CreateTable(65, 8, 300);
  Table packed = CreateTable(66, 8, 300, 0, 0, nullptr, 1);
  const std::string r = MakeRecord("k", 8, 300, ' ');
  auto b = Block(plain, r);
  DKEXE1(46, b.data());
  EXPECT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(b[PFU_STORED_LENGTH], 300);
  b = Block(packed, r);
  DKEXE1(46, b.data());
  EXPECT_EQ(b[RQ_STATUS], 0);
  EXPECT_GT(b[PFU_STORED_LENGTH], 0);
  EXPECT_LT(b[PFU_STORED_LENGTH], 30);
  // The update of a compressed record takes that length as its before-length.
  ASSERT_EQ(Insert(packed, r), 0);
  auto u = Block(packed, MakeRecord("k", 8, 300, 'x'));
  u[RQ_BEFORE_LENGTH] = b[PFU_STORED_LENGTH];
  DKEXE1(55, u.data());
  EXPECT_EQ(u[RQ_STATUS], 0);
  b = Block(packed, r);
  b[RQ_RECORD_LENGTH] = 20000;
  DKEXE1(46, b.data());
  EXPECT_EQ(b[RQ_STATUS], -67);
  b[RQ_STATUS] = -1;
  DKEXE1(46, b.data());
  EXPECT_EQ(b[RQ_STATUS], 0);
}

TEST_F(CursorTest, GeneratedKeysOfLobTablesNeedTheirCompanion) {
  Table t = CreateTable(67, 20, 44);
  int32_t g[GGK_WORDS] = {};
  g[GGK_KIND] = 6;
  g[GGK_TABLE] = t.entry;
  g[GGK_TBL] = 67;
  DKEXE1(33, g);
  EXPECT_EQ(g[GGK_STATUS], -46);  // no table 240
  Table refs = CreateTable(kLobReferenceTbl, 20, 44);
  std::string high(44, '\0');
  high[3] = 9;  // object number 9 in the companion
  ASSERT_EQ(Insert(refs, high), 0);
  std::string own(44, '\0');
  own[3] = 5;
  ASSERT_EQ(Insert(t, own), 0);
  DKEXE1(33, g);
  EXPECT_EQ(g[GGK_STATUS], 0);
  EXPECT_EQ(g[GGK_BASE], 10);
  EXPECT_EQ(g[GGK_COUNTER], 1);
}

}  // namespace
