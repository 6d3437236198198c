// Parses one statement with the SQL grammar in a fresh test context, with
// fake look-ups installed, recording the action trace and the printed tree.
#include "sql/front/tests/sql_grammar_support.h"

#include <cstdio>
#include <cstring>

#include "sql/front/compile_diag.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/sql_parser.h"
#include "sql/front/sql_tree_print.h"
#include "sql/front/stmt_tree.h"
#include "sql_grammar_tables_gen.h"

namespace {

std::vector<int32_t>* g_trace = nullptr;
bool g_poison = false;

void TracingAction(SqlCompileCtx* ctx, int32_t rule) {
  g_trace->push_back(rule);
  if (g_poison) {
    SqlParseArea* a = SqlParseAreaOf(ctx);
    int32_t first = a->depth + (SqlRuleLength(rule) == 0 ? 1 : SqlRuleLength(rule) + 1);
    for (int32_t d = first; d < kSqlParseDepth; ++d) {
      std::memset(a->semantic[d], 0x5A, sizeof a->semantic[d]);
    }
  }
  SqlActionOf(ctx, rule);
}

int32_t NoRoutine(SqlCompileCtx*, const QualifiedName&) {
  return 100;
}

int32_t Collation(SqlCompileCtx*, const char*, const char* name, int32_t* id) {
  if (std::strcmp(name, "GERMAN") == 0) {
    *id = 7;
    return 0;
  }
  if (std::strcmp(name, "BINARY") == 0) {
    *id = 136;
    return 0;
  }
  return 100;
}

int32_t ShowName(SqlCompileCtx* ctx, int32_t node, int32_t, char* out, int32_t capacity) {
  QualifiedName name;
  qqnamget(ctx, node, &name);
  std::string shown = name.name[1][0] != 0 ? std::string(name.name[1]) + "." : std::string();
  shown += name.name[0];
  std::snprintf(out, static_cast<size_t>(capacity), "%s", shown.c_str());
  return 0;
}

}  // namespace

ParsedStatement ParseSql(const std::string& text, const ParseOptions& options) {
  FakeKernel kernel;
  SqlLookupServices lookups;
  lookups.get_routine = NoRoutine;
  lookups.get_collation = Collation;
  lookups.qmrefname = ShowName;
  SqlLookupServices old = SqlInstallLookupServices(&lookups);
  ParsedStatement out;
  {
    TestContext tc(1 << 22);
    std::string wide;
    for (unsigned char c : text) wide += std::string{'\0', '\0', static_cast<char>(c)};
    tc.ctx.single_byte_text = text.data();
    tc.ctx.text = reinterpret_cast<const uint8_t*>(wide.data());
    tc.ctx.text_length = static_cast<int32_t>(text.size());
    tc.ctx.compile_mode = options.mode;
    tc.ctx.request_word6 = options.first_option;
    tc.ctx.request_word7 = options.second_option;
    g_trace = &out.rules;
    g_poison = options.poison;
    // SqlParseStatement's set-up, with the tracing action.
    tc.ctx.work_area = ArenaAllocAligned(&tc.ctx.arena, kSqlParseWorkBytes);
    tc.ctx.work_area_bytes = kSqlParseWorkBytes;
    qqwsnewblk(&tc.ctx);
    SqlActionState* s = ActionState(&tc.ctx);
    std::memset(s, 0, sizeof *s);
    s->collection = -1;
    s->column_list = -1;
    tc.ctx.parse_root = -1;
    try {
      SqlParse(&tc.ctx, kSqlGrammarTables, TracingAction);
    } catch (const CompileJump&) {
    }
    out.kind = tc.ctx.statement_kind;
    out.root = tc.ctx.parse_root;
    out.end = tc.ctx.statement_end;
    out.early_result = tc.ctx.early_result;
    if (out.root > 0) out.printed = SqlPrintStatement(&tc.ctx, out.root);
    if (options.inspect) options.inspect(&tc.ctx, out.root);
  }
  out.conditions = FakeKernel::conditions;
  SqlInstallLookupServices(&old);
  return out;
}
