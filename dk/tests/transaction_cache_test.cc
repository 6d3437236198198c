// The transaction cache: records of a row's changes ordered newest
// transaction first, a transaction reading its own changes (against a model
// of the table plus its changes), the check of a row, the read checks of the
// commit validation, and the refusal of bad requests.
#include "dk/transaction_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "dk/databank_file.h"
#include "dk/request.h"
#include "dk/set_requests.h"
#include "dk/stored_tss.h"
#include "dk/table_open.h"
#include "dk/test_points.h"
#include "dk/tests/transaction_cache_fixture.h"
#include "platform/enqdeq.h"

namespace {

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
  // A second change of the row under the same sequence word is stored too,
  // and sorts before the first.
  ASSERT_EQ(Cache(older.tss, kChangeInsert, 2, Row(7, 11)), 0);
  std::vector<CacheSuffix> r = CacheRecords();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].start, newer.start);
  EXPECT_EQ(r[1].start, older.start);
  EXPECT_EQ(r[1].sequence, 2) << "a later change of one transaction sorts first";
  EXPECT_EQ(r[1].kind, kChangeInsert);
  EXPECT_EQ(r[1].order, 1);
  EXPECT_EQ(r[2].sequence, 2);
  EXPECT_EQ(r[2].kind, kChangeDelete);
  EXPECT_EQ(r[2].order, 0);
  EXPECT_EQ(r[3].start, older.start);
  EXPECT_EQ(r[3].sequence, 1);
}

// Changes of one row under one sequence word: the later one is what the
// transaction reads in its next statement, whatever the kinds' order.
TEST_F(TransactionCacheTest, TheLaterChangeOfOneSequenceIsRead) {
  Began t = Begin();
  struct Case {
    const char* what;
    std::vector<std::pair<int32_t, int32_t>> changes;  // kind, value
    int32_t fetch, value;
  } cases[] = {
      {"insert, delete", {{kChangeInsert, 1}, {kChangeDelete, 1}}, 1, 0},
      {"insert, delete, insert",
       {{kChangeInsert, 1}, {kChangeDelete, 1}, {kChangeInsert, 3}},
       0,
       3},
      {"delete, insert", {{kChangeDelete, 1}, {kChangeInsert, 2}}, 0, 2},
      {"before image, new image", {{3, 1}, {kChangeUpdate, 2}}, 0, 2},
      {"update, update", {{3, 1}, {kChangeUpdate, 2}, {3, 2}, {kChangeUpdate, 5}}, 0, 5},
      {"update, delete", {{3, 1}, {kChangeUpdate, 2}, {kChangeDelete, 2}}, 1, 0},
      {"insert, marker", {{kChangeInsert, 4}, {kChangeMarker, 4}}, 1, 0},
  };
  int32_t key = 0;
  for (const Case& c : cases) {
    ++key;
    for (auto [kind, value] : c.changes)
      ASSERT_EQ(Cache(t.tss, kind, 3, Row(key, value)), 0) << c.what;
    std::string out;
    EXPECT_EQ(FetchRow(t.tss, 4, Row(key, 0), &out), c.fetch) << c.what;
    if (c.fetch == 0) {
      EXPECT_EQ(ValueOf(out), c.value) << c.what;
    }
    EXPECT_EQ(CheckRow(t.tss, 4, Row(key, 0)), c.fetch == 0 ? 4 : 1) << c.what;
    std::vector<int32_t> b = Request(t.tss, 1, 4, Row(key, 0));
    DKEXE1(29, b.data());
    EXPECT_EQ(b[TC_MODE], c.fetch) << c.what << " backwards";
    if (c.fetch == 0) {
      EXPECT_EQ(b[TC_ROW + kKey / 4], c.value) << c.what << " backwards";
    }
  }
  // The cache state of a sequence counts every change under it: an insert
  // and a delete of a key answer 0; a second insert of the key in the same
  // sequence is met twice, 4.
  EXPECT_EQ(CacheState(t.tss, -10, 3, Row(1, 0), CCS_KEY_LENGTH - 14), 0);
  EXPECT_EQ(CacheState(t.tss, -10, 3, Row(3, 0), CCS_KEY_LENGTH - 14), 0);
  EXPECT_EQ(CacheState(t.tss, -10, 3, Row(2, 0), CCS_KEY_LENGTH - 14), 4);
  EXPECT_EQ(CacheState(t.tss, -11, 3, Row(2, 0)), 0);
  EXPECT_EQ(CacheState(t.tss, -13, 3, Row(1, 0)), 0);
  // DKDET1 takes the newest change of that kind: the second insert, so the
  // delete is what the next statement reads.
  EXPECT_EQ(Send(21, Request(t.tss, kChangeInsert, 3, Row(2, 3))), 0);
  std::string out;
  EXPECT_EQ(FetchRow(t.tss, 4, Row(2, 0), &out), 1);
  EXPECT_EQ(Send(21, Request(t.tss, kChangeUpdate, 3, Row(2, 3))), 5) << "no update of the row";
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
  // Record access's key record of the row read (kind 0): the check reads it
  // as a request that begins RS_ROW_VIEW words before it.
  std::vector<int32_t> read(RSC_KEY - RS_ROW_VIEW + kKey / 4, 0);
  read[RS_KIND] = 0;
  read[RSC_TABLE - RS_ROW_VIEW] = t_.entry;
  read[RSC_TBL - RS_ROW_VIEW] = t_.tbl;
  read[RSC_KEY_LENGTH - RS_ROW_VIEW] = kKey;
  std::string key = Row(5, 0);
  std::memcpy(read.data() + RSC_KEY - RS_ROW_VIEW, key.data(), kKey);
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

// A committed writer that changed a row more than once: the backward fetch
// meets its changes oldest first and must choose what the forward fetch
// chooses: the latest change when the commit is within the reader's view,
// the row as it was before the first change when it came after.
TEST_F(TransactionCacheTest, BothFetchDirectionsChooseTheSameChangeOfAWriter) {
  Began reader = Begin(), writer = Begin();
  const int32_t view = 5;
  area_[reader.tss + TSS_VIEW] = view;
  struct Change {
    int32_t kind, sequence, value;
  };
  struct Case {
    const char* what;
    std::vector<Change> changes;
    int32_t on_disk, answer, value;
  } cases[] = {
      {"inserted, then changed in a later statement, within the view",
       {{kChangeInsert, 1, 1}, {kChangeInsert, 2, 2}},
       view,
       0,
       2},
      {"updated in two statements, within the view",
       {{3, 1, 1}, {kChangeUpdate, 1, 2}, {3, 2, 2}, {kChangeUpdate, 2, 3}},
       view,
       0,
       3},
      {"updated and deleted in one statement, within the view",
       {{3, 1, 1}, {kChangeUpdate, 1, 2}, {kChangeDelete, 1, 2}},
       view,
       1,
       0},
      {"updated and deleted in one statement, after the view",
       {{3, 1, 1}, {kChangeUpdate, 1, 2}, {kChangeDelete, 1, 2}},
       view + 1,
       0,
       1},
      {"updated in two statements, after the view",
       {{3, 1, 1}, {kChangeUpdate, 1, 2}, {3, 2, 2}, {kChangeUpdate, 2, 3}},
       view + 1,
       0,
       1},
  };
  int32_t key = 0;
  for (const Case& c : cases) {
    ++key;
    for (const Change& ch : c.changes)
      ASSERT_EQ(Cache(writer.tss, ch.kind, ch.sequence, Row(key, ch.value)), 0) << c.what;
    area_[writer.tss + TSS_STATE] = TSS_COMMITTED;
    area_[writer.tss + TSS_ON_DISK] = c.on_disk;
    std::string out;
    EXPECT_EQ(FetchRow(reader.tss, 1, Row(key, 0), &out), c.answer) << c.what;
    if (c.answer == 0) {
      EXPECT_EQ(ValueOf(out), c.value) << c.what;
    }
    std::vector<int32_t> b = Request(reader.tss, 1, 1, Row(key, 0));
    DKEXE1(29, b.data());
    EXPECT_EQ(b[TC_MODE], c.answer) << c.what << ", backwards";
    if (c.answer == 0) {
      EXPECT_EQ(b[TC_ROW + kKey / 4], c.value) << c.what << ", backwards";
    }
    area_[writer.tss + TSS_STATE] = TSS_BUILDUP_RW;
    area_[writer.tss + TSS_ON_DISK] = 0;
  }
}

// Random changes of rows by three writers and the reader, the writers'
// commits placed before, at and after the reader's view or not on disk yet:
// a fetch at a key backwards (DKFPT1 mode 1) delivers what the forward
// fetch of that key (DKFNT1 mode 2) does, whenever the forward one answers
// from the cache.
TEST_F(TransactionCacheTest, ForwardAndBackwardFetchesOfAKeyAgree) {
  std::mt19937 rng(104);
  Began reader = Begin();
  std::vector<Began> writers = {Begin(), Begin(), Begin()};
  const int32_t view = 41, sequence = 5;
  area_[reader.tss + TSS_VIEW] = view;
  int32_t key = 100, compared = 0;
  for (int round = 0; round < 150; ++round) {
    const int32_t first = key;
    for (int row = 0; row < 6; ++row, ++key) {
      for (int w = 0; w < 4; ++w) {
        const int32_t tss = w == 3 ? reader.tss : writers[w].tss;
        for (int c = static_cast<int>(rng() % 3); c > 0; --c) {
          const int32_t q = 1 + static_cast<int32_t>(rng() % 8), v = rng() % 1000;
          std::vector<std::pair<int32_t, int32_t>> kinds;
          switch (rng() % 4) {
            case 0:
              kinds = {{kChangeInsert, v}};
              break;
            case 1:
              kinds = {{3, v}, {kChangeUpdate, v + 1}};
              break;
            case 2:
              kinds = {{kChangeDelete, v}};
              break;
            default:
              kinds = {{kChangeInsert, v}, {kChangeMarker, v}};
              break;
          }
          for (auto [kind, value] : kinds) ASSERT_EQ(Cache(tss, kind, q, Row(key, value)), 0);
        }
      }
    }
    // Commit-on-disk numbers apart for each writer: before, at or after the
    // view, or none yet.
    for (int w = 0; w < 3; ++w) {
      const int32_t place = static_cast<int32_t>(rng() % 5) - 2;
      area_[writers[w].tss + TSS_STATE] = place == 2 ? TSS_PREPARED : TSS_COMMITTED;
      area_[writers[w].tss + TSS_ON_DISK] = place == 2 ? 0 : view + 4 * place + w - 1;
    }
    for (int32_t k = first; k < key; ++k) {
      std::string forward;
      const int32_t answer = FetchRow(reader.tss, sequence, Row(k, 0), &forward);
      if (answer != 0 && answer != 1) continue;
      ++compared;
      std::vector<int32_t> b = Request(reader.tss, 1, sequence, Row(k, 0));
      DKEXE1(29, b.data());
      std::string backward(reinterpret_cast<const char*>(b.data() + TC_ROW), kLength);
      EXPECT_EQ(b[TC_MODE], answer) << k;
      if (answer == 0) {
        EXPECT_EQ(backward, forward) << k;
      }
    }
    for (const Began& w : writers) {
      area_[w.tss + TSS_STATE] = TSS_BUILDUP_RW;
      area_[w.tss + TSS_ON_DISK] = 0;
    }
  }
  EXPECT_GT(compared, 300);
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

// The cache tables lie in the TRANS databank while their tables lie in
// others: when that databank is closed they are given back, so that a cache
// entry never names a databank entry that another file has taken since.
TEST_F(TransactionCacheTest, ClosingTheCachesDatabankGivesTheCachesBack) {
  Began t = Begin();
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(1, 1)), 0);
  const int32_t cache = area_[t_.entry + TBE_SECOND];
  ASSERT_EQ(area_[cache + TBE_DATABANK], trans_);
  // Closing the table's own databank's neighbour changes nothing.
  ASSERT_NE(Create("other", 200, 9), 0);
  int32_t close[4] = {1, 0, 9, -1};
  DKCallEntry(12, close, nullptr);
  ASSERT_EQ(close[0], 0);
  EXPECT_EQ(area_[t_.entry + TBE_SECOND], cache);
  close[0] = 1;
  close[2] = kTransDid;
  DKCallEntry(12, close, nullptr);
  ASSERT_EQ(close[0], 0);
  EXPECT_EQ(area_[t_.entry + TBE_SECOND], 0);
  // The TRANS databank open again; the entry it had may name another file.
  const int32_t reopened = Create("trans2", 400, kTransDid);
  area_[BP_TRANS_DATABANK] = reopened;
  std::string out;
  EXPECT_EQ(FetchRow(t.tss, 2, Row(1, 0), &out), 4) << "no cache";
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(2, 2)), 0);
  EXPECT_EQ(area_[area_[t_.entry + TBE_SECOND] + TBE_DATABANK], reopened);
  EXPECT_EQ(FetchRow(t.tss, 2, Row(2, 0), &out), 0);
  EXPECT_EQ(ValueOf(out), 2);
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

// The cache state walk jumps over later changes to the caller's own ones in
// key order, where sequence words sort as their complements do: a negative
// word is a later one there, and every jump must still move forward.
TEST_F(TransactionCacheTest, CacheStateOfAnySequenceWordEnds) {
  Began t = Begin(), newer = Begin();
  const int32_t sequences[] = {5, -1, INT32_MIN, INT32_MAX - 1};
  for (int32_t q : sequences) ASSERT_EQ(Cache(t.tss, kChangeInsert, q, Row(1, q)), 0) << q;
  ASSERT_EQ(Cache(newer.tss, kChangeInsert, 1, Row(1, 0)), 0);
  for (int32_t q : sequences) {
    EXPECT_EQ(CacheState(t.tss, -11, q, Row(1, 0)), 0) << q;
    EXPECT_EQ(CacheState(t.tss, -13, q, Row(1, 0)), 4) << q;
  }
  for (int32_t q : {-2, 0, 4, 6, INT32_MAX})
    EXPECT_EQ(CacheState(t.tss, -11, q, Row(1, 0)), 4) << q;
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

// The last cache user ends while another transaction begins and caches a
// row: the begin either comes before the drop stamp moves on (and the new
// records belong to the new stamp) or waits for it, so the new
// transaction's records are never dropped as stale.
std::atomic<bool> begin_now{false}, cached{false}, armed{false};
void BeginWhileTheStampMoves(DKTestPoint point, int32_t) {
  if (point != DKTestPoint::kCacheUsersDropped || !armed.exchange(false)) return;
  begin_now = true;
  begin_now.notify_all();
  // Until the other thread has cached its row, or waits for the TSS lock
  // that this end holds.
  while (!cached.load() && PoolWord(BP_LOCK_TSS_HASH + ENQDEQ_HEAD).load() == 0)
    std::this_thread::yield();
}

TEST_F(TransactionCacheTest, BeginWhileTheLastUserEndsKeepsItsCacheRecords) {
  // Left set by an earlier run of the test in the same process.
  begin_now = false;
  cached = false;
  Began first = Begin();
  ASSERT_EQ(Cache(first.tss, kChangeInsert, 1, Row(1, 1)), 0);
  DKInstallTestHook(BeginWhileTheStampMoves);
  armed = true;
  Began next{};
  int32_t rc = 1;
  std::thread other([&] {
    enqdeq_attach(enq_, 2);
    begin_now.wait(false);
    next = Begin();
    rc = Cache(next.tss, kChangeInsert, 1, Row(2, 2));
    cached = true;
  });
  Sets s = NewSets();
  ASSERT_EQ(End(first.tss, s, kEndAbort), 0);
  other.join();
  DKInstallTestHook(nullptr);
  ASSERT_EQ(next.rc, 0);
  ASSERT_EQ(rc, 0);
  std::string out;
  EXPECT_EQ(FetchRow(next.tss, 2, Row(2, 0), &out), 0);
  EXPECT_EQ(out, Row(2, 2));
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
    // Record access's key record: the check reads it from RS_ROW_VIEW
    // words before, so its kind is the check's mode.
    std::vector<int32_t> read(RSC_KEY - RS_ROW_VIEW + kKey / 4, 0);
    read[RS_KIND] = 0;
    read[RSC_TABLE - RS_ROW_VIEW] = t_.entry;
    read[RSC_TBL - RS_ROW_VIEW] = t_.tbl;
    read[RSC_KEY_LENGTH - RS_ROW_VIEW] = kKey;
    std::memcpy(read.data() + RSC_KEY - RS_ROW_VIEW, next.data(), kKey);
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

// Table entry word 8 names a table's cache, or another table the table
// owns: an empty table is described by the second table it owns, never by
// its cache, and a cache request never takes the owned table for a cache.
TEST_F(TransactionCacheTest, TheCacheAndAnOwnedTableShareNoRole) {
  auto describe = [&](int32_t entry, int32_t tbl) {
    int32_t b[GTS_TOP_ENTRIES + 1] = {};
    b[RQ_TABLE] = entry;
    b[RQ_TBL] = tbl;
    DKEXE1(36, b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return std::make_pair(b[RQ_KEY_LENGTH], b[RQ_RECORD_LENGTH]);
  };
  Began t = Begin();
  ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(1, 1)), 0);
  const int32_t cache = area_[t_.entry + TBE_SECOND];
  ASSERT_NE(cache, 0);
  EXPECT_EQ(describe(t_.entry, t_.tbl), std::make_pair(kKey, kLength)) << "empty, with a cache";
  EXPECT_EQ(describe(cache, -1), std::make_pair(kKey + kSuffixKeyBytes, kLength + kSuffixBytes));

  // The same table owning a named table instead: described by it while
  // empty, and cache requests leave its rows alone, even once every cache
  // is stale.
  DKFreeSecondEntry(t_.entry);
  Table owned = CreateTable(62, 12, 40);
  ASSERT_EQ(Insert(owned, std::string(40, 'o')), 0);
  area_[t_.entry + TBE_SECOND] = owned.entry;
  EXPECT_EQ(describe(t_.entry, t_.tbl), std::make_pair(12, 40)) << "empty, owning a table";
  for (int32_t stamp : {area_[BP_TCACHE_DROP_TIMESTAMP], area_[BP_TCACHE_DROP_TIMESTAMP] + 7}) {
    area_[BP_TCACHE_DROP_TIMESTAMP] = stamp;
    EXPECT_EQ(Cache(t.tss, kChangeInsert, 2, Row(2, 2)), -55);
    std::string out;
    EXPECT_EQ(FetchRow(t.tss, 5, Row(2, 0), &out), 4);
    EXPECT_EQ(CheckRow(t.tss, 5, Row(2, 0)), 0);
    EXPECT_EQ(CacheState(t.tss, -11, 2, Row(2, 0)), 4);
    EXPECT_EQ(Rows(owned).size(), 1u) << "the owned table keeps its rows";
    EXPECT_EQ(area_[t_.entry + TBE_SECOND], owned.entry);
  }
  // Once the table has rows, it describes itself.
  ASSERT_EQ(Insert(t_, Row(3, 3)), 0);
  EXPECT_EQ(describe(t_.entry, t_.tbl), std::make_pair(kKey, kLength));
  area_[t_.entry + TBE_SECOND] = 0;
}

// While the cache's databank or one of its copies carries the mark 100000
// in its SEQNO word, cache records are not removed: not by DKDET1, not as
// the records of a writer gone, not when the cache turns stale.
TEST_F(TransactionCacheTest, ACopyCarryingTheMarkKeepsTheCacheRecords) {
  const int32_t seqno = area_[trans_ + DBE_SEQNO];
  Began t = Begin();
  for (int32_t key = 1; key <= 3; ++key)
    ASSERT_EQ(Cache(t.tss, kChangeInsert, 1, Row(key, key)), 0);
  area_[trans_ + DBE_SEQNO] = 100000;
  EXPECT_EQ(Send(21, Request(t.tss, kChangeInsert, 1, Row(1, 1))), 0);
  EXPECT_EQ(CacheRecords().size(), 3u) << "DKDET1 removes nothing";
  Sets s = NewSets();
  ASSERT_EQ(End(t.tss, s, kEndAbort), 0);
  Began next = Begin();
  std::string out;
  EXPECT_EQ(FetchRow(next.tss, 2, Row(2, 0), &out), 4) << "a writer gone is never seen";
  ASSERT_EQ(Cache(next.tss, kChangeInsert, 1, Row(4, 4)), 0);
  EXPECT_EQ(CacheRecords().size(), 4u) << "the stale cache kept its records";
  // Without the mark the stale records go as they are met.
  area_[trans_ + DBE_SEQNO] = seqno;
  EXPECT_EQ(FetchRow(next.tss, 2, Row(2, 0), &out), 4);
  EXPECT_EQ(CacheRecords().size(), 3u);
  EXPECT_EQ(Send(21, Request(next.tss, kChangeInsert, 1, Row(4, 4))), 0);
  EXPECT_EQ(CacheRecords().size(), 2u);
}

// A writer whose entry the TSS overflow stored and a later writer of the
// same row freed from the hash by a scan: the later one's cache records go
// (its lookup finds nothing), and the stored one must not be read instead
// of the row the later one left in the table. An entry in doubt keeps the
// safe high start below both writers, as a transaction still committing
// would, and a transaction running between them keeps the stored one from
// being purged before the later one is secured.
TEST_F(TransactionCacheTest, AStoredWriterIsNotReadOverTheLaterWriterAppliedAfterIt) {
  DKInstallTransactionCacheChecks();
  StartBackground(1);
  ASSERT_EQ(CommitChanges({Change(1, t_, Row(1, 0)), Change(1, t_, Row(50, 0))}), 0);
  int32_t doubt[ETR_WORDS] = {-1, 0, 0, 0, 1000};
  DKEXE1(8, doubt);
  ASSERT_EQ(doubt[BTR_MODE], 0);
  auto write = [&](int32_t value, int32_t* start) {
    Began w = Begin();
    *start = w.start;
    EXPECT_EQ(Cache(w.tss, kChangeUpdate, 1, Row(1, value)), 0);
    if (reused_.write == 0) reused_ = NewSets();
    Empty(reused_);
    AppendTo(reused_.write, Header(129, {{db_, 3}}));
    AppendTo(reused_.write, Change(2, t_, Row(1, value)));
    AppendTo(reused_.write, Change(1, t_, Row(100 + value, value)));
    return End(w.tss, reused_);
  };
  // The first writer is stored as soon as it is secured.
  area_[BP_TSS_OVERFLOW_LIMIT] = 1;
  int32_t stored = 0, later = 0;
  ASSERT_EQ(write(1, &stored), 0);
  area_[BP_TSS_OVERFLOW_LIMIT] = 1000;
  CacheWriter found;
  ASSERT_TRUE(DKFindStoredTss(stored, &found));
  Began running = Begin();
  ASSERT_EQ(write(2, &later), 0);
  Sets s = NewSets();
  ASSERT_EQ(End(running.tss, s, kEndAbort), 0);
  // Another commit: once it is secured the later writer leaves the hash.
  ASSERT_EQ(CommitChanges({Change(1, t_, Row(2, 0)), Change(1, t_, Row(3, 0))}), 0);
  ASSERT_EQ(DKHMI0(area_[BP_TSS_HASH], later) > 0 &&
                area_[DKHMI0(area_[BP_TSS_HASH], later) + TSS_START] == later,
            false);
  EXPECT_EQ(BaseRow(Row(1, 0)), Row(1, 2));
  Began reader = Begin();
  std::string out;
  const int32_t rc = FetchRow(reader.tss, 1, Row(1, 0), &out);
  if (rc == 4) out = BaseRow(Row(1, 0)).value_or("");
  EXPECT_EQ(out, Row(1, 2)) << "fetch answered " << rc;
}

}  // namespace
