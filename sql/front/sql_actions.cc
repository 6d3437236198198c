// The grammar action routine: clears the entry of an empty production, then
// hands the production to its family; and the parse phase over the generated
// SQL grammar tables.
#include "sql/front/sql_actions.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "sql/front/compile_services.h"
#include "sql/front/sql_action_words.h"
#include "sql_grammar_tables_gen.h"

int32_t SqlRuleLength(int32_t rule) {
  if (rule < 0 || rule >= kSqlGrammarTables.rule_count) return 0;
  return kSqlGrammarTables.rule_length[rule];
}

namespace {

// Productions of one symbol or more whose action is none (the first
// right-hand value is the result): most are the unit chains through the
// layered nonterminals a value or condition reduces by (term to value,
// factor to term, predicate to condition ...) and the keywords reduced to
// names. Their dispatch through the families is skipped.
struct NoActionRules {
  bool none[kSqlGrammarRuleLimit] = {};
  constexpr NoActionRules() {
    for (int32_t rule : {5,   6,   7,   8,   9,   10,  12,  381, 382, 383, 404, 413, 415, 418,
                         434, 452, 462, 463, 465, 471, 500, 501, 502, 504, 539, 540, 694, 726}) {
      none[rule] = true;
    }
    for (int32_t rule = 848; rule <= 991; ++rule) none[rule] = true;
  }
};
constexpr NoActionRules kNoAction;

}  // namespace

void SqlActionOf(SqlCompileCtx* ctx, int32_t rule) {
  if (rule >= 0 && rule < kSqlGrammarRuleLimit && kNoAction.none[rule]) return;
  auto* a = static_cast<SqlParseArea*>(ctx->work_area);
  // The result entry lies above the stack; at depth 255 the driver's push
  // stops the parse, so there is nothing to write.
  if (a->depth < 0 || a->depth + 1 >= kSqlParseDepth) return;
  if (SqlRuleLength(rule) == 0) {
    // An empty production has no right-hand entry whose values it keeps: its
    // entry starts cleared, so an absent phrase reads as 0 and empty. (Copied
    // from a cleared record: the compiler makes plain stores of the copy,
    // where the clear became a string instruction slow to start.)
    static constexpr int32_t kCleared[kSqlSemanticWords] = {};
    std::memcpy(a->semantic[a->depth + 1], kCleared, sizeof kCleared);
  }
  if (rule <= 221) {
    SqlActionsStatement(ctx, rule);
  } else if (rule <= 400) {
    SqlActionsControl(ctx, rule);
  } else if (rule <= 499) {
    SqlActionsQuery(ctx, rule);
  } else if (rule <= 620 || rule == 993 || rule == 994) {
    SqlActionsValue(ctx, rule);
  } else {
    SqlActionsNames(ctx, rule);
  }
}

void SqlParseStatement(SqlCompileCtx* ctx) {
  if (ctx->work_area == nullptr || ctx->work_area_bytes < kSqlParseWorkBytes) {
    ctx->work_area = ArenaAllocAligned(&ctx->arena, kSqlParseWorkBytes);
    ctx->work_area_bytes = kSqlParseWorkBytes;
  }
  if (qqwscur(ctx) == 0) qqwsnewblk(ctx);
  SqlActionState* s = ActionState(ctx);
  // Every word but the NOT stack's entries, which are written as they are
  // pushed (the statement start resets the depth).
  std::memset(s, 0, offsetof(SqlActionState, not_stack));
  std::memset(&s->zero_position, 0, sizeof *s - offsetof(SqlActionState, zero_position));
  s->collection = -1;
  s->column_list = -1;
  ctx->parse_root = -1;
  // The rules without an action are not even called.
  const bool* skip =
      kSqlGrammarTables.rule_count <= kSqlGrammarRuleLimit ? kNoAction.none : nullptr;
  SqlParse(ctx, kSqlGrammarTables, SqlActionOf, skip);
}

void SqlInstallParsePhase() {
  SqlPhaseServices phases = SqlPhases();
  phases.parse = SqlParseStatement;
  phases.parse_work_bytes = kSqlParseWorkBytes;
  SqlInstallPhaseServices(&phases);
}
