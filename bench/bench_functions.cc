// The interpreter's function instructions against SQLite, in one run: an
// assembled program scans 1,000,000 rows of a databank kernel table (a
// DECIMAL(15) column `a` and a CHAR(20) column `s`) through record access and
// computes the query's functions, against SQLite running the same query over
// the same rows in an in-memory database. "ratio" is ours over SQLite's;
// loading is not timed. "floor_ratio" times the bare scan (a loop of DUGetRow
// calls, no function): what record access costs before any instruction runs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <random>
#include <string>
#include <vector>

#include "bench/interp_table.h"
#include "interp/run_state.h"
#include "platform/packed_decimal.h"

namespace {

constexpr int kRows = 1000000;
// Row: key (8 bytes, big-endian row number), a (DECIMAL(15)), s (CHAR(20)).
constexpr int32_t kKeyBytes = 8, kA = 8, kS = 17, kSLength = 20, kRowBytes = kS + 1 + kSLength;

// Row i's `a`: spread over -1,000,001 .. 1,000,001.
int64_t ColumnA(int i) {
  return int64_t{i} * 7919 % 2000003 - 1000001;
}
// Row i's `s`: 20 characters, lower-case letters among blanks (leading ones
// on every third row, trailing ones on every other), an 'x' now and then.
std::string ColumnS(std::mt19937& rng, int i) {
  std::string s(kSLength, ' ');
  const int from = i % 3 == 0 ? 2 : 0, to = i % 2 == 0 ? 15 : kSLength;
  for (int k = from; k < to; ++k) s[k] = static_cast<char>('a' + rng() % 26);
  return s;
}

// Both sides' rows: the table through record access, SQLite's t(k, a, s).
struct Rows {
  // A pool that holds every row: the scan never waits for the disk.
  bench::InterpTable table{"bench_functions", kKeyBytes, kRowBytes, 60000};
  sqlite3* db = nullptr;
  std::string error;
  Rows() {
    std::vector<int32_t> record(static_cast<size_t>(DurecWords(kRowBytes)), 0);
    table.Bind(record.data());
    uint8_t* row = reinterpret_cast<uint8_t*>(record.data() + DUREC_RECORD);
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, a INTEGER, s TEXT)", nullptr, nullptr,
                 nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?)", -1, &ins, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    std::mt19937 rng(26);
    for (int i = 1; i <= kRows; ++i) {
      const int64_t a = ColumnA(i);
      const std::string s = ColumnS(rng, i);
      for (int k = 0; k < kKeyBytes; ++k)
        row[k] = static_cast<uint8_t>(uint64_t(i) >> (56 - 8 * k));
      int64_to_decimal(ByteSpan(row, kRowBytes), value_descriptor{kA, 15},
                       static_cast<int32_t>(a >> 32), static_cast<int32_t>(a & 0xFFFFFFFF));
      row[kS] = 0;
      std::memcpy(row + kS + 1, s.data(), kSLength);
      DUInsertRow(table.base, record.data(), table.usr);
      if (record[DUREC_STATUS] != 0) error = "insert failed";
      sqlite3_bind_int64(ins, 1, i);
      sqlite3_bind_int64(ins, 2, a);
      sqlite3_bind_text(ins, 3, s.data(), kSLength, SQLITE_TRANSIENT);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(ins);
  }
  ~Rows() { sqlite3_close(db); }

  // Seconds of the bare scan: DUGetRow over every row.
  double Floor() {
    std::vector<int32_t> direct(static_cast<size_t>(DurecWords(kRowBytes)), 0);
    table.Bind(direct.data());
    int32_t work = 0;
    interp::DSGetStmWork(table.base, direct.data(), 1, table.thr, &work);
    auto t0 = bench::Clock::now();
    direct[DUREC_FETCH_CODE] = 1;
    direct[DUREC_STATUS] = 1;
    int rows = 0;
    for (;; ++rows) {
      DUGetRow(table.base, direct.data(), table.usr, work);
      if (direct[DUREC_STATUS] != 0) break;
    }
    auto t1 = bench::Clock::now();
    if (rows != kRows) error = "the bare scan missed rows";
    return bench::Seconds(t0, t1);
  }
};

// The record block T over the rows, A and S its columns.
std::string TableFields() {
  const int32_t header = interp::kRecordHeaderBytes;
  return "field T table 7 key " + std::to_string(kKeyBytes) + " reclen " +
         std::to_string(kRowBytes) + "\nfield A alias T " + std::to_string(header + kA) +
         " 9\nfield S alias T " + std::to_string(header + kS) + " " + std::to_string(kSLength + 1) +
         "\n";
}

// Loads the rows and assembles the program over them; false (the
// benchmark skipped with the reason) when either fails.
bool Prepare(benchmark::State& state, Rows& rows, const char* program, bench::InterpProgram* p) {
  if (!rows.error.empty()) {
    state.SkipWithError(rows.error.c_str());
    return false;
  }
  if (!p->Load(rows.table, TableFields() + program, "T")) {
    state.SkipWithError(p->error.c_str());
    return false;
  }
  return true;
}

// The counters of one comparison; the bare scan is timed after both runs.
void Report(benchmark::State& state, Rows& rows, double mine, double sqlite) {
  const double floor = rows.Floor();
  if (!rows.error.empty()) return state.SkipWithError(rows.error.c_str());
  state.counters["ratio"] = mine / sqlite;
  state.counters["floor_ratio"] = floor / sqlite;
  state.counters["ours_s"] = mine;
  state.counters["scan_s"] = floor;
  state.counters["sqlite_s"] = sqlite;
}

// SELECT count(a), sum(a), min(a), max(a) FROM t.
constexpr const char* kSetFunctions = R"(
field N1 decimal 15
field N2 decimal 15
field N3 decimal 15
field N4 decimal 15
field CNT decimal 15
field SUM decimal 30
field MIN decimal 15
field MAX decimal 15
code
  BEG
  SFB 5, N1, 15, CNT, 15
  SFB 3, N2, 15, SUM, 30
  SFB 2, N3, 15, MIN, 9
  SFB 1, N4, 15, MAX, 9
  IGN T
loop: GNR T, done
  SFH 5, N1, 15, CNT, 15, A, 15
  SFH 3, N2, 15, SUM, 30, A, 15
  SFH 2, N3, 15, MIN, 9, A, 9
  SFH 1, N4, 15, MAX, 9, A, 9
  JMC loop
done:
  SFE 5, N1, 15, CNT, 15
  SFE 3, N2, 15, SUM, 30
  SFE 2, N3, 15, MIN, 15
  SFE 1, N4, 15, MAX, 15
  END 1
)";

void BM_SetFunctionsAgainstSqlite(benchmark::State& state) {
  for (auto _ : state) {
    Rows rows;
    bench::InterpProgram p;
    if (!Prepare(state, rows, kSetFunctions, &p)) return;
    auto t0 = bench::Clock::now();
    const int32_t rc = p.Run(rows.table);
    auto t1 = bench::Clock::now();
    double ours[4] = {};
    const char* names[4] = {"CNT", "SUM", "MIN", "MAX"};
    const int32_t precisions[4] = {15, 30, 15, 15};
    for (int k = 0; k < 4; ++k)
      decimal_to_double(&ours[k], p.Bytes(),
                        value_descriptor{p.a.fields.at(names[k]), precisions[k]});
    if (rc != 1) return state.SkipWithError("the program failed");

    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(rows.db, "SELECT count(a), sum(a), min(a), max(a) FROM t", -1, &q, nullptr);
    auto s0 = bench::Clock::now();
    sqlite3_step(q);
    double theirs[4];
    for (int k = 0; k < 4; ++k) theirs[k] = static_cast<double>(sqlite3_column_int64(q, k));
    auto s1 = bench::Clock::now();
    sqlite3_finalize(q);
    for (int k = 0; k < 4; ++k)
      if (ours[k] != theirs[k]) return state.SkipWithError("the results differ from SQLite's");

    Report(state, rows, bench::Seconds(t0, t1), bench::Seconds(s0, s1));
  }
}
BENCHMARK(BM_SetFunctionsAgainstSqlite)->Iterations(1)->Unit(benchmark::kSecond);

// SELECT upper(trim(s)), substr(s, 2, 5), instr(s, 'x') FROM t: each row's
// s trimmed of blanks and upper-cased in a work field, its substring and the
// position of 'x'; the positions are summed on both sides to hold the
// results to each other.
constexpr const char* kStringFunctions = R"(
field U varchar 20
field SUB varchar 5
field C char 1
field X char 1 = 'x'
field P decimal 5
field TOTAL decimal 15
field TWO decimal 1
field FIVE decimal 1
field W2 word = 2
field W5 word = 5
code
  BEG
  CIN TWO, 1, W2
  CIN FIVE, 1, W5
  SZV TOTAL, 15
  IGN T
loop: GNR T, done
  MTV U, 20, U.len, S, 20, -1
  TRM 3, 0, 0, C, U, 20, U.len
  TRL 2, U, 21
  SUS SUB, 5, SUB.len, S, 20, -1, TWO, 1, FIVE, 1
  POS P, 5, X, 1, -1, S, 20, -1
  ADD 1, TOTAL, 15, P, 5
  JMC loop
done:
  END 1
)";

void BM_StringFunctionsAgainstSqlite(benchmark::State& state) {
  for (auto _ : state) {
    Rows rows;
    bench::InterpProgram p;
    if (!Prepare(state, rows, kStringFunctions, &p)) return;
    auto t0 = bench::Clock::now();
    const int32_t rc = p.Run(rows.table);
    auto t1 = bench::Clock::now();
    if (rc != 1) return state.SkipWithError("the program failed");
    double ours = 0;
    decimal_to_double(&ours, p.Bytes(), value_descriptor{p.a.fields.at("TOTAL"), 15});

    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(rows.db, "SELECT upper(trim(s)), substr(s, 2, 5), instr(s, 'x') FROM t", -1,
                       &q, nullptr);
    auto s0 = bench::Clock::now();
    int64_t theirs = 0, bytes = 0;
    while (sqlite3_step(q) == SQLITE_ROW) {
      bytes += sqlite3_column_bytes(q, 0) + sqlite3_column_bytes(q, 1);
      theirs += sqlite3_column_int64(q, 2);
    }
    auto s1 = bench::Clock::now();
    sqlite3_finalize(q);
    if (ours != static_cast<double>(theirs) || bytes == 0)
      return state.SkipWithError("the results differ from SQLite's");

    Report(state, rows, bench::Seconds(t0, t1), bench::Seconds(s0, s1));
  }
}
BENCHMARK(BM_StringFunctionsAgainstSqlite)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
