// The SQL lexer: the statement's single-byte text to the parser's tokens, by
// the automaton that hb_lex_gen builds from sql_tokens.lex, a keyword probe for
// identifiers and one normalising step per literal kind. Its state is plain
// data, kept in the parser's work area; errors go to a report hook.
#pragma once

#include <cstdint>

// Token codes the lexer and the parser's token table share.
enum SqlTokenCode : int32_t {
  kSqlTokUnknown = 0,
  kSqlTokEnd = 1,
  kSqlTokIdentifier = 2,
  kSqlTokString = 3,
  kSqlTokHexString = 4,
  kSqlTokInteger = 5,
  kSqlTokDecimal = 6,
  kSqlTokFloat = 7,
  kSqlTokHostIdentifier = 8,
  kSqlTokFirstReserved = 9,
  kSqlTokLastReserved = 98,
  kSqlTokSeparator = 253,
  kSqlTokNationalString = 291,
  kSqlTokUnicodeString = 292,
  kSqlTokLastToken = 296,  // codes above are separators, never returned
  kSqlTokWhiteSpace = 297,
  kSqlTokComment = 298,
};
constexpr int32_t kSqlTokenCount = 297;  // codes 0 .. 296 reach the parser

// Characters of one token the lexer keeps (more are consumed, not kept), and
// bytes of a normalised token text.
constexpr int32_t kSqlTokenTextMax = 30002;
constexpr int32_t kSqlLiteralMax = 15000;
constexpr int32_t kSqlRegularNameMax = 129;
constexpr int32_t kSqlDelimitedNameMax = 128;

// Lexical errors (tag "QSA", severity 3, at the token).
constexpr int32_t kSqlErrWideInLiteral = -12109;
constexpr int32_t kSqlErrWideInName = -12110;
constexpr int32_t kSqlErrLiteralTooLong = -12121;
constexpr int32_t kSqlErrNumberTooLong = -12122;
constexpr int32_t kSqlErrBadHex = -12124;
constexpr int32_t kSqlErrZeroInName = -12126;

// Literal kinds a token has, and that a following string segment continues.
enum SqlLiteralFlag : int32_t {
  kSqlLitHex = 1,
  kSqlLitNational = 2,
  kSqlLitUnicode = 4,
};

// One token as the parser reads it: code, line (always 1), character position
// of its first character, and its normalised text (length bytes, then a zero).
struct SqlTokenRecord {
  int32_t code;
  int32_t line;
  int32_t position;
  int32_t length;
  char text[kSqlLiteralMax + 1];
};

// Receives a lexical error at a token's line and position.
using SqlLexReport = void (*)(void* sink, int32_t code, int32_t line, int32_t position);

struct SqlLexer {
  const uint8_t* text;  // one byte a character; characters above 255 read 191
  const uint8_t* wide;  // the same text, 3 bytes a character (null: as `text`)
  int32_t length;       // characters
  int32_t read;         // index of the current character
  int32_t ch;           // the current character
  int32_t line;
  int32_t position;  // characters consumed since the start of the text
  bool end;          // input exhausted, or a separator returned
  int32_t consumed;  // characters of the current token
  int32_t kept;      // of which kept in token_text
  char token_text[kSqlTokenTextMax + 1];
  int32_t flags;           // SqlLiteralFlag of the current token
  int32_t previous_flags;  // of the token before it
  SqlLexReport report;
  void* sink;
};

// Starts a text: line 1, position 0, no flags; an empty text is at its end.
void SqlLexReset(SqlLexer* lx, const uint8_t* text, const uint8_t* wide, int32_t length,
                 SqlLexReport report, void* sink);
// Fills the record with the next token that is not white space or a comment;
// code 1 at the end of the text and after a statement separator.
void SqlLexNext(SqlLexer* lx, SqlTokenRecord* token);

// The keyword code of an upper-case text, or 0 when it is no keyword.
int32_t SqlKeywordCode(const char* text, int32_t length);
// The name sql_tokens.lex gives a code (a keyword's text, a punctuation's
// characters, a class name such as "IDENTIFIER"); "" outside 0 .. 298.
const char* SqlTokenName(int32_t code, int32_t* length);
