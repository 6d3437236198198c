// The dictionary's statement functions against SQLite at the same job, in
// one run: 10,000 idents made in one dictionary work, each by DDInsIdent,
// DDInsObject and DDInsPrivilege, the work committed, then each found by
// DDCurGrantee (by name) in a second work; against a SQLite database in a
// file with the same three tables and their unique keys, prepared
// statements, the inserts in one transaction with its commit, the finds by
// the ident table's key. "ratio" is ours over SQLite's. The dictionary runs
// over the databank kernel itself (its commit set, background threads and
// system tables), set up as the dictionary's tests set it up, with their
// buffer pools (argument 1) or pools 16 and 64 times as large: 10,000
// object rows of 1078 bytes are some 11 MB, far more than the tests' pools
// hold, while SQLite's rows fit its default cache.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "dict/statement_functions.h"
#include "dict/tests/catalog_fixture.h"

namespace {

constexpr int kIdents = 10000;

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The dictionary's environment of the tests, set up and taken down by hand.
class Environment : public CatalogWorkTest {
 public:
  explicit Environment(int32_t scale) : scale_(scale) {}
  void Start() { SetUpCatalog({11, 14, 27}); }
  // The tests' buffer pools, or pools `scale_` times as large.
  void Shape() override {
    CatalogWorkTest::Shape();
    for (int32_t& pages : params_.pages) pages *= scale_;
  }
  int32_t scale_;
  void Stop() { TearDown(); }
  void TestBody() override {}
  bool Failed() const { return HasFatalFailure() || HasFailure(); }

  // Makes and finds the idents; false on any failure.
  bool Run(const std::vector<std::string>& names, double* make, double* find) {
    Protocol(21);
    const auto t0 = Clock::now();
    if (BegWork() != 0) return false;
    for (int i = 0; i < kIdents; ++i) {
      const std::string& n = names[static_cast<std::size_t>(i)];
      const int32_t len = static_cast<int32_t>(n.size());
      int32_t pb[2] = {0, usr_};
      DDInsIdent(base_, pb, n.data(), len, 1000 + i, 3, nullptr, 0);
      if (pb[0] != 0) return false;
      DDInsObject(base_, pb, 1000 + i, 3, "", 0, n.data(), len);
      if (pb[0] != 0) return false;
      DDInsPrivilege(base_, pb, 4, 900, false, n.data(), len, "SYSTEM", 6);
      if (pb[0] != 0) return false;
    }
    if (EndWork(0) != 0) return false;
    const auto t1 = Clock::now();
    if (BegWork() != 0) return false;
    for (int i = 0; i < kIdents; ++i) {
      const std::string& n = names[static_cast<std::size_t>(i)];
      int32_t pb[2] = {1, usr_}, id = 0, kind = 0;
      DDCurGrantee(base_, pb, 0, n.data(), static_cast<int32_t>(n.size()), &id, nullptr, &kind);
      if (pb[0] != 0 || id != 1000 + i || kind != 3) return false;
    }
    if (EndWork(0) != 0) return false;
    const auto t2 = Clock::now();
    *make = Seconds(t0, t1);
    *find = Seconds(t1, t2);
    return true;
  }
};

bool Sqlite(const std::vector<std::string>& names, double* make, double* find) {
  char tmpl[] = "/tmp/bench_dict_XXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd < 0) return false;
  close(fd);
  sqlite3* db = nullptr;
  sqlite3_open(tmpl, &db);
  sqlite3_exec(db,
               "CREATE TABLE idents(name TEXT PRIMARY KEY, id INTEGER, kind TEXT, pw BLOB,"
               " n INTEGER);"
               "CREATE TABLE objects(id INTEGER PRIMARY KEY, kind TEXT, schema TEXT, name TEXT);"
               "CREATE INDEX objects_name ON objects(schema, name);"
               "CREATE TABLE privileges(object INTEGER, kind TEXT, grantee TEXT, grantor TEXT,"
               " grantable TEXT, PRIMARY KEY(object, kind, grantee, grantor));"
               "CREATE INDEX privileges_grantee ON privileges(grantee);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt *ident = nullptr, *object = nullptr, *privilege = nullptr, *grantee = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO idents VALUES(?, ?, 'USER', NULL, 0)", -1, &ident, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO objects VALUES(?, 'IDENT', NULL, ?)", -1, &object, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO privileges VALUES(900, 'MEMBER', ?, '_SYSTEM', 'NO ')", -1,
                     &privilege, nullptr);
  sqlite3_prepare_v2(db, "SELECT id, kind FROM idents WHERE name = ?", -1, &grantee, nullptr);
  bool ok = true;
  const auto t0 = Clock::now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < kIdents && ok; ++i) {
    const std::string& n = names[static_cast<std::size_t>(i)];
    sqlite3_bind_text(ident, 1, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
    sqlite3_bind_int(ident, 2, 1000 + i);
    sqlite3_bind_int(object, 1, 1000 + i);
    sqlite3_bind_text(object, 2, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
    sqlite3_bind_text(privilege, 1, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
    for (sqlite3_stmt* s : {ident, object, privilege}) {
      ok = ok && sqlite3_step(s) == SQLITE_DONE;
      sqlite3_reset(s);
    }
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  const auto t1 = Clock::now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < kIdents && ok; ++i) {
    const std::string& n = names[static_cast<std::size_t>(i)];
    sqlite3_bind_text(grantee, 1, n.data(), static_cast<int>(n.size()), SQLITE_STATIC);
    ok = sqlite3_step(grantee) == SQLITE_ROW && sqlite3_column_int(grantee, 0) == 1000 + i;
    sqlite3_reset(grantee);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  const auto t2 = Clock::now();
  for (sqlite3_stmt* s : {ident, object, privilege, grantee}) sqlite3_finalize(s);
  sqlite3_close(db);
  unlink(tmpl);
  *make = Seconds(t0, t1);
  *find = Seconds(t1, t2);
  return ok;
}

void BM_DictionaryAgainstSqlite(benchmark::State& state) {
  std::vector<std::string> names;
  for (int i = 0; i < kIdents; ++i) names.push_back("IDENT" + std::to_string(i * 7919 % 100003));
  for (auto _ : state) {
    Environment env(static_cast<int32_t>(state.range(0)));
    env.Start();
    if (env.Failed()) {
      state.SkipWithError("the dictionary's environment did not start");
      return;
    }
    double make = 0, find = 0, sql_make = 0, sql_find = 0;
    const bool ours = env.Run(names, &make, &find);
    env.Stop();
    if (!ours) {
      state.SkipWithError("a statement function failed");
      return;
    }
    if (!Sqlite(names, &sql_make, &sql_find)) {
      state.SkipWithError("SQLite failed");
      return;
    }
    state.counters["make_ratio"] = make / sql_make;
    state.counters["find_ratio"] = find / sql_find;
    state.counters["ratio"] = (make + find) / (sql_make + sql_find);
    state.counters["ours_make_s"] = make;
    state.counters["ours_find_s"] = find;
    state.counters["sqlite_make_s"] = sql_make;
    state.counters["sqlite_find_s"] = sql_find;
  }
}
BENCHMARK(BM_DictionaryAgainstSqlite)->Arg(1)->Arg(16)->Arg(64)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
