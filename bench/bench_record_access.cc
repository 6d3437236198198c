// Record access on the databank kernel against SQLite at the same job, in
// one run: 200,000 rows (16-byte keys, 100-byte rows, two secondary indexes
// over 8-byte columns) inserted by DUInsertRow, then each read once by
// DUReadRowByKey, against an in-memory SQLite database (a WITHOUT ROWID
// table with two indexes, one transaction, prepared statements). "ratio" is
// ours over SQLite's. Two runs: the rows go to the tables directly (a
// databank without write-set merge), and in a databank transactions write:
// the inserts in one transaction through its write set, timed with the
// commit until the background threads have applied it, and the reads in a
// transaction of their own, each merged with its (empty) write set.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_kernel.h"
#include "dk/background_threads.h"
#include "dk/bitmap_page.h"
#include "dk/commit_write_set.h"
#include "dk/control_words.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"

namespace {

constexpr int kRows = 200000;
constexpr int32_t kIndexKey = 24;  // an 8-byte column and the row's key

struct Setup {
  // `merge`: the databank is one transactions write: a commit set, a
  // databank for the write and read sets (logical id 2) and the background
  // threads that apply commits.
  explicit Setup(bool merge) {
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
    if (merge) StartTransactions();
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
      sqlpool_word(base, icb + ICB_QRECLEN) = QueueRecordWords(kIndexKey);
      const int32_t parts[7] = {7, 16 + 8 * k, 8, 0, 0, bench::kKey, 1};
      std::memcpy(&sqlpool_word(base, icb + ICB_XD), parts, sizeof parts);
      *link = icb;
      link = &sqlpool_word(base, icb);
    }
    record.assign(static_cast<size_t>(DurecWords(bench::kLength)), 0);
    record[DUREC_OBJECT] = tcb;
    record[DUREC_MERGE] = merge ? 2 : 0;
    record[DUREC_REQUEST_WORDS] = QueueRecordWords(bench::kLength);
    for (int32_t k = 0; k < 6; ++k) record[DUREC_LID + k] = sqlpool_word(base, tcb + TCB_LID + k);
  }
  ~Setup() {
    SqlPoolDestroy(base);
    if (!background.empty()) {
      int32_t rc = 0;
      DKStopBackground(&rc);
      for (std::thread& t : background) t.join();
      for (int32_t e : {trans, sets}) ReleaseDatabank(e, false);
    }
    bench::StopKernel(databank, dir);
  }
  // The databank of logical id 2 keeps its tables on the root pages its
  // header names: a new file gets its first one.
  static void GiveRootPage(int32_t entry) {
    int32_t rq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
    DKHLD0(rq, 0);
    const int32_t root = rq[REQ_PAGE];
    int32_t get[REQ_WORDS] = {entry, root, 2048, 0, -1, 0};
    int32_t b = DKGET0(get, GET_NEW);
    std::memset(PageWords(b) + 1, 0, 2044);
    PageWords(b)[HDR_KIND] = ROOT_PAGE_KIND;
    WriteUnitPage(entry, root, b);
    int32_t head[REQ_WORDS] = {entry, kHeaderUnit, 2048, 0, -1, 0};
    b = DKGET0(head, GET_UPDATE);
    PageWords(b)[HDR_RESTORE_DIRECTORY] = root;
    WriteUnitPage(entry, kHeaderUnit, b);
  }
  void StartTransactions() {
    trans = bench::CreateDatabankFile(dir + "/trans.dbf", 7, 9, 120000);
    sets = bench::CreateDatabankFile(dir + "/sets.dbf", 2, DBT_WORK, 120000);
    GiveRootPage(sets);
    Bufferpool()[BP_TRANS_DATABANK] = trans;
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = 7;
    b[RQ_TYPE] = 50;
    b[RQ_TBL] = 10;
    b[RQ_DATA_PAGE_SIZE] = kCommitSetPageSize;
    b[RQ_INDEX_PAGE_SIZE] = 2048;
    DKCRT1(b);
    Bufferpool()[BP_COMMIT_SET_TBL] = b[RQ_TABLE];
    for (int i = 0; i < 2; ++i)
      background.emplace_back([this, i] {
        enqdeq_attach(enq.data(), 2 + i);
        DKSSD1();
      });
    enqdeq_init_semaphore(&sqlpool_word(base, sys + SYS_POOLED_TP_S), 1);
    int32_t lvl = 0, trs = 0, dcb = 0;
    DSGetMem(base, &lvl, LVL_BYTES);
    DSGetMem(base, &trs, TRS_BYTES);
    DSGetMem(base, &dcb, DCB_BYTES);
    sqlpool_word(base, usr + USR_LVL) = lvl;
    sqlpool_word(base, lvl + LVL_USR) = usr;
    sqlpool_word(base, usr + USR_TRANSACTION_AUTOCOMMIT) = NO_AUTOMATIC_END;
    sqlpool_word(base, usr + USR_TRANSACTION_START) = 1;
    sqlpool_word(base, usr + USR_TRANSACTION_VIEW) = 3;
    sqlpool_word(base, usr + USR_MARK_ID) = FIRST_MARK_ID;
    sqlpool_word(base, usr + USR_TRANSDB_DID) = sets;
    sqlpool_word(base, usr + USR_SQLDB_DID) = sets;
    sqlpool_word(base, dcb + DCB_LID) = 5;
    sqlpool_word(base, dcb + DCB_DID) = databank;
    sqlpool_word(base, dcb + DCB_TRANS_MODE) = 3;
    sqlpool_word(base, trs + TRS_DCB) = dcb;
    sqlpool_word(base, trs + TRS_STM_COUNT) = 1;
    sqlpool_word(base, usr + USR_TRS) = trs;
    sqlpool_word(base, tcb + TCB_TRANS_MODE) = 3;
    sqlpool_word(base, tcb + TCB_DCB) = dcb;
  }
  // Begins a transaction that writes the databank; 0 or the failure.
  int32_t Begin() {
    int32_t pb[2] = {1, usr};
    DSBTR3(base, pb);
    sqlpool_word(base, sqlpool_word(base, usr + USR_TRS) + TRS_STATUS) = 3;
    // One statement: the kernel keeps its changes under its cursor order.
    DSSetCursorOrder(base, usr, DSNextCursorOrder(base, usr));
    return pb[0];
  }
  int32_t Tss() const { return sqlpool_word(base, sqlpool_word(base, usr + USR_TP) + TP_TSS); }
  // Commits; 0 or the failure.
  int32_t Commit() {
    int32_t pb[3] = {END_CLIENT_COMMIT, usr, 0};
    DSEndTrans(base, pb);
    return pb[0];
  }
  // Waits until the background threads have applied every commit.
  static void WaitApplied() {
    const int32_t last = PoolWord(BP_COMMITS).load();
    // Asleep between looks, so as not to take a core the background threads
    // could use.
    while (PoolWord(BP_SECURED_TRANS_NUMBER).load() < last)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
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
  std::vector<std::thread> background;
  int32_t databank = 0, trans = 0, sets = 0, sys = 0, usr = 0, tcb = 0;
  int32_t* base = nullptr;
  std::vector<int32_t> record;
};

// `state.range(0)`: 1 in a databank transactions write, 0 directly.
void BM_RecordAccessAgainstSqlite(benchmark::State& state) {
  const bool merge = state.range(0) != 0;
  std::vector<std::string> rows = bench::Records();
  rows.resize(kRows);
  for (auto _ : state) {
    Setup s(merge);
    auto t0 = bench::Clock::now();
    if (merge && s.Begin() != 0) state.SkipWithError("begin failed");
    for (const std::string& r : rows) {
      std::memcpy(s.record.data() + DUREC_RECORD, r.data(), bench::kLength);
      DUInsertRow(s.base, s.record.data(), s.usr);
      if (s.record[DUREC_STATUS] != 0) {
        state.SkipWithError("insert failed");
        break;
      }
    }
    auto tc = bench::Clock::now();
    if (merge && s.Commit() != 0) state.SkipWithError("commit failed");
    auto td = bench::Clock::now();
    if (merge) Setup::WaitApplied();
    auto t1 = bench::Clock::now();
    if (merge && s.Begin() != 0) state.SkipWithError("begin failed");
    int64_t found = 0;
    for (const std::string& r : rows) {
      std::memcpy(s.record.data() + DUREC_RECORD, r.data(), bench::kKey);
      DUReadRowByKey(s.base, s.record.data(), s.usr);
      found += s.record[DUREC_STATUS] == 0 &&
               std::memcmp(s.record.data() + DUREC_RECORD, r.data(), bench::kLength) == 0;
    }
    auto t2 = bench::Clock::now();
    if (found != kRows) state.SkipWithError("a row was not read back");
    // The floor of a read: the kernel requests alone that an exact read
    // sends (the table, and with merge the write set), with no work of
    // record access around them.
    int64_t floor_found = 0;
    for (const std::string& r : rows) {
      int32_t* rec = s.record.data();
      std::memcpy(rec + DUREC_RECORD, r.data(), bench::kKey);
      rec[DUREC_STATUS] = 2;
      DKEXE1(DK_FET1, rec + 14);
      floor_found += rec[DUREC_STATUS] == 0;
      if (merge) {
        rec[DUREC_TSS] = s.Tss();
        rec[DUREC_STATUS] = 2;
        DKEXE1(DK_FNT1, rec + 13);
      }
    }
    auto t3 = bench::Clock::now();
    if (floor_found != kRows) state.SkipWithError("a row was not read back by the kernel");
    if (merge && s.Commit() != 0) state.SkipWithError("read commit failed");

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
    state.counters["floor_fetch_ratio"] = bench::Seconds(t2, t3) / sqlite_fetch;
    if (merge) {
      // The parts of the insert time: the changes, the commit (durable in
      // the commit set), the background apply.
      state.counters["ours_changes_s"] = bench::Seconds(t0, tc);
      state.counters["ours_commit_s"] = bench::Seconds(tc, td);
      state.counters["ours_apply_s"] = bench::Seconds(td, t1);
      state.counters["floor_insert_ratio"] = bench::Seconds(tc, t1) / sqlite_insert;
    }
  }
}
BENCHMARK(BM_RecordAccessAgainstSqlite)
    ->ArgName("write_set")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
