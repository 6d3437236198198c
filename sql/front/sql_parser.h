// The SQL parser driver: an LALR(1) parse over the tables hb_lalr_gen --sql
// writes, pulling tokens from the SQL lexer and calling the grammar action of
// every reduction; on a syntax error it repairs the input (one inserted,
// replaced or deleted token, else continuation tokens, skipped tokens and
// popped states) and reports each repair through the compiler diagnostics.
#pragma once

#include <cstdint>

#include "sql/front/compile_context.h"
#include "sql/front/sql_grammar_tables.h"
#include "sql/front/sql_lexer.h"

// The parser stack holds at most 255 states; a push to depth 256 ends the
// parse with -11113.
constexpr int32_t kSqlParseDepth = 256;
constexpr int32_t kSqlSemanticWords = 54;
constexpr int32_t kSqlLookaheadTokens = 6;
constexpr int32_t kSqlNameTextMax = 15000;
// Words of the parser area that belong to the grammar actions (their NOT
// stack and statement scratch words, sql_action_words.h).
constexpr int32_t kSqlActionScratchWords = 320;

// Syntax error codes (tag "QSA"; severity 3, the warning 1).
constexpr int32_t kSqlErrInserted = -12101;
constexpr int32_t kSqlErrDeleted = -12102;
constexpr int32_t kSqlErrReplaced = -12103;
constexpr int32_t kSqlErrPopped = -12104;
constexpr int32_t kSqlErrNoContinuation = -12106;
constexpr int32_t kSqlWarnSkipped = -12107;
constexpr int32_t kSqlErrStackFull = -11113;

// Message kinds of SqlSyntaxMessage, and the recovery states of the same
// numbers.
enum SqlRepairKind : int32_t {
  kSqlRepairNone = 0,
  kSqlRepairInserted = 1,
  kSqlRepairDeleted = 2,
  kSqlRepairReplaced = 3,
  kSqlRepairPopped = 4,
  kSqlRepairFatal = 5,  // variant 3: stack full; any other: no continuation
};
constexpr int32_t kSqlVariantUnknownToken = 1;
constexpr int32_t kSqlVariantStackFull = 3;
constexpr int32_t kSqlVariantNoContinuation = 4;

// A token as the value stack keeps it: five words, the last the arena word
// index of a zero-terminated copy of its text (0 for an empty text).
struct SqlValueEntry {
  int32_t code;
  int32_t line;
  int32_t position;
  int32_t length;
  int32_t text;
};

// Words of a semantic record the driver fills for a shifted token.
constexpr int32_t SEM_LINE = 0;
constexpr int32_t SEM_POSITION = 1;
constexpr int32_t SEM_TEXT_LENGTH = 12;
constexpr int32_t SEM_TEXT = 13;

// The parser's layout of the compile context's work area.
struct SqlParseArea {
  SqlLexer lexer;
  int32_t depth;  // top of the stacks, 0 when empty
  int32_t state[kSqlParseDepth];
  SqlValueEntry value[kSqlParseDepth];
  // The grammar actions' records: the right-hand side of a rule of length n
  // reduced at depth d is at d + 1 .. d + n, its result goes to d + 1.
  int32_t semantic[kSqlParseDepth][kSqlSemanticWords];
  // Lexer code to terminal for the codes below symbol_count; the codes from
  // symbol_count on (the grammar has no terminal for them) map to 0.
  const int32_t* symbol_map;
  int32_t symbol_count;
  SqlTokenRecord lookahead;
  SqlTokenRecord queue[kSqlLookaheadTokens];  // the error token and the tokens after it
  int32_t queue_read;
  int32_t queue_count;
  SqlTokenRecord error_token;
  SqlTokenRecord message_token;
  int32_t recovery_state;  // SqlRepairKind 0 .. 4
  int32_t message_words[2];
  char deleted_text[kSqlNameTextMax + 1];
  char inserted_text[kSqlNameTextMax + 1];
  int32_t deleted_length, inserted_length;
  int32_t deleted_count, inserted_count;  // names appended
  int32_t last_error[2];                  // line and position of the last report
  // The block the token texts are copied into: arena word indexes of its
  // next free word and of its end.
  int32_t text_next, text_end;
  int32_t action_scratch[kSqlActionScratchWords];
};

// Called at every reduction with the rule number, after the depth has been
// lowered by the rule's length.
using SqlGrammarAction = void (*)(SqlCompileCtx* ctx, int32_t rule);

// Bytes the parser needs of the work area.
constexpr int32_t kSqlParseWorkBytes = static_cast<int32_t>(sizeof(SqlParseArea));

// Parses the statement in ctx->single_byte_text (ctx->text is the same text
// in 3 bytes a character). Returns when the statement is accepted, when a
// recovery leaves the stack empty, or after the stack overflowed. Takes the
// work area from the arena when the context has none large enough. `skip`,
// when given (one flag per rule of the tables), names the rules whose action
// does nothing: the driver does not call it for them.
void SqlParse(SqlCompileCtx* ctx, const SqlGrammarTables& tables, SqlGrammarAction action,
              const bool* skip = nullptr);

// The parse area in the context's work area.
SqlParseArea* SqlParseAreaOf(SqlCompileCtx* ctx);
// The text of a value entry ("" for none).
const char* SqlValueText(SqlCompileCtx* ctx, const SqlValueEntry& entry);
// For the grammar actions: copies line, position, text length and text of the
// value entry above the top into the semantic record of the top, and marks
// that entry's code 2.
void SqlMoveValueEntry(SqlCompileCtx* ctx);
// Reports a syntax error at the token (kinds and variants above).
void SqlSyntaxMessage(SqlCompileCtx* ctx, const SqlTokenRecord& token, int32_t kind,
                      int32_t variant);
