// The compiler's table lookup against SQLite's schema lookup, in one run:
// 10 and 1,000 tables made (ours by the dictionary's inserts DDInsObject
// and DDInsTable in one dictionary work over the catalog tables of record
// access on the databank kernel, committed; SQLite's by CREATE TABLE in an
// in-memory database), then random tables found by name: ours by
// DDCmpTableAttr (its per-thread statement prepared once), SQLite's by
// "SELECT type, rootpage FROM sqlite_schema WHERE name = ?" prepared once,
// stepped and reset. "ratio" is ours over SQLite's per lookup.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/tests/lookup_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kLookups = 20000;

// The catalog of the dictionary's tests, set up outside a test.
class Catalog : public LookupTest {
 public:
  void TestBody() override {}
  bool Start(const std::vector<std::string>& names, bool in_work) {
    in_work_ = in_work;
    SetUp();
    if (::testing::Test::HasFailure()) return false;
    if (BegWork() != 0) return false;
    for (size_t k = 0; k < names.size(); ++k) {
      const int32_t id = 1000 + static_cast<int32_t>(k);
      int32_t pb[2] = {0, usr_};
      DDInsObject(base_, pb, id, 6, "ADAM", 4, names[k].data(),
                  static_cast<int32_t>(names[k].size()));
      if (pb[0] == 0) DDInsTable(base_, pb, id, 1, 6, 8, true, 1);
      if (pb[0] != 0) return false;
    }
    return EndWork(0) == 0 && (!in_work || BegWork() == 0);
  }
  int32_t Find(const std::string& name, DDTableAttr* a) {
    int32_t pb[2] = {0, usr_};
    DDTableName n;
    n.schema = "ADAM";
    n.schema_length = 4;
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    DDCmpTableAttr(base_, pb, n, false, a);
    return pb[0];
  }
  void Stop() {
    if (in_work_) EndWork(0);
    TearDown();
  }
  bool in_work_ = true;
};

void BM_TableLookupAgainstSqlite(benchmark::State& state) {
  const int32_t tables = static_cast<int32_t>(state.range(0));
  const bool in_work = state.range(1) != 0;
  std::vector<std::string> names;
  for (int32_t k = 0; k < tables; ++k) names.push_back("T" + std::to_string(k * 7919 % 100003));
  std::mt19937 rng(29);
  std::vector<int32_t> order(kLookups);
  for (int32_t& o : order) o = static_cast<int32_t>(rng() % tables);
  for (auto _ : state) {
    Catalog ours;
    if (!ours.Start(names, in_work)) {
      state.SkipWithError("the catalog could not be made");
      return;
    }
    int64_t found = 0;
    DDTableAttr a{};
    auto t0 = Clock::now();
    for (int32_t o : order) found += ours.Find(names[o], &a) == 0 && a.id == 1000 + o;
    const double ours_s = std::chrono::duration<double>(Clock::now() - t0).count();
    ours.Stop();

    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (const std::string& n : names)
      sqlite3_exec(db, ("CREATE TABLE " + n + "(a INTEGER PRIMARY KEY, b TEXT)").c_str(), nullptr,
                   nullptr, nullptr);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT type, rootpage FROM sqlite_schema WHERE name = ?", -1, &q,
                       nullptr);
    int64_t lite_found = 0;
    t0 = Clock::now();
    for (int32_t o : order) {
      sqlite3_bind_text(q, 1, names[o].data(), static_cast<int>(names[o].size()), SQLITE_STATIC);
      if (sqlite3_step(q) == SQLITE_ROW) lite_found += sqlite3_column_int(q, 1) > 0;
      sqlite3_reset(q);
    }
    const double lite_s = std::chrono::duration<double>(Clock::now() - t0).count();
    sqlite3_finalize(q);
    sqlite3_close(db);
    state.counters["found"] = static_cast<double>(found);
    state.counters["sqlite_found"] = static_cast<double>(lite_found);
    state.counters["ns"] = ours_s * 1e9 / kLookups;
    state.counters["sqlite_ns"] = lite_s * 1e9 / kLookups;
    state.counters["ratio"] = ours_s / lite_s;
  }
}
// Second argument 1: the lookups run inside open dictionary work (their
// reads merged with its transaction's changes); 0: outside any
// transaction, as a compile's lookups run for a session without one.
BENCHMARK(BM_TableLookupAgainstSqlite)
    ->Args({10, 1})
    ->Args({1000, 1})
    ->Args({10, 0})
    ->Args({1000, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
