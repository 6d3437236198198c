// A table's tree against SQLite's B-tree at the same job, in one run: the
// same 1,000,000 random 16-byte keys with 100-byte records inserted through
// DKINS1 and then each looked up once (DKCHK1, which walks to the record and
// compares it), against an in-memory SQLite database with a WITHOUT ROWID
// table, one transaction and prepared statements (insert, and a select of
// the record by key whose bytes are compared the same way). "ratio" is ours
// over SQLite's. Beside each runs its floor: only the page gets and releases
// the design prescribes for each request (the root page and one page per
// level, with their locks), on pages of the same tree, with nothing else.
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
#include "dk/bufferpool.h"
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

// A started kernel whose pools hold the whole tree, one databank file and
// one table of 16-byte keys and 100-byte records on the default page sizes.
struct Kernel {
  Kernel() {
    int32_t pages[3] = {120000, 64, 0};
    bench::StartKernel(&quiet, &enq, pages);
    char tmpl[] = "/tmp/bench_tree_XXXXXX";
    dir = mkdtemp(tmpl);
    databank = bench::CreateDatabank(dir, 16000);
    table = CreateTable(7);
  }
  ~Kernel() { bench::StopKernel(databank, dir); }
  bench::QuietServices quiet;
  std::vector<int32_t> enq;
  std::string dir;
  int32_t databank = 0, table = 0;
};

// Every page of the tree by level (the walk the floor takes its pages from).
std::vector<std::vector<int32_t>> TreePages(Kernel& k, int32_t* root_page, int32_t* levels) {
  int32_t record = 0;
  int32_t root = GetRootEntry(k.table, GET_SHARED, 10, &record);
  int32_t top = Bufferpool()[record - 1];
  *levels = Bufferpool()[record];
  int32_t inner = Bufferpool()[record + RE_INDEX_PAGE_SIZE];
  *root_page = Bufferpool()[k.table + TBE_ROOT_PAGE];
  DKPUT0(PUT_END_SHARED, root);
  std::vector<std::vector<int32_t>> pages(static_cast<size_t>(*levels));
  pages[0].push_back(top);
  for (int32_t level = 1; level < *levels; ++level)
    for (int32_t page : pages[static_cast<size_t>(level - 1)]) {
      int32_t rq[REQ_WORDS] = {k.databank, page, inner, 0, -1, 0};
      int32_t b = DKGET0(rq, GET_SHARED);
      const uint8_t* p = PageBytes(b);
      for (int32_t o = kPageHeaderBytes; o < UsedEnd(p); o += kKey + kChildBytes)
        pages[static_cast<size_t>(level)].push_back(LoadChild(p + o + kKey));
      DKPUT0(PUT_END_SHARED, b);
    }
  return pages;
}

// The page gets and releases of one request alone: the root page and one
// page of each level, in `mode`, on pages of the tree.
double Floor(Kernel& k, int32_t mode, int32_t inner, int32_t leaf) {
  int32_t root_page = 0, levels = 0;
  auto pages = TreePages(k, &root_page, &levels);
  std::mt19937 rng(7);
  std::vector<int32_t> path(static_cast<size_t>(levels) + 1);
  auto t0 = Clock::now();
  for (int i = 0; i < kRecords; ++i) {
    int32_t rq[REQ_WORDS] = {k.databank, root_page, kUnitBytes, 0, -1, 0};
    path[0] = DKGET0(rq, mode);
    for (int32_t level = 0; level < levels; ++level) {
      const auto& row = pages[static_cast<size_t>(level)];
      rq[REQ_PAGE] = row[rng() % row.size()];
      rq[REQ_PAGE_SIZE] = level + 1 == levels ? leaf : inner;
      path[static_cast<size_t>(level) + 1] = DKGET0(rq, mode);
      // The walk gives the parent back once the child is held.
      DKPUT0(mode == GET_SHARED ? PUT_END_SHARED : PUT_UNCHANGED, path[static_cast<size_t>(level)]);
    }
    DKPUT0(mode == GET_SHARED ? PUT_END_SHARED : PUT_UNCHANGED, path[static_cast<size_t>(levels)]);
  }
  return Seconds(t0, Clock::now());
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::abort();
  }
}

void BM_TreeVersusSqlite(benchmark::State& state) {
  static const std::vector<std::string> records = Records();
  for (auto _ : state) {
    Kernel k;
    std::vector<int32_t> block(RQ_RECORD + kRecordWords + 1, 0);
    block[RQ_TABLE] = k.table;
    block[RQ_TBL] = 7;
    block[RQ_RECORD_LENGTH] = kLength;
    int failures = 0;
    auto t0 = Clock::now();
    for (const std::string& r : records) {
      block[RQ_STATUS] = 0;
      std::memcpy(block.data() + RQ_RECORD, r.data(), kLength);
      DKEXE1(38, block.data());
      failures += block[RQ_STATUS] != 0;
    }
    auto t1 = Clock::now();
    for (const std::string& r : records) {
      block[RQ_STATUS] = 0;
      std::memcpy(block.data() + RQ_RECORD, r.data(), kLength);
      DKEXE1(10, block.data());
      failures += block[RQ_STATUS] != 0;
    }
    auto t2 = Clock::now();
    int32_t record = 0;
    int32_t root = GetRootEntry(k.table, GET_SHARED, 10, &record);
    int32_t inner = Bufferpool()[record + RE_INDEX_PAGE_SIZE];
    int32_t leaf = Bufferpool()[record + RE_DATA_PAGE_SIZE];
    int32_t levels = Bufferpool()[record];
    DKPUT0(PUT_END_SHARED, root);
    double insert_floor = Floor(k, GET_UPDATE, inner, leaf);
    double fetch_floor = Floor(k, GET_SHARED, inner, leaf);

    sqlite3* db = nullptr;
    Check(sqlite3_open(":memory:", &db), db);
    Check(sqlite3_exec(db, "CREATE TABLE t(k BLOB PRIMARY KEY, v BLOB) WITHOUT ROWID", nullptr,
                       nullptr, nullptr),
          db);
    sqlite3_stmt *insert = nullptr, *select = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr), db);
    Check(sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = ?", -1, &select, nullptr), db);
    auto s0 = Clock::now();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (const std::string& r : records) {
      sqlite3_bind_blob(insert, 1, r.data(), kKey, SQLITE_STATIC);
      sqlite3_bind_blob(insert, 2, r.data() + kKey, kLength - kKey, SQLITE_STATIC);
      Check(sqlite3_step(insert), db);
      sqlite3_reset(insert);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    auto s1 = Clock::now();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (const std::string& r : records) {
      sqlite3_bind_blob(select, 1, r.data(), kKey, SQLITE_STATIC);
      bool equal =
          sqlite3_step(select) == SQLITE_ROW && sqlite3_column_bytes(select, 0) == kLength - kKey &&
          std::memcmp(sqlite3_column_blob(select, 0), r.data() + kKey, kLength - kKey) == 0;
      failures += !equal;
      sqlite3_reset(select);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    auto s2 = Clock::now();
    sqlite3_finalize(insert);
    sqlite3_finalize(select);
    sqlite3_close(db);

    double ours_insert = Seconds(t0, t1), ours_fetch = Seconds(t1, t2);
    double lite_insert = Seconds(s0, s1), lite_fetch = Seconds(s1, s2);
    state.counters["failures"] = failures;
    state.counters["levels"] = levels;
    state.counters["insert_ns"] = ours_insert * 1e9 / kRecords;
    state.counters["sqlite_insert_ns"] = lite_insert * 1e9 / kRecords;
    state.counters["insert_ratio"] = ours_insert / lite_insert;
    state.counters["insert_floor_ratio"] = insert_floor / lite_insert;
    state.counters["fetch_ns"] = ours_fetch * 1e9 / kRecords;
    state.counters["sqlite_fetch_ns"] = lite_fetch * 1e9 / kRecords;
    state.counters["fetch_ratio"] = ours_fetch / lite_fetch;
    state.counters["fetch_floor_ratio"] = fetch_floor / lite_fetch;
  }
}
BENCHMARK(BM_TreeVersusSqlite)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
