// Record access on the databank kernel against SQLite at the same job, in
// one run: 200,000 rows (16-byte keys, 100-byte rows, two secondary indexes
// over 8-byte columns) inserted by DUInsertRow, then each read once by
// DUReadRowByKey, against an in-memory SQLite database (a WITHOUT ROWID
// table with two indexes, one transaction, prepared statements). "ratio" is
// ours over SQLite's. The rows go to the tables directly (no write-set
// merge); the run through a transaction is not written yet (see
// du/README.md, "Not built yet").
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_kernel.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"

namespace {

constexpr int kRows = 200000;
constexpr int32_t kIndexKey = 24;  // an 8-byte column and the row's key

struct Setup {
  Setup() {
    int32_t pages[3] = {40000, 64, 0};
    bench::StartKernel(&quiet, &enq, pages);
    char tmpl[] = "/tmp/bench_record_access_XXXXXX";
    dir = mkdtemp(tmpl);
    databank = bench::CreateDatabank(dir, 16000);
    base = SqlPoolCreate(4000000, 400000);
    int32_t w = 400000;
    DSPoolMem(base, &w, -1, 0);
    DSGetMem(base, &sys, SYS_BYTES);
    base[sqlpool::RESERV] = sys;
    DSGetMem(base, &usr, USR_BYTES);
    // The table's control block with two index blocks, made as an open
    // would fill them from the catalog.
    DSGetMem(base, &tcb, TCB_BYTES);
    Identity(tcb + TCB_LID, bench::CreateTable(7), 7, bench::kKey, bench::kLength);
    int32_t* link = &sqlpool_word(base, tcb + TCB_ICB);
    for (int32_t k = 0; k < 2; ++k) {
      int32_t icb = 0;
      DSGetMem(base, &icb, ICB_BYTES + 4 * 7);
      sqlpool_word(base, icb + ICB_TCB) = tcb;
      sqlpool_word(base, icb + ICB_IXTYPE) = 3;
      Identity(icb + ICB_LID, IndexTable(8 + k), 8 + k, kIndexKey, kIndexKey);
      const int32_t parts[7] = {7, 16 + 8 * k, 8, 0, 0, bench::kKey, 1};
      std::memcpy(&sqlpool_word(base, icb + ICB_XD), parts, sizeof parts);
      *link = icb;
      link = &sqlpool_word(base, icb);
    }
    record.assign(static_cast<size_t>(DurecWords(bench::kLength)), 0);
    record[DUREC_OBJECT] = tcb;
    for (int32_t k = 0; k < 6; ++k) record[DUREC_LID + k] = sqlpool_word(base, tcb + TCB_LID + k);
  }
  ~Setup() {
    SqlPoolDestroy(base);
    bench::StopKernel(databank, dir);
  }
  void Identity(int32_t at, int32_t entry, int32_t tname, int32_t keylen, int32_t reclen) {
    const int32_t id[6] = {5, 10, entry, tname, keylen, reclen};
    for (int32_t k = 0; k < 6; ++k) sqlpool_word(base, at + k) = id[k];
  }
  static int32_t IndexTable(int32_t tbl) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = 5;
    b[RQ_TYPE] = 10;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = kIndexKey;
    b[RQ_RECORD_LENGTH] = kIndexKey;
    DKEXE1(16, b);
    return b[RQ_TABLE];
  }
  bench::QuietServices quiet;
  std::vector<int32_t> enq;
  std::string dir;
  int32_t databank = 0, sys = 0, usr = 0, tcb = 0;
  int32_t* base = nullptr;
  std::vector<int32_t> record;
};

void BM_RecordAccessAgainstSqlite(benchmark::State& state) {
  std::vector<std::string> rows = bench::Records();
  rows.resize(kRows);
  for (auto _ : state) {
    Setup s;
    auto t0 = bench::Clock::now();
    for (const std::string& r : rows) {
      std::memcpy(s.record.data() + DUREC_RECORD, r.data(), bench::kLength);
      DUInsertRow(s.base, s.record.data(), s.usr);
      if (s.record[DUREC_STATUS] != 0) state.SkipWithError("insert failed");
    }
    auto t1 = bench::Clock::now();
    int64_t found = 0;
    for (const std::string& r : rows) {
      std::memcpy(s.record.data() + DUREC_RECORD, r.data(), bench::kKey);
      DUReadRowByKey(s.base, s.record.data(), s.usr);
      found += s.record[DUREC_STATUS] == 0 &&
               std::memcmp(s.record.data() + DUREC_RECORD, r.data(), bench::kLength) == 0;
    }
    auto t2 = bench::Clock::now();
    if (found != kRows) state.SkipWithError("a row was not read back");

    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE TABLE t(k BLOB PRIMARY KEY, a BLOB, b BLOB, v BLOB) WITHOUT ROWID;"
                 "CREATE INDEX ta ON t(a); CREATE INDEX tb ON t(b);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_stmt* sel = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?)", -1, &ins, nullptr);
    sqlite3_prepare_v2(db, "SELECT k, a, b, v FROM t WHERE k = ?", -1, &sel, nullptr);
    auto s0 = bench::Clock::now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (const std::string& r : rows) {
      sqlite3_bind_blob(ins, 1, r.data(), bench::kKey, SQLITE_STATIC);
      sqlite3_bind_blob(ins, 2, r.data() + 16, 8, SQLITE_STATIC);
      sqlite3_bind_blob(ins, 3, r.data() + 24, 8, SQLITE_STATIC);
      sqlite3_bind_blob(ins, 4, r.data() + 32, bench::kLength - 32, SQLITE_STATIC);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    auto s1 = bench::Clock::now();
    int64_t sfound = 0;
    for (const std::string& r : rows) {
      sqlite3_bind_blob(sel, 1, r.data(), bench::kKey, SQLITE_STATIC);
      if (sqlite3_step(sel) == SQLITE_ROW)
        sfound += std::memcmp(sqlite3_column_blob(sel, 3), r.data() + 32, bench::kLength - 32) == 0;
      sqlite3_reset(sel);
    }
    auto s2 = bench::Clock::now();
    sqlite3_finalize(ins);
    sqlite3_finalize(sel);
    sqlite3_close(db);
    if (sfound != kRows) state.SkipWithError("SQLite did not read a row back");

    const double ours_insert = bench::Seconds(t0, t1), ours_fetch = bench::Seconds(t1, t2);
    const double sqlite_insert = bench::Seconds(s0, s1), sqlite_fetch = bench::Seconds(s1, s2);
    state.counters["insert_ratio"] = ours_insert / sqlite_insert;
    state.counters["fetch_ratio"] = ours_fetch / sqlite_fetch;
    state.counters["ours_insert_s"] = ours_insert;
    state.counters["sqlite_insert_s"] = sqlite_insert;
    state.counters["ours_fetch_s"] = ours_fetch;
    state.counters["sqlite_fetch_s"] = sqlite_fetch;
  }
}
BENCHMARK(BM_RecordAccessAgainstSqlite)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
