// The transaction cache: records of a row's changes ordered newest
// transaction first, a transaction reading its own changes (against a model
// of the table plus its changes), the check of a row, the read checks of the
// commit validation, and the refusal of bad requests.
#include "dk/transaction_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <thread>

#include "dk/set_requests.h"
#include "dk/tests/transaction_fixture.h"
#include "platform/enqdeq.h"

namespace {

class TransactionCacheTest : public TransactionTest {
 protected:
  static constexpr int32_t kKey = 8, kLength = 24;

  void SetUp() override {
    TransactionTest::SetUp();
    t_ = CreateTable(60, kKey, kLength);
  }

  static std::string Row(int32_t key, int32_t value) {
    std::string r(kLength, '\0');
    for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<char>(key >> (24 - 8 * i));
    std::memcpy(r.data() + kKey, &value, 4);
    return r;
  }
  static int32_t ValueOf(const std::string& r) {
    int32_t v = 0;
    std::memcpy(&v, r.data() + kKey, 4);
    return v;
  }

  // A row request (DKINT1, DKDET1, DKCHT1, DKFNT1) for `row`.
  std::vector<int32_t> Request(int32_t tss, int32_t mode, int32_t sequence, const std::string& row,
                               const Table* t = nullptr) {
    const Table& table = t ? *t : t_;
    std::vector<int32_t> b(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    b[TC_TSS] = tss;
    b[TC_MODE] = mode;
    b[TC_TABLE] = table.entry;
    b[TC_TBL] = table.tbl;
    b[TC_KEY_LENGTH] = table.key;
    b[TC_RECORD_LENGTH] = table.length;
    b[TC_SEQUENCE] = sequence;
    std::memcpy(b.data() + TC_ROW, row.data(), row.size());
    return b;
  }
  int32_t Send(int32_t code, std::vector<int32_t> b) {
    DKEXE1(code, b.data());
    last_ = b;
    return b[TC_MODE];
  }
  int32_t Cache(int32_t tss, int32_t kind, int32_t sequence, const std::string& row) {
    return Send(39, Request(tss, kind, sequence, row));
  }
  int32_t CheckRow(int32_t tss, int32_t sequence, const std::string& row) {
    return Send(11, Request(tss, -1, sequence, row));
  }
  // DKFNT1 mode 2: the row of that key as the transaction sees it through
  // the cache; the delivered row in *out.
  int32_t FetchRow(int32_t tss, int32_t sequence, const std::string& row, std::string* out) {
    int32_t rc = Send(28, Request(tss, 2, sequence, row));
    out->assign(reinterpret_cast<const char*>(last_.data() + TC_ROW), kLength);
    return rc;
  }
  int32_t CacheState(int32_t tss, int32_t mode, int32_t sequence, const std::string& row,
                     int32_t count = 0) {
    std::vector<int32_t> b(CCS_ROW + kLength / 4 + 2, 0);
    b[CCS_TSS] = tss;
    b[CCS_MODE] = mode;
    b[CCS_COUNT] = count;
    b[CCS_TABLE] = t_.entry;
    b[CCS_TBL] = t_.tbl;
    b[CCS_KEY_LENGTH] = kKey;
    b[CCS_SEQUENCE] = sequence;
    std::memcpy(b.data() + CCS_ROW, row.data(), kKey);
    DKEXE1(9, b.data());
    return b[CCS_ANSWER];
  }

  // The cache table's records in key order: their suffixes.
  std::vector<CacheSuffix> CacheRecords() {
    std::vector<CacheSuffix> out;
    const int32_t cache = area_[t_.entry + TBE_SECOND];
    if (cache == 0) return out;
    Table c{cache, -1, kKey + kSuffixKeyBytes, kLength + kSuffixBytes};
    for (const std::string& r : Rows(c))
      out.push_back(DKReadCacheSuffix(reinterpret_cast<const uint8_t*>(r.data()) + kKey));
    return out;
  }

  // The base table's row of a key, if any.
  std::optional<std::string> BaseRow(const std::string& row) {
    std::vector<int32_t> b(CursorBlockWords(kLength) + 1, 0);
    b[CUR_TABLE] = t_.entry;
    b[CUR_TBL] = t_.tbl;
    b[CUR_KEY_LENGTH] = kKey;
    b[CUR_RECORD_LENGTH] = kLength;
    b[CUR_STATUS] = FET_FROM_KEY;
    std::memcpy(b.data() + CUR_RECORD, row.data(), kKey);
    DKEXE1(27, b.data());
    std::string found(reinterpret_cast<const char*>(b.data() + CUR_RECORD), kLength);
    if (b[CUR_STATUS] != 0 || found.substr(0, kKey) != row.substr(0, kKey)) return std::nullopt;
    return found;
  }

  Table t_;
  std::vector<int32_t> last_;
};

TEST_F(TransactionCacheTest, TableWithoutCacheAnswersFourAndAZeroSequenceInsertsNothing) {
  Began t = Begin();
  EXPECT_EQ(CacheState(t.tss, -10, 1, Row(1, 0)), 4);
  EXPECT_EQ(Cache(t.tss, kChangeInsert, 0, Row(1, 0)), -43);
  EXPECT_EQ(area_[t_.entry + TBE_SECOND], 0) << "no cache table made";
  EXPECT_EQ(CheckRow(t.tss, 5, Row(1, 0)), 0);
  std::string out;
  EXPECT_EQ(FetchRow(t.tss, 5, Row(1, 0), &out), 4);
}

TEST_F(TransactionCacheTest, ChangesOfOneKeySortNewestTransactionFirst) {
  Began older = Begin(), newer = Begin();
  ASSERT_GT(newer.start, older.start);
  ASSERT_EQ(Cache(older.tss, kChangeUpdate, 1, Row(7, 10)), 0);
  ASSERT_EQ(Cache(newer.tss, kChangeUpdate, 1, Row(7, 20)), 0);
  ASSERT_EQ(Cache(older.tss, kChangeDelete, 2, Row(7, 10)), 0);
  std::vector<CacheSuffix> r = CacheRecords();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].start, newer.start);
  EXPECT_EQ(r[1].start, older.start);
  EXPECT_EQ(r[1].sequence, 2) << "a later change of one transaction sorts first";
  EXPECT_EQ(r[2].start, older.start);
  EXPECT_EQ(r[2].sequence, 1);
  EXPECT_EQ(Cache(older.tss, kChangeDelete, 2, Row(7, 10)), 1) << "same key and suffix";
}

TEST_F(TransactionCacheTest, CheckOfARowAnswersByTheTransactionsOwnEarlierChange) {
  Began t = Begin(), other = Begin();
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(1, 1)), 0);
  ASSERT_EQ(Cache(t.tss, kChangeUpdate, 2, Row(2, 2)), 0);
  ASSERT_EQ(Cache(t.tss, kChangeDelete, 3, Row(3, 3)), 0);
  ASSERT_EQ(Cache(other.tss, kChangeDelete, 1, Row(4, 4)), 0);
  struct Case {
    int32_t key, expected;
  } cases[] = {{1, 4}, {2, 4}, {3, 1}, {4, 0}, {5, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(CheckRow(t.tss, 10, Row(c.key, 0)), c.expected) << c.key;
  }
  // Words 1 to 3 tell the sequence of the change that answered.
  EXPECT_EQ(CheckRow(t.tss, 10, Row(3, 0)), 1);
  EXPECT_EQ(last_[TC_OWN_SEQUENCE], 3);
  // A change of the current statement (sequence not below word 15) is not
  // seen yet.
  EXPECT_EQ(CheckRow(t.tss, 3, Row(3, 0)), 0);
  // Cache state of the caller's own change: mode -11 finds the insert of
  // sequence 1, mode -13 the delete of sequence 3.
  EXPECT_EQ(CacheState(t.tss, -11, 1, Row(1, 0)), 0);
  EXPECT_EQ(CacheState(t.tss, -11, 2, Row(1, 0)), 4);
  EXPECT_EQ(CacheState(t.tss, -13, 3, Row(3, 0)), 0);
  EXPECT_EQ(CacheState(t.tss, -13, 3, Row(2, 0)), 4);
  // Records of a newer transaction and later changes of this one are
  // stepped over to reach the caller's own change.
  ASSERT_EQ(Cache(other.tss, kChangeUpdate, 1, Row(1, 9)), 0);
  ASSERT_EQ(Cache(t.tss, kChangeUpdate, 5, Row(1, 5)), 0);
  EXPECT_EQ(CacheState(t.tss, -11, 1, Row(1, 0)), 0);
  EXPECT_EQ(CheckRow(t.tss, 10, Row(1, 0)), 4);
  // Mode -10 compares over the length word 8 + 14 names (here word 21, the
  // key length) and asks for both an insert or update and a delete.
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 7, Row(8, 8)), 0);
  EXPECT_EQ(CacheState(t.tss, -10, 7, Row(8, 0), CCS_KEY_LENGTH - 14), 4);
  ASSERT_EQ(Cache(t.tss, kChangeDelete, 7, Row(8, 8)), 0);
  EXPECT_EQ(CacheState(t.tss, -10, 7, Row(8, 0), CCS_KEY_LENGTH - 14), 0);
}

TEST_F(TransactionCacheTest, ReadsOfOwnChangesAgreeWithAModelOfTableAndChanges) {
  std::mt19937 rng(16);
  std::map<int32_t, int32_t> model;
  for (int32_t key = 0; key < 60; key += 2) {
    ASSERT_EQ(Insert(t_, Row(key, 1000 + key)), 0);
    model[key] = 1000 + key;
  }
  Began t = Begin(), other = Begin();
  int32_t seq = 0;
  // Another transaction's uncommitted changes of the same keys are never
  // seen.
  for (int32_t key = 0; key < 60; key += 3)
    ASSERT_EQ(Cache(other.tss, key % 2 ? kChangeInsert : kChangeDelete, 1, Row(key, -1)), 0);
  // The transaction's last change of each key: its value, or none when
  // deleted.
  std::map<int32_t, std::optional<int32_t>> own;
  auto verify_backwards = [&](int32_t key) {
    for (int32_t mode : {1, -2}) {
      auto m = own.upper_bound(mode == 1 ? key : key - 1);
      std::vector<int32_t> b = Request(t.tss, mode, seq + 1, Row(key, 0));
      DKEXE1(29, b.data());
      std::string out(reinterpret_cast<const char*>(b.data() + TC_ROW), kLength);
      if (m == own.begin()) {
        EXPECT_EQ(b[TC_MODE], 4) << "key " << key << " mode " << mode;
        continue;
      }
      --m;
      EXPECT_EQ(b[TC_MODE], m->second ? 0 : 1) << "key " << key << " mode " << mode;
      EXPECT_EQ(out.substr(0, kKey), Row(m->first, 0).substr(0, kKey));
      if (m->second) {
        EXPECT_EQ(ValueOf(out), *m->second);
      }
    }
  };
  auto verify = [&] {
    for (int32_t key = 0; key < 60; ++key) {
      verify_backwards(key);
      std::string out;
      const int32_t rc = FetchRow(t.tss, seq + 1, Row(key, 0), &out);
      std::optional<std::string> seen;
      if (rc == 0) seen = out;
      if (rc == 4) seen = BaseRow(Row(key, 0));
      ASSERT_TRUE(rc == 0 || rc == 1 || rc == 4) << rc;
      auto m = model.find(key);
      ASSERT_EQ(seen.has_value(), m != model.end()) << "key " << key << " after " << seq;
      if (seen) {
        EXPECT_EQ(seen->substr(0, kKey), Row(key, 0).substr(0, kKey));
        EXPECT_EQ(ValueOf(*seen), m->second) << "key " << key;
      }
      const int32_t check = CheckRow(t.tss, seq + 1, Row(key, 0));
      EXPECT_EQ(check, rc == 0 ? 4 : rc == 1 ? 1 : 0) << "key " << key;
    }
  };
  for (int step = 0; step < 300; ++step) {
    const int32_t key = static_cast<int32_t>(rng() % 60);
    const int32_t value = static_cast<int32_t>(rng() % 100000);
    const bool present = model.count(key) != 0;
    int32_t kind = kChangeInsert;
    if (present) kind = rng() % 3 == 0 ? kChangeDelete : kChangeUpdate;
    ASSERT_EQ(Cache(t.tss, kind, ++seq, Row(key, value)), 0);
    if (kind == kChangeDelete) {
      model.erase(key);
      own[key] = std::nullopt;
    } else {
      model[key] = value;
      own[key] = value;
    }
    if (step % 60 == 59) verify();
  }
  verify();
}

TEST_F(TransactionCacheTest, ReadCheckAgainstALaterCommitConflicts) {
  DKInstallTransactionCacheChecks();
  // The reader begins, then a writer changes the row the reader reads and
  // commits first: the reader's commit fails its validation.
  Began reader = Begin(), writer = Begin();
  ASSERT_EQ(Insert(t_, Row(5, 0)), 0);
  ASSERT_EQ(Cache(writer.tss, kChangeUpdate, 1, Row(5, 50)), 0);
  Sets ws = NewSets();
  AppendTo(ws.write, Header(0, {{db_, 2}}));
  AppendTo(ws.write, Change(2, t_, Row(5, 50)));
  ASSERT_EQ(End(writer.tss, ws), 0);

  Sets rs = NewSets();
  std::vector<int32_t> read(RSC_KEY + kKey / 4, 0);
  read[RS_KIND] = 1;
  read[RS_TABLE] = t_.entry;
  read[RSC_TABLE] = t_.entry;
  read[RSC_TBL] = t_.tbl;
  read[RSC_KEY_LENGTH] = kKey;
  std::string key = Row(5, 0);
  std::memcpy(read.data() + RSC_KEY, key.data(), kKey);
  AppendTo(rs.read, read);
  AppendTo(rs.write, Header(0, {{db_, 2}}));
  AppendTo(rs.write, Change(2, t_, Row(6, 60)));
  EXPECT_EQ(End(reader.tss, rs), kConflict);
}

TEST_F(TransactionCacheTest, ReadChecksAnswerByTheWritersPrepareViewAndState) {
  Began reader = Begin(), writer = Begin();
  ASSERT_EQ(Cache(writer.tss, kChangeUpdate, 1, Row(5, 50)), 0);
  ASSERT_EQ(Cache(reader.tss, kChangeUpdate, 1, Row(6, 60)), 0);
  std::vector<int32_t> read(RSC_KEY + kKey / 4, 0);
  read[RSC_TABLE] = t_.entry;
  read[RSC_TBL] = t_.tbl;
  read[RSC_KEY_LENGTH] = kKey;
  std::string key = Row(5, 0);
  std::memcpy(read.data() + RSC_KEY, key.data(), kKey);
  const int32_t view = 5;
  area_[reader.tss + TSS_VIEW] = view;
  area_[reader.tss + TSS_PREPARE] = 20;
  struct Case {
    int32_t state, prepare, on_disk, answer;
  } cases[] = {
      {TSS_COMMITTED, 10, view + 1, kConflict},  // committed after the reader's view
      {TSS_IN_DOUBT, 10, 0, kConflictInDoubt},   // prepared, in doubt
      {TSS_PREPARED, 10, 0, kConflict},          // prepared, not on disk yet
      {TSS_COMMITTED, 30, view + 1, 0},          // prepared after the reader
      {TSS_COMMITTED, 10, view, 0},              // on disk within the reader's view
      {TSS_BUILDUP_RW, 10, 0, 0},                // still building up
  };
  for (const Case& c : cases) {
    area_[writer.tss + TSS_STATE] = c.state;
    area_[writer.tss + TSS_PREPARE] = c.prepare;
    area_[writer.tss + TSS_ON_DISK] = c.on_disk;
    for (int32_t mode : {0, -1, -3})
      EXPECT_EQ((read[RSC_MODE] = mode, DKCHR0(reader.tss, read)), c.answer) << c.state;
    read[RSC_MODE] = 0;
    EXPECT_EQ(DKCHW0(reader.tss, read), c.answer) << c.state;
  }
  area_[writer.tss + TSS_STATE] = TSS_BUILDUP_RW;
  read[RSC_MODE] = 5;
  EXPECT_EQ(DKCHR0(reader.tss, read), -86);
  EXPECT_EQ(DKCHW0(reader.tss, read), -86);
  read[RSC_MODE] = 0;
  read[RSC_TBL] = 99;
  EXPECT_EQ(DKCHR0(reader.tss, read), -46);
  EXPECT_EQ(DKCHR0(reader.tss, std::span<const int32_t>(read.data(), 4)), -43);
}

// What a reader sees of another transaction's change, by where the
// writer's commit stands against the reader's view.
TEST_F(TransactionCacheTest, OthersChangesAreSeenByTheirCommitAgainstTheView) {
  Began reader = Begin(), writer = Begin();
  const int32_t view = 5;
  area_[reader.tss + TSS_VIEW] = view;
  struct Case {
    const char* what;
    int32_t kind, state, on_disk, fetch, check;
  } cases[] = {
      {"insert after the view", kChangeInsert, TSS_COMMITTED, view + 1, 1, 1},
      {"insert within the view", kChangeInsert, TSS_COMMITTED, view, 0, 4},
      {"update after the view", kChangeUpdate, TSS_COMMITTED, view + 1, 4, 0},
      {"update within the view", kChangeUpdate, TSS_COMMITTED, view - 1, 0, 4},
      {"delete within the view", kChangeDelete, TSS_COMMITTED, view, 1, 1},
      {"delete after the view", kChangeDelete, TSS_COMMITTED, view + 2, 0, 4},
      {"not on disk yet", kChangeInsert, TSS_PREPARED, 0, 4, 0},
  };
  int32_t key = 0;
  for (const Case& c : cases) {
    ++key;
    ASSERT_EQ(Cache(writer.tss, c.kind, 1, Row(key, 100 + key)), 0) << c.what;
    area_[writer.tss + TSS_STATE] = c.state;
    area_[writer.tss + TSS_ON_DISK] = c.on_disk;
    std::string out;
    EXPECT_EQ(FetchRow(reader.tss, 1, Row(key, 0), &out), c.fetch) << c.what;
    if (c.fetch == 0) {
      EXPECT_EQ(ValueOf(out), 100 + key) << c.what;
    }
    EXPECT_EQ(last_[TC_OWN_SEQUENCE], 0) << c.what;
    EXPECT_EQ(CheckRow(reader.tss, 1, Row(key, 0)), c.check) << c.what;
    area_[writer.tss + TSS_STATE] = TSS_BUILDUP_RW;
    area_[writer.tss + TSS_ON_DISK] = 0;
  }
  // The records of a writer that is gone, and of writers below the low
  // start limit, are removed as they are met.
  const size_t records = CacheRecords().size();
  area_[BP_LOW_START_TRANS] = writer.start + 1;
  std::string out;
  EXPECT_EQ(FetchRow(reader.tss, 1, Row(1, 0), &out), 4);
  EXPECT_EQ(CacheRecords().size(), records - 2) << "row 1's and the stale one that ended the walk";
  area_[BP_LOW_START_TRANS] = 0;
  Sets s = NewSets();
  ASSERT_EQ(End(writer.tss, s, kEndAbort), 0);
  EXPECT_EQ(CheckRow(reader.tss, 1, Row(3, 0)), 0);
  EXPECT_EQ(CacheRecords().size(), records - 3);
}

TEST_F(TransactionCacheTest, StampTestCountsARetryWhenCommitsReachedDisk) {
  int32_t b[7] = {area_[BP_COMMITS_SECURED], 0, 0, 0, 0, 0, 9};
  DKCheckTCacheStamp(b);
  EXPECT_EQ(b[TC_MODE], 0);
  b[0] += 1;
  DKCheckTCacheStamp(b);
  EXPECT_EQ(b[TC_MODE], 4);
  EXPECT_EQ(area_[BP_TCACHE_DU1_RETRIES], 1);
}

TEST_F(TransactionCacheTest, ClosingTheTableGivesItsCacheBack) {
  auto anonymous_tables = [&] {
    int32_t b[NTE_WORDS] = {};
    b[NTE_DATABANK] = trans_;
    int32_t count = 0;
    for (int n = 0; n < 100; ++n) {
      DKNTE1(b);
      if (b[NTE_STATUS] != 0) break;
      count += b[NTE_TBL] == -1;
    }
    return count;
  };
  // Threads that make the cache at once make one.
  constexpr int kRunning = 4, kRows = 50;
  std::vector<std::thread> running;
  std::vector<Began> began;
  for (int i = 0; i < kRunning; ++i) began.push_back(Begin());
  for (int i = 0; i < kRunning; ++i) {
    running.emplace_back([&, i] {
      enqdeq_attach(enq_, 2 + i);
      for (int32_t key = 0; key < kRows; ++key) {
        std::vector<int32_t> b = Request(began[i].tss, kChangeInsert, 1, Row(key, i));
        DKEXE1(39, b.data());
        EXPECT_EQ(b[TC_MODE], 0);
      }
    });
  }
  for (std::thread& r : running) r.join();
  EXPECT_EQ(CacheRecords().size(), static_cast<size_t>(kRunning * kRows));
  EXPECT_EQ(anonymous_tables(), 1);
  int32_t b[CRT_WORDS] = {-22, 0, 0, 0, t_.entry, t_.tbl};
  DKEXE1(13, b);
  ASSERT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(anonymous_tables(), 0);
}

TEST_F(TransactionCacheTest, BadRequestsGetTheKernelsErrors) {
  Began t = Begin();
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(1, 1)), 0);
  struct Case {
    const char* what;
    int32_t code, word, value, answer;
  } cases[] = {
      {"bad kind", 39, TC_MODE, 7, -43},
      {"key length 0", 39, TC_KEY_LENGTH, 0, -43},
      {"key longer than the record", 39, TC_KEY_LENGTH, kLength + 1, -67},
      {"record past the largest", 39, TC_RECORD_LENGTH, 1 << 30, -67},
      {"negative record length", 39, TC_RECORD_LENGTH, -5, -67},
      {"another record length", 39, TC_RECORD_LENGTH, kLength - 4, -67},
      {"table out of range", 39, TC_TABLE, 1 << 30, -46},
      {"table of another TBL", 39, TC_TBL, 61, -46},
      {"no transaction", 39, TC_TSS, 0, -85},
      {"transaction out of range", 21, TC_TSS, -7, -85},
      {"check without transaction", 11, TC_TSS, 0, -85},
      {"check mode", 11, TC_MODE, -2, -86},
      {"fetch mode", 28, TC_MODE, 3, -86},
      {"fetch compare length", 28, TC_MODE, 4, -43},
      {"fetch key length", 28, TC_KEY_LENGTH, -1, -43},
      {"backward fetch mode", 29, TC_MODE, 2, -86},
      {"backward fetch of another TBL", 29, TC_TBL, 61, -46},
      {"backward fetch transaction", 29, TC_TSS, 12345, -85},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> b = Request(t.tss,
                                     c.code == 39   ? kChangeInsert
                                     : c.code == 11 ? -1
                                                    : 2,
                                     2, Row(2, 2));
    b[c.word] = c.value;
    b[TC_ROW + kKey / 4] = c.value == 4 ? 99 : b[TC_ROW + kKey / 4];
    EXPECT_EQ(Send(c.code, b), c.answer) << c.what;
  }
  EXPECT_EQ(CacheRecords().size(), 1u) << "nothing inserted by a refused request";
  EXPECT_EQ(CacheState(t.tss, -12, 1, Row(1, 0)), -86);
  EXPECT_EQ(CacheState(t.tss, -10, 1, Row(1, 0), 1000), -43);
  EXPECT_EQ(CacheState(t.tss, -10, 1, Row(1, 0), -100), -43);
}

TEST_F(TransactionCacheTest, RemovedChangeAndStaleCacheAreNoLongerSeen) {
  Began t = Begin();
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(1, 1)), 0);
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(2, 2)), 0);
  EXPECT_EQ(Send(21, Request(t.tss, kChangeInsert, 1, Row(1, 1))), 0);
  EXPECT_EQ(Send(21, Request(t.tss, kChangeInsert, 1, Row(1, 1))), 5);
  std::string out;
  EXPECT_EQ(FetchRow(t.tss, 2, Row(1, 0), &out), 4);
  EXPECT_EQ(FetchRow(t.tss, 2, Row(2, 0), &out), 0);
  // Once no transaction uses the cache, its records are dropped at the next
  // use.
  Sets s = NewSets();
  ASSERT_EQ(End(t.tss, s, kEndAbort), 0);
  Began next = Begin();
  EXPECT_EQ(FetchRow(next.tss, 2, Row(2, 0), &out), 4);
  ASSERT_EQ(Cache(next.tss, kChangeInsert, 1, Row(3, 3)), 0);
  EXPECT_EQ(CacheRecords().size(), 1u);
}

// Threads increment shared counters, each reading its counter through the
// cache (then the table) and validated by the cache's read check at commit;
// a lost validation is tried again. Every committed increment is applied
// exactly once.
TEST_F(TransactionCacheTest, CachedIncrementsOfManyThreadsAreEachAppliedOnce) {
  constexpr int kRunning = 6, kRounds = 40, kCounters = 3;
  DKInstallTransactionCacheChecks();
  StartBackground(2);
  std::vector<std::vector<int32_t>> initial;
  for (int32_t row = 0; row < kCounters; ++row) initial.push_back(Change(1, t_, Row(row, 0)));
  ASSERT_EQ(CommitChanges(initial), 0);
  std::atomic<int32_t> committed[kCounters] = {};
  std::vector<Sets> sets;
  for (int i = 0; i < kRunning; ++i) sets.push_back(NewSets());
  auto increment = [&](int32_t row, const Sets& s) {
    for (int32_t set : {s.write, s.read}) {
      std::vector<int32_t> b(SETRQ_RECORD + 8, 0);
      b[SETRQ_TABLE] = set;
      b[SETRQ_TBL] = -1;
      EXPECT_EQ(DKDXT0(b), 0);
    }
    Began tx = Begin();
    while (tx.rc == -84) {
      std::this_thread::yield();
      tx = Begin();
    }
    EXPECT_EQ(tx.rc, 0);
    std::vector<int32_t> b = Request(tx.tss, 2, 1, Row(row, 0));
    DKEXE1(28, b.data());
    std::string seen(reinterpret_cast<const char*>(b.data() + TC_ROW), kLength);
    EXPECT_TRUE(b[TC_MODE] == 0 || b[TC_MODE] == 4) << b[TC_MODE];
    if (b[TC_MODE] == 4) seen = BaseRow(Row(row, 0)).value_or(Row(row, -1000000));
    const std::string next = Row(row, ValueOf(seen) + 1);
    b = Request(tx.tss, kChangeUpdate, 1, next);
    DKEXE1(39, b.data());
    EXPECT_EQ(b[TC_MODE], 0);
    std::vector<int32_t> read(RSC_KEY + kKey / 4, 0);
    read[RS_KIND] = 1;
    read[RS_TABLE] = read[RSC_TABLE] = t_.entry;
    read[RSC_TBL] = t_.tbl;
    read[RSC_KEY_LENGTH] = kKey;
    std::memcpy(read.data() + RSC_KEY, next.data(), kKey);
    AppendTo(s.write, Header(0, {{db_, 2}}));
    AppendTo(s.write, Change(2, t_, next));
    AppendTo(s.read, read);
    return End(tx.tss, s);
  };
  std::vector<std::thread> running;
  for (int i = 0; i < kRunning; ++i) {
    running.emplace_back([&, i] {
      enqdeq_attach(enq_, 2 + i);
      for (int round = 0; round < kRounds; ++round) {
        const int32_t row = (i + round) % kCounters;
        for (int32_t rc = increment(row, sets[i]); rc != 0; rc = increment(row, sets[i]))
          ASSERT_EQ(rc, kConflict);
        committed[row].fetch_add(1);
      }
    });
  }
  for (std::thread& r : running) r.join();
  // Applied once every committed transaction has left the TSS hash or is
  // past its table operations.
  for (bool pending = true; pending;) {
    pending = false;
    DKLock(BP_LOCK_TSS_HASH);
    int32_t state[4] = {0, area_[BP_TSS_HASH], 0, 0};
    for (int32_t e = DKHMS0(state); e > 0 && !pending; e = DKHMS0(state))
      pending = area_[e + TSS_COMMIT] > 0 && area_[e + TSS_STATE] < TSS_AFTER_PROC;
    DKUnlock(BP_LOCK_TSS_HASH);
    if (pending) std::this_thread::yield();
  }
  std::vector<std::string> expected;
  for (int32_t row = 0; row < kCounters; ++row) expected.push_back(Row(row, committed[row].load()));
  EXPECT_EQ(Rows(t_), expected);
}

}  // namespace

namespace {

class CacheChangesTest : public TransactionCacheTest {
 protected:
  void SetUp() override {
    TransactionCacheTest::SetUp();
    ws_ = MakeSet(5, -1);
    tx_ = Begin();
  }
  // The write set's block with the change record of `row` from word 15.
  std::vector<int32_t> ChangeBlock(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    b[AFC_TSS] = tx_.tss;
    b[AFC_MODE] = code;
    b[AFC_TABLE] = t_.entry;
    b[AFC_TBL] = t_.tbl;
    b[AFC_KEY_LENGTH] = kKey;
    b[AFC_RECORD_LENGTH] = kLength;
    b[AFC_SEQUENCE] = seq;
    std::memcpy(b.data() + AFC_ROW, row.data(), kLength);
    return b;
  }
  // Record access's side of a change: DKAFC1 gives its kind (4: the row's
  // first change), the change goes to the write set and the cache record
  // names its place there. The kind, or DKAFC1's negative answer.
  int32_t Change(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> b = ChangeBlock(code, seq, row);
    DKEXE1(5, b.data());
    if (b[AFC_ANSWER] < 0) return b[AFC_ANSWER];
    const int32_t kind = b[AFC_ANSWER] == 0 ? b[AFC_MODE] : code;
    b[SETRQ_RC] = 0;
    b[AFC_MODE] = kind;
    b[SETRQ_LENGTH] = WSC_ROW + kLength / 4;
    EXPECT_EQ(DKAXR0(b), 0);
    std::vector<int32_t> c = Request(tx_.tss, kind, seq, row);
    c[TC_POSITION] = b[SETRQ_PAGE];
    c[TC_POSITION + 1] = b[SETRQ_POSITION];
    EXPECT_EQ(Send(39, c), 0);
    return kind;
  }
  void Mark(int32_t number) { AppendTo(ws_, {kCodeMark, 0, number}); }
  // The codes of the write set's records in order.
  std::vector<int32_t> Codes() {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0), codes;
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    for (b[SETRQ_RC] = 2; DKGXN0(b) == 0; b[SETRQ_RC] = 0) codes.push_back(b[SETRQ_RECORD]);
    return codes;
  }
  int32_t RollBack(int32_t mark) {
    std::vector<int32_t> b = ChangeBlock(0, 0, Row(0, 0));
    b[AFC_ANSWER] = mark;
    DKEXE1(48, b.data());
    return b[AFC_ANSWER];
  }

  int32_t ws_ = 0;
  Began tx_{};
};

TEST_F(CacheChangesTest, LaterChangesSupersedeEarlierOnesAndARollBackRestoresThem) {
  ASSERT_EQ(Insert(t_, Row(3, 30)), 0);
  EXPECT_EQ(Change(kChangeInsert, 1, Row(1, 10)), kChangeInsert);
  Mark(7);
  EXPECT_EQ(Change(kChangeDelete, 2, Row(1, 10)), kChangeMarker);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{51, kCodeMark, kChangeMarker}));
  EXPECT_EQ(CheckRow(tx_.tss, 10, Row(1, 0)), 1) << "inserted and deleted again";
  std::string out;
  EXPECT_EQ(FetchRow(tx_.tss, 10, Row(1, 0), &out), 1);
  // An insert after the insert was deleted is the insert again.
  EXPECT_EQ(Change(kChangeInsert, 3, Row(1, 11)), kChangeInsert);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{51, kCodeMark, 60, kChangeInsert}));
  // Updates: of an own insert it stays an insert, of a stored row an update.
  EXPECT_EQ(Change(kChangeUpdate, 4, Row(1, 12)), kChangeInsert);
  EXPECT_EQ(Change(kChangeUpdate, 5, Row(3, 31)), kChangeUpdate);
  EXPECT_EQ(Change(kChangeDelete, 6, Row(3, 31)), kChangeDelete);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{51, kCodeMark, 60, 51, kChangeInsert, 52, 4}));
  EXPECT_EQ(FetchRow(tx_.tss, 10, Row(1, 0), &out), 0);
  EXPECT_EQ(ValueOf(out), 12);
  EXPECT_EQ(CheckRow(tx_.tss, 10, Row(3, 0)), 1);

  // Back to the mark: the changes after it leave the cache, the insert
  // before it is current again.
  EXPECT_EQ(RollBack(7), 0);
  EXPECT_EQ(Codes()[0], kChangeInsert);
  EXPECT_EQ(FetchRow(tx_.tss, 10, Row(1, 0), &out), 0);
  EXPECT_EQ(ValueOf(out), 10);
  EXPECT_EQ(CheckRow(tx_.tss, 10, Row(3, 0)), 0) << "the stored row, unchanged";
  EXPECT_EQ(CacheRecords().size(), 1u);
}

// Changes through DKAFC1, marks and one roll back to a mark in random order:
// after each step the rows the transaction reads through the cache (or,
// where it holds nothing, from the table) agree with a model.
TEST_F(CacheChangesTest, ReadsAfterChangesAndARollBackAgreeWithAModel) {
  constexpr int32_t kKeys = 8;
  std::mt19937 rng(16);
  std::map<int32_t, int32_t> model;
  for (int32_t key = 0; key < kKeys; key += 2) {
    ASSERT_EQ(Insert(t_, Row(key, 1000 + key)), 0);
    model[key] = 1000 + key;
  }
  // The write set keeps the changes behind a mark after a roll back, so one
  // roll back is made.
  std::vector<std::pair<int32_t, std::map<int32_t, int32_t>>> marks;
  int32_t seq = 0;
  bool rolled_back = false;
  for (int step = 0; step < 300; ++step) {
    const uint32_t r = rng() % 10;
    if (r == 0) {
      const int32_t mark = static_cast<int32_t>(marks.size()) + 1;
      Mark(mark);
      marks.push_back({mark, model});
    } else if (r == 1 && !marks.empty() && !rolled_back) {
      rolled_back = true;
      const size_t i = rng() % marks.size();
      ASSERT_EQ(RollBack(marks[i].first), 0) << "step " << step;
      model = marks[i].second;
    } else {
      const int32_t key = static_cast<int32_t>(rng() % kKeys);
      const int32_t value = static_cast<int32_t>(rng() % 1000);
      int32_t code = kChangeInsert;
      if (model.count(key)) code = rng() % 2 ? kChangeUpdate : kChangeDelete;
      ASSERT_GT(Change(code, ++seq, Row(key, value)), 0) << "step " << step;
      if (code == kChangeDelete) {
        model.erase(key);
      } else {
        model[key] = value;
      }
    }
    for (int32_t key = 0; key < kKeys; ++key) {
      std::string out;
      const int32_t rc = FetchRow(tx_.tss, seq + 1, Row(key, 0), &out);
      std::optional<std::string> seen;
      if (rc == 0) seen = out;
      if (rc == 4) seen = BaseRow(Row(key, 0));
      ASSERT_EQ(seen.has_value(), model.count(key) != 0)
          << "step " << step << " key " << key << " answer " << rc;
      if (seen) {
        ASSERT_EQ(ValueOf(*seen), model[key]) << "step " << step << " key " << key;
      }
    }
  }
  EXPECT_TRUE(rolled_back);
}

TEST_F(CacheChangesTest, BadChangesAndMissingMarksAreRefused) {
  EXPECT_EQ(Change(3, 1, Row(1, 1)), -86);
  std::vector<int32_t> b = ChangeBlock(kChangeInsert, 1, Row(1, 1));
  b[AFC_TSS] = 0;
  DKEXE1(5, b.data());
  EXPECT_EQ(b[AFC_ANSWER], -85);
  b = ChangeBlock(kChangeInsert, 1, Row(1, 1));
  b[AFC_TBL] = 1234;
  DKEXE1(5, b.data());
  EXPECT_EQ(b[AFC_ANSWER], -46);
  EXPECT_EQ(Change(kChangeInsert, 1, Row(1, 10)), kChangeInsert);
  EXPECT_EQ(RollBack(9), -55) << "no such mark";
  // A cache record whose write-set place holds another row is a corrupt
  // write set; one whose place is no place of the set is refused by the
  // set routines.
  std::vector<int32_t> c = Request(tx_.tss, kChangeInsert, 2, Row(2, 20));
  ASSERT_EQ(Send(39, c), 0);
  EXPECT_EQ(Change(kChangeUpdate, 3, Row(2, 21)), -66);
  c = Request(tx_.tss, kChangeInsert, 2, Row(4, 40));
  c[TC_POSITION] = 1 << 20;
  c[TC_POSITION + 1] = 99999;
  ASSERT_EQ(Send(39, c), 0);
  EXPECT_LT(Change(kChangeUpdate, 3, Row(4, 41)), 0);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{kChangeInsert}));
}

}  // namespace

namespace {

// Rows that refer to large objects: a 20-byte key and 44-byte rows whose
// cache records carry a counter (row bytes 36 to 39) and a mark (40 to 43).
class CacheMarksTest : public TransactionTest {
 protected:
  static constexpr int32_t kKey = 20, kLength = 44;
  void SetUp() override {
    TransactionTest::SetUp();
    t_ = CreateTable(61, kKey, kLength);
    ws_ = MakeSet(5, -1);
    tx_ = Begin();
  }
  static std::string Row(int32_t id) {
    std::string r(kLength, '\0');
    for (int i = 0; i < 4; ++i) r[i] = static_cast<char>(id >> (24 - 8 * i));
    return r;
  }
  // The change record of `row` appended to the write set and cached as the
  // transaction's change `seq`, through a table kind of 6.
  std::vector<int32_t> Record(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> r(WSC_ROW + kLength / 4, 0);
    r[WSC_CODE] = code;
    r[WSR_KIND] = kKindLobRefs;
    r[WSC_TABLE] = t_.entry;
    r[WSC_TBL] = t_.tbl;
    r[WSC_KEY_LENGTH] = kKey;
    r[WSC_RECORD_LENGTH] = kLength;
    r[WSC_SEQUENCE] = seq;
    std::memcpy(r.data() + WSC_ROW, row.data(), kLength);
    return r;
  }
  void Cache(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    std::vector<int32_t> r = Record(code, seq, row);
    b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
    std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
    ASSERT_EQ(DKAXR0(b), 0);
    std::vector<int32_t> c(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    c[TC_POSITION] = b[SETRQ_PAGE];
    c[TC_POSITION + 1] = b[SETRQ_POSITION];
    c[TC_TSS] = tx_.tss;
    c[TC_MODE] = code;
    c[TC_TABLE_KIND] = kKindLobRefs;
    c[TC_TABLE] = t_.entry;
    c[TC_TBL] = t_.tbl;
    c[TC_KEY_LENGTH] = kKey;
    c[TC_RECORD_LENGTH] = kLength;
    c[TC_SEQUENCE] = seq;
    std::memcpy(c.data() + TC_ROW, row.data(), kLength);
    DKEXE1(39, c.data());
    ASSERT_EQ(c[TC_MODE], 0);
  }
  // The transaction's row through the cache: words 9 and 10 of the row.
  std::pair<int32_t, int32_t> CounterAndMark(const std::string& row) {
    std::vector<int32_t> c(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    c[TC_TSS] = tx_.tss;
    c[TC_MODE] = 2;
    c[TC_TABLE] = t_.entry;
    c[TC_TBL] = t_.tbl;
    c[TC_KEY_LENGTH] = kKey;
    c[TC_RECORD_LENGTH] = kLength;
    c[TC_SEQUENCE] = 100;
    std::memcpy(c.data() + TC_ROW, row.data(), kKey);
    DKEXE1(28, c.data());
    EXPECT_EQ(c[TC_MODE], 0);
    return {c[TC_ROW + 9], c[TC_ROW + 10]};
  }
  int32_t Adjust(int32_t seq, int32_t increment, int32_t value, const std::string& row) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    b[14] = tx_.tss;
    b[15] = increment;
    b[19] = t_.entry;
    b[20] = t_.tbl;
    b[21] = kKey;
    b[22] = kLength;
    b[24] = seq;
    std::memcpy(b.data() + 25, row.data(), kKey);
    b[35] = value;
    DKEXE1(64, b.data());
    return b[0];
  }
  // Word `w` of the write set's last record.
  int32_t LastRecordWord(int32_t w) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    EXPECT_EQ(DKGXP0(b), 0);
    return b[SETRQ_RECORD + w];
  }

  Table t_;
  int32_t ws_ = 0;
  Began tx_{};
};

TEST_F(CacheMarksTest, OwnRecordsOfAKeyTakeACounterAndAValue) {
  Cache(kChangeInsert, 5, Row(1));
  EXPECT_EQ(CounterAndMark(Row(1)), std::make_pair(0, 1)) << "inserted with its object";
  EXPECT_EQ(Adjust(5, 3, 0, Row(1)), 0);
  EXPECT_EQ(Adjust(5, 4, 0, Row(1)), 0);
  EXPECT_EQ(CounterAndMark(Row(1)).first, 7);
  EXPECT_EQ(LastRecordWord(WSC_ROW + 9), 7) << "the write set's record follows";
  EXPECT_EQ(Adjust(5, 0, 77, Row(1)), 0);
  EXPECT_EQ(CounterAndMark(Row(1)), std::make_pair(7, 77));
  EXPECT_EQ(Adjust(0, 1, 0, Row(1)), -43) << "sequence 0";
  EXPECT_EQ(Adjust(6, 2, 0, Row(1)), -43) << "no own record of that sequence";
  EXPECT_EQ(Adjust(5, 2, 0, Row(2)), -43) << "no own record of that key";
}

TEST_F(CacheMarksTest, AppliedChangesAreMarkedForTheirCommitOnly) {
  Cache(kChangeInsert, 1, Row(1));
  std::vector<int32_t> change = Record(kChangeInsert, 1, Row(1));
  EXPECT_EQ(DKUPT0(change, 9, 0), -43) << "the writer has no commit number yet";
  area_[tx_.tss + TSS_COMMIT] = 9;
  EXPECT_EQ(DKUPT0(change, 8, 0), -43) << "another commit";
  change[WSC_CODE] = kChangeDelete;
  EXPECT_EQ(DKUPT0(change, 9, 0), -43) << "another kind";
  change[WSC_CODE] = kChangeInsert;
  EXPECT_EQ(DKUPT0(change, 9, 0), 0);
  EXPECT_EQ(CounterAndMark(Row(1)).second, 0);
  area_[tx_.tss + TSS_COMMIT] = 0;
}

}  // namespace
