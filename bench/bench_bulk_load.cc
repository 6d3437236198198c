// A bulk load against single inserts and against SQLite's index build, in
// one run: the same 1,000,000 random 100-byte rows (16-byte keys) loaded
// through DKLOA1, DKMRG1 and DKBIN1 into one table, inserted one by one
// through DKINS1 into another, and, in an in-memory SQLite database that
// already holds them, indexed by CREATE INDEX on the key alone and on the
// whole row. Beside them runs the load's floor: the page gets and releases
// the design prescribes for each record of DKLOA1 (control page, work page
// and the run page, each for update), with nothing else.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_kernel.h"
#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/page_entries.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

namespace {

using bench::Clock;
using bench::CreateTable;
using bench::kKey;
using bench::kLength;
using bench::kRecords;
using bench::kRecordWords;
using bench::Records;
using bench::Seconds;

// A started kernel whose pools hold both tables, one databank file and two
// tables of 16-byte keys and 100-byte records on the default page sizes.
struct Kernel {
  Kernel() {
    int32_t pages[3] = {200000, 64, 32};
    if (int32_t rc = bench::StartKernel(&quiet, &enq, pages); rc != 0) {
      std::fprintf(stderr, "kernel start: %d\n", rc);
      std::abort();
    }
    char tmpl[] = "/tmp/bench_load_XXXXXX";
    dir = mkdtemp(tmpl);
    databank = bench::CreateDatabank(dir, 300000);  // room for both tables, so the file never grows
    loaded = CreateTable(7);
    inserted = CreateTable(8);
  }
  ~Kernel() { bench::StopKernel(databank, dir); }
  bench::QuietServices quiet;
  std::vector<int32_t> enq;
  std::string dir;
  int32_t databank = 0, loaded = 0, inserted = 0;
};

// Loads every record; the failures counted, the time of each step in
// *steps (records in, end of input and merge, build).
int Load(Kernel& k, const std::vector<std::string>& records, double* steps) {
  std::vector<int32_t> b(static_cast<size_t>(LoadBlockWords(kLength)) + 1, 0);
  b[LOA_TABLE] = k.loaded;
  b[LOA_TBL] = 7;
  b[LOA_KEY_LENGTH] = kKey;
  b[LOA_RECORD_LENGTH] = kLength;
  int failures = 0;
  auto t0 = Clock::now();
  for (const std::string& r : records) {
    b[LOA_STATUS] = 0;
    std::memcpy(b.data() + LOA_RECORD, r.data(), kLength);
    DKEXE1(40, b.data());
    failures += b[LOA_STATUS] != 0;
  }
  auto t1 = Clock::now();
  b[LOA_STATUS] = kLoadEndOfInput;
  DKEXE1(40, b.data());
  failures += b[LOA_STATUS] != 0;
  DKEXE1(42, b.data());
  failures += b[LOA_STATUS] != 0;
  auto t2 = Clock::now();
  b[LOA_STATUS] = 0;
  DKEXE1(7, b.data());
  failures += b[LOA_STATUS] != 0;
  auto t3 = Clock::now();
  steps[0] = Seconds(t0, t1), steps[1] = Seconds(t1, t2), steps[2] = Seconds(t2, t3);
  return failures;
}

// The prescribed page work of DKLOA1 alone: three pages got for update and
// released changed per record, on pages of the sizes a load uses.
double Floor(Kernel& k) {
  const int32_t work_size = LoadWord(BP_MAX_PAGE_SIZE);
  int32_t pages[3] = {0, 0, 0};
  const int32_t sizes[3] = {kControlPageSize, work_size, DKBSC0(kLength)};
  for (int i = 0; i < 3; ++i) {
    int32_t rq[REQ_WORDS] = {k.databank, 0, sizes[i], 0, -1, 0};
    int32_t b = DKHLD0(rq, -1);
    pages[i] = rq[REQ_PAGE];
    DKPUT0(PUT_CHANGED, b);
  }
  auto t0 = Clock::now();
  for (int n = 0; n < kRecords; ++n) {
    int32_t held[3];
    for (int i = 0; i < 3; ++i) {
      int32_t rq[REQ_WORDS] = {k.databank, pages[i], sizes[i], 0, -1, 0};
      held[i] = DKGET0(rq, GET_UPDATE);
    }
    for (int i = 2; i >= 0; --i) DKPUT0(PUT_CHANGED, held[i]);
  }
  return Seconds(t0, Clock::now());
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::abort();
  }
}

// SQLite's CREATE INDEX over a table that holds the records already.
void SqliteIndex(const std::vector<std::string>& records, double* key_only, double* whole_row) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(":memory:", &db), db);
  Check(sqlite3_exec(db, "CREATE TABLE t(k BLOB, v BLOB)", nullptr, nullptr, nullptr), db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr), db);
  Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
  for (const std::string& r : records) {
    sqlite3_bind_blob(insert, 1, r.data(), kKey, SQLITE_STATIC);
    sqlite3_bind_blob(insert, 2, r.data() + kKey, kLength - kKey, SQLITE_STATIC);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
  sqlite3_finalize(insert);
  auto s0 = Clock::now();
  Check(sqlite3_exec(db, "CREATE INDEX ik ON t(k)", nullptr, nullptr, nullptr), db);
  auto s1 = Clock::now();
  Check(sqlite3_exec(db, "CREATE INDEX ikv ON t(k, v)", nullptr, nullptr, nullptr), db);
  auto s2 = Clock::now();
  sqlite3_close(db);
  *key_only = Seconds(s0, s1);
  *whole_row = Seconds(s1, s2);
}

void BM_BulkLoadVersusInsertsAndSqlite(benchmark::State& state) {
  static const std::vector<std::string> records = Records();
  for (auto _ : state) {
    Kernel k;
    auto t0 = Clock::now();
    double steps[3] = {};
    int failures = Load(k, records, steps);
    auto t1 = Clock::now();
    std::vector<int32_t> block(RQ_RECORD + kRecordWords + 1, 0);
    block[RQ_TABLE] = k.inserted;
    block[RQ_TBL] = 8;
    block[RQ_RECORD_LENGTH] = kLength;
    for (const std::string& r : records) {
      block[RQ_STATUS] = 0;
      std::memcpy(block.data() + RQ_RECORD, r.data(), kLength);
      DKEXE1(38, block.data());
      failures += block[RQ_STATUS] != 0;
    }
    auto t2 = Clock::now();
    double floor = Floor(k);
    double lite_key = 0, lite_row = 0;
    SqliteIndex(records, &lite_key, &lite_row);
    const double load = Seconds(t0, t1), inserts = Seconds(t1, t2);
    state.counters["failures"] = failures;
    state.counters["load_ns"] = load * 1e9 / kRecords;
    state.counters["sort_ns"] = steps[0] * 1e9 / kRecords;
    state.counters["merge_ns"] = steps[1] * 1e9 / kRecords;
    state.counters["build_ns"] = steps[2] * 1e9 / kRecords;
    state.counters["insert_ns"] = inserts * 1e9 / kRecords;
    state.counters["insert_over_load"] = inserts / load;
    state.counters["sqlite_index_k_ns"] = lite_key * 1e9 / kRecords;
    state.counters["sqlite_index_kv_ns"] = lite_row * 1e9 / kRecords;
    state.counters["load_over_sqlite_k"] = load / lite_key;
    state.counters["load_over_sqlite_kv"] = load / lite_row;
    state.counters["floor_ns"] = floor * 1e9 / kRecords;
    state.counters["floor_over_sqlite_k"] = floor / lite_key;
  }
}
BENCHMARK(BM_BulkLoadVersusInsertsAndSqlite)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
