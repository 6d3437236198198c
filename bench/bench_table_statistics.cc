// Table statistics against SQLite at the same job, in one run: 1,000,000
// rows of eight columns (three integers and two decimals as packed
// decimals, three 12-byte texts; 10 to 1,000,000 distinct values per
// column, behind an 8-byte key). Ours: DSTabStatScan over the rows of a
// databank kernel table, handed over one by one by a scan service that
// reads each through record access (DUGetRow); and, as the floor of the
// sampling itself, the same scan over rows copied from memory. SQLite:
// COUNT(DISTINCT), MIN and MAX of every column and COUNT(*) in one query
// over an in-memory table. Prints the ratios of the median CPU times (ours
// over SQLite's).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/interp_table.h"
#include "bench/ratio_reporter.h"
#include "interp/machine.h"
#include "du/pool_words.h"
#include "du/table_statistics.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/decimal_text.h"

namespace {

constexpr int32_t kRows = 1000000;
constexpr int32_t kColumns = 8;
constexpr int32_t kDistinct[kColumns] = {10, 1000, 1000000, 100, 100000, 50, 20000, 1000000};
constexpr int32_t kPrecision = 18;
constexpr int32_t kNumber = decimal_bytes(kPrecision);
constexpr int32_t kText = 13;
constexpr int32_t kKey = 8;  // the row number, big-endian: the table's key

bool IsText(int32_t c) { return c >= 5; }
int32_t Stored(int32_t c) { return IsText(c) ? kText : kNumber; }

int32_t RecordLength() {
  int32_t reclen = kKey;
  for (int32_t c = 0; c < kColumns; ++c) reclen += Stored(c);
  return reclen;
}

struct Data {
  int32_t reclen = RecordLength();
  std::vector<uint8_t> rows;
  sqlite3* db = nullptr;
  // The same rows in a databank kernel table, read through record access.
  bench::InterpTable table{"bench_table_statistics", kKey, RecordLength(), 80000};
  std::vector<int32_t> record;
  int32_t work = 0;
  std::string error;

  Data() {
    rows.resize(size_t(kRows) * reclen);
    record.assign(static_cast<size_t>(DurecWords(reclen)), 0);
    table.Bind(record.data());
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE TABLE t(a INTEGER, b INTEGER, c INTEGER, d REAL, e REAL, f TEXT, g TEXT, "
                 "h TEXT); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
    std::mt19937_64 random(125);
    for (int32_t r = 0; r < kRows; ++r) {
      uint8_t* row = &rows[size_t(r) * reclen];
      for (int32_t k = 0; k < kKey; ++k) row[k] = static_cast<uint8_t>(uint64_t(r) >> (56 - 8 * k));
      int32_t offset = kKey;
      for (int32_t c = 0; c < kColumns; ++c) {
        const int64_t v = int64_t(random() % uint64_t(kDistinct[c]));
        if (IsText(c)) {
          char text[32];
          std::snprintf(text, sizeof text, "t%011lld", static_cast<long long>(v * 7919 % 100000000000));
          row[offset] = 0;
          std::memcpy(row + offset + 1, text, kText - 1);
          sqlite3_bind_text(insert, c + 1, text, kText - 1, SQLITE_TRANSIENT);
        } else {
          std::string text = c < 3 ? std::to_string(v * 104729 - 7000000)
                                   : std::to_string(v * 13 - 5000) + ".25";
          const value_descriptor d{offset, kPrecision, c < 3 ? 0 : 2, 0};
          text_to_decimal(ByteSpan(row, size_t(reclen)), d,
                          ConstByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                          0, int32_t(text.size()));
          if (c < 3) sqlite3_bind_int64(insert, c + 1, v * 104729 - 7000000);
          else sqlite3_bind_double(insert, c + 1, double(v * 13 - 5000) + 0.25);
        }
        offset += Stored(c);
      }
      sqlite3_step(insert);
      sqlite3_reset(insert);
      std::memcpy(record.data() + DUREC_RECORD, row, size_t(reclen));
      DUInsertRow(table.base, record.data(), table.usr);
      if (record[DUREC_STATUS] != 0) error = "insert failed";
    }
    interp::DSGetStmWork(table.base, record.data(), 1, table.thr, &work);
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
};

Data& TheData() {
  static Data data;
  return data;
}

int32_t g_next = 0;

// The dictionary's table scan in place: each row read through record
// access from the kernel table.
void ScanTable(int32_t*, int32_t* pb, const StatTable& t, uint8_t* row) {
  Data& d = TheData();
  if (pb[0] > 0) {
    std::memset(d.record.data() + DUREC_RECORD, 0, kKey);  // from the first key
    d.record[DUREC_FETCH_CODE] = 1;
    d.record[DUREC_STATUS] = 1;
  } else {
    d.record[DUREC_STATUS] = 0;
  }
  DUGetRow(d.table.base, d.record.data(), d.table.usr, d.work);
  if (d.record[DUREC_STATUS] != 0) {
    pb[0] = d.record[DUREC_STATUS] == DU_NO_ROW ? 100 : d.record[DUREC_STATUS];
    return;
  }
  std::memcpy(row, d.record.data() + DUREC_RECORD, size_t(t.reclen));
  pb[0] = 0;
}

// Rows copied from memory: the sampling's own cost.
void ScanMemory(int32_t*, int32_t* pb, const StatTable& t, uint8_t* row) {
  if (pb[0] > 0) g_next = 0;
  if (g_next >= kRows) {
    pb[0] = 100;
    return;
  }
  std::memcpy(row, &TheData().rows[size_t(g_next++) * t.reclen], size_t(t.reclen));
  pb[0] = 0;
}

void Statistics(benchmark::State& state, void (*scan)(int32_t*, int32_t*, const StatTable&,
                                                     uint8_t*)) {
  Data& d = TheData();
  if (!d.error.empty()) {
    state.SkipWithError(d.error.c_str());
    return;
  }
  DUStatisticsServices services{};
  services.scan_rows = scan;
  DUInstallStatisticsServices(&services);
  int32_t* base = SqlPoolCreate(1 << 22, 1 << 20);
  int32_t words = 1 << 20;
  DSPoolMem(base, &words, -1, 0);
  int32_t sys = 0;
  DSGetMem(base, &sys, SYS_BYTES);
  base[sqlpool::RESERV] = sys;
  int32_t usr = du::NewBlock(base, USR_BYTES);
  int32_t chain = 0, last = 0, offset = kKey;
  for (int32_t c = 0; c < kColumns; ++c) {
    const int32_t e = du::NewBlock(base, CS_BYTES);
    if (last) du::W(base, last + CS_NEXT) = e; else chain = e;
    last = e;
    StatColumn column{};
    column.type_code = IsText(c) ? 1 : 3;
    column.length = IsText(c) ? kText - 1 : kPrecision;
    column.stored = Stored(c);
    DUStatColumnKind(base, e, column);
    du::W(base, e + CS_LENGTH) = Stored(c);
    du::W(base, e + CS_OFFSET) = offset;
    du::W(base, e + CS_HASHES) = du::NewBlock(base, 4 * STAT_SAMPLE);
    offset += Stored(c);
  }
  StatTable table{1, 5, 7, 10, kKey, d.reclen, 1};
  std::vector<uint8_t> row(size_t(d.reclen)), low(row.size()), high(row.size());
  for (auto _ : state) {
    for (int32_t e = chain; e != 0; e = du::W(base, e + CS_NEXT))
      for (int32_t f : {CS_NONNULL, CS_COUNT, CS_DEPTH, CS_SELECTOR}) du::W(base, e + f) = 0;
    int32_t pb[2] = {0, usr};
    int32_t count = 0, flag = 3;
    DSTabStatScan(base, pb, &count, table, chain, row.data(), low.data(), high.data(), &flag);
    if (pb[0] != 0 || count != kRows) state.SkipWithError("scan failed");
    int32_t c = 0;
    for (int32_t e = chain; e != 0; e = du::W(base, e + CS_NEXT), ++c)
      state.counters["est" + std::to_string(c)] = DUStatEstimate(base, e, count);
  }
  DUInstallStatisticsServices(nullptr);
  SqlPoolDestroy(base);
}

void BM_Statistics(benchmark::State& state) { Statistics(state, ScanTable); }
void BM_StatisticsFromMemory(benchmark::State& state) { Statistics(state, ScanMemory); }

void BM_Sqlite(benchmark::State& state) {
  Data& d = TheData();
  std::string sql = "SELECT COUNT(*)";
  for (const char* c : {"a", "b", "c", "d", "e", "f", "g", "h"})
    sql += std::string(", COUNT(DISTINCT ") + c + "), MIN(" + c + "), MAX(" + c + ")";
  sql += " FROM t";
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(d.db, sql.c_str(), -1, &q, nullptr);
  for (auto _ : state) {
    if (sqlite3_step(q) != SQLITE_ROW) state.SkipWithError("query failed");
    for (int32_t c = 0; c < kColumns; ++c)
      state.counters["est" + std::to_string(c)] = double(sqlite3_column_int64(q, 1 + 3 * c));
    sqlite3_reset(q);
  }
  sqlite3_finalize(q);
}

}  // namespace

BENCHMARK(BM_Statistics)->Repetitions(3)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatisticsFromMemory)->Repetitions(3)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Repetitions(3)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TheData();
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.Median("BM_Statistics");
  const double memory = reporter.Median("BM_StatisticsFromMemory");
  const double theirs = reporter.Median("BM_Sqlite");
  if (theirs > 0) {
    std::printf("ratio (statistics through record access / SQLite): %.3f (goal: at most 0.5)\n",
                ours / theirs);
    std::printf("ratio (statistics over rows from memory / SQLite): %.3f\n", memory / theirs);
  }
  benchmark::Shutdown();
  return 0;
}
