// The SQL parse phase on a mixed corpus (joins, grouping, data change,
// definitions) in the subset SQLite shares, a fresh compile context and parse
// per statement, against sqlite3_prepare_v2 and sqlite3_finalize of the same
// texts on an in-memory database holding the tables, and against the SQL
// lexer alone. Reports microseconds a statement and the ratios (goal: the
// parse at most half SQLite's prepare).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/compile_services.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_lexer.h"
#include "sql/front/sql_lookup_services.h"

namespace {

const char* const kCorpus[] = {
    "SELECT a, b FROM t1 WHERE a = 1",
    "SELECT t1.a, t2.c FROM t1 JOIN t2 ON t1.a = t2.a WHERE t2.c > 10 ORDER BY t1.a",
    "SELECT a, COUNT(*), SUM(b) FROM t1 GROUP BY a HAVING COUNT(*) > 2",
    "SELECT DISTINCT b FROM t1 WHERE a BETWEEN 1 AND 100 AND b IS NOT NULL",
    "SELECT a FROM t1 WHERE b IN (1, 2, 3, 4) OR b LIKE 'abc%'",
    "SELECT a FROM t1 WHERE EXISTS (SELECT c FROM t2 WHERE t2.a = t1.a)",
    "SELECT a FROM t1 WHERE a NOT IN (SELECT a FROM t2 WHERE c < 5)",
    "SELECT t1.a, t2.b, t3.d FROM t1 LEFT JOIN t2 ON t1.a = t2.a JOIN t3 ON t2.c = t3.c",
    "SELECT CASE WHEN a > 10 THEN 'big' WHEN a > 5 THEN 'mid' ELSE 'small' END FROM t1",
    "SELECT COALESCE(b, 0) + a * 2 - 1, NULLIF(a, b) FROM t1 WHERE NOT (a = 1 OR b = 2)",
    "SELECT MAX(a), MIN(b), AVG(a) FROM t1 WHERE a > 0",
    "SELECT a FROM t1 UNION ALL SELECT a FROM t2",
    "SELECT a, b FROM t1 WHERE a = ? AND b = ?",
    "INSERT INTO t1 VALUES (1, 2)",
    "INSERT INTO t1 (a, b) VALUES (3, 'text')",
    "INSERT INTO t2 SELECT a, b, a + b FROM t1 WHERE a > 5",
    "UPDATE t1 SET b = b + 1 WHERE a = 10",
    "UPDATE t2 SET c = 0, b = NULL",
    "DELETE FROM t1 WHERE a < 0",
    "DELETE FROM t2",
    "CREATE TABLE t9 (a INTEGER PRIMARY KEY, b VARCHAR(20) NOT NULL, c DECIMAL(10, 2) DEFAULT 0)",
    "CREATE TABLE t8 (x INTEGER, y CHAR(5) UNIQUE, CHECK (x > 0))",
    "CREATE INDEX i9 ON t1 (a, b DESC)",
    "CREATE UNIQUE INDEX i8 ON t2 (c)",
    "SELECT a FROM t1 WHERE a > 5 AND (b < 3 OR b > 7) AND a <> b ORDER BY 1 DESC",
};

int32_t NoRoutine(SqlCompileCtx*, const QualifiedName&) {
  return 100;
}
int32_t ShowName(SqlCompileCtx* ctx, int32_t node, int32_t, char* out, int32_t capacity) {
  QualifiedName name;
  qqnamget(ctx, node, &name);
  std::snprintf(out, static_cast<size_t>(capacity), "%s", name.name[0]);
  return 0;
}
void NoDiag(int32_t, int32_t, int32_t, int32_t, const char*, int32_t) {}

struct Statement {
  std::string text;
  std::string wide;
};

std::vector<Statement> Corpus() {
  std::vector<Statement> out;
  for (const char* text : kCorpus) {
    Statement s{text, {}};
    for (unsigned char c : s.text) s.wide += std::string{'\0', '\0', static_cast<char>(c)};
    out.push_back(s);
  }
  return out;
}

// One parse in a fresh context; the highest severity it reached.
int32_t ParseOnce(const Statement& s) {
  SqlCompileCtx ctx;
  ArenaUseLocalStorage(&ctx.arena);
  ctx.arena.minimum_chunk = 65536;
  WorkspaceAllocate(&ctx);
  ctx.single_byte_text = s.text.data();
  ctx.text = reinterpret_cast<const uint8_t*>(s.wide.data());
  ctx.text_length = static_cast<int32_t>(s.text.size());
  SqlParseStatement(&ctx);
  int32_t severity = ctx.parse_root > 0 ? ctx.highest_severity : 5;
  ArenaRelease(&ctx.arena);
  return severity;
}

int32_t LexOnce(SqlLexer* lexer, const Statement& s) {
  SqlLexReset(lexer, reinterpret_cast<const uint8_t*>(s.text.data()),
              reinterpret_cast<const uint8_t*>(s.wide.data()), static_cast<int32_t>(s.text.size()),
              nullptr, nullptr);
  SqlTokenRecord token;
  int32_t n = 0;
  do {
    SqlLexNext(lexer, &token);
    ++n;
  } while (token.code != 1);
  return n;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_SqlParseAgainstSqlitePrepare(benchmark::State& state) {
  SqlKernelServices k;
  k.pool = ArenaLocalBase();
  k.add_diag = NoDiag;
  SqlInstallKernelServices(&k);
  SqlLookupServices lookups;
  lookups.get_routine = NoRoutine;
  lookups.qmrefname = ShowName;
  SqlInstallLookupServices(&lookups);
  std::vector<Statement> corpus = Corpus();
  for (const Statement& s : corpus) {
    if (ParseOnce(s) != 0) {
      state.SkipWithError(("our parse fails: " + s.text).c_str());
      return;
    }
  }
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db,
               "CREATE TABLE t1(a INTEGER, b); CREATE TABLE t2(a INTEGER, b, c);"
               "CREATE TABLE t3(c, d);",
               nullptr, nullptr, nullptr);
  for (const Statement& s : corpus) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, s.text.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      state.SkipWithError(("SQLite refuses: " + s.text).c_str());
      return;
    }
    sqlite3_finalize(st);
  }
  auto* lexer = new SqlLexer;
  constexpr int kRounds = 200;
  double ours = 0;
  double theirs = 0;
  double lexing = 0;
  int64_t tokens = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
      for (const Statement& s : corpus) benchmark::DoNotOptimize(ParseOnce(s));
    }
    ours += Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
      for (const Statement& s : corpus) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, s.text.c_str(), -1, &st, nullptr);
        sqlite3_finalize(st);
      }
    }
    theirs += Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
      for (const Statement& s : corpus) tokens += LexOnce(lexer, s);
    }
    lexing += Seconds(t0);
  }
  double n = static_cast<double>(state.iterations()) * kRounds * static_cast<double>(corpus.size());
  state.counters["ours_us"] = ours / n * 1e6;
  state.counters["sqlite_us"] = theirs / n * 1e6;
  state.counters["lexer_us"] = lexing / n * 1e6;
  state.counters["ratio"] = ours / theirs;
  state.counters["lexer_ratio"] = lexing / theirs;
  benchmark::DoNotOptimize(tokens);
  delete lexer;
  sqlite3_close(db);
  SqlInstallLookupServices(nullptr);
  SqlInstallKernelServices(nullptr);
}
BENCHMARK(BM_SqlParseAgainstSqlitePrepare)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
