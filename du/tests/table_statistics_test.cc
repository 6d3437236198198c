// Table statistics over a recording stand-in of the dictionary: the rows
// come from memory, every statistics update is kept with its words.
#include "du/table_statistics.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/tests/storage_fixture.h"
#include "platform/decimal_text.h"

namespace {

using du::W;

struct Update {
  int32_t mode, table, second;
  std::string name;
  bool has_count, has_estimate, has_nonnull;
  int32_t row_count, estimate, nonnull;
  std::string low, high;
};

struct FakeDictionary {
  int32_t* base = nullptr;
  int32_t cha = 0;
  bool privilege = true;
  StatTable table{7, 5, 1001, 1, 4, 0, 1};
  std::vector<StatColumn> columns;
  std::vector<int32_t> keys;
  std::vector<std::vector<uint8_t>> rows;
  size_t next_row = 0;
  size_t cancel_at = SIZE_MAX;  // row whose read raises the cancel request
  size_t next_column = 0, next_key = 0;
  std::vector<Update> updates;
  std::vector<std::string> calls;
  int32_t commit_failures = 0;  // -10001 answers before a commit succeeds
  int32_t begin_status = 0;     // the begin's answer
  // The tables of the schema cursor, each with the status its scan gives
  // (0: its rows are `rows`).
  std::vector<std::pair<std::string, int32_t>> tables;
  size_t next_table = 0;
  bool schema_exists = true;
  int32_t chain = 0;  // the scan statement's chain block, 0 for none
};

FakeDictionary* fake = nullptr;

void CheckPrivilege(int32_t*, int32_t* pb, int32_t kind, int32_t, const char*, int32_t) {
  fake->calls.push_back("privilege " + std::to_string(kind));
  pb[0] = fake->privilege ? 1 : 0;
}
void GetTable(int32_t*, int32_t* pb, const char*, int32_t schema_length, const char* name,
              int32_t length, StatTable* t) {
  EXPECT_LE(schema_length, CS_NAME_MAX);
  EXPECT_LE(length, CS_NAME_MAX);
  std::string n(name, length);
  n.erase(n.find_last_not_of(' ') + 1);
  fake->calls.push_back("table " + n);
  *t = fake->table;
  for (size_t i = 0; i < fake->tables.size(); ++i)
    if (fake->tables[i].first == n) t->id = 100 + static_cast<int32_t>(i);
  pb[0] = 0;
}
void FindSchema(int32_t*, int32_t* pb, const char*, int32_t) {
  pb[0] = fake->schema_exists ? 0 : 1;
}
void NextTable(int32_t*, int32_t* pb, const char*, int32_t schema_length, char* schema_out,
               char* name_out) {
  if (pb[0] != 0) {
    fake->next_table = 0;
    fake->calls.push_back("tables " + std::to_string(schema_length));
  }
  if (fake->next_table >= fake->tables.size()) {
    pb[0] = 1;
    return;
  }
  std::memset(schema_out, ' ', CS_NAME_MAX);
  std::memset(name_out, ' ', CS_NAME_MAX);
  const std::string& n = fake->tables[fake->next_table++].first;
  std::memcpy(name_out, n.data(), n.size());
  pb[0] = 0;
}
int32_t ScanChain(int32_t*, int32_t) { return fake->chain; }
void NextColumn(int32_t*, int32_t* pb, int32_t, StatColumn* c) {
  if (pb[0] != 0) fake->next_column = 0;
  if (fake->next_column >= fake->columns.size()) {
    pb[0] = 1;
    return;
  }
  *c = fake->columns[fake->next_column++];
  pb[0] = 0;
}
void NextKey(int32_t*, int32_t* pb, int32_t, int32_t* key) {
  if (pb[0] != 0) fake->next_key = 0;
  if (fake->next_key >= fake->keys.size()) {
    pb[0] = 1;
    return;
  }
  *key = fake->keys[fake->next_key++];
  pb[0] = 0;
}
void ScanRows(int32_t*, int32_t* pb, const StatTable& t, uint8_t* row) {
  if (pb[0] > 0) fake->next_row = 0;
  for (size_t i = 0; i < fake->tables.size(); ++i)
    if (t.id == 100 + static_cast<int32_t>(i) && fake->tables[i].second != 0) {
      pb[0] = fake->tables[i].second;
      return;
    }
  if (fake->next_row >= fake->rows.size()) {
    pb[0] = 100;
    return;
  }
  if (fake->next_row == fake->cancel_at)
    W(fake->base, fake->cha + CHA_REQNO_CANCEL) = W(fake->base, fake->cha + CHA_REQNO);
  std::memcpy(row, fake->rows[fake->next_row++].data(), t.reclen);
  pb[0] = 0;
}
void UpdateStatistics(int32_t*, int32_t* pb, int32_t table, int32_t second, const char* name,
                      int32_t name_length, const int32_t* count, const int32_t* estimate,
                      const int32_t* nonnull, const char* low, const char* high) {
  Update u{pb[0], table, second, name ? std::string(name, name_length) : "",
           count != nullptr, estimate != nullptr, nonnull != nullptr,
           count ? *count : 0, estimate ? *estimate : 0, nonnull ? *nonnull : 0,
           low ? std::string(low, STAT_TEXT) : "", high ? std::string(high, STAT_TEXT) : ""};
  fake->updates.push_back(u);
  pb[0] = 0;
}
void ListDependencies(int32_t*, int32_t* pb, int32_t id) {
  fake->calls.push_back("deps " + std::to_string(id));
  pb[0] = 0;
}
void Begin(int32_t*, int32_t* pb) {
  fake->calls.push_back("begin");
  pb[0] = fake->begin_status;
}
void End(int32_t*, int32_t* pb) {
  fake->calls.push_back("end");
  // The transaction end reads the statement from word 2: none.
  EXPECT_EQ(pb[2], 0);
  if (fake->commit_failures > 0) {
    --fake->commit_failures;
    pb[0] = -10001;
    return;
  }
  pb[0] = 0;
}
void EndOpen(int32_t*, int32_t* pb) {
  fake->calls.push_back("end open");
  pb[0] = 0;
}

const DUStatisticsServices kFake = {CheckPrivilege, GetTable, FindSchema, NextTable, NextColumn,
                                    NextKey, ScanRows, ScanChain, UpdateStatistics,
                                    ListDependencies, Begin, End, EndOpen, nullptr};

void KeyBatches(int32_t*, int32_t* pb, const StatTable& t, int32_t flag) {
  fake->calls.push_back("batches " + std::to_string(t.id) + " " + std::to_string(flag));
  pb[0] = 0;
}

StatColumn Column(const std::string& name, int32_t type, int32_t length, int32_t scale,
                  int32_t stored) {
  StatColumn c{};
  std::memcpy(c.name, name.data(), name.size());
  c.name_length = static_cast<int32_t>(name.size());
  c.type_code = type;
  c.length = length;
  c.scale = scale;
  c.stored = stored;
  return c;
}

// Writes prefix and 7 digits of v behind the row's indicator byte.
void PutKey(std::vector<uint8_t>& row, char prefix, int v) {
  char text[24];
  std::snprintf(text, sizeof text, "%c%07d", prefix, v % 10000000);
  std::memcpy(&row[1], text, 8);
}

class TableStatisticsTest : public StorageTest {
 protected:
  TableStatisticsTest() : StorageTest(4000000, 2000000) {
    usr_ = du::NewBlock(base_, USR_BYTES);
    cha_ = du::NewBlock(base_, CHA_BYTES);
    W(base_, usr_ + USR_DDUCOM) = 1;
    W(base_, usr_ + USR_CHA) = cha_;
    W(base_, cha_ + CHA_REQNO) = 5;
    W(base_, cha_ + CHA_REQNO_CANCEL) = 4;
    dict_.base = base_;
    dict_.cha = cha_;
    fake = &dict_;
    previous_ = DUInstallStatisticsServices(&kFake);
  }
  ~TableStatisticsTest() override {
    DUInstallStatisticsServices(previous_);
    fake = nullptr;
  }

  // Lays the columns out one after the other; the record is as long as
  // they are.
  void SetColumns(std::vector<StatColumn> columns) {
    dict_.columns = std::move(columns);
    int32_t reclen = 0;
    for (const auto& c : dict_.columns) reclen += c.stored;
    dict_.table.reclen = reclen;
  }
  int32_t Offset(size_t column) {
    int32_t o = 0;
    for (size_t i = 0; i < column; ++i) o += dict_.columns[i].stored;
    return o;
  }
  std::vector<uint8_t> NewRow() { return std::vector<uint8_t>(dict_.table.reclen, 0); }
  void SetText(std::vector<uint8_t>& row, size_t column, const std::string& text) {
    const int32_t o = Offset(column);
    row[o] = 0;
    std::memset(&row[o + 1], ' ', dict_.columns[column].stored - 1);
    std::memcpy(&row[o + 1], text.data(), text.size());
  }
  void SetNull(std::vector<uint8_t>& row, size_t column) {
    std::memset(&row[Offset(column)], 255, dict_.columns[column].stored);
  }
  void SetDecimal(std::vector<uint8_t>& row, size_t column, const std::string& text) {
    const value_descriptor d{Offset(column), dict_.columns[column].length,
                             dict_.columns[column].scale, 0};
    ASSERT_EQ(text_to_decimal(ByteSpan(row.data(), row.size()), d,
                              ConstByteSpan(reinterpret_cast<const uint8_t*>(text.data()),
                                            text.size()),
                              0, static_cast<int32_t>(text.size())),
              0);
  }

  int32_t Run(int32_t key_pass = 0, int32_t remove = 0, const char* schema = "S",
              const char* table = "T") {
    int32_t pb[2] = {remove, usr_};
    DSTabStat(base_, pb, schema, static_cast<int32_t>(std::strlen(schema)), table,
              static_cast<int32_t>(std::strlen(table)), &key_pass);
    return pb[0];
  }
  void AddRows(int32_t n) {
    for (int32_t v = 0; v < n; ++v) {
      auto row = NewRow();
      SetText(row, 0, std::to_string(v));
      dict_.rows.push_back(row);
    }
  }
  int32_t Timestamp() { return W(base_, sys_ + SYS_SHP_TIMESTAMP); }

  // A column entry with an empty sample, for the sampling tests.
  int32_t Entry(int32_t length) {
    const int32_t e = du::NewBlock(base_, CS_BYTES);
    W(base_, e + CS_HASHES) = du::NewBlock(base_, 4 * STAT_SAMPLE);
    W(base_, e + CS_KIND) = 1;
    W(base_, e + CS_LENGTH) = length + 1;
    W(base_, e + CS_HASHED) = length;
    return e;
  }

  int32_t usr_ = 0, cha_ = 0;
  FakeDictionary dict_;
  const DUStatisticsServices* previous_ = nullptr;
};

TEST(StatisticsHashTable, EveryLaneIsAPermutationKeepingTheGivenEntries) {
  const int32_t given[4][4] = {
      {5, 83, 94, 105}, {154, 95, 106, 117}, {157, 22, 33, 44}, {74, 89, 100, 111}};
  for (int32_t k = 0; k < 4; ++k) {
    std::set<int32_t> seen;
    for (int32_t i = 0; i < 256; ++i) seen.insert(DUStatHashLane(i, k));
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 255);
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(DUStatHashLane(i, k), given[i][k]);
  }
  // One byte 0: every lane takes entry 0 once.
  const uint8_t zero = 0;
  EXPECT_EQ(DUStatHash(&zero, 1), 5u + 83u * 256 + 94u * 65536 + 105u * 16777216);
  // A second byte 0 takes entry (0 XOR h) of each lane.
  const uint8_t two[2] = {0, 0};
  const uint32_t h = DUStatHashLane(5, 0) | DUStatHashLane(83, 1) << 8 |
                     DUStatHashLane(94, 2) << 16 | static_cast<uint32_t>(DUStatHashLane(105, 3)) << 24;
  EXPECT_EQ(DUStatHash(two, 2), h);
}

TEST_F(TableStatisticsTest, UpToOneHundredDistinctValuesStayExact) {
  const int32_t e = Entry(8);
  std::vector<uint8_t> row(9, 0);
  for (int round = 0; round < 3; ++round)
    for (int v = 0; v < 100; ++v) {
      PutKey(row, 'v', v);
      DSTabStatHash(base_, e, row.data());
    }
  EXPECT_EQ(W(base_, e + CS_COUNT), 100);
  EXPECT_EQ(W(base_, e + CS_DEPTH), 0);
  W(base_, e + CS_NONNULL) = 300;
  EXPECT_EQ(DUStatEstimate(base_, e, 300), 100);
}

TEST_F(TableStatisticsTest, TheHundredAndFirstValueHalvesTheSampleByBitZero) {
  const int32_t e = Entry(8);
  std::vector<uint8_t> row(9, 0);
  std::vector<uint32_t> hashes;
  for (int v = 0; v < 101; ++v) {
    PutKey(row, 'v', v);
    hashes.push_back(DUStatHash(&row[1], 8));
    DSTabStatHash(base_, e, row.data());
  }
  EXPECT_EQ(W(base_, e + CS_DEPTH), 1);
  EXPECT_EQ(W(base_, e + CS_SELECTOR), 1);
  std::vector<int32_t> expected;
  for (uint32_t h : hashes)
    if (h & 1) expected.push_back(static_cast<int32_t>(h));
  ASSERT_GT(expected.size(), 0u);
  ASSERT_LT(expected.size(), 101u);
  const int32_t* list = &W(base_, W(base_, e + CS_HASHES));
  EXPECT_EQ(std::vector<int32_t>(list, list + W(base_, e + CS_COUNT)), expected);
}

// When no kept hash matches the new selector bit, the first 50 stay; the
// selector's bits alternate 1, 0, 1, ... as the depth grows.
TEST_F(TableStatisticsTest, AReductionWithoutMatchesKeepsTheFirstFifty) {
  const int32_t e = Entry(8);
  std::vector<uint8_t> row(9, 0);
  std::vector<int32_t> even;
  int32_t odd_value = -1;
  for (int v = 0; even.size() < 101 || odd_value < 0; ++v) {
    PutKey(row, 'w', v);
    const uint32_t h = DUStatHash(&row[1], 8);
    if ((h & 1) == 0 && even.size() < 101) {
      even.push_back(v);
      DSTabStatHash(base_, e, row.data());
    } else if ((h & 1) == 1 && odd_value < 0) {
      odd_value = v;
    }
  }
  // The 101st even hash reduced the sample and was not admitted.
  EXPECT_EQ(W(base_, e + CS_DEPTH), 1);
  EXPECT_EQ(W(base_, e + CS_SELECTOR), 1);
  EXPECT_EQ(W(base_, e + CS_COUNT), 50);
  const int32_t* list = &W(base_, W(base_, e + CS_HASHES));
  for (int i = 0; i < 50; ++i) {
    PutKey(row, 'w', even[size_t(i)]);
    EXPECT_EQ(list[i], static_cast<int32_t>(DUStatHash(&row[1], 8)));
  }
  for (int i = 50; i < STAT_SAMPLE; ++i) EXPECT_EQ(list[i], 0);
  // An odd hash is admitted after them.
  PutKey(row, 'w', odd_value);
  DSTabStatHash(base_, e, row.data());
  EXPECT_EQ(W(base_, e + CS_COUNT), 51);

  // Many values: the selector is 0b0101... over the depth reached.
  const int32_t f = Entry(8);
  for (int v = 0; v < 200000; ++v) {
    PutKey(row, 'x', v);
    DSTabStatHash(base_, f, row.data());
  }
  const int32_t depth = W(base_, f + CS_DEPTH);
  EXPECT_GE(depth, 9);
  EXPECT_EQ(static_cast<uint32_t>(W(base_, f + CS_SELECTOR)), 0x55555555u & ((1u << depth) - 1));
  W(base_, f + CS_NONNULL) = 200000;
  EXPECT_NEAR(DUStatEstimate(base_, f, 200000), 200000, 60000);
}

TEST_F(TableStatisticsTest, EmptyTableAndAllNullColumnStoreMinusOne) {
  SetColumns({Column("A", 1, 10, 0, 11), Column("B", 1, 4, 0, 5)});
  dict_.keys = {41};
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(dict_.updates.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(dict_.updates[i].mode, i == 0 ? 1 : 2);
    EXPECT_EQ(dict_.updates[i].row_count, 0);
    EXPECT_EQ(dict_.updates[i].estimate, -1);
    EXPECT_FALSE(dict_.updates[i].has_nonnull);
    EXPECT_EQ(dict_.updates[i].low, "");
  }
  EXPECT_EQ(dict_.updates[2].mode, 3);
  EXPECT_EQ(dict_.updates[2].second, 41);

  dict_.updates.clear();
  for (int v = 0; v < 5; ++v) {
    auto row = NewRow();
    SetText(row, 0, "x" + std::to_string(v));
    SetNull(row, 1);
    dict_.rows.push_back(row);
  }
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(dict_.updates.size(), 3u);
  EXPECT_EQ(dict_.updates[0].row_count, 5);
  EXPECT_EQ(dict_.updates[0].estimate, 5);
  EXPECT_EQ(dict_.updates[0].nonnull, 5);
  EXPECT_EQ(dict_.updates[0].low, "x0              ");
  EXPECT_EQ(dict_.updates[0].high, "x4              ");
  EXPECT_EQ(dict_.updates[1].name, "B");
  EXPECT_EQ(dict_.updates[1].row_count, 5);
  EXPECT_EQ(dict_.updates[1].estimate, -1);
}

TEST_F(TableStatisticsTest, StampRisesByOneAndRemovalStoresMinusOne) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  for (int v = 0; v < 3; ++v) {
    auto row = NewRow();
    SetText(row, 0, std::to_string(v));
    dict_.rows.push_back(row);
  }
  const int32_t before = Timestamp();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Timestamp(), before + 1);
  EXPECT_EQ(dict_.updates.at(0).estimate, 3);
  dict_.updates.clear();
  EXPECT_EQ(Run(0, 1), 0);
  EXPECT_EQ(Timestamp(), before + 2);
  EXPECT_EQ(dict_.updates.at(0).estimate, -1);
  EXPECT_EQ(dict_.updates.at(0).row_count, 0);
}

// Inside dictionary work the scan has read in the work's transaction: the
// begin's "transaction open" counts as begun and the figures are stored;
// another failure of the begin stores nothing.
TEST_F(TableStatisticsTest, AnOpenTransactionCountsAsBegun) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  for (int v = 0; v < 3; ++v) {
    auto row = NewRow();
    SetText(row, 0, std::to_string(v));
    dict_.rows.push_back(row);
  }
  dict_.begin_status = DU_TRANSACTION_OPEN;
  EXPECT_EQ(Run(), 0);
  ASSERT_FALSE(dict_.updates.empty());
  EXPECT_EQ(dict_.updates.at(0).estimate, 3);
  EXPECT_NE(std::find(dict_.calls.begin(), dict_.calls.end(), "end"), dict_.calls.end());
  dict_.updates.clear();
  dict_.begin_status = -14012;
  EXPECT_EQ(Run(), -14012);
  EXPECT_TRUE(dict_.updates.empty());
}

TEST_F(TableStatisticsTest, CancelAnswersAndStoresNothing) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  for (int v = 0; v < 10; ++v) {
    auto row = NewRow();
    SetText(row, 0, std::to_string(v));
    dict_.rows.push_back(row);
  }
  dict_.cancel_at = 4;
  const int32_t before = Timestamp();
  const int32_t cancels = W(base_, sys_ + SYS_ST_CANCEL_COUNT);
  EXPECT_EQ(Run(), STAT_CANCELLED);
  EXPECT_TRUE(dict_.updates.empty());
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "begin"), 0);
  EXPECT_EQ(W(base_, sys_ + SYS_ST_CANCEL_COUNT), cancels + 1);
  EXPECT_EQ(Timestamp(), before);
}

TEST_F(TableStatisticsTest, RefusalsAndMissingServices) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  dict_.privilege = false;
  EXPECT_EQ(Run(), 2);
  EXPECT_TRUE(dict_.updates.empty());
  dict_.privilege = true;
  dict_.table.kind = 3;
  EXPECT_EQ(Run(), 3);
  dict_.table.kind = 1;
  // The storing transaction is repeated after -10001.
  dict_.commit_failures = 2;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "end"), 3);
  EXPECT_EQ(dict_.updates.size(), 3u);
  // Names are read only within their 128-byte fields.
  const std::string long_name(300, 'N');
  EXPECT_EQ(Run(0, 0, long_name.c_str(), long_name.c_str()), 0);
  // A column name longer than its field is refused before anything is read.
  dict_.updates.clear();
  dict_.columns[0].name_length = CS_NAME_MAX + 1;
  EXPECT_EQ(Run(), STAT_BAD_ARGUMENT);
  EXPECT_TRUE(dict_.updates.empty());
  dict_.columns[0].name_length = 1;
  W(base_, usr_ + USR_DDUCOM) = 0;
  EXPECT_EQ(Run(), STAT_NO_DICTIONARY);
  W(base_, usr_ + USR_DDUCOM) = 1;
  // Without the dictionary's statistics update the statement fails with
  // the absent service's status.
  DUStatisticsServices partial = kFake;
  partial.update_statistics = nullptr;
  DUInstallStatisticsServices(&partial);
  EXPECT_EQ(Run(), STAT_NO_SYSTEM);
  DUInstallStatisticsServices(&kFake);
}

TEST_F(TableStatisticsTest, SchemaAndEveryTableSkipOnlyTheTablesThatMayBeSkipped) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  AddRows(4);
  dict_.tables = {{"T0", 0}, {"T1", -16143}, {"T2", 0}};
  const int32_t before = Timestamp();
  EXPECT_EQ(Run(0, 0, "S", ""), 0);
  // Two tables stored (one column each), the skipped one not; every
  // stored table's dependents are walked.
  ASSERT_EQ(dict_.updates.size(), 2u);
  EXPECT_EQ(dict_.updates[0].table, 100);
  EXPECT_EQ(dict_.updates[1].table, 102);
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "deps 100"), 1);
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "deps 102"), 1);
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "tables 1"), 1);
  EXPECT_EQ(Timestamp(), before + 1);

  // Every table: the cursor over all schemas, one dependency walk at the
  // end; any other failure ends the statement.
  dict_.calls.clear();
  dict_.updates.clear();
  dict_.tables = {{"T0", 0}, {"T1", -16150}, {"T2", 0}};
  EXPECT_EQ(Run(0, 0, "", ""), -16150);
  EXPECT_EQ(dict_.updates.size(), 1u);
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "tables 0"), 1);
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "deps 0"), 0);
  dict_.tables = {{"T0", 0}};
  dict_.calls.clear();
  EXPECT_EQ(Run(0, 0, "", ""), 0);
  EXPECT_EQ(dict_.calls.back(), "deps 0");

  dict_.schema_exists = false;
  EXPECT_EQ(Run(0, 0, "NOSUCH", ""), 1);
}

TEST_F(TableStatisticsTest, KeyPassFlagFollowsTheScanStatementsChain) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  AddRows(2);
  // Block: word 2 heads the chain, word 6 positive, word 19 the count.
  const int32_t block = du::NewBlock(base_, 80);
  const int32_t e1 = du::NewBlock(base_, 32);
  const int32_t e2 = du::NewBlock(base_, 32);
  W(base_, block + 2) = e1;
  W(base_, e1) = e2;
  W(base_, e2 + 7) = 1;
  W(base_, block + 6) = 1;
  W(base_, block + 19) = 77;
  DUCountUsers(base_, block, 1);
  EXPECT_EQ(W(base_, block + 19), 2);
  DUCountUsers(base_, block, 0);
  EXPECT_EQ(W(base_, block + 19), 1);
  W(base_, block + 6) = 0;
  DUCountUsers(base_, block, 1);
  EXPECT_EQ(W(base_, block + 19), 0);
  W(base_, block + 6) = 1;
  W(base_, block + 19) = 77;

  struct Case {
    int32_t chain, flag, expected;
  } cases[] = {{0, 1, 0}, {block, 1, 1}, {block, 2, 2}, {block, 3, 3}};
  for (const Case& c : cases) {
    dict_.chain = c.chain;
    int32_t flag = c.flag;
    int32_t pb[2] = {0, usr_};
    int32_t count = 0;
    std::vector<uint8_t> row(4), low(4), high(4);
    StatTable t = dict_.table;
    DSTabStatScan(base_, pb, &count, t, 0, row.data(), low.data(), high.data(), &flag);
    EXPECT_EQ(pb[0], 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(flag, c.expected) << c.chain << " " << c.flag;
    EXPECT_EQ(W(base_, block + 19), 77);  // the count word keeps its value
  }
  W(base_, e2 + 7) = 0;
  int32_t flag = 2;
  int32_t pb[2] = {0, usr_};
  int32_t count = 0;
  std::vector<uint8_t> row(4), low(4), high(4);
  DSTabStatScan(base_, pb, &count, dict_.table, 0, row.data(), low.data(), high.data(), &flag);
  EXPECT_EQ(flag, 0);
}

TEST_F(TableStatisticsTest, KeyPassRunsOnlyWhenTheChainCountsEntries) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  AddRows(2);
  const int32_t block = du::NewBlock(base_, 80);
  const int32_t e1 = du::NewBlock(base_, 32);
  W(base_, block + 2) = e1;
  W(base_, block + 6) = 1;
  // No chain: the flag is cleared by the scan and no pass runs.
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "end open"), 1);
  // A chain with an entry: the pass looks the table up again, ends the open
  // transaction and runs the batches, which nobody installed yet.
  dict_.chain = block;
  dict_.calls.clear();
  const int32_t before = Timestamp();
  EXPECT_EQ(Run(1), STAT_NO_SYSTEM);
  EXPECT_EQ(Timestamp(), before + 1);  // the figures were stored before the pass
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "end open"), 2);
  DUStatisticsServices with_batches = kFake;
  with_batches.key_batches = KeyBatches;
  DUInstallStatisticsServices(&with_batches);
  dict_.calls.clear();
  EXPECT_EQ(Run(1), 0);
  EXPECT_EQ(dict_.calls.back(), "deps 7");
  EXPECT_EQ(std::count(dict_.calls.begin(), dict_.calls.end(), "batches 7 1"), 1);
  // Flag 2 counts only entries with word 7 set: none, so no pass; removal
  // never runs one.
  dict_.calls.clear();
  EXPECT_EQ(Run(2), 0);
  EXPECT_EQ(Run(1, 1), 0);
  EXPECT_EQ(std::count_if(dict_.calls.begin(), dict_.calls.end(),
                          [](const std::string& c) { return c.rfind("batches", 0) == 0; }),
            0);
  DUInstallStatisticsServices(&kFake);
}

// Rows longer than 16000 bytes: the buffer and images follow the record.
TEST_F(TableStatisticsTest, RowsLongerThanSixteenThousandBytes) {
  SetColumns({Column("PAD", 1, 20000, 0, 20001), Column("Z", 1, 8, 0, 9)});
  for (int v = 0; v < 3; ++v) {
    auto row = NewRow();
    SetText(row, 0, std::string(19990, char('a' + v)));
    SetText(row, 1, "z" + std::to_string(v));
    dict_.rows.push_back(row);
  }
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(dict_.updates.size(), 2u);
  EXPECT_EQ(dict_.updates[0].low, std::string(16, 'a'));
  EXPECT_EQ(dict_.updates[0].high, std::string(16, 'c'));
  EXPECT_EQ(dict_.updates[1].estimate, 3);
  EXPECT_EQ(dict_.updates[1].low, "z0              ");
  EXPECT_EQ(dict_.updates[1].high, "z2              ");
}

// Statistics of random integer, decimal and text columns against SQLite's
// COUNT(DISTINCT), MIN and MAX of the same values.
TEST_F(TableStatisticsTest, AgreesWithSqlite) {
  SetColumns({Column("I", 3, 10, 0, decimal_bytes(10)), Column("D", 3, 12, 2, decimal_bytes(12)),
              Column("T", 1, 12, 0, 13)});
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t(i INTEGER, d INTEGER, s TEXT)", nullptr, nullptr, nullptr);
  std::mt19937 random(30);
  for (int32_t distinct : {7, 100, 1000, 20000, 150000}) {
    SCOPED_TRACE(distinct);
    dict_.rows.clear();
    dict_.updates.clear();
    sqlite3_exec(db, "DELETE FROM t; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?, ?, ?)", -1, &insert, nullptr);
    const int32_t rows = std::max(3 * distinct, 300);
    std::uniform_int_distribution<int64_t> pick(0, distinct - 1);
    for (int32_t r = 0; r < rows; ++r) {
      // Each column draws from `distinct` values of its own.
      const int64_t i = pick(random) * 7919 - 500000;
      const int64_t d = pick(random) * 37 - 100000;  // hundredths
      const int64_t s = pick(random);
      std::string text = "k";
      for (int64_t x = s * 2654435761u % 1000003 + s; x > 0; x /= 26) text += char('a' + x % 26);
      auto row = NewRow();
      SetDecimal(row, 0, std::to_string(i));
      char dtext[40];
      std::snprintf(dtext, sizeof dtext, "%s%lld.%02lld", d < 0 ? "-" : "",
                    static_cast<long long>(std::llabs(d) / 100),
                    static_cast<long long>(std::llabs(d) % 100));
      SetDecimal(row, 1, dtext);
      SetText(row, 2, text);
      if (r % 10 == 3) SetNull(row, 2);
      dict_.rows.push_back(row);
      sqlite3_bind_int64(insert, 1, i);
      sqlite3_bind_int64(insert, 2, d);
      if (r % 10 == 3) sqlite3_bind_null(insert, 3); else sqlite3_bind_text(insert, 3, text.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    ASSERT_EQ(Run(), 0);
    ASSERT_EQ(dict_.updates.size(), 3u);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT COUNT(DISTINCT i), MIN(i), MAX(i), COUNT(DISTINCT d), MIN(d), "
                       "MAX(d), COUNT(DISTINCT s), MIN(s), MAX(s), COUNT(s), COUNT(*) FROM t",
                       -1, &q, nullptr);
    ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
    for (int c = 0; c < 3; ++c) {
      const Update& u = dict_.updates[c];
      const int64_t exact = sqlite3_column_int64(q, 3 * c);
      EXPECT_EQ(u.row_count, sqlite3_column_int(q, 10));
      if (exact <= 100) {
        EXPECT_EQ(u.estimate, exact) << c;
      } else {
        EXPECT_NEAR(u.estimate, exact, 0.3 * exact) << c;
      }
      if (c < 2) {
        const double scale = c == 0 ? 1 : 100;
        EXPECT_DOUBLE_EQ(std::stod(u.low) * scale, sqlite3_column_double(q, 3 * c + 1)) << u.low;
        EXPECT_DOUBLE_EQ(std::stod(u.high) * scale, sqlite3_column_double(q, 3 * c + 2)) << u.high;
        EXPECT_EQ(u.nonnull, sqlite3_column_int(q, 10));
      } else {
        std::string low(reinterpret_cast<const char*>(sqlite3_column_text(q, 7)));
        std::string high(reinterpret_cast<const char*>(sqlite3_column_text(q, 8)));
        low.resize(STAT_TEXT, ' ');
        high.resize(STAT_TEXT, ' ');
        EXPECT_EQ(u.low, low);
        EXPECT_EQ(u.high, high);
        EXPECT_EQ(u.nonnull, sqlite3_column_int(q, 9));
      }
    }
    sqlite3_finalize(q);
  }
  sqlite3_close(db);
}

}  // namespace

namespace {

// The estimate over 1,000 to 1,000,000 distinct values, each seen twice, of
// an integer, a decimal and a text column: within 30% of the exact count.
TEST_F(TableStatisticsTest, EstimatesStayWithinThirtyPercentUpToAMillion) {
  SetColumns({Column("I", 3, 10, 0, decimal_bytes(10)), Column("D", 3, 12, 2, decimal_bytes(12)),
              Column("T", 1, 12, 0, 13)});
  std::mt19937 random(125);
  for (int32_t distinct : {1000, 10000, 100000, 1000000}) {
    SCOPED_TRACE(distinct);
    std::vector<int32_t> entries;
    for (size_t c = 0; c < 3; ++c) {
      const int32_t e = Entry(0);
      W(base_, e + CS_OFFSET) = Offset(c);
      W(base_, e + CS_LENGTH) = dict_.columns[c].stored;
      DUStatColumnKind(base_, e, dict_.columns[c]);
      entries.push_back(e);
    }
    // Distinct values in a random order: a random stride through them.
    const int64_t stride = 1 + 2 * static_cast<int64_t>(random() % 500000);
    auto row = NewRow();
    for (int32_t round = 0; round < 2; ++round) {
      for (int64_t k = 0; k < distinct; ++k) {
        const int64_t v = (k * stride) % distinct;
        SetDecimal(row, 0, std::to_string(v * 7919 - 4000000000LL));
        char d[32];
        std::snprintf(d, sizeof d, "%lld.%02lld", static_cast<long long>(v / 100),
                      static_cast<long long>(v % 100));
        SetDecimal(row, 1, d);
        SetText(row, 2, "k" + std::to_string(v * 2654435761LL % 1000000007LL));
        for (int32_t e : entries) DSTabStatHash(base_, e, row.data());
      }
    }
    for (size_t c = 0; c < 3; ++c) {
      W(base_, entries[c] + CS_NONNULL) = 2 * distinct;
      EXPECT_NEAR(DUStatEstimate(base_, entries[c], 2 * distinct), distinct, 0.3 * distinct)
          << c;
      du::FreeBlock(base_, W(base_, entries[c] + CS_HASHES));
      du::FreeBlock(base_, entries[c]);
    }
  }
}

}  // namespace

namespace {

// Column lengths that no record holds are refused before the scan, their
// offsets never summed past the largest record.
TEST_F(TableStatisticsTest, ColumnsLongerThanAnyRecordAreRefused) {
  SetColumns({Column("A", 1, 3, 0, 4)});
  AddRows(2);
  dict_.columns = {Column("A", 1, 3, 0, 1 << 30), Column("B", 1, 3, 0, 1 << 30),
                   Column("C", 1, 3, 0, 1 << 30), Column("D", 1, 3, 0, 4)};
  EXPECT_EQ(Run(), STAT_BAD_ARGUMENT);
  EXPECT_TRUE(dict_.updates.empty());
}

}  // namespace
