// The SQL parser driver's parse loop and its steps: token reading through the
// symbol map, shifts that copy the token text into the arena, reductions with
// their chains of unit reductions, the simulated moves the recovery uses, and
// the syntax messages.
#include "sql/front/sql_parser.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sql/front/compile_diag.h"
#include "sql/front/sql_parse_steps.h"
#include "sql/front/sql_token_table.h"

namespace {

void LexError(void* sink, int32_t code, int32_t line, int32_t position) {
  int32_t pos[2] = {line, position};
  qcerrec(static_cast<SqlCompileCtx*>(sink), pos, "QSA", code, kSevSqlError, "");
}

[[noreturn]] void StackFull(SqlParseRun& r) {
  SqlSyntaxMessage(r.ctx, r.a->lookahead, kSqlRepairFatal, kSqlVariantStackFull);
  throw SqlParseAbort();
}

// Depth + 1, or the end of the parse when that would reach 256.
void Push(SqlParseRun& r) {
  if (r.a->depth + 1 >= kSqlParseDepth) StackFull(r);
  ++r.a->depth;
}

// Token texts are taken from blocks of the arena in turn (a block per token
// cost an arena allocation each); they live as long as the parse's arena.
constexpr int32_t kSqlTextBlockWords = 1024;

int32_t CopyText(SqlParseRun& r, const SqlTokenRecord& t) {
  if (t.length <= 0) return 0;
  SqlParseArea* a = r.a;
  int32_t words = (t.length + 1 + 3) / 4;
  if (a->text_end - a->text_next < words) {
    int32_t block = std::max(words, kSqlTextBlockWords);
    auto* base = static_cast<int32_t*>(ArenaAlloc(&r.ctx->arena, nullptr, block * 4));
    a->text_next = static_cast<int32_t>(base - r.ctx->arena.chunks) + 1;
    a->text_end = a->text_next + block;
  }
  int32_t index = a->text_next;
  a->text_next += words;
  std::memcpy(r.ctx->arena.chunks + (index - 1), t.text, static_cast<size_t>(t.length) + 1);
  return index;
}

// A shifted token's semantic record gets its position and text only: no
// action reads another word of a token's entry (the grammar tests poison
// them), so the rest of the 216 bytes is not cleared.
void StoreToken(SqlParseRun& r, int32_t d, const SqlTokenRecord& t) {
  SqlValueEntry& e = r.a->value[d];
  e = {t.code, t.line, t.position, t.length, CopyText(r, t)};
  int32_t* sem = r.a->semantic[d];
  sem[SEM_LINE] = t.line;
  sem[SEM_POSITION] = t.position;
  sem[SEM_TEXT_LENGTH] = e.length;
  sem[SEM_TEXT] = e.text;
}

// The token table's terminal of every lexer code, made once; each parse
// copies it into its area, where 297 table look-ups would cost more than the
// rest of a short statement's parse.
const int32_t* TokenSymbols() {
  static const std::array<int32_t, kSqlTokenCount> symbols = [] {
    std::array<int32_t, kSqlTokenCount> m{};
    for (int32_t c = 0; c < kSqlTokenCount; ++c) m[c] = SqlTokenEntry(c).code;
    return m;
  }();
  return symbols.data();
}

void Start(SqlParseRun& r) {
  SqlParseArea* a = r.a;
  a->depth = 0;
  a->state[0] = kSqlStartState;
  r.current = kSqlStartState;
  a->queue_read = a->queue_count = 0;
  a->recovery_state = kSqlRepairNone;
  a->deleted_length = a->inserted_length = 0;
  a->deleted_count = a->inserted_count = 0;
  a->deleted_text[0] = a->inserted_text[0] = 0;
  a->last_error[0] = a->last_error[1] = -1;
  a->text_next = a->text_end = 0;
  // Codes the grammar has no terminal for map to 0. The map of the codes
  // below the grammar's terminal count is the token table's, the same for
  // every parse: the area refers to it (copying its 297 words cost a
  // twentieth of a short statement's parse).
  a->symbol_map = TokenSymbols();
  a->symbol_count = std::clamp(r.g->terminal_count, 0, kSqlTokenCount);
  const SqlCompileCtx* ctx = r.ctx;
  SqlLexReset(&a->lexer, reinterpret_cast<const uint8_t*>(ctx->single_byte_text), ctx->text,
              ctx->text_length, LexError, r.ctx);
  SqlReadToken(r);
  a->depth = 1;
  a->state[1] = kSqlStartState;
  StoreToken(r, 1, a->lookahead);
}

// Depth + 1 for a simulation; a simulated stack of 256 ends the parse too.
void SimPush(SqlParseRun& r, SqlSimStack* s) {
  if (s->depth + 1 >= kSqlParseDepth) StackFull(r);
  ++s->depth;
}

bool SimReduce(SqlParseRun& r, SqlSimStack* s, int32_t rule) {
  for (;;) {
    s->depth -= r.g->rule_length[rule];
    if (s->depth < 1) return false;
    int32_t v = SqlLookupGoto(*r.g, s->state[s->depth], rule);
    SimPush(r, s);
    if (SqlActionKindOf(v) == kSqlShift) {
      s->state[s->depth] = SqlActionTargetOf(v);
      return true;
    }
    s->state[s->depth] = 0;  // a folded state, never exposed
    rule = SqlActionTargetOf(v);
  }
}

}  // namespace

int32_t SqlTerminalOf(const SqlParseRun& r, const SqlTokenRecord& t) {
  return t.code >= 0 && t.code < r.a->symbol_count ? r.a->symbol_map[t.code] : 0;
}

void SqlReadToken(SqlParseRun& r) {
  SqlParseArea* a = r.a;
  for (;;) {
    if (a->queue_read < a->queue_count) {
      a->lookahead = a->queue[a->queue_read++];
    } else {
      SqlLexNext(&a->lexer, &a->lookahead);
    }
    if (SqlTerminalOf(r, a->lookahead) != 0) return;
    SqlSyntaxMessage(r.ctx, a->lookahead, kSqlRepairDeleted, kSqlVariantUnknownToken);
  }
}

void SqlShift(SqlParseRun& r, int32_t state) {
  Push(r);
  r.a->state[r.a->depth] = state;
  StoreToken(r, r.a->depth, r.a->lookahead);
}

void SqlReduce(SqlParseRun& r, int32_t rule) {
  // The depth, the tables and the skip flags are kept in locals: the action
  // call could change anything behind a pointer, so reading them from the
  // area after it made every reduction wait for the depth's last store. No
  // action changes the depth; each sees it lowered by the rule's length.
  SqlParseArea* a = r.a;
  const int16_t* rule_length = r.g->rule_length;
  const int16_t* lhs_column = r.g->lhs_column;
  const int32_t* goto_base = r.g->goto_base;
  const int32_t* goto_table = r.g->goto_table;
  const bool* skip = r.skip;
  const SqlGrammarAction action = r.action;
  SqlCompileCtx* ctx = r.ctx;
  int32_t depth = a->depth;
  // The state below the folded entry of a chained reduction: a unit rule of
  // the chain uncovers it again without reading the stack.
  int32_t below = -1;
  for (;;) {
    int32_t length = rule_length[rule];
    depth -= length;
    if (depth < 1) depth = 1;  // only faulty tables get here
    a->depth = depth;
    if (skip == nullptr || !skip[rule]) action(ctx, rule);
    int32_t state = length == 1 && below >= 0 ? below : a->state[depth];
    int32_t v = goto_table[goto_base[state] + lhs_column[rule]];
    if (depth + 1 >= kSqlParseDepth) StackFull(r);
    a->depth = ++depth;
    if (SqlActionKindOf(v) == kSqlShift) {
      a->state[depth] = r.current = SqlActionTargetOf(v);
      return;
    }
    a->state[depth] = 0;
    below = state;
    rule = SqlActionTargetOf(v);
  }
}

bool SqlFeedLookahead(SqlParseRun& r) {
  for (;;) {
    int32_t v = SqlLookupAction(*r.g, r.current, SqlTerminalOf(r, r.a->lookahead));
    switch (SqlActionKindOf(v)) {
      case kSqlShift:
        SqlShift(r, r.current = SqlActionTargetOf(v));
        return true;
      case kSqlShiftReduce:
        SqlShift(r, r.current);
        SqlReduce(r, SqlActionTargetOf(v));
        return true;
      case kSqlReduce:
        SqlReduce(r, SqlActionTargetOf(v));
        break;
      default:
        return false;
    }
  }
}

void SqlSimCopy(const SqlParseRun& r, SqlSimStack* s) {
  s->depth = r.a->depth;
  std::memcpy(s->state, r.a->state, sizeof(int32_t) * (static_cast<size_t>(s->depth) + 1));
  s->state[s->depth] = r.current;
}

int32_t SqlSimStep(SqlParseRun& r, SqlSimStack* s, int32_t terminal) {
  int32_t v = SqlLookupAction(*r.g, s->state[s->depth], terminal);
  switch (SqlActionKindOf(v)) {
    case kSqlShift:
      SimPush(r, s);
      s->state[s->depth] = SqlActionTargetOf(v);
      return kSqlSimShifted;
    case kSqlShiftReduce:
      SimPush(r, s);
      s->state[s->depth] = 0;
      return SimReduce(r, s, SqlActionTargetOf(v)) ? kSqlSimShifted : kSqlSimError;
    case kSqlReduce:
      return SimReduce(r, s, SqlActionTargetOf(v)) ? kSqlSimReduced : kSqlSimError;
    case kSqlAccept:
      return kSqlSimAccepted;
    default:
      return kSqlSimError;
  }
}

int32_t SqlSimFeed(SqlParseRun& r, SqlSimStack* s, int32_t terminal) {
  for (;;) {
    int32_t res = SqlSimStep(r, s, terminal);
    if (res != kSqlSimReduced) return res;
  }
}

void SqlAppendName(char* text, int32_t* length, int32_t* count, const char* name) {
  const char* add = *count < 3 ? name : *count == 3 ? "... " : "";
  ++*count;
  size_t n = std::strlen(add);
  if (*length + static_cast<int64_t>(n) + 1 > kSqlNameTextMax) return;
  std::memcpy(text + *length, add, n);
  *length += static_cast<int32_t>(n);
  if (*count <= 3) text[(*length)++] = ' ';
  text[*length] = 0;
}

void SqlParse(SqlCompileCtx* ctx, const SqlGrammarTables& tables, SqlGrammarAction action,
              const bool* skip) {
  if (ctx->work_area == nullptr || ctx->work_area_bytes < kSqlParseWorkBytes) {
    ctx->work_area = ArenaAllocAligned(&ctx->arena, kSqlParseWorkBytes);
    ctx->work_area_bytes = kSqlParseWorkBytes;
  }
  SqlParseRun r{ctx, &tables, action, skip, SqlParseAreaOf(ctx), kSqlStartState};
  try {
    Start(r);
    // The lookahead's terminal changes only where a token is read or the
    // recovery has run, not at the reductions in between.
    int32_t terminal = SqlTerminalOf(r, r.a->lookahead);
    for (;;) {
      int32_t v = SqlLookupAction(tables, r.current, terminal);
      int32_t kind = SqlActionKindOf(v);
      // A shift reads the next token; a reduction keeps the lookahead.
      if (kind == kSqlReduce) {
        SqlReduce(r, SqlActionTargetOf(v));
        continue;
      }
      if (kind == kSqlAccept) return;
      if (kind == kSqlError) {
        SqlRecover(r);
        if (r.a->depth == 0) return;
      } else if (kind == kSqlShift) {
        SqlShift(r, r.current = SqlActionTargetOf(v));
        SqlReadToken(r);
      } else if (kind == kSqlShiftReduce) {
        SqlShift(r, r.current);
        SqlReduce(r, SqlActionTargetOf(v));
        SqlReadToken(r);
      } else {
        SqlFeedLookahead(r);  // faulty tables only
        SqlReadToken(r);
      }
      terminal = SqlTerminalOf(r, r.a->lookahead);
    }
  } catch (const SqlParseAbort&) {
    r.a->depth = 0;
  }
}

SqlParseArea* SqlParseAreaOf(SqlCompileCtx* ctx) {
  return static_cast<SqlParseArea*>(ctx->work_area);
}

const char* SqlValueText(SqlCompileCtx* ctx, const SqlValueEntry& entry) {
  // Indexes count from the arena's first chunk, and a later chunk of the
  // kernel word storage may lie below it: only 0 means no text.
  if (entry.text == 0) return "";
  return reinterpret_cast<const char*>(ctx->arena.chunks + (entry.text - 1));
}

void SqlMoveValueEntry(SqlCompileCtx* ctx) {
  SqlParseArea* a = SqlParseAreaOf(ctx);
  int32_t d = a->depth;
  if (d < 0 || d + 1 >= kSqlParseDepth) return;
  SqlValueEntry& e = a->value[d + 1];
  int32_t* sem = a->semantic[d];
  sem[SEM_LINE] = e.line;
  sem[SEM_POSITION] = e.position;
  sem[SEM_TEXT_LENGTH] = e.length;
  sem[SEM_TEXT] = e.text;
  e.code = kSqlTokIdentifier;
}

void SqlSyntaxMessage(SqlCompileCtx* ctx, const SqlTokenRecord& token, int32_t kind,
                      int32_t variant) {
  SqlParseArea* a = SqlParseAreaOf(ctx);
  int32_t pos[2] = {token.line, token.position};
  a->last_error[0] = token.line;
  a->last_error[1] = token.position;
  static thread_local char text[2 * kSqlNameTextMax + 8];
  text[0] = 0;
  int32_t code = kSqlErrNoContinuation;
  switch (kind) {
    case kSqlRepairInserted:
      code = kSqlErrInserted;
      std::strcat(std::strcpy(text, "N\t"), a->inserted_text);
      break;
    case kSqlRepairDeleted:
      code = kSqlErrDeleted;
      std::strcat(std::strcpy(text, "N\t"),
                  variant == kSqlVariantUnknownToken ? "UNKNOWN_TOKEN " : a->deleted_text);
      break;
    case kSqlRepairReplaced:
      code = kSqlErrReplaced;
      std::strcat(std::strcat(std::strcpy(text, "N\t"), a->deleted_text),
                  "\xff"
                  "N\t");
      std::strcat(text, a->inserted_text);
      break;
    case kSqlRepairPopped:
      code = kSqlErrPopped;
      break;
    default:
      code = variant == kSqlVariantStackFull ? kSqlErrStackFull : kSqlErrNoContinuation;
      break;
  }
  qcerrec(ctx, pos, "QSA", code, kSevSqlError, text);
}
