// The statement interpreter against SQLite at one job, in one run: an
// assembled scan-and-sum program (IGN, a GNR loop through record access,
// ADD of a packed decimal column) over 1,000,000 rows of a databank kernel
// table, against SQLite's "SELECT sum(a) FROM t" over the same rows in an
// in-memory database. "ratio" is ours over SQLite's; loading the rows is not
// timed on either side. "floor_ratio" times the same scan as a plain loop of
// DUGetRow calls: what record access costs without the interpreter. The rows go to the table
// directly (no write-set merge), as record access cannot commit a transaction through this kernel
// yet.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/interp_table.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/decimal_arith.h"
#include "platform/packed_decimal.h"
#include "platform/thread_slots.h"
#include "tools/zasm/zasm.h"

namespace {

constexpr int kRows = 1000000;
constexpr int32_t kKeyBytes = 8, kRowBytes = 20;  // key, then a DECIMAL(15) column `a`

constexpr const char* kProgram = R"(
field T table 7 key 8 reclen 20
field SUM decimal 15
field ZERO word = 0
code
  BEG
  CIN SUM, 15, ZERO
  IGN T
loop: GNR T, done
  ADD 1, SUM, 15, A, 15
  JMC loop
done: END 1
)";

void BM_ScanAndSumAgainstSqlite(benchmark::State& state) {
  for (auto _ : state) {
    bench::InterpTable s("bench_interp", kKeyBytes, kRowBytes);
    // Load: key i big-endian, a = i.
    std::vector<int32_t> record(static_cast<size_t>(DurecWords(kRowBytes)), 0);
    s.Bind(record.data());
    uint8_t* row = reinterpret_cast<uint8_t*>(record.data() + DUREC_RECORD);
    for (int i = 1; i <= kRows; ++i) {
      for (int k = 0; k < kKeyBytes; ++k)
        row[k] = static_cast<uint8_t>(uint64_t(i) >> (56 - 8 * k));
      int_to_decimal(ByteSpan(row, kRowBytes), value_descriptor{kKeyBytes, 15}, i);
      DUInsertRow(s.base, record.data(), s.usr);
      if (record[DUREC_STATUS] != 0) return state.SkipWithError("insert failed");
    }
    // The program, its storage with the table's record block bound.
    // Assembled once to learn where T's row lies, then with `a`'s offset.
    zasm::Assembly a;
    std::string error, program = kProgram;
    const size_t operand = program.find("A, 15\n");
    if (operand == std::string::npos) return state.SkipWithError("no operand A in the program");
    program[operand] = '0';
    if (!zasm::Assemble(program, "bench", &a, &error)) return state.SkipWithError(error.c_str());
    const int32_t row_a = a.fields.at("T") + interp::kRecordHeaderBytes + kKeyBytes;
    program.replace(operand, 1, std::to_string(row_a));
    a = zasm::Assembly{};
    if (!zasm::Assemble(program, "bench", &a, &error)) return state.SkipWithError(error.c_str());
    const int32_t start = a.words[interp::kDescProgramStart];
    const int32_t at = a.words[interp::kDescStorageOffset];
    std::vector<int32_t> storage(a.words.begin() + at, a.words.end());
    s.Bind(storage.data() + a.fields.at("T") / 4);
    int32_t rvec[12] = {}, pos = 2;
    char name[128];
    std::memset(name, ' ', sizeof name);

    auto t0 = bench::Clock::now();
    interp::DAMAE2(s.base, rvec, a.words.data() + start, at - start, storage.data(),
                   static_cast<int32_t>(storage.size()), &pos, name, s.usr);
    auto t1 = bench::Clock::now();
    double ours_sum = 0;
    decimal_to_double(&ours_sum,
                      ConstByteSpan(reinterpret_cast<uint8_t*>(storage.data()), storage.size() * 4),
                      value_descriptor{a.fields.at("SUM"), 15});
    if (rvec[0] != 1 || ours_sum != 500000500000.0) return state.SkipWithError("wrong sum");

    // The floor record access sets: the same scan and sum as a C++ loop of
    // DUGetRow calls, without the interpreter.
    std::vector<int32_t> direct(static_cast<size_t>(DurecWords(kRowBytes)), 0);
    s.Bind(direct.data());
    int32_t work = 0;
    interp::DSGetStmWork(s.base, direct.data(), 1, s.thr, &work);
    uint8_t sum_area[16] = {};
    const value_descriptor sum_d{0, 15}, a_d{kKeyBytes, 15};
    int_to_decimal(ByteSpan(sum_area, 16), sum_d, 0);
    uint8_t* drow = reinterpret_cast<uint8_t*>(direct.data() + DUREC_RECORD);
    auto d0 = bench::Clock::now();
    direct[DUREC_FETCH_CODE] = 1;
    direct[DUREC_STATUS] = 1;
    for (;;) {
      DUGetRow(s.base, direct.data(), s.usr, work);
      if (direct[DUREC_STATUS] != 0) break;
      decimal_arith(ByteSpan(sum_area, 16), sum_d, ConstByteSpan(drow, kRowBytes), a_d, 1, 1);
    }
    auto d1 = bench::Clock::now();
    double direct_sum = 0;
    decimal_to_double(&direct_sum, ConstByteSpan(sum_area, 16), sum_d);
    if (direct_sum != 500000500000.0) return state.SkipWithError("wrong direct sum");

    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE t(k INTEGER PRIMARY KEY, a INTEGER)", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?)", -1, &ins, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 1; i <= kRows; ++i) {
      sqlite3_bind_int64(ins, 1, i);
      sqlite3_bind_int64(ins, 2, i);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(ins);
    sqlite3_stmt* sum = nullptr;
    sqlite3_prepare_v2(db, "SELECT sum(a) FROM t", -1, &sum, nullptr);
    auto s0 = bench::Clock::now();
    sqlite3_step(sum);
    const int64_t sqlite_sum = sqlite3_column_int64(sum, 0);
    auto s1 = bench::Clock::now();
    sqlite3_finalize(sum);
    sqlite3_close(db);
    if (sqlite_sum != 500000500000) return state.SkipWithError("SQLite's sum is wrong");

    bench::ReportAgainstSqlite(state, bench::Seconds(t0, t1), bench::Seconds(d0, d1),
                               bench::Seconds(s0, s1));
  }
}
BENCHMARK(BM_ScanAndSumAgainstSqlite)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
