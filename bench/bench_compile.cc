// The fixed cost of one compilation: qmcpsn on LEAVE (kind 47, which stops
// after parsing) against SQLite's sqlite3_prepare_v2 and sqlite3_finalize of
// COMMIT on an open in-memory connection, in the same run. Reports both in
// microseconds per statement and their ratio (goal: at most 3).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "kernel/word_storage.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_driver.h"
#include "sql/front/compile_services.h"
#include "sql/front/sql_actions.h"

namespace {

int32_t* g_pool = nullptr;

void NoDiag(int32_t, int32_t, int32_t, int32_t, const char*, int32_t) {}
void AllocWords(int32_t* index, int32_t words) {
  DSGetMem(g_pool, index, words * 4);
}

void SetUpCompiler() {
  g_pool = SqlPoolCreate(int64_t{1} << 24, 1 << 20);
  int32_t w = 1 << 20;
  DSPoolMem(g_pool, &w, -1, 0);
  SqlKernelServices k;
  k.pool = g_pool;
  k.add_diag = NoDiag;
  k.alloc_words = AllocWords;
  SqlInstallKernelServices(&k);
  // The parse phase: the SQL grammar and its actions.
  SqlInstallParsePhase();
}

std::vector<uint8_t> Wide(const char* text) {
  std::vector<uint8_t> out;
  for (const char* c = text; *c != 0; ++c) {
    out.push_back(0);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(*c));
  }
  return out;
}

void BM_CompileLeaveAgainstSqlitePrepare(benchmark::State& state) {
  SetUpCompiler();
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK) {
    state.SkipWithError("sqlite3_open failed");
    return;
  }
  const std::vector<uint8_t> leave = Wide("LEAVE");
  constexpr int kRounds = 10000;
  double ours = 0;
  double theirs = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
      int32_t result[kResultWords];
      int32_t request[kRequestWords] = {};
      int32_t start = 0;
      qmcpsn(result, leave.data(), &start, 5, nullptr, request, nullptr, nullptr, 0);
      if (result[RES_STATUS] != 0 || result[RES_KIND] != 47) {
        state.SkipWithError("LEAVE did not compile as kind 47");
        sqlite3_close(db);
        return;
      }
    }
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
      sqlite3_stmt* stmt = nullptr;
      if (sqlite3_prepare_v2(db, "COMMIT", -1, &stmt, nullptr) != SQLITE_OK) {
        state.SkipWithError("sqlite3_prepare_v2 failed");
        sqlite3_close(db);
        return;
      }
      sqlite3_finalize(stmt);
    }
    auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    theirs += std::chrono::duration<double>(t2 - t1).count();
  }
  sqlite3_close(db);
  double n = static_cast<double>(state.iterations()) * kRounds;
  state.counters["qmcpsn_us"] = ours / n * 1e6;
  state.counters["sqlite_us"] = theirs / n * 1e6;
  state.counters["ratio"] = ours / theirs;
}
BENCHMARK(BM_CompileLeaveAgainstSqlitePrepare)->Unit(benchmark::kMillisecond);

}  // namespace
