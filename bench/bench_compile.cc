// The cost of compiling, against SQLite's sqlite3_prepare_v2 and
// sqlite3_finalize in the same run:
// - the fixed cost: qmcpsn on LEAVE (kind 47, which stops after parsing)
//   against COMMIT on an open in-memory connection (goal: at most 3);
// - queries analysed: mixed queries (joins, subqueries, grouping, unions,
//   CASE, CAST) over 20 tables, each compiled afresh by qmcpsn in compile
//   mode 5 (stops after semantic analysis) over the dictionary's own
//   lookups on the catalog of the dictionary's tests, against the same
//   queries prepared on an in-memory SQLite database holding the same
//   tables (goal: at most SQLite's time), in the thread's CPU time.
//   "lookup_share" is the part of our time spent in the dictionary's lookups (a statement run per table,
//   privilege and column the compilation first meets); "column_priv_share"
//   the part of it spent in column privilege lookups (one a target column
//   of a data change: the dictionary answers for one named column).
// Reports microseconds per statement and the ratios.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <time.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "dict/compiler_services.h"
#include "dict/dictionary_services.h"
#include "dict/tests/lookup_fixture.h"
#include "kernel/word_storage.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_services.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/view_definition.h"

// The compile driver's entry (its header's request word names are the
// databank kernel's too, whose headers the dictionary's fixture brings).
void qmcpsn(int32_t* result, const uint8_t* text, int32_t* start, int32_t text_length,
            const int32_t* host_variables, int32_t* request, const int32_t* name_pairs,
            const char* name_area, int32_t name_area_bytes);

namespace {

// The driver's result and request words used here.
constexpr int32_t kResultWords = 8, RES_STATUS = 0, RES_KIND = 4;
constexpr int32_t kRequestWords = 13, REQ_MODE = 0, REQ_SESSION = 1;

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

// The calling thread's CPU time: the machine the benchmarks run on is
// shared, and both sides run on this thread, so CPU time keeps the ratio
// from counting other programs' turns.
struct Clock {
  using time_point = std::chrono::duration<double>;
  static time_point now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return time_point(static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9);
  }
};

// Time spent in the dictionary's lookups, measured around each entry of
// the compiler's dictionary service table.
double g_lookup_seconds = 0;
int64_t g_lookup_calls = 0;
// The column privilege lookups among them (one a target column).
double g_column_priv_seconds = 0;
int64_t g_column_priv_calls = 0;
SqlDictionaryServices g_real;

struct Timed {
  Clock::time_point t0 = Clock::now();
  double* also = nullptr;
  ~Timed() {
    double spent = (Clock::now() - t0).count();
    g_lookup_seconds += spent;
    ++g_lookup_calls;
    if (also != nullptr) *also += spent;
  }
};

int32_t TimedTableAttr(int32_t session, bool test, char* schema, int32_t* schema_length,
                       char* name, int32_t* name_length, int32_t* kind, int32_t* attrs) {
  Timed t;
  return g_real.table_attr(session, test, schema, schema_length, name, name_length, kind, attrs);
}
int32_t TimedColumns(int32_t session, int32_t table, int32_t column_id, const char* name,
                     int32_t name_length, SqlDictColumn* out, uint8_t* default3,
                     int32_t* default_length) {
  Timed t;
  return g_real.columns(session, table, column_id, name, name_length, out, default3,
                        default_length);
}
int32_t TimedTablePriv(int32_t session, int32_t privilege, int32_t object) {
  Timed t;
  return g_real.table_priv(session, privilege, object);
}
int32_t TimedCurrentSchema(int32_t session, char* name, int32_t* length) {
  Timed t;
  return g_real.current_schema(session, name, length);
}
int32_t TimedColumnPriv(int32_t session, int32_t privilege, const char* column, int32_t length,
                        int32_t object) {
  Timed t;
  t.also = &g_column_priv_seconds;
  ++g_column_priv_calls;
  return g_real.column_priv(session, privilege, column, length, object);
}
int32_t TimedCheck(int32_t session, int32_t table, int32_t domain, int32_t* value) {
  Timed t;
  return g_real.pair_value(session, table, domain, value);
}
int32_t TimedSourceInfo(int32_t session, int32_t id, int32_t item, int32_t* total) {
  Timed t;
  return g_real.source_info(session, id, item, total);
}
int32_t TimedSourceRead(int32_t session, int32_t id, int32_t item, uint8_t* buffer,
                        int32_t capacity, int32_t* length) {
  Timed t;
  return g_real.source_read(session, id, item, buffer, capacity, length);
}

constexpr int32_t kTables = 20;

// The dictionary's catalog of its tests with 20 tables T1 .. T20 of the
// columns A, B, C (INTEGER), D (NUMERIC(10,2)) and E (CHAR(20)), SELECT,
// INSERT, UPDATE and DELETE granted to ADAM (INSERT and UPDATE on every
// column too, as the dictionary keeps them), the user's path ADAM.
class Catalog : public LookupTest {
 public:
  using LookupTest::ColumnSpec;
  void TestBody() override {}
  bool Start() {
    SetUp();
    if (::testing::Test::HasFailure() || BegWork() != 0) return false;
    const std::vector<ColumnSpec> cols = {
        {"A", 3, 10, 0}, {"B", 3, 10, 0}, {"C", 3, 10, 0}, {"D", 2, 10, 2}, {"E", 1, 20, 0}};
    for (int32_t k = 1; k <= kTables; ++k) {
      const int32_t id = 5000 + k;
      int32_t pb[2] = {0, usr_};
      pb[0] = InsBaseTable(id, "ADAM", "T" + std::to_string(k), cols);
      for (int32_t privilege = 1; privilege <= 4 && pb[0] == 0; ++privilege) {
        DDInsTablePriv(base_, pb, id, privilege, "ADAM", 4, "EVE", 3, false, false);
      }
      for (int32_t privilege : {2, 4}) {
        for (const ColumnSpec& c : cols) {
          if (pb[0] == 0) DDInsColumnPriv(base_, pb, id, privilege, c.name,
                                          static_cast<int32_t>(std::strlen(c.name)), "ADAM", 4,
                                          "EVE", 3, false);
        }
      }
      if (pb[0] != 0) return false;
    }
    SetPathTo("ADAM");
    return EndWork(0) == 0 && BegWork() == 0;
  }
  void Stop() {
    EndWork(1);
    TearDown();
  }
  // A view of ADAM as CREATE VIEW stores it, SELECT granted to ADAM.
  bool AddView(int32_t id, const std::string& name, const std::string& query,
               const std::string& image, const std::vector<ColumnSpec>& columns) {
    int32_t pb[2] = {InsView(id, "ADAM", name, query, false, columns, image), usr_};
    if (pb[0] == 0) DDInsTablePriv(base_, pb, id, 1, "ADAM", 4, "EVE", 3, false, false);
    return pb[0] == 0;
  }
  int32_t session() const { return usr_; }
  int32_t* base() const { return base_; }
};

// Mixed queries over the 20 tables.
const char* const kQueries[] = {
    "SELECT a, b + 1, CAST(d AS INTEGER) FROM t1 WHERE a > 10 AND e LIKE 'x%'",
    "SELECT t1.a, t2.b FROM t1 JOIN t2 ON t1.a = t2.a WHERE t2.c < 5 ORDER BY 1",
    "SELECT b, COUNT(*), SUM(d) FROM t3 GROUP BY b HAVING COUNT(*) > 1",
    "SELECT a FROM t4 WHERE a IN (SELECT b FROM t5 WHERE t5.c = t4.c) ORDER BY a",
    "SELECT a, e FROM t6 UNION SELECT b, e FROM t7 UNION ALL SELECT c, e FROM t8",
    "SELECT CASE WHEN a > 0 THEN 'p' WHEN a < 0 THEN 'n' ELSE 'z' END, d * 2 FROM t9",
    "SELECT x.a, y.b, z.c FROM t10 x, t11 y, t12 z WHERE x.a = y.a AND y.b = z.b",
    "SELECT * FROM t13 LEFT JOIN t14 ON t13.a = t14.a WHERE t13.b IS NULL",
    "SELECT a FROM t15 WHERE EXISTS (SELECT * FROM t16 WHERE t16.a = t15.a) AND b BETWEEN 1 AND 9",
    "SELECT MAX(a), MIN(b), AVG(d) FROM t17 WHERE c <> 3",
    "SELECT e, COUNT(DISTINCT a) FROM t18 GROUP BY e ORDER BY 2 DESC",
    "SELECT a, b, c, d, e FROM t19 WHERE a = 1 OR b = 2 OR CAST(e AS VARCHAR(5)) = 'abc'",
    "SELECT t20.a FROM t20 WHERE t20.b > (SELECT MAX(b) FROM t1) ORDER BY t20.a",
};

// Data changes over the same tables.
const char* const kDataChanges[] = {
    "INSERT INTO t1 VALUES (1, 2, 3, 4.5, 'x')",
    "INSERT INTO t2 (a, e) VALUES (7, 'abc')",
    "INSERT INTO t3 (a, b, c) SELECT a, b, c FROM t4 WHERE d > 1",
    "UPDATE t5 SET a = a + 1, e = 'y' WHERE b BETWEEN 1 AND 9",
    "UPDATE t6 SET d = d * 2",
    "UPDATE t7 SET c = (SELECT MAX(c) FROM t8) WHERE a IN (SELECT a FROM t9)",
    "DELETE FROM t10 WHERE a = 1 OR e LIKE 'z%'",
    "DELETE FROM t11",
    "DELETE FROM t12 WHERE EXISTS (SELECT * FROM t13 WHERE t13.a = t12.a)",
};

// Views over the same tables (a view of a view among them), and queries
// over them that the analysis merges.
struct ViewDef {
  const char* name;
  const char* query;
  std::vector<Catalog::ColumnSpec> columns;
};
const std::vector<ViewDef>& Views() {
  static const std::vector<ViewDef> views = {
      {"V1", "SELECT a, b + c AS s, e FROM t1 WHERE d > 0",
       {{"A", 3, 10, 0}, {"S", 3, 10, 0}, {"E", 1, 20, 0}}},
      {"V2", "SELECT x.a, y.b, y.e FROM t2 x JOIN t3 y ON x.a = y.a",
       {{"A", 3, 10, 0}, {"B", 3, 10, 0}, {"E", 1, 20, 0}}},
      {"V3", "SELECT DISTINCT a, e FROM t4", {{"A", 3, 10, 0}, {"E", 1, 20, 0}}},
      {"V4", "SELECT a, s AS b FROM v1 WHERE s > 2", {{"A", 3, 10, 0}, {"B", 3, 10, 0}}},
  };
  return views;
}
const char* const kViewQueries[] = {
    "SELECT a, s FROM v1 WHERE e LIKE 'x%'",
    "SELECT v1.a, v2.e FROM v1, v2 WHERE v1.a = v2.a",
    "SELECT * FROM v3",
    "SELECT a, COUNT(*) FROM v2 GROUP BY a",
    "SELECT a FROM v4 WHERE b < 10",
    "SELECT a FROM t5 WHERE EXISTS (SELECT * FROM v1 WHERE v1.a = t5.a)",
};

// The semantic phase while the views are defined: the analysed CREATE VIEW
// leaves the image its view stores.
std::string g_view_image;
void ImageKeepingSemantics(SqlCompileCtx* ctx, int32_t root) {
  qmdrive(ctx, root);
  g_view_image = qmviewimage(ctx, root);
}

// Defines the views in the catalog (compiled in compile mode 2) and in
// SQLite; false when one fails.
bool DefineViews(Catalog& catalog, sqlite3* db) {
  SqlPhaseServices phases = SqlPhases();
  SqlPhaseServices keeping = phases;
  keeping.semantic = ImageKeepingSemantics;
  SqlInstallPhaseServices(&keeping);
  bool ok = true;
  int32_t id = 5100;
  for (const ViewDef& v : Views()) {
    const std::string sql = std::string("CREATE VIEW ") + v.name + " AS " + v.query;
    const std::vector<uint8_t> text = Wide(sql.c_str());
    int32_t result[kResultWords];
    int32_t request[kRequestWords] = {};
    request[REQ_MODE] = 2;
    request[REQ_SESSION] = catalog.session();
    int32_t start = 0;
    g_view_image.clear();
    qmcpsn(result, text.data(), &start, static_cast<int32_t>(text.size() / 3), nullptr, request,
           nullptr, nullptr, 0);
    ok = ok && result[RES_STATUS] == 0 && !g_view_image.empty() &&
         catalog.AddView(++id, v.name, v.query, g_view_image, v.columns) &&
         sqlite3_exec(db, (sql + ";").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  SqlInstallPhaseServices(&phases);
  return ok;
}

std::string SqliteSchema() {
  std::string ddl;
  for (int32_t k = 1; k <= kTables; ++k) {
    ddl += "CREATE TABLE t" + std::to_string(k) +
           " (a INTEGER, b INTEGER, c INTEGER, d NUMERIC(10,2), e CHAR(20));";
  }
  return ddl;
}

// Compiles each statement afresh in mode 5 against SQLite's prepare of the
// same text; `accepted` tells the statement kinds a compilation may end in.
template <size_t N>
void CompileAgainstSqlite(benchmark::State& state, const char* const (&statements)[N],
                          bool (*accepted)(int32_t kind), bool views = false) {
  Catalog catalog;
  if (!catalog.Start()) {
    state.SkipWithError("the catalog could not be made");
    return;
  }
  SetUpCompiler();
  SqlInstallSemanticPhase();
  SqlDictionaryServices old = SqlInstallDictionaryServices(nullptr);
  DDInstallCompilerServices(catalog.base());
  g_real = SqlInstallDictionaryServices(nullptr);
  SqlDictionaryServices timed = g_real;
  timed.table_attr = TimedTableAttr;
  timed.columns = TimedColumns;
  timed.table_priv = TimedTablePriv;
  timed.current_schema = TimedCurrentSchema;
  timed.column_priv = TimedColumnPriv;
  timed.pair_value = TimedCheck;
  timed.source_info = TimedSourceInfo;
  timed.source_read = TimedSourceRead;
  SqlInstallDictionaryServices(&timed);

  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, SqliteSchema().c_str(), nullptr, nullptr, nullptr);
  if (views && !DefineViews(catalog, db)) {
    state.SkipWithError("the views could not be defined");
    sqlite3_close(db);
    SqlInstallDictionaryServices(&old);
    catalog.Stop();
    return;
  }
  std::vector<std::vector<uint8_t>> texts;
  for (const char* q : statements) texts.push_back(Wide(q));

  constexpr int kRounds = 200;
  double ours = 0, theirs = 0;
  g_lookup_seconds = 0;
  g_lookup_calls = 0;
  g_column_priv_seconds = 0;
  g_column_priv_calls = 0;
  bool failed = false;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int r = 0; r < kRounds && !failed; ++r) {
      for (size_t i = 0; i < texts.size(); ++i) {
        int32_t result[kResultWords];
        int32_t request[kRequestWords] = {};
        request[REQ_MODE] = 5;
        request[REQ_SESSION] = catalog.session();
        int32_t start = 0;
        qmcpsn(result, texts[i].data(), &start, static_cast<int32_t>(texts[i].size() / 3), nullptr,
               request, nullptr, nullptr, 0);
        if (result[RES_STATUS] != 0 || !accepted(result[RES_KIND])) {
          state.SkipWithError((std::string("did not compile: ") + statements[i]).c_str());
          failed = true;
          break;
        }
      }
    }
    auto t1 = Clock::now();
    for (int r = 0; r < kRounds && !failed; ++r) {
      for (const char* q : statements) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, q, -1, &stmt, nullptr) != SQLITE_OK) {
          state.SkipWithError((std::string("SQLite refused: ") + q).c_str());
          failed = true;
          break;
        }
        sqlite3_finalize(stmt);
      }
    }
    auto t2 = Clock::now();
    ours += (t1 - t0).count();
    theirs += (t2 - t1).count();
  }
  sqlite3_close(db);
  SqlInstallDictionaryServices(&old);
  catalog.Stop();
  if (failed) return;
  double n = static_cast<double>(state.iterations()) * kRounds * N;
  state.counters["qmcpsn_us"] = ours / n * 1e6;
  state.counters["sqlite_us"] = theirs / n * 1e6;
  state.counters["ratio"] = ours / theirs;
  state.counters["lookup_share"] = g_lookup_seconds / ours;
  state.counters["lookups_per_query"] = static_cast<double>(g_lookup_calls) / n;
  state.counters["ratio_without_lookups"] = (ours - g_lookup_seconds) / theirs;
  state.counters["column_priv_share"] = g_column_priv_seconds / ours;
  state.counters["column_privs_per_query"] = static_cast<double>(g_column_priv_calls) / n;
}
void BM_CompileQueriesAgainstSqlitePrepare(benchmark::State& state) {
  CompileAgainstSqlite(state, kQueries, [](int32_t kind) { return kind == 1 || kind == 2; });
}
BENCHMARK(BM_CompileQueriesAgainstSqlitePrepare)->Unit(benchmark::kMillisecond)->Iterations(1);

// INSERT, UPDATE and DELETE, reported apart from the queries.
void BM_CompileDataChangesAgainstSqlitePrepare(benchmark::State& state) {
  CompileAgainstSqlite(state, kDataChanges, [](int32_t kind) { return kind >= 3 && kind <= 10; });
}
BENCHMARK(BM_CompileDataChangesAgainstSqlitePrepare)->Unit(benchmark::kMillisecond)->Iterations(1);

// Queries over merged views, reported apart (SQLite holds the same views).
void BM_CompileViewQueriesAgainstSqlitePrepare(benchmark::State& state) {
  CompileAgainstSqlite(state, kViewQueries, [](int32_t kind) { return kind == 1 || kind == 2; },
                       true);
}
BENCHMARK(BM_CompileViewQueriesAgainstSqlitePrepare)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
