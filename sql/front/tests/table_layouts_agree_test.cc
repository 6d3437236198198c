// The two table layouts of one grammar drive the same parses: the generic
// engine (default reductions, lookahead lists, default gotos) and a minimal
// driver over the SQL parser layout (exact actions, folded states, chained
// gotos) must accept the same token strings with the same reductions, and
// stop at the same token on the others.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "calc_grammar.h"
#include "calc_narrow_sql_tables.h"
#include "calc_sql_tables.h"
#include "sql/front/gpr_parser.h"
#include "sql/front/sql_grammar_tables.h"

namespace {

// Terminals of the sample grammar.
enum : int32_t {
  kEnd = 1,
  kNum,
  kIdent,
  kPlus,
  kMinus,
  kStar,
  kSlash,
  kOpen,
  kClose,
  kEq,
  kSemi,
  kLet,
  kPrint
};

struct ParseRun {
  bool accepted = false;
  size_t error_at = 0;  // index of the token that could not be taken
  std::vector<int32_t> reductions;
  // Before an error the generic engine may run default reductions that the
  // exact actions do not; both stop at the same token.
  bool operator==(const ParseRun& o) const {
    return accepted == o.accepted &&
           (accepted ? reductions == o.reductions : error_at == o.error_at);
  }
};

std::ostream& operator<<(std::ostream& os, const ParseRun& r) {
  os << (r.accepted ? "accepted" : "error at " + std::to_string(r.error_at)) << ", reductions";
  for (int32_t x : r.reductions) os << " " << x;
  return os;
}

// The parse loop of the SQL parser, without values and repair.
ParseRun SqlTablesParse(const SqlGrammarTables& g, const std::vector<int32_t>& tokens) {
  ParseRun run;
  std::vector<int32_t> stack{kSqlStartState};
  auto reduce = [&](int32_t rule) {
    for (;;) {
      run.reductions.push_back(rule);
      stack.resize(stack.size() - g.rule_length[rule]);
      int32_t v = SqlLookupGoto(g, stack.back(), rule);
      if (SqlActionKindOf(v) == kSqlShift) {
        stack.push_back(SqlActionTargetOf(v));
        return;
      }
      stack.push_back(0);  // the state a folded reduction never exposes
      rule = SqlActionTargetOf(v);
    }
  };
  for (size_t i = 0; i < tokens.size() && stack.size() < 1000;) {
    int32_t v = SqlLookupAction(g, stack.back(), tokens[i]);
    switch (SqlActionKindOf(v)) {
      case kSqlShift:
        stack.push_back(SqlActionTargetOf(v));
        ++i;
        break;
      case kSqlShiftReduce:
        stack.push_back(0);
        ++i;
        reduce(SqlActionTargetOf(v));
        break;
      case kSqlReduce:
        reduce(SqlActionTargetOf(v));
        break;
      case kSqlAccept:
        run.accepted = true;
        return run;
      default:
        run.error_at = i;
        return run;
    }
  }
  return run;
}

ParseRun GenericParse(const std::vector<int32_t>& tokens) {
  ParseRun run;
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  GprParser* p = GprCreate(&arena, &kCalcGrammar);
  for (size_t i = 0; i < tokens.size(); ++i) {
    int32_t r;
    while ((r = GprFeed(p, tokens[i])) > 0) run.reductions.push_back(r);
    if (r < 0) {
      run.error_at = i;
      break;
    }
    if (tokens[i] == kEnd) {
      run.accepted = p->state == 0;
      break;
    }
  }
  GprFree(p);
  ArenaRelease(&arena);
  return run;
}

// Random sentences of the sample language, sometimes with one token
// inserted, deleted or replaced.
void Expr(std::mt19937& rng, int depth, std::vector<int32_t>& out) {
  switch (depth > 4 ? rng() % 2 : rng() % 6) {
    case 0:
      out.push_back(kNum);
      break;
    case 1:
      out.push_back(kIdent);
      break;
    case 2:
      out.push_back(kMinus);
      Expr(rng, depth + 1, out);
      break;
    case 3:
      out.push_back(kOpen);
      Expr(rng, depth + 1, out);
      out.push_back(kClose);
      break;
    default: {
      Expr(rng, depth + 1, out);
      const int32_t ops[] = {kPlus, kMinus, kStar, kSlash};
      out.push_back(ops[rng() % 4]);
      Expr(rng, depth + 1, out);
    }
  }
}

std::vector<int32_t> Sentence(std::mt19937& rng) {
  std::vector<int32_t> out;
  int statements = 1 + static_cast<int>(rng() % 3);
  for (int s = 0; s < statements; ++s) {
    if (s > 0) out.push_back(kSemi);
    switch (rng() % 3) {
      case 0:
        out.insert(out.end(), {kLet, kIdent, kEq});
        break;
      case 1:
        out.push_back(kPrint);
        break;
      default:
        break;
    }
    Expr(rng, 0, out);
  }
  int32_t any = kEnd + 1 + static_cast<int32_t>(rng() % (kPrint - kEnd));
  size_t at = rng() % (out.size() + 1);
  switch (rng() % 4) {
    case 0:
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), any);
      break;
    case 1:
      if (at < out.size()) out.erase(out.begin() + static_cast<std::ptrdiff_t>(at));
      break;
    case 2:
      if (at < out.size()) out[at] = any;
      break;
    default:
      break;
  }
  out.push_back(kEnd);
  return out;
}

TEST(TableLayouts, GenericAndSqlTablesParseAlike) {
  std::mt19937 rng(3);
  int accepted = 0, rejected = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<int32_t> tokens = Sentence(rng);
    ParseRun generic = GenericParse(tokens);
    ASSERT_EQ(SqlTablesParse(kCalcSqlTables, tokens), generic) << "round " << round;
    ASSERT_EQ(SqlTablesParse(kCalcNarrowSqlTables, tokens), generic) << "round " << round;
    if (!generic.accepted) {
      // The exact actions' reductions are where the generic engine's begin.
      std::vector<int32_t> exact = SqlTablesParse(kCalcSqlTables, tokens).reductions;
      ASSERT_LE(exact.size(), generic.reductions.size());
      EXPECT_TRUE(std::equal(exact.begin(), exact.end(), generic.reductions.begin()))
          << "round " << round;
    }
    (generic.accepted ? accepted : rejected) += 1;
  }
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(rejected, 300);
}

}  // namespace
