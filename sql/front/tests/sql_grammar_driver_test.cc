// The SQL grammar as the compile driver's parse phase: statements that stop
// after parsing come back with their kinds, the kinds-100-to-104 result word
// reaches the request, and a syntax error ends the compilation with the
// parser's condition.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/word_storage.h"
#include "sql/front/compile_driver.h"
#include "sql/front/compile_services.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_parser.h"
#include "sql_grammar_tables_gen.h"

namespace {

int32_t* g_pool = nullptr;
std::vector<int32_t> g_codes;

void Diag(int32_t, int32_t, int32_t code, int32_t, const char*, int32_t) {
  g_codes.push_back(code);
}
void AllocWords(int32_t* index, int32_t words) {
  DSGetMem(g_pool, index, words * 4);
}

class GrammarDriver : public ::testing::Test {
 protected:
  GrammarDriver() {
    g_codes.clear();
    g_pool = SqlPoolCreate(int64_t{1} << 26, 1 << 20);
    int32_t w = 1 << 20;
    DSPoolMem(g_pool, &w, -1, 0);
    SqlKernelServices k;
    k.pool = g_pool;
    k.add_diag = Diag;
    k.alloc_words = AllocWords;
    old_kernel_ = SqlInstallKernelServices(&k);
    old_phases_ = SqlInstallPhaseServices(nullptr);
    SqlInstallParsePhase();
  }
  ~GrammarDriver() override {
    SqlInstallKernelServices(&old_kernel_);
    SqlInstallPhaseServices(&old_phases_);
    SqlPoolDestroy(g_pool);
  }

  std::vector<int32_t> Compile(const std::string& sql) {
    std::vector<uint8_t> text;
    for (unsigned char c : sql) text.insert(text.end(), {0, 0, c});
    std::vector<int32_t> result(kResultWords, 99);
    int32_t start = 0;
    static const int32_t kNoHosts[3] = {0, 0, 0};
    qmcpsn(result.data(), text.data(), &start, static_cast<int32_t>(sql.size()), kNoHosts, request_,
           nullptr, nullptr, 0);
    return result;
  }

  int32_t request_[kRequestWords] = {};

 private:
  SqlKernelServices old_kernel_;
  SqlPhaseServices old_phases_;
};

// Token texts seen by the actions through SqlValueText, with their arena
// indexes.
struct SeenText {
  int32_t index;
  int32_t length;
  std::string text;
};
std::vector<SeenText> g_seen;

void RecordingAction(SqlCompileCtx* ctx, int32_t rule) {
  SqlParseArea* a = SqlParseAreaOf(ctx);
  for (int32_t k = 1; k <= SqlRuleLength(rule) && a->depth + k < kSqlParseDepth; ++k) {
    const SqlValueEntry& e = a->value[a->depth + k];
    if (e.text != 0) g_seen.push_back({e.text, e.length, SqlValueText(ctx, e)});
  }
  SqlActionOf(ctx, rule);
}

// The parse phase as installed, with the recording action.
void RecordingParse(SqlCompileCtx* ctx) {
  if (ctx->work_area == nullptr || ctx->work_area_bytes < kSqlParseWorkBytes) {
    ctx->work_area = ArenaAllocAligned(&ctx->arena, kSqlParseWorkBytes);
    ctx->work_area_bytes = kSqlParseWorkBytes;
  }
  if (qqwscur(ctx) == 0) qqwsnewblk(ctx);
  SqlActionState* s = ActionState(ctx);
  std::memset(s, 0, sizeof *s);
  s->collection = -1;
  s->column_list = -1;
  ctx->parse_root = -1;
  SqlParse(ctx, kSqlGrammarTables, RecordingAction);
}

TEST_F(GrammarDriver, TokenTextsInEveryArenaChunkAreRead) {
  SqlPhaseServices phases = SqlPhases();
  phases.parse = RecordingParse;
  SqlInstallPhaseServices(&phases);
  // Enough long names that the arena takes further chunks of the word
  // storage, which may lie below its first one (a negative index).
  std::string sql = "SELECT ";
  const int kNames = 600;
  for (int i = 0; i < kNames; ++i) {
    if (i > 0) sql += ", ";
    char name[40];
    std::snprintf(name, sizeof name, "COLUMN_NAME_OF_SOME_LENGTH_%05d", i);
    sql += name;
  }
  sql += " FROM T";
  g_seen.clear();
  Compile(sql);
  bool negative = false;
  int named = 0;
  int wrong = 0;
  for (const SeenText& t : g_seen) {
    negative = negative || t.index < 0;
    if (static_cast<int32_t>(t.text.size()) != t.length) ++wrong;
    if (t.text.rfind("COLUMN_NAME_OF_SOME_LENGTH_", 0) == 0) ++named;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(named, kNames);
  EXPECT_TRUE(negative) << "no token text landed below the first chunk";
}

TEST_F(GrammarDriver, StatementsThatStopAfterParsing) {
  struct Case {
    const char* text;
    int32_t kind;
  } cases[] = {{"LEAVE", 47},
               {"SET TRANSACTION READ ONLY", 78},
               {"SET SESSION ISOLATION LEVEL SERIALIZABLE", 91}};
  for (const Case& c : cases) {
    auto r = Compile(c.text);
    EXPECT_EQ(r[RES_STATUS], 0) << c.text;
    EXPECT_EQ(r[RES_KIND], c.kind) << c.text;
    EXPECT_TRUE(g_codes.empty()) << c.text;
  }
}

TEST_F(GrammarDriver, DiagnosticsSizeReachesTheRequest) {
  auto r = Compile("SET TRANSACTION DIAGNOSTICS SIZE 10");
  EXPECT_EQ(r[RES_STATUS], 0);  // the driver returns at once for kind 103
  EXPECT_EQ(request_[REQ_VERSION], 10);
  EXPECT_TRUE(g_codes.empty());
}

TEST_F(GrammarDriver, ASyntaxErrorEndsTheCompilation) {
  auto r = Compile("SELECT a FROM t WHERE a = (b");
  EXPECT_NE(r[RES_STATUS], 0);
  ASSERT_FALSE(g_codes.empty());
  EXPECT_EQ(g_codes[0], -12101);
}

}  // namespace
