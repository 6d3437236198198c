// Parses one statement with the SQL grammar in a fresh test context, with
// fake look-ups installed, recording the action trace and the printed tree.
#include "sql/front/tests/sql_grammar_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

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

// Which stack entries hold a reduction's result (the others hold shifted
// tokens), for the poisoning.
bool g_is_result[kSqlParseDepth + 1];

// The poison: far outside any workspace, so a reference read from it fails
// at once, and never a plausible count or flag.
constexpr int32_t kPoison = 0x7A7A7A7A;

// Before an action: the entries above the stack, and every word of a shifted
// token's entry but its position and text, hold poison, so an action that
// reads a word its symbols do not write gets garbage instead of a zero.
void Poison(SqlParseArea* a, int32_t rule) {
  int32_t n = SqlRuleLength(rule);
  for (int32_t k = 1; k <= n && a->depth + k < kSqlParseDepth; ++k) {
    int32_t d = a->depth + k;
    if (g_is_result[d]) continue;
    for (int32_t w = 0; w < kSqlSemanticWords; ++w) {
      if (w != 0 && w != 1 && w != 12 && w != 13) a->semantic[d][w] = kPoison;
    }
    g_is_result[d] = true;  // poisoned once
  }
  for (int32_t d = a->depth + std::max(n, 1) + 1; d < kSqlParseDepth; ++d) {
    std::fill(a->semantic[d], a->semantic[d] + kSqlSemanticWords, kPoison);
  }
  if (n == 0 && a->depth + 1 < kSqlParseDepth) {
    std::fill(a->semantic[a->depth + 1], a->semantic[a->depth + 1] + kSqlSemanticWords, kPoison);
  }
}

std::vector<int32_t>* g_poisoned = nullptr;

void TracingAction(SqlCompileCtx* ctx, int32_t rule) {
  g_trace->push_back(rule);
  SqlParseArea* a = SqlParseAreaOf(ctx);
  if (g_poison) Poison(a, rule);
  int32_t used = ctx->ws.used;
  SqlActionOf(ctx, rule);
  // A node the action built that holds poison was built from a word no
  // symbol wrote.
  if (g_poison && ctx->ws.block != 0) {
    for (int32_t at = (used + 3) / 4 * 4; at + 4 <= ctx->ws.used; at += 4) {
      int32_t word = 0;
      std::memcpy(&word, qqwsadr(ctx, at), 4);
      if (word == kPoison) {
        g_poisoned->push_back(rule);
        break;
      }
    }
  }
  // The result is at depth + 1; what lies above it will be shifted tokens.
  for (int32_t d = std::max(a->depth + 1, 0); d < kSqlParseDepth; ++d) {
    g_is_result[d] = d == a->depth + 1;
  }
}

const ParseOptions* g_options = nullptr;

int32_t NoRoutine(SqlCompileCtx*, const QualifiedName& name) {
  const char* stored = g_options != nullptr ? g_options->stored_routine : nullptr;
  if (stored != nullptr && std::strcmp(name.name[0], stored) == 0) {
    return g_options->stored_routine_status;
  }
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

int32_t HomeSchema(SqlCompileCtx*, char name[129]) {
  std::snprintf(name, 129, "%s", "HOME");
  return 0;
}

}  // namespace

ParsedStatement ParseSql(const std::string& text, const ParseOptions& options) {
  FakeKernel kernel;
  SqlLookupServices lookups;
  lookups.get_routine = NoRoutine;
  lookups.get_collation = Collation;
  lookups.qmrefname = ShowName;
  lookups.current_schema = HomeSchema;
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
    g_poisoned = &out.poisoned;
    g_poison = options.poison;
    g_options = &options;
    std::fill(std::begin(g_is_result), std::end(g_is_result), false);
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
    if (tc.ctx.ws.block != 0) {
      out.workspace.assign(qqwsadr(&tc.ctx, 0), static_cast<size_t>(std::max(tc.ctx.ws.used, 0)));
    }
    if (options.inspect) options.inspect(&tc.ctx, out.root);
  }
  g_options = nullptr;
  out.conditions = FakeKernel::conditions;
  SqlInstallLookupServices(&old);
  return out;
}

std::string ParsedTreeImage(const std::string& text, bool condition, std::string* printed) {
  std::string image;
  ParseOptions options;
  options.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    int32_t r = root;
    if (condition) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
      r = WsWord(ctx, query, 8);
      *printed = SqlPrintExpression(ctx, r);
    } else {
      *printed = SqlPrintStatement(ctx, root);
    }
    int32_t* header = WsBlock(ctx, qqwscur(ctx));
    image.assign(reinterpret_cast<const char*>(header), static_cast<size_t>(header[WSB_USED]));
    std::memcpy(image.data() + 4 * WSB_ROOT, &r, 4);
  };
  ParsedStatement p = ParseSql(text, options);
  EXPECT_TRUE(p.conditions.empty()) << text;
  return image;
}
