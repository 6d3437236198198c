// Syntax error recovery of the SQL parser driver: first the cheapest single
// insertion, replacement or deletion that lets the next tokens parse (tried
// on copies of the state stack), else phrase recovery: the continuation
// tokens that lead to a state taking the error token, skipped tokens, or
// states popped back to one that takes a synchronising token.
#include <cstring>

#include "sql/front/compile_diag.h"
#include "sql/front/sql_parse_steps.h"
#include "sql/front/sql_token_table.h"

namespace {

constexpr int32_t kTrialTokens = 5;
constexpr int32_t kNoRepair = 25;
constexpr int32_t kLocalLimit = 10;
// Continuations lead to the end of input from every state's access path; the
// bound (actions taken) only guards a search on another path.
constexpr int32_t kSearchSteps = 4 * kSqlParseDepth;

enum Choice { kChoiceNone, kChoiceInsert, kChoiceReplace, kChoiceDelete };

bool Expected(SqlParseRun& r, int32_t terminal) {
  SqlSimStack s;
  SqlSimCopy(r, &s);
  return SqlSimFeed(r, &s, terminal) != kSqlSimError;
}

bool ExpectedOn(SqlParseRun& r, const SqlSimStack& from, int32_t terminal) {
  SqlSimStack s = from;
  return SqlSimFeed(r, &s, terminal) != kSqlSimError;
}

// Queue: the error token at 0, then up to five more, ending after the end.
void FillQueue(SqlParseRun& r) {
  SqlParseArea* a = r.a;
  int32_t unread = a->queue_count - a->queue_read;
  for (int32_t i = 0; i < unread; ++i) a->queue[1 + i] = a->queue[a->queue_read + i];
  a->queue[0] = a->lookahead;
  a->queue_count = 1 + unread;
  a->queue_read = a->queue_count;
  while (a->queue_count < kSqlLookaheadTokens && a->queue[a->queue_count - 1].code != kSqlTokEnd) {
    SqlReadToken(r);
    a->queue[a->queue_count++] = a->lookahead;
    a->queue_read = a->queue_count;
  }
  a->lookahead = a->queue[0];
}

int32_t QueueTerminal(SqlParseRun& r, int32_t i) {
  return i < r.a->queue_count ? SqlTerminalOf(r, r.a->queue[i]) : kSqlTokEnd;
}

// (5 - tokens shifted) x 5 for the candidate followed by the queue from
// `from`; accepting counts as five tokens.
int32_t Trial(SqlParseRun& r, int32_t candidate, int32_t from) {
  SqlSimStack s;
  SqlSimCopy(r, &s);
  int32_t shifted = 0;
  int32_t t = candidate;
  for (int32_t i = from; shifted < kTrialTokens; t = QueueTerminal(r, i++)) {
    int32_t res = SqlSimFeed(r, &s, t);
    if (res == kSqlSimError) break;
    if (res == kSqlSimAccepted) {
      shifted = kTrialTokens;
      break;
    }
    ++shifted;
  }
  return (kTrialTokens - shifted) * 5;
}

const char* InsertedName(int32_t terminal) {
  return terminal == kSqlTokEnd ? "END_OF_QUERY" : SqlTokenEntry(terminal).display;
}

void NoteInserted(SqlParseArea* a, int32_t terminal) {
  SqlAppendName(a->inserted_text, &a->inserted_length, &a->inserted_count, InsertedName(terminal));
  a->recovery_state =
      a->recovery_state == kSqlRepairDeleted || a->recovery_state == kSqlRepairReplaced
          ? kSqlRepairReplaced
          : kSqlRepairInserted;
}

void NoteDeleted(SqlParseArea* a, const SqlTokenRecord& t) {
  const char* name = t.code == kSqlTokUnknown ? "UNKNOWN_TOKEN" : SqlTokenEntry(t.code).display;
  SqlAppendName(a->deleted_text, &a->deleted_length, &a->deleted_count, name);
  a->recovery_state =
      a->recovery_state == kSqlRepairInserted || a->recovery_state == kSqlRepairReplaced
          ? kSqlRepairReplaced
          : kSqlRepairDeleted;
}

// A token of the terminal with its insertion text, at the error token's place.
void MakeInserted(SqlParseRun& r, int32_t terminal, SqlTokenRecord* t) {
  const char* text = SqlTokenEntry(terminal).insertion;
  size_t n = std::strlen(text);
  n = n >= 2 ? n - 2 : 0;  // without its quotes
  t->code = terminal;
  t->line = r.a->error_token.line;
  t->position = r.a->error_token.position;
  t->length = static_cast<int32_t>(n);
  std::memcpy(t->text, text + (n > 0 || text[0] == '\'' ? 1 : 0), n);
  t->text[n] = 0;
}

// Step 3: the best single-token repair, applied; false when none is cheap.
bool LocalRepair(SqlParseRun& r) {
  SqlParseArea* a = r.a;
  bool expected[kSqlTokenCount] = {};
  for (int32_t t = 1; t < r.g->terminal_count && t < kSqlTokenCount; ++t) {
    expected[t] = Expected(r, t);
  }
  FillQueue(r);
  int32_t error = SqlTerminalOf(r, a->error_token);
  int32_t del = SqlTokenEntry(error).deletion_cost;
  int32_t best = kNoRepair;
  Choice choice = kChoiceNone;
  int32_t chosen = 0;
  for (int32_t t = 1; t < kSqlTokenCount; ++t) {
    int32_t ins = SqlTokenEntry(t).insertion_cost;
    if (!expected[t] || ins >= best) continue;
    int32_t cost = Trial(r, t, 0) + ins;
    if (cost < best) best = cost, choice = kChoiceInsert, chosen = t;
  }
  for (int32_t t = 1; t < kSqlTokenCount; ++t) {
    int32_t base = (del + SqlTokenEntry(t).insertion_cost) / 2 + 1;
    if (!expected[t] || base >= best) continue;
    int32_t cost = Trial(r, t, 1) + base;
    if (cost < best) best = cost, choice = kChoiceReplace, chosen = t;
  }
  // The end token is never deleted: nothing would follow it.
  if (error != kSqlTokEnd && del < best) {
    int32_t cost = Trial(r, QueueTerminal(r, 1), 2) + del;
    if (cost < best) best = cost, choice = kChoiceDelete;
  }
  if (choice == kChoiceNone || best > kLocalLimit) {
    a->queue_read = 1;  // the lookahead is the error token; the rest follows
    return false;
  }
  if (choice != kChoiceInsert) {
    NoteDeleted(a, a->error_token);
    a->queue_read = 1;
  } else {
    a->queue_read = 0;  // the error token follows the inserted one
  }
  if (choice == kChoiceDelete) {
    SqlReadToken(r);
  } else {
    NoteInserted(a, chosen);
    MakeInserted(r, chosen, &a->lookahead);
  }
  return true;
}

// The continuation search from the current state: at each state the action
// of its continuation terminal (or of the alternative, when that lets the
// error token in), one action a step, so that after a reduction the exposed
// state's own continuation is followed; the path holds the terminal of each
// step. A path of reductions alone never lets the error token in: the tables
// refused it in the state those reductions start from (an explicit error
// entry, as a non-associative operator makes), and a repair that inserts
// nothing would let that error pass unreported. 1 found, 0 not found, -1 a
// continuation ran into an error.
int32_t Search(SqlParseRun& r, int32_t error, int32_t* path, int32_t* length) {
  SqlSimStack s;
  SqlSimCopy(r, &s);
  *length = 0;
  bool inserted = false;
  for (int32_t step = 0; step < kSearchSteps; ++step) {
    if ((step == 0 || inserted) && ExpectedOn(r, s, error)) return 1;
    int32_t state = s.state[s.depth];
    int32_t c = r.g->continuation[state];
    int32_t alt = r.g->alternative[state];
    if (c < 1 || c >= r.g->terminal_count) return -1;
    if (alt >= 1 && alt < r.g->terminal_count && alt != c &&
        SqlLookupAction(*r.g, state, alt) != SqlLookupAction(*r.g, state, c)) {
      SqlSimStack t = s;
      int32_t res = SqlSimStep(r, &t, alt);
      if ((res == kSqlSimShifted || (res == kSqlSimReduced && inserted)) &&
          ExpectedOn(r, t, error)) {
        path[(*length)++] = alt;
        return 1;
      }
    }
    int32_t res = SqlSimStep(r, &s, c);
    if (res == kSqlSimError) return -1;
    if (res == kSqlSimAccepted) return 0;
    inserted = inserted || res == kSqlSimShifted;
    path[(*length)++] = c;
  }
  return 0;
}

// Takes the path's actions again on the real stacks, the grammar actions
// running: a shift inserts a token of its terminal, a reduction inserts none.
void InsertPath(SqlParseRun& r, const int32_t* path, int32_t length) {
  SqlParseArea* a = r.a;
  for (int32_t i = 0; i < length; ++i) {
    int32_t v = SqlLookupAction(*r.g, r.current, path[i]);
    int32_t kind = SqlActionKindOf(v);
    if (kind == kSqlReduce) {
      SqlReduce(r, SqlActionTargetOf(v));
      continue;
    }
    if (kind != kSqlShift && kind != kSqlShiftReduce) break;  // faulty tables only
    MakeInserted(r, path[i], &a->lookahead);
    NoteInserted(a, path[i]);
    if (kind == kSqlShift) {
      SqlShift(r, r.current = SqlActionTargetOf(v));
    } else {
      SqlShift(r, r.current);
      SqlReduce(r, SqlActionTargetOf(v));
    }
  }
  a->lookahead = a->error_token;
}

// Step 4. False when the parse ends.
bool PhraseRecovery(SqlParseRun& r) {
  SqlParseArea* a = r.a;
  static thread_local int32_t path[kSearchSteps];
  for (;;) {
    int32_t t = SqlTerminalOf(r, a->lookahead);
    a->error_token = a->lookahead;
    // The end token is always searched for, since it cannot be skipped.
    if (t == kSqlTokEnd || !SqlTerminalIn(r.g->never_search, t)) {
      int32_t length = 0;
      int32_t found = Search(r, t, path, &length);
      if (found > 0) {
        InsertPath(r, path, length);
        return true;
      }
      if (found < 0) {
        SqlSyntaxMessage(r.ctx, a->error_token, kSqlRepairFatal, kSqlVariantNoContinuation);
        a->depth = 0;
        return false;
      }
    }
    if (SqlTerminalIn(r.g->sync, t)) {
      SqlSimStack s;
      SqlSimCopy(r, &s);
      for (int32_t d = a->depth; d >= 1; --d) {
        s.depth = d;
        if (ExpectedOn(r, s, t)) {
          a->depth = d;
          r.current = a->state[d];
          a->recovery_state = kSqlRepairPopped;
          return true;
        }
      }
    }
    if (t == kSqlTokEnd) {
      SqlSyntaxMessage(r.ctx, a->error_token, kSqlRepairFatal, kSqlVariantNoContinuation);
      a->depth = 0;
      return false;
    }
    NoteDeleted(a, a->lookahead);
    SqlReadToken(r);
  }
}

}  // namespace

void SqlRecover(SqlParseRun& r) {
  SqlParseArea* a = r.a;
  a->error_token = a->lookahead;
  a->recovery_state = kSqlRepairNone;
  a->message_words[0] = a->message_words[1] = 2;
  SqlTokenRecord* error = &a->error_token;
  if (!LocalRepair(r)) {
    if (!PhraseRecovery(r)) return;
    error = &a->queue[0];  // the token at which the error was found
  }
  if (a->recovery_state != kSqlRepairNone) SqlSyntaxMessage(r.ctx, *error, a->recovery_state, 0);
  a->message_token = *error;
  if (a->deleted_count > 1 &&
      (a->lookahead.line != a->last_error[0] || a->lookahead.position != a->last_error[1])) {
    int32_t pos[2] = {a->lookahead.line, a->lookahead.position};
    qcerrec(r.ctx, pos, "QSA", kSqlWarnSkipped, kSevWarning, "");
  }
  a->deleted_text[0] = a->inserted_text[0] = 0;
  a->deleted_length = a->inserted_length = 0;
  a->deleted_count = a->inserted_count = 0;
}
