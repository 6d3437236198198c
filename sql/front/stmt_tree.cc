// Statement tree constructors: statement nodes placed by a table of kinds,
// expression nodes, small records and join nodes, all allocated with qqwsal in
// the current block; list cells and their utilities, whose walks are bounded
// by the workspace so that a damaged (cyclic) list cannot hold them forever.
#include "sql/front/stmt_tree.h"

#include <cstring>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"

namespace {

// Placement of the statement kinds that do not simply fill words 3 on.
struct Placement {
  int32_t kind;
  int8_t words[8];     // target word per argument, in argument order
  int8_t cleared[16];  // words cleared (0 ends)
};

constexpr Placement kPlacements[] = {
    {3, {3, 4, 5, 6, 9}, {7, 8, 10}},
    {7, {3, 4, 7, 5, 6, 8}, {}},
    {21, {3, 4, 5, 7}, {6}},
    {22, {4, 5}, {3, 6}},
    {23, {4, 6}, {3, 5}},
    {24, {4, 5, 6}, {3, 7, 8, 9}},
    {25, {4, 5, 7}, {3, 6, 8, 9}},
    {26, {3, 4, 5}, {6, 7, 8}},
    {27, {3, 4, 6, 7}, {5}},
    {28, {3, 4, 6, 8, 11, 12, 13, 5}, {7, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26}},
};

// Argument counts of the regular kinds (words 3 on), -1 for none.
int32_t RegularCount(int32_t kind) {
  switch (kind) {
    case 1:
    case 10:
      return 8;
    case 2:
    case 5:
    case 6:
    case 12:
    case 13:
    case 16:
    case 17:
    case 18:
    case 34:
    case 37:
    case 39:
      return 4;
    case 4:
    case 9:
    case 11:
    case 33:
    case 47:
      return 2;
    case 8:
    case 14:
    case 15:
    case 35:
    case 36:
      return 3;
    case 19:
    case 20:
    case 38:
      return 5;
    case 32:
      return 1;
    case 43:
      return 7;
    case 29:
    case 30:
    case 31:
      return 0;
    default:
      return -1;
  }
}

const Placement* PlacementOf(int32_t kind) {
  for (const Placement& p : kPlacements) {
    if (p.kind == kind) return &p;
  }
  return nullptr;
}

int32_t* Words(SqlCompileCtx* ctx, int32_t reference) {
  return reinterpret_cast<int32_t*>(qqwsadr(ctx, reference));
}

int32_t NewCleared(SqlCompileCtx* ctx, int32_t words) {
  int32_t r = qqwsal(ctx, words * 4);
  std::memset(qqwsadr(ctx, r), 0, static_cast<size_t>(words) * 4);
  return r;
}

void SetPosition(int32_t* node, int32_t line_word, const int32_t* position) {
  if (position == nullptr) return;
  node[line_word] = position[0];
  node[line_word + 1] = position[1];
}

int32_t NewStmt(SqlCompileCtx* ctx, int32_t kind, const int32_t* position) {
  int32_t r = NewCleared(ctx, kStmtNodeWords);
  int32_t* n = Words(ctx, r);
  n[STN_KIND] = kind;
  SetPosition(n, STN_LINE, position);
  return r;
}

int32_t NewExpr(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t op1,
                int32_t op2) {
  int32_t r = NewCleared(ctx, kExprNodeWords);
  int32_t* n = Words(ctx, r);
  SetPosition(n, EXN_LINE, position);
  n[EXN_KIND] = kind;
  n[EXN_NULLABLE] = 1;
  n[EXN_UNSET_A] = -1;
  n[EXN_UNSET_B] = -1;
  n[EXN_OPERAND1] = op1;
  n[EXN_OPERAND2] = op2;
  return r;
}

// The most cells a list in this workspace can have.
int64_t MaxCells(const SqlCompileCtx* ctx) {
  return ctx->workspace_size / 8 + 1;
}

// Follows a list to its cell after `steps` nexts; a list longer than the
// workspace can hold is damaged.
int32_t Next(SqlCompileCtx* ctx, int32_t cell, int64_t* budget) {
  if (--*budget < 0) qcinterr(ctx, "QST: qqlist", -19233);
  return Words(ctx, cell)[CELL_NEXT];
}

}  // namespace

int32_t StmtRoot(SqlCompileCtx* ctx, const int32_t* position, int32_t top) {
  int32_t r = NewStmt(ctx, 0, position);
  int32_t* n = Words(ctx, r);
  n[STN_ROOT_TOP] = top;
  n[STN_ROOT_VERSION] = 2;
  std::memcpy(&n[STN_ROOT_TAG], "V8.2", 4);  // word 17 stays 0: the terminator
  return r;
}

int32_t StmtArgumentCount(int32_t kind) {
  const Placement* p = PlacementOf(kind);
  if (p == nullptr) return RegularCount(kind);
  int32_t count = 0;
  while (count < 8 && p->words[count] != 0) ++count;
  return count;
}

int32_t StmtNode(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, const int32_t* args,
                 int32_t count) {
  int32_t r = NewStmt(ctx, kind, position);
  int32_t* n = Words(ctx, r);
  const Placement* p = PlacementOf(kind);
  int32_t expected = StmtArgumentCount(kind);
  if (expected < 0) expected = 0;
  for (int32_t i = 0; i < expected; ++i) {
    int32_t value = args != nullptr && i < count ? args[i] : 0;
    n[p != nullptr ? p->words[i] : STN_FIRST_ARG + i] = value;
  }
  // The node is cleared when allocated, so the cleared words need no store.
  return r;
}

int32_t StmtGeneric(SqlCompileCtx* ctx, int32_t kind, const int32_t* position) {
  return NewStmt(ctx, kind, position);
}

int32_t StmtGeneric3(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t word3) {
  int32_t r = NewStmt(ctx, kind, position);
  Words(ctx, r)[STN_FIRST_ARG] = word3;
  return r;
}

int32_t ExprGeneric(SqlCompileCtx* ctx, const int32_t* position, int32_t op1, int32_t op2) {
  return NewExpr(ctx, 0, position, op1, op2);
}

int32_t qqcbix(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t op1, int32_t op2,
               int32_t word26, int32_t word19) {
  if (kind < 0 || kind > 15 || kind == 6 || kind == 7) qcinterr(ctx, "QST: qqcbix", -19229);
  int32_t r = NewExpr(ctx, kind, position, op1, op2);
  Words(ctx, r)[EXN_WORD26] = word26;
  Words(ctx, r)[EXN_WORD19] = word19;
  return r;
}

int32_t qqcfnx(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t word19,
               int32_t word26) {
  if (kind < 16 || kind > 20) qcinterr(ctx, "QST: qqcfnx", -19268);
  int32_t r = NewExpr(ctx, kind, position, 0, 0);
  Words(ctx, r)[EXN_WORD19] = word19;
  Words(ctx, r)[EXN_WORD26] = word26;
  return r;
}

int32_t ExprOfKind(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t op1,
                   int32_t op2) {
  return NewExpr(ctx, kind, position, op1, op2);
}

int32_t ExprFixed(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, const ExprWord* words,
                  int32_t count) {
  int32_t r = NewExpr(ctx, kind, position, 0, 0);
  int32_t* n = Words(ctx, r);
  for (int32_t i = 0; i < count && i < 5; ++i) {
    if (words[i].word >= 0 && words[i].word < kExprNodeWords) n[words[i].word] = words[i].value;
  }
  return r;
}

int32_t ExprLiteral(SqlCompileCtx* ctx, const int32_t* position, int32_t type_code, int32_t value22,
                    int32_t value23) {
  int32_t r = NewExpr(ctx, kExprLiteral, position, value22, value23);
  int32_t code = type_code == 8 ? 4 : type_code == 30 ? 29 : type_code == 35 ? 34 : type_code;
  Words(ctx, r)[EXN_LITERAL_TYPE] = code;
  return r;
}

int32_t TreeRecord(SqlCompileCtx* ctx, int32_t words, const int32_t* values) {
  if (words < 1) words = 1;
  int32_t r = NewCleared(ctx, words);
  if (values != nullptr) std::memcpy(Words(ctx, r), values, static_cast<size_t>(words) * 4);
  return r;
}

int32_t TreeNameRecord(SqlCompileCtx* ctx, int32_t word0, int32_t word1, const char* name,
                       int32_t length) {
  int32_t r = NewCleared(ctx, 36);
  int32_t* n = Words(ctx, r);
  n[0] = word0;
  n[1] = word1;
  if (length < 0 || name == nullptr) length = 0;
  if (length > 128) length = 128;
  std::memcpy(&n[2], name, static_cast<size_t>(length));
  return r;
}

int32_t TreeTextCopy(SqlCompileCtx* ctx, const char* text, int32_t n) {
  if (n < 0 || text == nullptr) n = 0;
  if (n > INT32_MAX - 8) qcinterr(ctx, "QST: qqwsal", -19202);
  int32_t r = qqwsal(ctx, n + 1);
  char* p = qqwsadr(ctx, r);
  std::memcpy(p, text, static_cast<size_t>(n));
  p[n] = 0;
  return r;
}

int32_t TreeCountedCopy(SqlCompileCtx* ctx, const char* bytes, int32_t n) {
  if (n < 0 || bytes == nullptr) n = 0;
  if (n > INT32_MAX - 8) qcinterr(ctx, "QST: qqwsal", -19202);
  int32_t r = qqwsal(ctx, n + 5);
  char* p = qqwsadr(ctx, r);
  std::memcpy(p, &n, 4);
  std::memcpy(p + 4, bytes, static_cast<size_t>(n));
  p[4 + n] = 0;
  return r;
}

int32_t TreeDoubleRecord(SqlCompileCtx* ctx) {
  int32_t r = qqdbal(ctx, 32);
  std::memset(qqwsadr(ctx, r), 0, 32);
  return r;
}

int32_t TreeRecord15(SqlCompileCtx* ctx, const int32_t* thirteen) {
  int32_t r = NewCleared(ctx, 15);
  std::memcpy(&Words(ctx, r)[1], thirteen, 13 * 4);
  return r;
}

int32_t PredicateNode(SqlCompileCtx* ctx, int32_t kind, const int32_t* position, int32_t a,
                      int32_t b, int32_t c) {
  int32_t item = 0;
  if (kind == 2) {
    int32_t type = TreeRecord(ctx, 4, nullptr);
    item = ExprOfKind(ctx, 34, position, a, 0);
    Words(ctx, item)[EXN_TYPE] = type;
  }
  int32_t r = NewCleared(ctx, 10);
  int32_t* n = Words(ctx, r);
  n[0] = kind;
  if (kind >= 3 && kind <= 5) n[2] = -1;
  n[3] = kind == 2 ? item : a;
  n[4] = b;
  n[5] = c;
  return r;
}

int32_t NamePart(SqlCompileCtx* ctx, const int32_t* position, int32_t name, int32_t qualifier) {
  int32_t r = NewCleared(ctx, 4);
  SetPosition(Words(ctx, r), 0, position);
  Words(ctx, r)[2] = name;
  Words(ctx, r)[3] = qualifier;
  return r;
}

int32_t QualifiedNameNode(SqlCompileCtx* ctx, const int32_t* position, int32_t first,
                          int32_t second) {
  return NamePart(ctx, position, first, second);
}

void qqnamget(SqlCompileCtx* ctx, int32_t node, QualifiedName* out) {
  for (auto& name : out->name) name[0] = 0;
  if (node == 0) return;
  for (int32_t part = 0; part < 2; ++part) {
    int32_t p = Words(ctx, node)[2 + part];
    if (p == 0) continue;
    for (int32_t i = 0; i < 2; ++i) {
      qqstrget(ctx, out->name[2 * part + i], sizeof out->name[0], Words(ctx, p)[2 + i]);
    }
  }
}

int32_t JoinLeaf(SqlCompileCtx* ctx, int32_t a, int32_t b, int32_t c) {
  int32_t r = NewCleared(ctx, 16);
  int32_t* n = Words(ctx, r);
  n[1] = -1;
  n[11] = a;
  n[12] = b;
  n[13] = c;
  return r;
}

int32_t JoinNode(SqlCompileCtx* ctx, int32_t join_type, int32_t left, int32_t right,
                 int32_t condition) {
  int32_t r = NewCleared(ctx, 16);
  int32_t* n = Words(ctx, r);
  n[0] = 1;
  n[1] = -1;
  n[11] = join_type;
  n[12] = join_type == 2 ? right : left;
  n[13] = join_type == 2 ? left : right;
  n[14] = condition;
  // Outer joins mark their preserved operand.
  if ((join_type == 1 || join_type == 2) && n[12] != 0) Words(ctx, n[12])[2] = 1;
  return r;
}

int32_t qqlcons(SqlCompileCtx* ctx, int32_t list, int32_t value) {
  if (value == 0) return list;
  int32_t cell = qqwsal(ctx, 8);
  Words(ctx, cell)[CELL_VALUE] = value;
  Words(ctx, cell)[CELL_NEXT] = list;
  return cell;
}

void qqwlst(SqlCompileCtx* ctx, int32_t cell, int32_t next, int32_t value) {
  if (cell == 0) qcinterr(ctx, "QST: qqwlst", -19233);
  Words(ctx, cell)[CELL_VALUE] = value;
  Words(ctx, cell)[CELL_NEXT] = next;
}

int32_t qqllen(SqlCompileCtx* ctx, int32_t list) {
  int64_t budget = MaxCells(ctx);
  int32_t n = 0;
  for (int32_t c = list; c != 0; c = Next(ctx, c, &budget)) ++n;
  return n;
}

int32_t qqlnth(SqlCompileCtx* ctx, int32_t list, int32_t n) {
  if (n < 1) return 0;
  int64_t budget = MaxCells(ctx);
  for (int32_t c = list; c != 0; c = Next(ctx, c, &budget)) {
    if (--n == 0) return Words(ctx, c)[CELL_VALUE];
  }
  return 0;
}

int32_t qqlpos(SqlCompileCtx* ctx, int32_t list, int32_t value) {
  int64_t budget = MaxCells(ctx);
  int32_t position = 1;
  for (int32_t c = list; c != 0; c = Next(ctx, c, &budget), ++position) {
    if (Words(ctx, c)[CELL_VALUE] == value) return position;
  }
  return 0;
}

int32_t qqlrev(SqlCompileCtx* ctx, int32_t list) {
  int64_t budget = MaxCells(ctx);
  int32_t previous = 0;
  int32_t c = list;
  while (c != 0) {
    int32_t next = Next(ctx, c, &budget);
    Words(ctx, c)[CELL_NEXT] = previous;
    previous = c;
    c = next;
  }
  return previous;
}

int32_t qqlcat(SqlCompileCtx* ctx, int32_t list1, int32_t list2) {
  if (list1 == 0) return list2;
  int64_t budget = MaxCells(ctx);
  int32_t last = list1;
  while (Words(ctx, last)[CELL_NEXT] != 0) last = Next(ctx, last, &budget);
  Words(ctx, last)[CELL_NEXT] = list2;
  return list1;
}
