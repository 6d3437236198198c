// Collation rules of expressions and the reference checks semantic analysis
// shares: display names, comparisons of column references, grouping checks
// and sequence references.
#include <cstdio>
#include <cstring>
#include <string>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_stack.h"
#include "sql/front/typing_support.h"

using namespace typing;

namespace {

constexpr int32_t kNameCut = 128;

int32_t Level(SqlCompileCtx* ctx, int32_t node) {
  return node == 0 ? 0 : W(ctx, node, EXN_COLLATION_LEVEL);
}
int32_t Collation(SqlCompileCtx* ctx, int32_t node) {
  return node == 0 ? 0 : W(ctx, node, EXN_COLLATION);
}
void Give(SqlCompileCtx* ctx, int32_t node, int32_t level, int32_t collation) {
  W(ctx, node, EXN_COLLATION_LEVEL) = level;
  W(ctx, node, EXN_COLLATION) = collation;
}

// The text at a reference; a plain name is cut at 128 bytes in place.
std::string TextAt(SqlCompileCtx* ctx, int32_t reference, bool cut) {
  if (reference == 0) return std::string();
  char* text = qqwsadr(ctx, reference);
  if (cut && std::strlen(text) > static_cast<size_t>(kNameCut)) text[kNameCut] = 0;
  return std::string(text);
}

// A name part: its text, and before it its qualifier and a dot.
std::string PartText(SqlCompileCtx* ctx, int32_t part) {
  if (part == 0) return std::string();
  std::string name = TextAt(ctx, W(ctx, part, 2), false);
  std::string qualifier = TextAt(ctx, W(ctx, part, 3), false);
  return qualifier.empty() ? name : qualifier + "." + name;
}

void Put(char out[kRefNameBytes], const std::string& text) {
  std::snprintf(out, kRefNameBytes, "%s", text.c_str());
}

// The plain name of a column reference (its name part's own text).
std::string PlainName(SqlCompileCtx* ctx, int32_t column) {
  int32_t qualified = W(ctx, column, EXN_OPERAND1);
  if (qualified == 0) return std::string();
  int32_t part = W(ctx, qualified, 2);
  return part == 0 ? std::string() : TextAt(ctx, W(ctx, part, 2), false);
}

bool GroupedBy(SqlCompileCtx* ctx, int32_t column, int32_t query) {
  if (query == 0) return false;
  for (int32_t c = WsWord(ctx, query, 11); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t item = W(ctx, c, CELL_VALUE);
    if (Kind(ctx, item) == kExprColumnRef && qmsamecol(ctx, column, item) != 0) return true;
  }
  return false;
}

}  // namespace

void qmcoll(SqlCompileCtx* ctx, int32_t node, int32_t op, int32_t a, int32_t b) {
  int32_t la = Level(ctx, a);
  int32_t lb = Level(ctx, b);
  int32_t ca = Collation(ctx, a);
  int32_t cb = Collation(ctx, b);
  switch (op) {
    case -15:
    case 10:
    case 21:
      if (la > lb) {
        Give(ctx, node, la, ca);
      } else if (lb > la) {
        Give(ctx, node, lb, cb);
      } else if (ca == cb) {
        Give(ctx, node, la, ca);
      } else if (b != 0 && Class(ctx, a) != 0 && Class(ctx, a) == Class(ctx, b)) {
        char text[kParamTextBytes];
        BuildParamText(text, nullptr);
        qcerrec(ctx, &W(ctx, node, EXN_LINE), "QME", op == -15 ? -12638 : -12637, kSevSqlError,
                text);
      }
      break;
    case 5:
    case 49:
      if (Level(ctx, node) != 0) break;
      if (lb > la) {
        Give(ctx, node, lb, cb);
      } else if (lb < la) {
        Give(ctx, node, la, ca);
      } else if (ca == cb) {
        Give(ctx, node, lb, cb);
      } else {
        Give(ctx, node, 0, 0);
      }
      break;
    case 19:
    case 41:
    case 50:
    case 52:
      if (Level(ctx, node) == 0) Give(ctx, node, la, ca);
      break;
    default:
      qcinterr(ctx, "QME: qmcoll", -19257);
  }
}

void qmnamefmt(SqlCompileCtx* ctx, char out[kRefNameBytes], int32_t name) {
  Put(out, PartText(ctx, name));
}

void qmrefname(SqlCompileCtx* ctx, int32_t mode, int32_t link, char out[kRefNameBytes]) {
  out[0] = 0;
  if (link == 0) return;
  switch (mode) {
    case 0:
      Put(out, TextAt(ctx, W(ctx, link, 2), true));
      break;
    case 1:
      qmnamefmt(ctx, out, link);
      break;
    case 2: {
      std::string object = PartText(ctx, W(ctx, link, 2));
      std::string schema = PartText(ctx, W(ctx, link, 3));
      Put(out, schema.empty() ? object : schema + "." + object);
      break;
    }
    case 3: {
      int32_t qualified = W(ctx, link, EXN_OPERAND1);
      if (qualified == 0) return;
      int32_t part = W(ctx, qualified, 2);
      std::string qualifier = part == 0 ? std::string() : TextAt(ctx, W(ctx, part, 3), false);
      std::string schema = PartText(ctx, W(ctx, qualified, 3));
      if (!schema.empty()) qualifier = qualifier.empty() ? schema : schema + "." + qualifier;
      std::string name = part == 0 ? std::string() : TextAt(ctx, W(ctx, part, 2), true);
      Put(out, qualifier.empty() ? name : qualifier + "." + name);
      break;
    }
    default:
      break;
  }
}

int32_t qmsamecol(SqlCompileCtx* ctx, int32_t a, int32_t b) {
  if (W(ctx, a, EXN_TABLE_REF) != W(ctx, b, EXN_TABLE_REF)) return 0;
  return PlainName(ctx, a) == PlainName(ctx, b) ? 1 : 0;
}

int32_t qmcolname(SqlCompileCtx* ctx, int32_t column, const char* name) {
  int32_t qualified = W(ctx, column, EXN_OPERAND1);
  if (qualified == 0 || W(ctx, qualified, 3) != 0) return 0;
  int32_t part = W(ctx, qualified, 2);
  if (part == 0 || W(ctx, part, 3) != 0) return 0;
  return PlainName(ctx, column) == name ? 1 : 0;
}

int32_t qmduplcol(SqlCompileCtx* ctx, int32_t list, int32_t end, int32_t column) {
  for (int32_t c = list; c != 0 && c != end; c = W(ctx, c, CELL_NEXT)) {
    int32_t item = W(ctx, c, CELL_VALUE);
    if (item != column && Kind(ctx, item) == kExprColumnRef && qmsamecol(ctx, item, column) != 0) {
      return 1;
    }
  }
  return 0;
}

int32_t qmnamchk(SqlCompileCtx* ctx, int32_t node) {
  SetType(ctx, node, kSqlTypeInt, 10, 0, kVariantInteger);
  W(ctx, node, EXN_DERIVATION) = 3;
  W(ctx, node, EXN_NULLABLE) = 0;
  SqlQualifiedName name = NameOf(ctx, W(ctx, node, 23));
  int32_t id = 0;
  int32_t status = qdgetsequence(ctx, &name, &id);
  if (status < 0) qcfatal(ctx, status);
  if (status == 0) {
    W(ctx, node, EXN_SEQUENCE_ID) = id;
    return 1;
  }
  char shown[kRefNameBytes];
  qmrefname(ctx, 2, W(ctx, node, 23), shown);
  UserErrorNamed(ctx, node, -12834, 'H', shown);
  return 0;
}

void qmgroupchk(SqlCompileCtx* ctx, int32_t column, int32_t level, int32_t defining,
                SemContext* sem) {
  W(ctx, column, EXN_LEVEL) = level;
  int32_t current = sem->w[SEM_LEVEL];
  bool outer = level < current;
  if (defining != 0) {
    int32_t d = Derivation(ctx, defining);
    if (outer && d == 5) d = 6;
    if (outer && d == 8) d = 7;
    W(ctx, column, EXN_DERIVATION) = d;
    sem->w[SEM_VIEW_COLUMNS] = qqlcons(ctx, sem->w[SEM_VIEW_COLUMNS], column);
  } else {
    W(ctx, column, EXN_DERIVATION) = outer ? 6 : 5;
    W(ctx, column, EXN_COLUMNS) = qqlcons(ctx, 0, column);
  }
  int32_t type = Type(ctx, column);
  W(ctx, column, EXN_TYPE_CLASS) = type == 0 ? kClassNone : qmtypcls(W(ctx, type, TD_CODE));
  if (qmflagtst(sem, 1) != 0) return;
  SemContext own = *sem;
  if (outer) qmqget(ctx, &own, level);
  int32_t query = own.w[SEM_OWNER];
  char shown[kRefNameBytes];
  if (qmflagtst(&own, 2) != 0) {
    if (!GroupedBy(ctx, column, query)) {
      qmrefname(ctx, 3, column, shown);
      UserErrorNamed(ctx, column, -12209, 'E', shown);
    }
    return;
  }
  if (qmflagtst(sem, 7) != 0 && query != 0 &&
      (WsWord(ctx, query, 11) != 0 || WsWord(ctx, query, 12) != 0) &&
      !GroupedBy(ctx, column, query)) {
    qmrefname(ctx, 3, column, shown);
    UserErrorNamed(ctx, column, -12205, 'E', shown);
  }
}
