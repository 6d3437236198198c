// The tree printer: expression nodes, query nodes, table references and the
// data change statements as SQL text. Key-range literals (15000 bytes padded
// with zero bytes or 0xFF) print as their prefix and the padding's byte; for
// SQLite a key range prints as its LIKE, = ANY as IN and a UNION bare.
#include "sql/front/sql_tree_print.h"

#include <cstdio>

#include "sql/front/compile_context.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"

namespace {

// Set while a statement is printed for SQLite (SqlPrintStatementForSqlite).
thread_local bool sqlite_dialect = false;

std::string Text(SqlCompileCtx* ctx, int32_t reference) {
  return reference == 0 ? std::string() : std::string(qqwsadr(ctx, reference));
}

std::string Counted(SqlCompileCtx* ctx, int32_t record) {
  if (record == 0) return std::string();
  int32_t n = WsWord(ctx, record, 0);
  return std::string(qqwsadr(ctx, record) + 4, static_cast<size_t>(n < 0 ? 0 : n));
}

std::string Part(SqlCompileCtx* ctx, int32_t part) {
  if (part == 0) return std::string();
  std::string name = Text(ctx, WsWord(ctx, part, 2));
  std::string qualifier = Text(ctx, WsWord(ctx, part, 3));
  return qualifier.empty() ? name : qualifier + "." + name;
}

std::string Qualified(SqlCompileCtx* ctx, int32_t node) {
  if (node == 0) return std::string();
  std::string first = Part(ctx, WsWord(ctx, node, 2));
  std::string second = Part(ctx, WsWord(ctx, node, 3));
  return second.empty() ? first : second + "." + first;
}

std::string Quoted(const std::string& text) {
  // A key of a LIKE range: its prefix and the padding byte.
  if (text.size() == 15000) {
    size_t end = text.size();
    char pad = text.back();
    while (end > 0 && text[end - 1] == pad) --end;
    char tail[32];
    std::snprintf(tail, sizeof tail, "<%02X*%zu>", static_cast<unsigned char>(pad),
                  text.size() - end);
    return Quoted(text.substr(0, end)) + tail;
  }
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Literal(SqlCompileCtx* ctx, int32_t node) {
  std::string text = Counted(ctx, WsWord(ctx, node, EXN_OPERAND1));
  switch (WsWord(ctx, node, EXN_LITERAL_TYPE)) {
    case 1:
    case 2:
    case 3:
      return text;
    case 10:
      return "DATE " + Quoted(text);
    case 11:
      return "TIME " + Quoted(text);
    case 12:
      return "TIMESTAMP " + Quoted(text);
    case 29:
      return "X" + Quoted(text);
    case 34: {
      // National texts hold three bytes a character (big-endian).
      std::string narrow;
      for (size_t i = 0; i + 2 < text.size(); i += 3) {
        bool wide = text[i] != 0 || text[i + 1] != 0;
        narrow += wide ? '?' : text[i + 2];
      }
      return "N" + Quoted(narrow);
    }
    default:
      return Quoted(text);
  }
}

std::string List(SqlCompileCtx* ctx, int32_t list, std::string (*item)(SqlCompileCtx*, int32_t),
                 const char* separator = ", ") {
  std::string out;
  for (int32_t c = list; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    if (!out.empty()) out += separator;
    out += item(ctx, WsWord(ctx, c, CELL_VALUE));
  }
  return out;
}

std::string Query(SqlCompileCtx* ctx, int32_t node);

// SQLite's spelling of a quantified comparison it has: = ANY as IN, <> ALL
// as NOT IN (both give NULL alike when the subquery yields a NULL and no
// match); "" for the others.
std::string SqliteQuantified(SqlCompileCtx* ctx, int32_t kind, int32_t a, int32_t b) {
  if (b == 0) return std::string();
  int32_t quantifier = WsWord(ctx, b, EXN_KIND);
  const char* op = kind == kExprEq && quantifier == kExprAny   ? " IN "
                   : kind == kExprNe && quantifier == kExprAll ? " NOT IN "
                                                               : nullptr;
  if (op == nullptr) return std::string();
  return "(" + SqlPrintExpression(ctx, a) + op + SqlPrintExpression(ctx, WsWord(ctx, b, 22)) + ")";
}

std::string Binary(SqlCompileCtx* ctx, int32_t kind, int32_t a, int32_t b) {
  static const char* const kOps[] = {"",      " + ",  " - ", " * ",  " / ", " || ", "",     "",
                                     " AND ", " OR ", " = ", " <> ", " < ", " > ",  " <= ", " >= "};
  if (sqlite_dialect) {
    std::string quantified = SqliteQuantified(ctx, kind, a, b);
    if (!quantified.empty()) return quantified;
  }
  if ((kind == kExprEq || kind == kExprNe) && b != 0 && WsWord(ctx, b, EXN_KIND) == kExprNull) {
    return "(" + SqlPrintExpression(ctx, a) + (kind == kExprEq ? " IS NULL)" : " IS NOT NULL)");
  }
  return "(" + SqlPrintExpression(ctx, a) + kOps[kind] + SqlPrintExpression(ctx, b) + ")";
}

std::string Case(SqlCompileCtx* ctx, int32_t node) {
  std::string out = "CASE";
  for (int32_t c = WsWord(ctx, node, EXN_OPERAND1); c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    int32_t arm = WsWord(ctx, c, CELL_VALUE);
    int32_t condition = WsWord(ctx, arm, EXN_OPERAND1);
    std::string result = SqlPrintExpression(ctx, WsWord(ctx, arm, EXN_OPERAND2));
    out += condition != 0 ? " WHEN " + SqlPrintExpression(ctx, condition) + " THEN " + result
                          : " ELSE " + result;
  }
  return out + " END";
}

std::string Function(SqlCompileCtx* ctx, int32_t node, int32_t kind) {
  auto e = [&](int32_t word) { return SqlPrintExpression(ctx, WsWord(ctx, node, word)); };
  static const char* const kSets[] = {"COUNT", "AVG", "SUM", "MAX", "MIN"};
  switch (kind) {
    case 16:
    case 17:
    case 18:
    case 19:
    case 20: {
      if (WsWord(ctx, node, EXN_OPERAND2) == 0) return "COUNT(*)";
      int32_t q = WsWord(ctx, node, EXN_OPERAND1);
      return std::string(kSets[kind - 16]) + "(" +
             (q == 1   ? "DISTINCT "
              : q == 0 ? "ALL "
                       : "") +
             e(EXN_OPERAND2) + ")";
    }
    case kExprSubstring:
      return "SUBSTRING(" + e(22) + " FROM " + e(23) +
             (WsWord(ctx, node, 24) != 0 ? " FOR " + e(24) : "") + ")";
    case kExprTrim: {
      int32_t side = WsWord(ctx, node, 22);
      std::string s = side == 46 ? "LEADING " : side == 47 ? "TRAILING " : "BOTH ";
      return "TRIM(" + s + (WsWord(ctx, node, 23) != 0 ? e(23) + " " : "") + "FROM " + e(24) + ")";
    }
    case kExprRepeat:
      return "REPEAT(" + e(22) + ", " + e(23) + ")";
    case kExprPosition:
      return "POSITION(" + e(22) + " IN " + e(23) + ")";
    case kExprExtract: {
      // Word 22 is the field's type node, its code 13 (YEAR) to 18 (SECOND).
      static const char* const kFields[] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"};
      int32_t type = WsWord(ctx, node, 22);
      int32_t field = type != 0 ? WsWord(ctx, type, 0) - 13 : -1;
      return std::string("EXTRACT(") + (field >= 0 && field <= 5 ? kFields[field] : "?") +
             " FROM " + e(23) + ")";
    }
    case kExprRoutineCall:
      return Qualified(ctx, WsWord(ctx, node, 22)) + "(" +
             List(ctx, WsWord(ctx, node, 23), SqlPrintExpression) + ")";
    default: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "F%d(", kind);
      std::string out = buffer + e(22);
      if (WsWord(ctx, node, 23) != 0) out += ", " + e(23);
      return out + ")";
    }
  }
}

std::string SelectItem(SqlCompileCtx* ctx, int32_t item) {
  switch (WsWord(ctx, item, 0)) {
    case 0:
      return "*";
    case 1: {  // the name node holds the schema (or 0) and the table
      int32_t name = WsWord(ctx, item, 3);
      std::string schema = Text(ctx, WsWord(ctx, name, 2));
      return (schema.empty() ? "" : schema + ".") + Text(ctx, WsWord(ctx, name, 3)) + ".*";
    }
    default: {
      int32_t wrapper = WsWord(ctx, item, 3);
      std::string out = SqlPrintExpression(ctx, WsWord(ctx, wrapper, EXN_OPERAND1));
      if (WsWord(ctx, item, 5) != 0) out += " AS " + Counted(ctx, WsWord(ctx, item, 4));
      return out;
    }
  }
}

std::string TableRef(SqlCompileCtx* ctx, int32_t ref) {
  if (ref == 0) return std::string();
  int32_t* n = &WsWord(ctx, ref, 0);
  if (n[0] == 0) {
    std::string out = Qualified(ctx, n[11]);
    if (n[12] != 0) out += " " + Part(ctx, n[12]);
    return out;
  }
  static const char* const kJoins[] = {" JOIN ", " LEFT JOIN ", " RIGHT JOIN "};
  int32_t type = n[11] >= 0 && n[11] <= 2 ? n[11] : 0;
  int32_t left = type == 2 ? n[13] : n[12];
  int32_t right = type == 2 ? n[12] : n[13];
  std::string out = "(" + TableRef(ctx, left) + kJoins[type] + TableRef(ctx, right);
  if (n[14] != 0) out += " ON " + SqlPrintExpression(ctx, n[14]);
  if (n[15] != 0) out += " USING (" + List(ctx, n[15], Part) + ")";
  return out + ")";
}

std::string Query(SqlCompileCtx* ctx, int32_t node) {
  int32_t* n = &WsWord(ctx, node, 0);
  if (n[STN_KIND] == 27) {
    const char* op = n[4] != 0 ? " UNION ALL " : " UNION ";
    if (!sqlite_dialect) return "(" + Query(ctx, n[6]) + op + Query(ctx, n[7]) + ")";
    // SQLite takes no parenthesised operand and joins a compound from the
    // left: a set operation on the right reads from a subquery of its own.
    std::string right = Query(ctx, n[7]);
    if (WsWord(ctx, n[7], STN_KIND) == 27) right = "SELECT * FROM (" + right + ")";
    return Query(ctx, n[6]) + op + right;
  }
  std::string out = "SELECT ";
  if (n[3] == 1) out += "DISTINCT ";
  if (n[3] == 0) out += "ALL ";
  out += List(ctx, n[4], SelectItem) + " FROM " + List(ctx, n[6], TableRef);
  if (n[8] != 0) out += " WHERE " + SqlPrintExpression(ctx, n[8]);
  if (n[11] != 0) out += " GROUP BY " + List(ctx, n[11], SqlPrintExpression);
  if (n[12] != 0) out += " HAVING " + SqlPrintExpression(ctx, n[12]);
  return out;
}

std::string SortItem(SqlCompileCtx* ctx, int32_t item) {
  int32_t* n = &WsWord(ctx, item, 0);
  std::string out = SqlPrintExpression(ctx, n[0]);
  if (n[3] != 0) out += " COLLATE " + Qualified(ctx, n[3]);
  if (n[1] == 0) out += " ASC";
  if (n[1] == 1) out += " DESC";
  return out;
}

std::string Assignment(SqlCompileCtx* ctx, int32_t node) {
  int32_t column = WsWord(ctx, node, EXN_OPERAND1);
  int32_t name = WsWord(ctx, column, EXN_OPERAND1);
  return Part(ctx, WsWord(ctx, name, 2)) + " = " +
         SqlPrintExpression(ctx, WsWord(ctx, node, EXN_OPERAND2));
}

}  // namespace

std::string SqlPrintExpression(SqlCompileCtx* ctx, int32_t node) {
  if (node == 0) return std::string();
  auto e = [&](int32_t word) { return SqlPrintExpression(ctx, WsWord(ctx, node, word)); };
  int32_t kind = WsWord(ctx, node, EXN_KIND);
  if (sqlite_dialect) {
    // A LIKE's key range stands for the LIKE beside it (word 24), which
    // SQLite takes as it is; a conversion node is its operand there.
    if ((kind == kExprAnd || kind == kExprOr) && WsWord(ctx, node, 24) != 0) {
      return SqlPrintExpression(ctx, WsWord(ctx, node, 24));
    }
    if (kind == kExprConversion) return e(EXN_OPERAND1);
  }
  switch (kind) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return Binary(ctx, kind, WsWord(ctx, node, EXN_OPERAND1), WsWord(ctx, node, EXN_OPERAND2));
    case kExprPlusSign:
      return "(+" + e(EXN_OPERAND1) + ")";
    case kExprMinusSign:
      return "(-" + e(EXN_OPERAND1) + ")";
    case kExprLike:
      return "(" + e(22) + (WsWord(ctx, node, 23) != 0 ? " NOT " : " ") +
             (WsWord(ctx, node, 24) != 0 ? "LIKE4 " : "LIKE ") + e(25) +
             (WsWord(ctx, node, 26) != 0 ? " ESCAPE " + e(26) : "") + ")";
    case kExprExists:  // word 23: NOT EXISTS
      return (WsWord(ctx, node, 23) != 0 ? "NOT EXISTS " : "EXISTS ") + e(22);
    case kExprAll:
      return "ALL " + e(22);
    case kExprAny:
      return "ANY " + e(22);
    case kExprSubquery:
      return "(" + Query(ctx, WsWord(ctx, node, 22)) + ")";
    case kExprColumnRef:
      return Qualified(ctx, WsWord(ctx, node, 22));
    case kExprLiteral:
      return Literal(ctx, node);
    case kExprHostParameter: {
      std::string name = Text(ctx, WsWord(ctx, node, 22));
      return name == "?" ? name : ":" + name;
    }
    case kExprUserValue: {
      static const char* const kUsers[] = {"USER", "CURRENT_USER", "SESSION_USER", "SYSTEM_USER",
                                           "CURRENT_PROGRAM"};
      int32_t w = WsWord(ctx, node, 22);
      return w >= 0 && w <= 4 ? kUsers[w] : "USER";
    }
    case kExprNull:
      return "NULL";
    case kExprWrapper:
      return e(22);
    case kExprCast:
      return "CAST(" + e(22) + " AS T)";
    case kExprCase:
      return Case(ctx, node);
    case kExprCurrentDate:
      return "CURRENT_DATE";
    case kExprCurrentTime:
      return "CURRENT_TIME";
    case kExprCurrentTimestamp:
      return "CURRENT_TIMESTAMP";
    case kExprSequence:
      return std::string(WsWord(ctx, node, 22) == 2 ? "CURRENT_VALUE OF " : "NEXT_VALUE OF ") +
             Qualified(ctx, WsWord(ctx, node, 23));
    case kExprOverlaps:
      return "((" + e(23) + ", " + e(24) + ")" + (WsWord(ctx, node, 22) != 0 ? " NOT" : "") +
             " OVERLAPS (" + e(25) + ", " + e(26) + "))";
    case kExprDefault:
      return "DEFAULT";
    case 0:
      return "(" + e(22) + " := " + e(23) + ")";
    default:
      return Function(ctx, node, kind);
  }
}

std::string SqlPrintStatementForSqlite(SqlCompileCtx* ctx, int32_t node) {
  struct Dialect {
    Dialect() { sqlite_dialect = true; }
    ~Dialect() { sqlite_dialect = false; }
  } dialect;
  return SqlPrintStatement(ctx, node);
}

std::string SqlPrintStatement(SqlCompileCtx* ctx, int32_t node) {
  if (node <= 0) return std::string();
  int32_t* n = &WsWord(ctx, node, 0);
  switch (n[STN_KIND]) {
    case 0:
      return SqlPrintStatement(ctx, n[STN_ROOT_TOP]);
    case 21: {
      std::string out = Query(ctx, n[3]);
      if (n[4] != 0) out += " ORDER BY " + List(ctx, n[4], SortItem);
      if (n[7] != 0) out += " FOR UPDATE";
      if (n[5] != 0) out += " OF " + List(ctx, n[5], SqlPrintExpression);
      return out;
    }
    case 27:
    case 28:
      return Query(ctx, node);
    case 22:
    case 23: {
      std::string out = "DELETE FROM " + TableRef(ctx, n[4]);
      if (n[STN_KIND] == 22 && n[5] != 0) out += " WHERE " + SqlPrintExpression(ctx, n[5]);
      if (n[STN_KIND] == 23) out += " WHERE CURRENT OF " + Part(ctx, n[6]);
      return out;
    }
    case 24:
    case 25: {
      std::string out = "UPDATE " + TableRef(ctx, n[4]) + " SET " + List(ctx, n[5], Assignment);
      if (n[STN_KIND] == 24 && n[6] != 0) out += " WHERE " + SqlPrintExpression(ctx, n[6]);
      if (n[STN_KIND] == 25) out += " WHERE CURRENT OF " + Part(ctx, n[7]);
      return out;
    }
    case 26: {
      std::string out = "INSERT INTO " + TableRef(ctx, n[3]);
      if (n[4] != 0) out += " (" + List(ctx, n[4], Part) + ")";
      if (n[5] == 0) return out + " DEFAULT VALUES";
      int32_t first = WsWord(ctx, n[5], CELL_VALUE);
      if (WsWord(ctx, n[5], CELL_NEXT) == 0 && WsWord(ctx, first, EXN_KIND) == kExprSubquery) {
        return out + " " + Query(ctx, WsWord(ctx, first, 22));
      }
      return out + " VALUES (" + List(ctx, n[5], SqlPrintExpression) + ")";
    }
    case 33:  // the two-operand statement: a target and its value
      return "SET " + SqlPrintExpression(ctx, n[3]) + " = " + SqlPrintExpression(ctx, n[4]);
    case 2:
      return std::string("CREATE ") + (n[5] != 0 ? "UNIQUE " : "") + "INDEX " +
             Qualified(ctx, n[3]) + " ON " + Qualified(ctx, n[4]) + " (" +
             List(ctx, n[6], SortItem) + ")";
    default:
      return "<statement " + std::to_string(n[STN_KIND]) + ">";
  }
}
