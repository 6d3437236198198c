// The statement tree: statement nodes (50 words) and expression nodes (40
// words) built by the grammar actions in the current workspace block, the
// small records around them, and the list cells (value, next) with their
// utilities. Every link is a block-relative reference, 0 for none.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

constexpr int32_t kStmtNodeWords = 50;
constexpr int32_t kExprNodeWords = 40;

// Statement node words.
constexpr int32_t STN_KIND = 0;
constexpr int32_t STN_LINE = 1;
constexpr int32_t STN_POSITION = 2;
constexpr int32_t STN_FIRST_ARG = 3;
// Root node (kind 0) words.
constexpr int32_t STN_ROOT_TOP = 3;
constexpr int32_t STN_ROOT_VERSION = 14;  // the value 2
constexpr int32_t STN_ROOT_TAG = 16;      // "V8.2" and a 0 byte, words 16 and 17

// Expression node words.
constexpr int32_t EXN_LINE = 0;
constexpr int32_t EXN_POSITION = 1;
constexpr int32_t EXN_TYPE = 5;  // reference of a four-word type descriptor
constexpr int32_t EXN_KIND = 6;
constexpr int32_t EXN_DERIVATION = 7;
constexpr int32_t EXN_TYPE_CLASS = 8;
constexpr int32_t EXN_NULLABLE = 9;
constexpr int32_t EXN_TYPE_FLAG = 10;
constexpr int32_t EXN_UNSET_A = 16;  // -1 from every constructor
constexpr int32_t EXN_UNSET_B = 17;
constexpr int32_t EXN_WORD19 = 19;
constexpr int32_t EXN_COLLATION_LEVEL = 20;
constexpr int32_t EXN_COLLATION = 21;
constexpr int32_t EXN_OPERAND1 = 22;
constexpr int32_t EXN_OPERAND2 = 23;
constexpr int32_t EXN_HOST_NUMBER = 24;
constexpr int32_t EXN_WORD26 = 26;
constexpr int32_t EXN_LITERAL_TYPE = 26;  // a literal's type code

// Expression kinds the compiler itself tests.
constexpr int32_t kExprColumnRef = 27;
constexpr int32_t kExprLiteral = 29;
constexpr int32_t kExprHostParameter = 30;
constexpr int32_t kExprCast = 35;

// List cell words.
constexpr int32_t CELL_VALUE = 0;
constexpr int32_t CELL_NEXT = 1;

// --- Statement nodes -------------------------------------------------------

// The root (kind 0) over the statement's top node.
int32_t StmtRoot(SqlCompileCtx* ctx, const int32_t* position, int32_t top);
// A node of a kind with its own constructor: the arguments go to the kind's
// words (from word 3 on in argument order for the regular kinds) and the
// kind's further words are cleared. Arguments beyond the kind's count are
// ignored; missing ones count as 0.
int32_t StmtNode(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, const int32_t* args,
                 int32_t count);
// The generic constructors: any kind with the position only, or with word 3.
int32_t StmtGeneric(SqlCompileCtx* ctx, int32_t kind, const int32_t* position);
int32_t StmtGeneric3(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t word3);
// Number of arguments a kind's constructor takes (-1 for a kind without one).
int32_t StmtArgumentCount(int32_t kind);

// --- Expression nodes ------------------------------------------------------

// Generic: kind word 0 (set later), operands.
int32_t ExprGeneric(SqlCompileCtx* ctx, const int32_t* position, int32_t op1, int32_t op2);
// qqcbix: basic kinds 0 to 15 except 6 and 7 (others: internal error -19229).
int32_t qqcbix(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t op1, int32_t op2,
               int32_t word26, int32_t word19);
// qqcfnx: function kinds 16 to 20 (others: internal error -19268); word19 and
// word26 are the kind-specific words (the argument list among them).
int32_t qqcfnx(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t word19,
               int32_t word26);
// A node of the kind given, over two operands.
int32_t ExprOfKind(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t op1,
                   int32_t op2);
// A node of a fixed kind with one to five kind-specific words, given as
// (word number, value) pairs; word numbers outside the node are ignored.
struct ExprWord {
  int32_t word;
  int32_t value;
};
int32_t ExprFixed(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, const ExprWord* words,
                  int32_t count);
// A literal (kind 29): type code 8 is stored as 4, 30 as 29, 35 as 34.
int32_t ExprLiteral(SqlCompileCtx* ctx, const int32_t* position, int32_t type_code, int32_t value22,
                    int32_t value23);

// --- Small records ---------------------------------------------------------

// A record of n words (1 to 6 and 4 for the four-word node), cleared; the
// values, when given, fill it.
int32_t TreeRecord(SqlCompileCtx* ctx, int32_t words, const int32_t* values);
// A name record: two words (the values) and the name of up to 128 characters
// with its terminator, 36 words in all.
int32_t TreeNameRecord(SqlCompileCtx* ctx, int32_t word0, int32_t word1, const char* name,
                       int32_t length);
// A counted text copy: n bytes and a terminating 0 (n below 0 counts as 0).
int32_t TreeTextCopy(SqlCompileCtx* ctx, const char* text, int32_t n);
// A counted record copy: a length word, the bytes and a 0 byte.
int32_t TreeCountedCopy(SqlCompileCtx* ctx, const char* bytes, int32_t n);
// Eight words 8-byte aligned (double values).
int32_t TreeDoubleRecord(SqlCompileCtx* ctx);
// A 15-word record whose words 1 to 13 copy a 13-word argument; words 0 and
// 14 are cleared.
int32_t TreeRecord15(SqlCompileCtx* ctx, const int32_t* thirteen);
// A predicate node (10 words) of kinds 0 to 5: word 0 the kind, words 3 to 5
// the arguments; kinds 3 to 5 set word 2 to -1. Kind 2 (a select item with an
// alias) puts in word 3 instead an expression node of kind 34 over the first
// argument, whose type (word 5) is a new four-word record.
int32_t PredicateNode(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t a,
                      int32_t b, int32_t c);
// Join nodes (16 words): the leaf form (word 0 = 0) with three argument words
// in 11 to 13, and the join form (word 0 = 1) with the join type, its two
// operands (swapped for type 2) and the condition.
int32_t JoinLeaf(SqlCompileCtx* ctx, int32_t a, int32_t b, int32_t c);
int32_t JoinNode(SqlCompileCtx* ctx, int32_t join_type, int32_t left, int32_t right,
                 int32_t condition);

// --- Names -----------------------------------------------------------------

// A name part (4 words): position, then the references of a name and of its
// qualifier (zero-terminated texts, 0 when absent).
int32_t NamePart(SqlCompileCtx* ctx, const int32_t* position, int32_t name, int32_t qualifier);
// A qualified-name node (4 words): position, then its first and second part.
int32_t QualifiedNameNode(SqlCompileCtx* ctx, const int32_t* position, int32_t first,
                          int32_t second);
// The four names of a qualified-name node: name and qualifier of the first
// part, name and qualifier of the second; each empty when absent.
struct QualifiedName {
  char name[4][129];
};
void qqnamget(SqlCompileCtx* ctx, int32_t node, QualifiedName* out);

// --- Lists -------------------------------------------------------------------

int32_t qqlcons(SqlCompileCtx* ctx, int32_t list, int32_t value);
void qqwlst(SqlCompileCtx* ctx, int32_t cell, int32_t next, int32_t value);
int32_t qqllen(SqlCompileCtx* ctx, int32_t list);
int32_t qqlnth(SqlCompileCtx* ctx, int32_t list, int32_t n);
int32_t qqlpos(SqlCompileCtx* ctx, int32_t list, int32_t value);
int32_t qqlrev(SqlCompileCtx* ctx, int32_t list);
int32_t qqlcat(SqlCompileCtx* ctx, int32_t list1, int32_t list2);
