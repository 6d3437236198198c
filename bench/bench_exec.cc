// The statement execution runtime against SQLite at one job, in one run:
// 1,000,000 rows fetched from a cursor statement, one DSExecStm per row (the
// cursor's program reads the next row through record access, moves its two
// columns to the output fields and hands the row back with EXI), against
// sqlite3_step over "SELECT a, b FROM t" on the same rows in an in-memory
// database, each row's two columns read. "ratio" is ours over SQLite's;
// loading is not timed. "floor_ratio" runs the same program by DAMAE2
// directly, one run per row: what the interpreter and record access cost
// without the runtime around them.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/interp_table.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "interp/exec_stm.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "platform/packed_decimal.h"
#include "tools/zasm/zasm.h"

namespace {

constexpr int kRows = 1000000;
constexpr int32_t kKeyBytes = 8, kDecimalBytes = 9;  // key, then DECIMAL(15) columns a and b
constexpr int32_t kRowBytes = kKeyBytes + 2 * kDecimalBytes;

constexpr const char* kCursor = R"(type 1
field T table 7 key 8 reclen 26
field TA alias T 124 9
field TB alias T 133 9
field A decimal 15
field B decimal 15
output A B
code
  BEG
  IGN T
loop: GNR T, done
  MVB A, TA, 9
  MVB B, TB, 9
  EXI 2
  JMC loop
done: END 1
)";

// The cursor statement in the kernel word storage, its record block bound.
int32_t MakeStatement(bench::InterpTable& s, const zasm::Assembly& a) {
  int32_t sd = 0, stm = 0;
  DSGetMem(s.base, &sd, static_cast<int32_t>(a.words.size()) * 4);
  DSGetMem(s.base, &stm, STM_BYTES);
  if (sd == 0 || stm == 0) return 0;
  std::memcpy(&sqlpool_word(s.base, sd), a.words.data(), a.words.size() * 4);
  const int32_t stg = sd + a.words[interp::kDescStorageOffset];
  sqlpool_word(s.base, stm + STM_ACTIVE_COM) = stm + STM_NEXT_COM;
  sqlpool_word(s.base, stm + STM_SD) = sd;
  sqlpool_word(s.base, stm + STM_PGM) = sd + a.words[interp::kDescProgramStart];
  sqlpool_word(s.base, stm + STM_STG) = stg;
  sqlpool_word(s.base, stm + STM_STATUS) = 5;
  s.Bind(&sqlpool_word(s.base, stg + a.fields.at("T") / 4));
  return stm;
}

void BM_CursorFetchAgainstSqlite(benchmark::State& state) {
  for (auto _ : state) {
    bench::InterpTable s("bench_exec", kKeyBytes, kRowBytes);
    std::vector<int32_t> record(static_cast<size_t>(DurecWords(kRowBytes)), 0);
    s.Bind(record.data());
    uint8_t* row = reinterpret_cast<uint8_t*>(record.data() + DUREC_RECORD);
    for (int i = 1; i <= kRows; ++i) {
      for (int k = 0; k < kKeyBytes; ++k)
        row[k] = static_cast<uint8_t>(uint64_t(i) >> (56 - 8 * k));
      int_to_decimal(ByteSpan(row, kRowBytes), value_descriptor{kKeyBytes, 15}, i);
      int_to_decimal(ByteSpan(row, kRowBytes), value_descriptor{kKeyBytes + kDecimalBytes, 15},
                     2 * i);
      DUInsertRow(s.base, record.data(), s.usr);
      if (record[DUREC_STATUS] != 0) return state.SkipWithError("insert failed");
    }
    zasm::Assembly a;
    std::string error;
    if (!zasm::Assemble(kCursor, "bench", &a, &error)) return state.SkipWithError(error.c_str());
    if (a.fields.at("TA") != a.fields.at("T") + interp::kRecordHeaderBytes + kKeyBytes)
      return state.SkipWithError("column a is not where the row puts it");
    const int32_t stm = MakeStatement(s, a);
    if (stm == 0) return state.SkipWithError("no storage");
    const int32_t stg = sqlpool_word(s.base, stm + STM_STG);
    const ConstByteSpan out(reinterpret_cast<const uint8_t*>(&sqlpool_word(s.base, stg)),
                            static_cast<size_t>(a.words[interp::kDescStorageSize]) * 4);
    const value_descriptor a_d{a.fields.at("A"), 15}, b_d{a.fields.at("B"), 15};

    // Ours: a fetch is one DSExecStm; the row is read from the outputs.
    int64_t rows = 0, total = 0;
    auto t0 = bench::Clock::now();
    for (;;) {
      int32_t pb[interp::kExecWords] = {0, s.usr, stm, 0, 0, 0};
      interp::DSExecStm(s.base, pb);
      if (pb[0] != 0) break;
      int32_t va = 0, vb = 0;
      decimal_to_int(&va, out, a_d);
      decimal_to_int(&vb, out, b_d);
      total += va + vb;
      ++rows;
    }
    auto t1 = bench::Clock::now();
    if (rows != kRows || total != 3 * (int64_t{kRows} * (kRows + 1) / 2))
      return state.SkipWithError("wrong rows from the cursor");

    // The floor: the same program by DAMAE2, one run per row.
    const zasm::Assembly& p = a;
    std::vector<int32_t> storage(p.words.begin() + p.words[interp::kDescStorageOffset],
                                 p.words.end());
    s.Bind(storage.data() + p.fields.at("T") / 4);
    const int32_t start = p.words[interp::kDescProgramStart];
    const int32_t words = p.words[interp::kDescStorageOffset] - start;
    char name[128];
    std::memset(name, ' ', sizeof name);
    int32_t pos = 2, direct_rows = 0;
    auto d0 = bench::Clock::now();
    for (;;) {
      int32_t rvec[12] = {};
      interp::DAMAE2(s.base, rvec, p.words.data() + start, words, storage.data(),
                     static_cast<int32_t>(storage.size()), &pos, name, s.usr);
      if (rvec[interp::kStateAction] != interp::kActionExit) break;
      ++direct_rows;
    }
    auto d1 = bench::Clock::now();
    if (direct_rows != kRows) return state.SkipWithError("wrong rows from the direct runs");

    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, a INTEGER, b INTEGER)", nullptr,
                 nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?)", -1, &ins, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 1; i <= kRows; ++i) {
      sqlite3_bind_int64(ins, 1, i);
      sqlite3_bind_int64(ins, 2, i);
      sqlite3_bind_int64(ins, 3, 2 * i);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(ins);
    sqlite3_stmt* sel = nullptr;
    sqlite3_prepare_v2(db, "SELECT a, b FROM t", -1, &sel, nullptr);
    int64_t their_rows = 0, their_total = 0;
    auto s0 = bench::Clock::now();
    while (sqlite3_step(sel) == SQLITE_ROW) {
      their_total += sqlite3_column_int64(sel, 0) + sqlite3_column_int64(sel, 1);
      ++their_rows;
    }
    auto s1 = bench::Clock::now();
    sqlite3_finalize(sel);
    sqlite3_close(db);
    if (their_rows != rows || their_total != total) return state.SkipWithError("SQLite differs");

    bench::ReportAgainstSqlite(state, bench::Seconds(t0, t1), bench::Seconds(d0, d1),
                               bench::Seconds(s0, s1));
  }
}
BENCHMARK(BM_CursorFetchAgainstSqlite)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
