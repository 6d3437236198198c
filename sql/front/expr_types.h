// Expression typing of the semantic walk: the type model (classes, the
// conversion matrix, arithmetic and common result types, the binary
// operators), the values that enter a statement from outside its text
// (literals, host variables, parameter markers, untyped operands), the
// collation rules and reference checks, and the typing of functions,
// aggregates, predicates, CASE and CAST.
//
// The walk calls qmtypexpr for every expression node when it leaves it (its
// operands typed); the other entries are the services the walk's own rules
// share (common types of set operations, derivation classes, name display,
// grouping checks). Every routine writes the node's type descriptor (word 5),
// type class (8), nullable flag (9), non-negative flag (10) and derivation
// class (7). User errors carry tag "QME", severity 3, and leave the node with
// class 0, so that one statement reports several of them.
#pragma once

#include <cstdint>

#include "sql/front/sem_walk.h"

struct SqlCompileCtx;
struct SemContext;

// ---- Expression node words used by the typing (beyond stmt_tree.h's) --------
constexpr int32_t EXN_NON_NEGATIVE = 10;  // 1 when the value is known not to be negative
constexpr int32_t EXN_COLUMNS = 12;       // list of the column references the value reads
constexpr int32_t EXN_DOMAIN = 13;        // domain identifier of a column or CAST, 0 none
// A routine call's routine identifier (kind 98).
constexpr int32_t EXN_ROUTINE_ID = 25;
// A sequence value reference's sequence identifier (kind 75).
constexpr int32_t EXN_SEQUENCE_ID = 24;

// Type descriptor words (four words, a workspace record).
constexpr int32_t TD_CODE = 0;
constexpr int32_t TD_LENGTH = 1;
constexpr int32_t TD_SCALE = 2;
constexpr int32_t TD_VARIANT = 3;

// Type classes beyond the type codes' own.
constexpr int32_t kClassNone = 0;
constexpr int32_t kClassNumeric = 5;
constexpr int32_t kClassCharacter = 4;
constexpr int32_t kClassTruth = 6;
constexpr int32_t kClassUntyped = 7;
constexpr int32_t kClassYearMonth = 26;
constexpr int32_t kClassDayTime = 27;
constexpr int32_t kClassBinary = 29;
constexpr int32_t kClassNational = 34;

// Numeric variants (the spelling of a numeric type).
constexpr int32_t kVariantInteger = 201;
constexpr int32_t kVariantSmallint = 202;
constexpr int32_t kVariantReal = 204;
constexpr int32_t kVariantDouble = 205;
constexpr int32_t kVariantNumeric = 207;
constexpr int32_t kVariantBigint = 208;

// Untyped-operand default modes.
constexpr int32_t kUntypedNone = 0;
constexpr int32_t kUntypedCharacter = 1;
constexpr int32_t kUntypedNumeric = 2;
constexpr int32_t kUntypedInteger = 3;

// What typing notes in the compile context for the later phases; cleared
// with every new workspace (each attempt). The host-variable nodes, in
// ascending number, are the compile context's parameter_list.
struct SqlTypingState {
  int32_t constant_bytes = 0;  // storage the literals need at run time
  int32_t like_list = 0;       // the LIKE predicates
  int32_t trim_default = 0;    // a TRIM without a trim character was met
  int32_t needs_date = 0;      // a CAST from TIME to TIMESTAMP (the date at run time)
  int32_t null_cast = 0;       // a CAST of the null literal was met
  int32_t null_cast_length = 0;
  int32_t register_marks[4] = {0, 0, 0, 0};  // special registers met (selectors 0/1, 2, 3, 4)
  int32_t leaf = 0;  // CURRENT_DATE, CURRENT_TIME or CURRENT_TIMESTAMP met
};

// ---- Type model ---------------------------------------------------------------

// qmcnvchk: 1 when a value of the source code converts to the target code.
int32_t qmcnvchk(int32_t target, int32_t source);
// qmtypcls: the type class of a type code (0 for a code without one).
int32_t qmtypcls(int32_t code);
// qmsamecls: 1 when values of the two classes may be compared.
int32_t qmsamecls(int32_t a, int32_t b);
// The derivation class of a node over operands of derivation classes a and b
// (a unary node: qmderclass(x, x)).
int32_t qmderclass(int32_t a, int32_t b);
// qmnchcast: a CAST node over the operand turning CHAR into NCHAR or back;
// a CHAR or VARCHAR operand longer than 5000 characters comes back unchanged.
int32_t qmnchcast(SqlCompileCtx* ctx, int32_t operand);
// qmarithtype: the result descriptor of operator 1 to 4 (+ - * /) over two
// descriptors, 0 when there is none. A division whose scale would be negative
// reports -12266 at `node` and gives 0.
int32_t qmarithtype(SqlCompileCtx* ctx, int32_t node, int32_t op, int32_t a, int32_t b);
// qmintvspan: the interval code spanning both, 0 when they do not combine.
int32_t qmintvspan(int32_t a, int32_t b);
// qmcommontype: the common type of two descriptors (set operations, CASE
// results): a new descriptor and its class.
void qmcommontype(SqlCompileCtx* ctx, int32_t a, int32_t b, int32_t* out, int32_t* out_class,
                  int32_t keep_variant);
// qmbinop: kinds 1 to 5, 8, 9 and 10 to 15.
void qmbinop(SqlCompileCtx* ctx, int32_t node);

// ---- Literals, host variables, parameter markers --------------------------------

// qmaval: a literal (kind 29).
void qmaval(SqlCompileCtx* ctx, int32_t node);
// The constant-area bytes a typed literal needs at run time.
int32_t qmlitbytes(SqlCompileCtx* ctx, int32_t node);
// qmahos: a host variable or parameter marker (kind 30), entered in the host
// list.
void qmahos(SqlCompileCtx* ctx, int32_t node, const SemContext* sem);
// qmuntyped: gives an untyped side of a pair the other side's type, or the
// mode's default; then the collation step (operation 52).
void qmuntyped(SqlCompileCtx* ctx, int32_t op, int32_t left, int32_t right, int32_t mode);
// qmhostretype and qmsettype: the retyping of host variables in compile mode 1.
void qmhostretype(SqlCompileCtx* ctx, int32_t op, int32_t left, int32_t right);
void qmsettype(SqlCompileCtx* ctx, int32_t host, int32_t model);

// ---- Collation and reference checks ---------------------------------------------

// Bytes of a buffer that holds any name qmrefname composes.
constexpr int32_t kRefNameBytes = 1024;
// qmcoll: operations -15, 10, 21 (comparison), 5, 49 (concatenation), 19,
// 41, 50, 52 (inherit); b may be 0. Another operation is internal error
// -19257.
void qmcoll(SqlCompileCtx* ctx, int32_t node, int32_t op, int32_t a, int32_t b);
// qmrefname: the display text of a name node (mode 0, 1), a qualified-name
// node (2) or a column reference (3); empty for another mode or link 0.
void qmrefname(SqlCompileCtx* ctx, int32_t mode, int32_t link, char out[kRefNameBytes]);
// qmnamefmt: a name node's text, and "@" with its second part when present.
void qmnamefmt(SqlCompileCtx* ctx, char out[kRefNameBytes], int32_t name);
// qmsamecol: 1 when both column references have the same table reference and
// plain name.
int32_t qmsamecol(SqlCompileCtx* ctx, int32_t a, int32_t b);
// qmcolname: 1 when the column reference is unqualified and named `name`.
int32_t qmcolname(SqlCompileCtx* ctx, int32_t column, const char* name);
// qmduplcol: 1 when a column reference like `column` stands in the list
// before the cell `end`.
int32_t qmduplcol(SqlCompileCtx* ctx, int32_t list, int32_t end, int32_t column);
// qmnamchk: a sequence value reference (kind 75); 1 when the sequence exists.
int32_t qmnamchk(SqlCompileCtx* ctx, int32_t node);
// qmgroupchk: the derivation class, list of columns and grouping checks of a
// bound column reference. `level` is the query level its table reference
// belongs to; `defining` the expression a merged view's column stands for (0
// for a plain column).
void qmgroupchk(SqlCompileCtx* ctx, int32_t column, int32_t level, int32_t defining,
                SemContext* sem);

// ---- Functions, predicates, CASE, CAST --------------------------------------------

// qmtypexpr: types the node by its kind: every kind the walk hands over but
// the column reference (27, bound by the walk, then qmgroupchk); the wrapper
// (34) and the WHEN arm (37) get the walk's own rules here. Returns the node's kind afterwards:
// OVERLAPS is rewritten into an OR or AND tree (kind 9 or 8), or 0 on an
// error; the walk walks a rewritten node again.
int32_t qmtypexpr(SqlCompileCtx* ctx, int32_t node, SemContext* sem);

// The routines qmtypexpr dispatches to, one per group of kinds.
void qmunary(SqlCompileCtx* ctx, int32_t node);                     // 6, 7, 24, 25, 38-42, 48, 53, 61, 71-74, 76, 77
void qmpredicate(SqlCompileCtx* ctx, int32_t node);                 // 21, 22, 23
int32_t qmoverlaps(SqlCompileCtx* ctx, int32_t node);               // 96
void qmstrfunc(SqlCompileCtx* ctx, int32_t node);                   // 43, 44, 49-52, 63
void qmnumfunc(SqlCompileCtx* ctx, int32_t node);                   // 64-70, 80-95
void qmsetfunc(SqlCompileCtx* ctx, int32_t node, SemContext* sem);  // 16-20
void qmextract(SqlCompileCtx* ctx, int32_t node);                   // 62
void qmcase(SqlCompileCtx* ctx, int32_t node);                      // 36
void qmcast(SqlCompileCtx* ctx, int32_t node);                      // 35
void qmroutine(SqlCompileCtx* ctx, int32_t node);                   // 98
void qmassign(SqlCompileCtx* ctx, int32_t node, SemContext* sem);   // 0
void qmsmall(SqlCompileCtx* ctx, int32_t node);                     // 26, 31, 32, 97
