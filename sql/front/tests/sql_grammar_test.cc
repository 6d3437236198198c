// The SQL grammar and its actions: statements to printed trees and kinds,
// the negated predicates built in mirror form, the LIKE key range, signed
// literals, COALESCE and NULLIF, the actions' errors, and the trees staying
// the same when the entries above the stack hold garbage.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/sql_tree_print.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/sql_grammar_support.h"

namespace {

// The lexer upper-cases names: the expected text with its letters outside
// quotes upper-cased.
std::string Upper(const std::string& text) {
  std::string out = text;
  bool quoted = false;
  for (char& c : out) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Codes(const ParsedStatement& p) {
  std::string out;
  for (const RecordedCondition& c : p.conditions) out += std::to_string(c.code) + " ";
  return out;
}

TEST(SqlGrammar, StatementsToTreesAndKinds) {
  struct Case {
    const char* text;
    int32_t kind;
    const char* printed;
  } cases[] = {
      {"SELECT a FROM t WHERE NOT (a = 1 OR b = 2)", 2,
       "SELECT a FROM t WHERE ((a <> 1) AND (b <> 2))"},
      {"SELECT a FROM t WHERE NOT NOT a = 1", 2, "SELECT a FROM t WHERE (a = 1)"},
      {"SELECT a FROM t WHERE x NOT BETWEEN 1 AND 5", 2,
       "SELECT a FROM t WHERE ((x < 1) OR (x > 5))"},
      {"SELECT a FROM t WHERE x NOT IN (1, 2, 3)", 2,
       "SELECT a FROM t WHERE (((x <> 1) AND (x <> 2)) AND (x <> 3))"},
      {"SELECT a FROM t WHERE x IN (SELECT b FROM u)", 2,
       "SELECT a FROM t WHERE (x = ANY (SELECT b FROM u))"},
      {"SELECT a FROM t WHERE x NOT IN (SELECT b FROM u)", 2,
       "SELECT a FROM t WHERE (x <> ALL (SELECT b FROM u))"},
      {"SELECT a FROM t WHERE NOT x > ANY (SELECT b FROM u)", 2,
       "SELECT a FROM t WHERE (x <= ALL (SELECT b FROM u))"},
      {"SELECT a FROM t WHERE x IS NULL AND NOT y IS NOT NULL", 2,
       "SELECT a FROM t WHERE ((x IS NULL) AND (y IS NULL))"},
      {"SELECT - -5, -5, - a FROM t", 2, "SELECT +5, -5, (-a) FROM t"},
      {"SELECT a + b * c - d || 'x' FROM t", 2, "SELECT (((a + (b * c)) - d) || 'x') FROM t"},
      {"SELECT COALESCE(a, b, c) FROM t", 2,
       "SELECT CASE WHEN (a IS NOT NULL) THEN a ELSE CASE WHEN (b IS NOT NULL) THEN b ELSE c END "
       "END FROM t"},
      {"SELECT NULLIF(a, 1) FROM t", 2, "SELECT CASE WHEN (a = 1) THEN NULL ELSE a END FROM t"},
      {"SELECT CASE a WHEN 1 THEN 'x' ELSE 'y' END FROM t", 2,
       "SELECT CASE WHEN (a = 1) THEN 'x' ELSE 'y' END FROM t"},
      {"SELECT CASE WHEN NOT a = 1 THEN 2 END FROM t", 2,
       "SELECT CASE WHEN (a <> 1) THEN 2 ELSE NULL END FROM t"},
      {"SELECT DISTINCT t.*, s.u.*, a AS x, COUNT(*), SUM(DISTINCT b) FROM s.u t", 2,
       "SELECT DISTINCT t.*, s.u.*, a AS x, COUNT(*), SUM(DISTINCT b) FROM s.u t"},
      {"SELECT a FROM t LEFT JOIN u ON t.a = u.a, v NATURAL JOIN w", 2,
       "SELECT a FROM (t LEFT JOIN u ON (t.a = u.a)), (v JOIN w)"},
      {"SELECT a, COUNT(b) FROM t GROUP BY a HAVING COUNT(b) > 1 ORDER BY 2 DESC, a", 2,
       "SELECT a, COUNT(b) FROM t GROUP BY a HAVING (COUNT(b) > 1) ORDER BY 2 DESC, a"},
      {"SELECT a FROM t UNION ALL (SELECT b FROM u) FOR READ ONLY", 2,
       "(SELECT a FROM t UNION ALL SELECT b FROM u)"},
      {"SELECT a FROM t FOR UPDATE", 1, "SELECT a FROM t FOR UPDATE"},
      // The OF columns reach the query statement (the semantic walk checks them).
      {"SELECT a FROM t FOR UPDATE OF a, t.b", 1, "SELECT a FROM t FOR UPDATE OF a, t.b"},
      {"TABLE t", 2, "SELECT * FROM t"},
      // A TABLE query's ON conditions are not under the NOT pending over it.
      {"SELECT a FROM t WHERE NOT x IN (TABLE u JOIN v ON u.a = v.a AND NOT u.b = 1)", 2,
       "SELECT a FROM t WHERE (x <> ALL (SELECT * FROM (u JOIN v ON ((u.a = v.a) AND (u.b <> "
       "1)))))"},
      {"SELECT a FROM t WHERE EXISTS (SELECT b FROM u) AND 'ab' 'cd' = a", 2,
       "SELECT a FROM t WHERE (EXISTS (SELECT b FROM u) AND ('abcd' = a))"},
      {"UPDATE t SET a = 1", 7, "UPDATE t SET a = 1"},
      {"UPDATE t SET a = 1, b = a + 1 WHERE b = 2", 6,
       "UPDATE t SET a = 1, b = (a + 1) WHERE (b = 2)"},
      {"UPDATE t SET a = 1 WHERE CURRENT OF c", 5, "UPDATE t SET a = 1 WHERE CURRENT OF c"},
      {"DELETE FROM t", 10, "DELETE FROM t"},
      {"DELETE FROM t WHERE a = 1", 9, "DELETE FROM t WHERE (a = 1)"},
      {"DELETE FROM t WHERE NOT EXISTS (SELECT b FROM u WHERE NOT b = 1)", 9,
       "DELETE FROM t WHERE NOT EXISTS (SELECT b FROM u WHERE (b <> 1))"},
      {"DELETE FROM t WHERE CURRENT OF c", 8, "DELETE FROM t WHERE CURRENT OF c"},
      {"INSERT INTO t DEFAULT VALUES", 3, "INSERT INTO t DEFAULT VALUES"},
      {"INSERT INTO t (a, b) VALUES (1, 'x')", 3, "INSERT INTO t (a, b) VALUES (1, 'x')"},
      {"INSERT INTO t SELECT a FROM u", 4, "INSERT INTO t SELECT a FROM u"},
      {"CREATE UNIQUE INDEX i ON t (a DESC, b)", 27, "CREATE UNIQUE INDEX i ON t (a DESC, b)"},
      {"SELECT SUBSTRING(a FROM 2 FOR 3), TRIM(LEADING 'x' FROM a), POSITION('a' IN b) FROM t", 2,
       "SELECT SUBSTRING(a FROM 2 FOR 3), TRIM(LEADING 'x' FROM a), POSITION('a' IN b) FROM t"},
      {"SELECT EXTRACT(YEAR FROM d), EXTRACT(SECOND FROM t + 1) FROM t", 2,
       "SELECT EXTRACT(YEAR FROM d), EXTRACT(SECOND FROM (t + 1)) FROM t"},
      {"SELECT UPPER(a), MOD(a, 2), f(a, 1), ROUND(a) FROM t", 2,
       "SELECT F42(a), F65(a, 2), f(a, 1), ROUND(a) FROM t"},
      {"SELECT :h, ? FROM t", 2, "SELECT :h, ? FROM t"},
      // Keywords as names: function names before no "(", type keywords.
      {"SELECT count, max(a), date, t.time FROM t", 2, "SELECT count, MAX(a), date, t.time FROM t"},
      {"SELECT a date, b count2 FROM t integer", 2, "SELECT a AS date, b AS count2 FROM t integer"},
      {"UPDATE t SET date = 1 WHERE value2 = 2", 6, "UPDATE t SET date = 1 WHERE (value2 = 2)"},
      {"SELECT LOCALTIME, LOCALTIMESTAMP, CURRENT_USER FROM t", 2,
       "SELECT CURRENT_TIME, CURRENT_TIMESTAMP, CURRENT_USER FROM t"},
      {"SELECT a FROM t WHERE a LIKE b ESCAPE '!'", 2,
       "SELECT a FROM t WHERE (a LIKE b ESCAPE '!')"},
      {"SELECT U&'ab' 'c' FROM t", 2, "SELECT N'abc' FROM t"},
      {"SET :h = a + 1", 42, "SET :h = (a + 1)"},
      {"SELECT EXISTS (SELECT b FROM u) found, COUNT(*) FROM t", 2,
       "SELECT EXISTS (SELECT b FROM u) AS found, COUNT(*) FROM t"},
      {"SET x = -2", 42, "SET x = -2"},
      {"DELETE FROM t WHERE time = DATE '2020-01-01'", 9,
       "DELETE FROM t WHERE (time = DATE '2020-01-01')"},
  };
  for (const Case& c : cases) {
    ParsedStatement p = ParseSql(c.text);
    EXPECT_EQ(Codes(p), "") << c.text;
    EXPECT_EQ(p.kind, c.kind) << c.text;
    EXPECT_EQ(p.printed, Upper(c.printed)) << c.text;
    // Garbage above the stack changes nothing: no action reads a word that
    // its symbols did not write.
    ParseOptions poison;
    poison.poison = true;
    EXPECT_EQ(ParseSql(c.text, poison).printed, Upper(c.printed)) << c.text;
  }
}

TEST(SqlGrammar, KindsWithoutNodes) {
  struct Case {
    const char* text;
    int32_t kind;
    int32_t early;
  } cases[] = {
      {"SET TRANSACTION DIAGNOSTICS SIZE 10", 103, 10},
      {"SET TRANSACTION DIAGNOSTICS SIZE DEFAULT", 103, 0},
      {"SET SESSION DIAGNOSTICS SIZE 7", 104, 7},
      {"SET TRANSACTION READ ONLY", 78, 0},
      {"SET SESSION ISOLATION LEVEL REPEATABLE READ", 90, 0},
      {"SET TRANSACTION START IMPLICIT", 53, 0},
      {"LEAVE", 47, 0},
      {"LEAVE RETAIN", 48, 0},
      {"SET DATABASE OFFLINE", 63, 0},
      {"SET DATABASE ONLINE PRESERVE LOG", 64, 0},
      {"SET DATABASE ONLINE RESET LOG", 65, 0},
      {"SET DATABANK d OFFLINE", 66, 0},
      {"SET SHADOW h ONLINE RESET LOG", 71, 0},
      {"UPDATE STATISTICS FOR TABLE t", 72, 0},
      {"CHECK STATISTICS", 62, 0},
      {"COMMIT", 12, 0},
      {"ROLLBACK WORK", 13, 0},
      {"START TRANSACTION", 14, 0},
      {"START BACKUP", 107, 0},
      {"COMMIT BACKUP FOR EXPORT", 108, 0},
      {"ROLLBACK BACKUP", 109, 0},
      {"START LOAD FOR t", 100, 0},
      {"COMMIT LOAD FOR t", 101, 0},
      {"ROLLBACK LOAD FOR t", 102, 0},
  };
  for (const Case& c : cases) {
    ParsedStatement p = ParseSql(c.text);
    EXPECT_EQ(Codes(p), "") << c.text;
    EXPECT_EQ(p.kind, c.kind) << c.text;
    EXPECT_EQ(p.early_result, c.early) << c.text;
  }
  // Leading zeros, however many, leave the value as it is.
  ParsedStatement p = ParseSql("SET TRANSACTION DIAGNOSTICS SIZE " + std::string(80, '0') + "10");
  EXPECT_EQ(Codes(p), "");
  EXPECT_EQ(p.early_result, 10);
}

TEST(SqlGrammar, RemovalAndAccessControl) {
  struct Case {
    const char* text;
    int32_t kind;
    int32_t node_kind;
    int32_t word3;  // of the node: object class, variant code or list
  } cases[] = {
      {"DROP TABLE t CASCADE", 37, 9, -1},
      {"DROP INDEX i", 28, 9, -1},
      {"DROP SCHEMA s", 97, 9, -1},
      {"COMMENT ON COLUMN t.a IS 'text'", 41, 14, -1},
      {"GRANT IDENT, BACKUP TO u WITH GRANT OPTION", 46, 15, -1},
      {"GRANT ALL PRIVILEGES ON t TO u", 44, 17, -1},
      {"GRANT EXECUTE ON PROCEDURE p TO u", 45, 16, 0},
      {"GRANT MEMBER ON IDENT i TO u", 45, 16, 1},
      {"GRANT USAGE ON DOMAIN d TO u", 45, 16, 2},
      {"GRANT USAGE ON SEQUENCE q TO u", 45, 16, 3},
      {"GRANT EXECUTE ON FUNCTION f TO u", 45, 16, 4},
      {"GRANT EXECUTE ON MODULE md TO u", 45, 16, 5},
      {"GRANT USAGE ON COLLATION c TO u", 45, 16, 6},
      {"GRANT USAGE ON SCHEMA s TO u", 45, 16, 7},
      {"REVOKE GRANT OPTION FOR SHADOW FROM u CASCADE", 50, 18, -1},
      {"REVOKE SELECT ON t FROM u", 49, 20, -1},
      {"REVOKE USAGE ON SCHEMA s FROM PUBLIC", 51, 19, 7},
  };
  for (const Case& c : cases) {
    ParseOptions o;
    int32_t node_kind = -1;
    int32_t word3 = -1;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      if (root <= 0) return;
      int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
      node_kind = WsWord(ctx, top, STN_KIND);
      word3 = WsWord(ctx, top, 3);
    };
    ParsedStatement p = ParseSql(c.text, o);
    EXPECT_EQ(Codes(p), "") << c.text;
    EXPECT_EQ(p.kind, c.kind) << c.text;
    EXPECT_EQ(node_kind, c.node_kind) << c.text;
    if (c.word3 >= 0) {
      EXPECT_EQ(word3, c.word3) << c.text;
    }
  }
  // ALL and ALL PRIVILEGES: one privilege record (0, no columns).
  for (const char* text : {"GRANT ALL ON t TO u", "GRANT ALL PRIVILEGES ON t TO u"}) {
    ParseOptions o;
    o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
      int32_t list = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
      ASSERT_NE(list, 0);
      EXPECT_EQ(WsWord(ctx, list, CELL_NEXT), 0);
      int32_t record = WsWord(ctx, list, CELL_VALUE);
      EXPECT_EQ(WsWord(ctx, record, 0), 0);
      EXPECT_EQ(WsWord(ctx, record, 1), 0);
    };
    ParseSql(text, o);
  }
}

TEST(SqlGrammar, Definitions) {
  struct Case {
    std::string text;
    int32_t kind;
    const char* codes;
  } cases[] = {
      {"CREATE SEQUENCE q", 98, ""},
      {"CREATE SEQUENCE q INCREMENT = 0", 98, "-12842 "},
      {"CREATE SEQUENCE q INITIAL_VALUE = 10 MAX_VALUE = 1", 98, "-12843 "},
      {"CREATE SEQUENCE q INITIAL_VALUE = 10 INCREMENT = - 1 MAX_VALUE = 1", 98, ""},
      {"CREATE SEQUENCE q INITIAL_VALUE = 5 MAX_VALUE = 5", 98, ""},
      {"CREATE DOMAIN d AS INTEGER", 21, ""},
      {"CREATE VIEW v AS SELECT a FROM t", 39, ""},
      {"CREATE SCHEMA s CREATE TABLE t (a INT)", 94, ""},
      {"ALTER TABLE t INTO db", 35, "-12104 "},
      {"ALTER TABLE t ADD a INT", 35, ""},
      {"SET PATH a, b, c", 56, ""},
      {"CREATE SYNONYM y FOR t", 33, ""},
      {"CREATE COLLATION c FROM 'x'", 113, ""},
      {"SET PATH a, b, c, d", 56, "-12169 "},
      {"CREATE IDENT u AS USER IDENTIFIED 'abcdefghijklmnopqr'", 24, ""},
      {"CREATE IDENT u AS USER IDENTIFIED 'abcdefghijklmnopqrs'", 24, "-12123 "},
      {"CREATE IDENT u AS USER IDENTIFIED 'a b'", 24, "-12123 "},
      {"ALTER IDENT u IDENTIFIED 'x'", 23, ""},
      {"CREATE DATABANK d", 18, ""},
      {"ALTER DATABANK d ADD 5 PAGES", 17, ""},
      {"CREATE SHADOW h FOR d IN 'f'", 30, ""},
      {"ALTER SHADOW h TO MASTER", 29, ""},
      {"CREATE IDENT u AS USER IDENTIFIED BY 'x'", 24, ""},
      {"CREATE DOMAIN d INTEGER CHECK (VALUE > 0) CHECK (VALUE < 9) INITIALLY IMMEDIATE", 21, ""},
      {"CREATE SCHEMA s CREATE SYNONYM y FOR TABLE t CREATE COLLATION c FROM 'x'", 94, ""},
      {"COMMENT ON TABLE t ADD 'x'", 41, ""},
      {"COMMENT ON TABLE t IS '" + std::string(257, 'c') + "'", 41, "-12163 "},
      {"COMMIT TRANSACTION", 12, ""},
      {"SET :h = 1", 42, ""},
      {"CREATE BACKUP IN 'f' FOR DATABANK d", 110, ""},
      {"CREATE ONLINE BACKUP IN 'f' WITH LOG IN 'g' FOR DATABANK d", 110, "-12618 "},
      {"CREATE EXCLUSIVE BACKUP IN 'f' WITH LOG IN 'g' FOR DATABANK d", 60, ""},
      {"RESTORE LOG FOR DATABANK d", 61, ""},
      {"RESTORE IN 'f' FOR DATABANK d", 61, ""},
      {"ALTER DATABANK d RESTORE BETWEEN TIMESTAMP 'x' AND CURRENT_TIMESTAMP USING 'f'", 17, ""},
      // Parsed and refused at their second symbol (ALTER TABLE's at its seventh).
      {"ALTER SCHEMA s AUTHORIZATION u", -1, "-12104 "},
      {"CALL p(1, 'x')", -1, "-12104 "},
      {"CREATE PROCEDURE p (a INTEGER, b s.dom)", -1, "-12104 "},
      {"ALTER TABLE t ALTER a ADD UNIQUE", 35, "-12104 "},
      // Names each phrase limits to 128 characters.
      {"CREATE DATABANK " + std::string(129, 'd'), 18, "-12166 "},
      {"CREATE SHADOW " + std::string(129, 'h') + " FOR d IN 'f'", 30, "-12168 "},
      {"CREATE SCHEMA " + std::string(129, 's'), 94, "-12154 "},
      {"CREATE SCHEMA AUTHORIZATION " + std::string(129, 'u'), 94, "-12154 "},
      {"DROP STATEMENT " + std::string(129, 's'), 112, "-12165 "},
      {"DELETE FROM t WHERE CURRENT OF " + std::string(129, 'c'), 8, "-12157 "},
      {"CREATE IDENT " + std::string(129, 'i') + " AS GROUP", 24, "-12166 "},
      {"ALTER TABLE t DROP CONSTRAINT " + std::string(129, 'c'), 35, "-12166 "},
      {"CREATE VIEW " + std::string(129, 'v') + " AS SELECT a FROM t", 39, "-12167 "},
      {"INSERT INTO t (" + std::string(129, 'c') + ") VALUES (1)", 3, "-12120 "},
      // The refused forms' names are checked before the form is refused.
      {"CREATE PROCEDURE " + std::string(129, 'p') + " (a INTEGER)", -1, "-12158 -12104 "},
      {"CREATE PROCEDURE p (" + std::string(129, 'a') + " INTEGER)", -1, "-12161 -12156 -12104 "},
      {"ALTER SCHEMA " + std::string(129, 's'), -1, "-12160 -12104 "},
      {"ALTER SCHEMA s AUTHORIZATION " + std::string(129, 'u'), -1, "-12166 -12104 "},
      {"ALTER TABLE t ALTER " + std::string(129, 'c') + " ADD UNIQUE", 35, "-12159 -12104 "},
  };
  for (const Case& c : cases) {
    ParsedStatement p = ParseSql(c.text);
    EXPECT_EQ(Codes(p), c.codes) << c.text;
    EXPECT_EQ(p.kind, c.kind) << c.text;
  }
  // Start, step and limit: 1, 1 and 2147483647 when not written; a minus
  // sign negates through the pending sign.
  ParseOptions o;
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t node = WsWord(ctx, root, STN_ROOT_TOP);
    EXPECT_EQ(WsWord(ctx, node, 5), -5);
    EXPECT_EQ(WsWord(ctx, node, 6), 1);
    EXPECT_EQ(WsWord(ctx, node, 7), 2147483647);
  };
  ParseSql("CREATE SEQUENCE q INITIAL_VALUE = - 5", o);
  // The sign belongs to the number: the least 32-bit value is in range, one
  // below it is not.
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t node = WsWord(ctx, root, STN_ROOT_TOP);
    EXPECT_EQ(WsWord(ctx, node, 5), INT32_MIN);
    EXPECT_EQ(WsWord(ctx, node, 6), -2147483647);
    EXPECT_EQ(WsWord(ctx, node, 7), 0);
  };
  ParsedStatement least = ParseSql(
      "CREATE SEQUENCE q INITIAL_VALUE = -2147483648 INCREMENT = -2147483647 MAX_VALUE = 0", o);
  EXPECT_EQ(Codes(least), "-12843 ");  // the step runs away from the limit
  EXPECT_EQ(Codes(ParseSql("CREATE SEQUENCE q INITIAL_VALUE = -2147483649")), "-12230 ");
  EXPECT_EQ(Codes(ParseSql("CREATE SEQUENCE q INITIAL_VALUE = 2147483648")), "-12230 ");
  // A schema without elements: empty list and count 0; each element is a
  // tree of its own with the format tag.
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t node = WsWord(ctx, root, STN_ROOT_TOP);
    EXPECT_EQ(WsWord(ctx, node, 5), 0);
    EXPECT_EQ(WsWord(ctx, node, 6), 0);
  };
  ParseSql("CREATE SCHEMA s", o);
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t node = WsWord(ctx, root, STN_ROOT_TOP);
    EXPECT_EQ(WsWord(ctx, node, 6), 2);
    int32_t first = WsWord(ctx, WsWord(ctx, node, 5), CELL_VALUE);
    EXPECT_EQ(WsWord(ctx, first, STN_KIND), 0);
    EXPECT_EQ(std::string(qqwsadr(ctx, first) + 4 * STN_ROOT_TAG), "V8.2");
    EXPECT_EQ(WsWord(ctx, WsWord(ctx, first, STN_ROOT_TOP), STN_KIND), 1);
  };
  ParseSql("CREATE SCHEMA s CREATE TABLE t (a INT) CREATE INDEX i ON t (a)", o);
}

TEST(SqlGrammar, QueryKindFollowsTheRequestOptions) {
  ParseOptions first;
  first.first_option = 1;
  EXPECT_EQ(ParseSql("SELECT a FROM t", first).kind, 1);
  ParseOptions both = first;
  both.second_option = 1;
  EXPECT_EQ(ParseSql("SELECT a FROM t", both).kind, 57);
  ParsedStatement p = ParseSql("SELECT a FROM t FOR READ ONLY", first);
  EXPECT_EQ(p.kind, 2);
  EXPECT_EQ(Codes(p), "-14016 ");
}

// EXISTS as a select item is a value of its own: a NOT pending over the
// subquery whose select list holds it does not negate it (word 23), while
// NOT EXISTS in a condition is negated.
TEST(SqlGrammar, ExistsItemIsNotNegated) {
  struct Case {
    const char* condition;
    int32_t item_negated;
    int32_t condition_negated;
  } cases[] = {
      {"x = ANY (SELECT EXISTS (SELECT b FROM u) FROM v)", 0, -1},
      {"NOT x = ANY (SELECT EXISTS (SELECT b FROM u) FROM v)", 0, -1},
      {"NOT (x IN (SELECT EXISTS (SELECT b FROM u) e FROM v))", 0, -1},
      {"NOT EXISTS (SELECT b FROM u)", -1, 1},
      {"EXISTS (SELECT b FROM u)", -1, 0},
  };
  for (const Case& c : cases) {
    int32_t item = -1;
    int32_t condition = -1;
    ParseOptions o;
    o.poison = true;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t where = WsWord(ctx, WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3), 8);
      if (WsWord(ctx, where, EXN_KIND) == kExprExists) {
        condition = WsWord(ctx, where, EXN_OPERAND2);
        return;
      }
      // comparison, quantified node, subquery, query, first select item
      int32_t right = WsWord(ctx, where, EXN_OPERAND2);
      int32_t query = WsWord(ctx, WsWord(ctx, right, EXN_OPERAND1), EXN_OPERAND1);
      int32_t first = WsWord(ctx, WsWord(ctx, query, 4), CELL_VALUE);
      int32_t exists = WsWord(ctx, WsWord(ctx, first, 3), EXN_OPERAND1);
      ASSERT_EQ(WsWord(ctx, exists, EXN_KIND), kExprExists);
      item = WsWord(ctx, exists, EXN_OPERAND2);
    };
    ParsedStatement p = ParseSql(std::string("SELECT a FROM t WHERE ") + c.condition, o);
    EXPECT_EQ(Codes(p), "") << c.condition;
    EXPECT_EQ(item, c.item_negated) << c.condition;
    EXPECT_EQ(condition, c.condition_negated) << c.condition;
  }
}

TEST(SqlGrammar, LikeKeyRangeBesideTheLikeNode) {
  for (bool negated : {false, true}) {
    std::string text =
        std::string("SELECT a FROM t WHERE x ") + (negated ? "NOT " : "") + "LIKE 'AB%'";
    ParseOptions o;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
      int32_t range = WsWord(ctx, query, 8);
      EXPECT_EQ(WsWord(ctx, range, EXN_KIND), negated ? kExprOr : kExprAnd);
      int32_t like = WsWord(ctx, range, EXN_WORD24);
      ASSERT_NE(like, 0);
      EXPECT_EQ(WsWord(ctx, like, EXN_KIND), kExprLike);
      EXPECT_EQ(WsWord(ctx, like, EXN_OPERAND2), negated ? 1 : 0);
      int32_t low = WsWord(ctx, WsWord(ctx, range, EXN_OPERAND1), EXN_OPERAND2);
      int32_t record = WsWord(ctx, low, EXN_OPERAND1);
      ASSERT_EQ(WsWord(ctx, record, 0), 15000);
      const char* bytes = qqwsadr(ctx, record) + 4;
      EXPECT_EQ(std::string(bytes, 2), "AB");
      EXPECT_EQ(bytes[2], '\0');
      EXPECT_EQ(bytes[14999], '\0');
    };
    ParsedStatement p = ParseSql(text, o);
    EXPECT_EQ(p.printed, Upper(negated ? "SELECT a FROM t WHERE ((x < 'AB'<00*14998>) OR (x > "
                                         "'AB'<FF*14998>))"
                                       : "SELECT a FROM t WHERE ((x >= 'AB'<00*14998>) AND (x <= "
                                         "'AB'<FF*14998>))"));
  }
  struct Case {
    const char* pattern;
    const char* printed;
  } alone[] = {
      {"'A_B%'", "(x LIKE 'A_B%')"},
      {"'AB%C'", "(x LIKE 'AB%C')"},
      {"'AB'", "(x LIKE 'AB')"},
      {"'AB %'", "(x LIKE 'AB %')"},
      {"'AB!' ESCAPE '!'", "(x LIKE 'AB!' ESCAPE '!')"},
      {"b", "(x LIKE b)"},
  };
  for (const Case& c : alone) {
    ParsedStatement p = ParseSql(std::string("SELECT a FROM t WHERE x LIKE ") + c.pattern);
    EXPECT_EQ(p.printed, Upper(std::string("SELECT a FROM t WHERE ") + c.printed)) << c.pattern;
  }
  EXPECT_EQ(ParseSql("SELECT a FROM t WHERE x LIKE4 'AB%'").printed,
            Upper("SELECT a FROM t WHERE (x LIKE4 'AB%')"));
}

TEST(SqlGrammar, ActionErrorsAndTheParseGoesOn) {
  struct Case {
    const char* text;
    int32_t mode;
    const char* codes;
    const char* param;  // of the first condition
  } cases[] = {
      {"SELECT CAST(a AS CHAR(15001)) FROM t", 0, "-12512 ", ""},
      {"SELECT CAST(a AS CHAR(15000)) FROM t", 0, "", ""},
      {"SELECT CAST(a AS CHAR(0)) FROM t", 0, "-12512 ", ""},
      {"SELECT CAST(a AS NCHAR(5001)) FROM t", 0, "-12512 ", ""},
      {"SELECT CAST(a AS DECIMAL(46)) FROM t", 0, "-12512 ", ""},
      {"SELECT CAST(a AS DECIMAL(5, 6)) FROM t", 0, "-12512 ", ""},
      {"SELECT cursor FROM t", 0, "-12125 ", ""},
      {"SELECT a FROM t;", 1, "-12108 ", ""},
      {"SELECT a FROM t WHERE a = (b", 0, "-12101 ", "N\t')' "},
      {"SELECT a FROM t WHERE (CURRENT_DATE - b) DAY = 1 AND (a) DAY = 2", 0, "-12283 ", ""},
      {"SELECT a COLLATE nowhere.x FROM t", 0, "-12632 ", "O\tNOWHERE.X"},
      {"SELECT INTERVAL '1' MONTH TO DAY FROM t", 0, "-12282 ", ""},
      {"SELECT INTERVAL '1' DAY TO HOUR FROM t", 0, "", ""},
      {"CREATE TABLE t (a INT CONSTRAINT kk UNIQUE PRIMARY KEY)", 0, "-12582 ", ""},
      {"SELECT INTERVAL '1' DAY (8) FROM t", 0, "-12512 ", ""},
      {"SELECT INTERVAL '1' HOUR (8) FROM t", 0, "", ""},
      {"SELECT INTERVAL '1' SECOND (5, 10) FROM t", 0, "-12512 ", ""},
      {"SELECT INTERVAL '1' MINUTE (11) TO SECOND FROM t", 0, "-12512 ", ""},
      {"SELECT a FROM t GROUP BY a COLLATE nowhere.x", 0, "-12632 ", "O\tNOWHERE.X"},
      {"SELECT a at FROM t", 0, "-12125 ", ""},
  };
  for (const Case& c : cases) {
    ParseOptions o;
    o.mode = c.mode;
    ParsedStatement p = ParseSql(c.text, o);
    EXPECT_EQ(Codes(p), c.codes) << c.text;
    if (!p.conditions.empty()) {
      EXPECT_EQ(p.conditions[0].text, c.param) << c.text;
    }
  }
  ParsedStatement p = ParseSql("SELECT a FROM t;");
  EXPECT_EQ(p.end, 15);
  ParseOptions mode1;
  mode1.mode = 1;
  p = ParseSql("SELECT a FROM t;", mode1);
  EXPECT_EQ(p.end, -1);
  EXPECT_EQ(p.root, -1);
}

TEST(SqlGrammar, JoinedLiteralsStopAt15000Bytes) {
  ParseOptions o;
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
    int32_t item = WsWord(ctx, WsWord(ctx, query, 4), CELL_VALUE);
    int32_t literal = WsWord(ctx, WsWord(ctx, item, 3), EXN_OPERAND1);
    EXPECT_EQ(WsWord(ctx, WsWord(ctx, literal, EXN_OPERAND1), 0), 15000);
  };
  std::string text =
      "SELECT '" + std::string(7500, 'a') + "' '" + std::string(7501, 'b') + "' FROM t";
  EXPECT_EQ(Codes(ParseSql(text, o)), "-12128 ");
  text = "SELECT '" + std::string(7500, 'a') + "' '" + std::string(7500, 'b') + "' FROM t";
  EXPECT_EQ(Codes(ParseSql(text)), "");
}

TEST(SqlGrammar, SizedAndTimedTypes) {
  struct Case {
    const char* type;
    int32_t code, length, scale;
  } cases[] = {
      {"BLOB (10 K)", 31, 10240, 0}, {"CLOB (1 G)", 32, 1073741824, 0},
      {"BLOB (8 G)", 31, 0, 2},      {"TIME (3)", 11, 9, 3},
      {"TIMESTAMP (0)", 12, 14, 0},  {"TIMESTAMP (10)", 12, 20, 6},
  };
  for (const Case& c : cases) {
    ParseOptions o;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
      int32_t item = WsWord(ctx, WsWord(ctx, query, 4), CELL_VALUE);
      int32_t cast = WsWord(ctx, WsWord(ctx, item, 3), EXN_OPERAND1);
      int32_t type = WsWord(ctx, cast, 24);
      EXPECT_EQ(WsWord(ctx, type, 0), c.code) << c.type;
      EXPECT_EQ(WsWord(ctx, type, 1), c.length) << c.type;
      EXPECT_EQ(WsWord(ctx, type, 2), c.scale) << c.type;
    };
    ParsedStatement p = ParseSql(std::string("SELECT CAST(a AS ") + c.type + ") FROM t", o);
    EXPECT_EQ(Codes(p), std::string(c.type) == "TIMESTAMP (10)" ? "-12512 " : "") << c.type;
  }
}

TEST(SqlGrammar, LengthSuffixes) {
  int64_t v = 0;
  EXPECT_EQ(LengthWithSuffix(&v, "10", 1), 0);
  EXPECT_EQ(v, 10240);
  EXPECT_EQ(LengthWithSuffix(&v, "1", 3), 0);
  EXPECT_EQ(v, 1073741824);
  EXPECT_EQ(LengthWithSuffix(&v, "7", 0), 0);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(LengthWithSuffix(&v, "7", 4), -1);
  EXPECT_EQ(LengthWithSuffix(&v, "99999999999999999999", 2), 1);
  EXPECT_EQ(LengthWithSuffix(&v, "1x", 0), 1);
}

TEST(SqlGrammar, EmptyStatementsAndLongNames) {
  for (const char* text : {"", ";", "  -- only a comment"}) {
    ParsedStatement p = ParseSql(text);
    EXPECT_EQ(Codes(p), "") << text;
    EXPECT_EQ(p.root, -1) << text;
    EXPECT_EQ(p.kind, -1) << text;  // no kind recorded
  }
  std::string name(129, 'n');
  ParsedStatement p = ParseSql("SELECT a AS " + name + " FROM t");
  EXPECT_EQ(Codes(p), "-12164 ");
  EXPECT_EQ(p.printed, "SELECT A AS " + std::string(128, 'N') + " FROM T");
  p = ParseSql("SELECT " + name + " FROM t");
  EXPECT_EQ(Codes(p), "");
  EXPECT_EQ(p.printed, "SELECT " + std::string(128, 'N') + " FROM T");
  p = ParseSql("SELECT :" + name + " FROM t");
  EXPECT_EQ(Codes(p), "-12162 ");
}

TEST(SqlGrammar, IndexColumnLimit) {
  std::string columns;
  for (int i = 1; i <= 33; ++i) columns += (i > 1 ? ", c" : "c") + std::to_string(i);
  ParsedStatement p = ParseSql("CREATE INDEX i ON t (" + columns + ")");
  EXPECT_EQ(Codes(p), "-12544 ");
  ASSERT_FALSE(p.conditions.empty());
  EXPECT_EQ(p.conditions[0].text, "N\tCREATE INDEX");
  std::string fewer = columns.substr(0, columns.rfind(','));
  EXPECT_EQ(Codes(ParseSql("CREATE INDEX i ON t (" + fewer + ")")), "");
}

TEST(SqlGrammar, TableDefinitionChecks) {
  struct Case {
    const char* text;
    const char* codes;
  } cases[] = {
      {"CREATE TABLE t (a INT UNIQUE PRIMARY KEY)", "-12582 "},
      {"CREATE TABLE t (a INT PRIMARY KEY UNIQUE)", "-12582 "},
      {"CREATE TABLE t (a INT UNIQUE UNIQUE)", "-12583 "},
      {"CREATE TABLE t (a INT PRIMARY KEY PRIMARY KEY)", "-12131 "},
      {"CREATE TABLE t (a INT PRIMARY KEY, b INT PRIMARY KEY)", "-12131 "},
      {"CREATE TABLE t (PRIMARY KEY (a))", "-12129 "},
      {"CREATE TABLE t (a INT REFERENCES u (x, y))", "-12132 "},
      {"CREATE TABLE t (a INT REFERENCES u (x) ON DELETE CASCADE, b INT NOT NULL)", ""},
  };
  for (const Case& c : cases) {
    ParsedStatement p = ParseSql(c.text);
    EXPECT_EQ(Codes(p), c.codes) << c.text;
    EXPECT_EQ(p.kind, 36) << c.text;
  }
}

TEST(SqlGrammar, AbsentReferencedColumnsAreEmpty) {
  // Garbage above the stack must not become the absent list's count or head.
  ParseOptions o;
  o.poison = true;
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t table = WsWord(ctx, root, STN_ROOT_TOP);
    int32_t references = WsWord(ctx, table, 7);
    ASSERT_NE(references, 0);
    int32_t record = WsWord(ctx, references, CELL_VALUE);
    EXPECT_EQ(WsWord(ctx, record, 2), 0);  // referenced columns
    EXPECT_EQ(WsWord(ctx, record, 4), 4);  // NO ACTION when none is written
    EXPECT_EQ(WsWord(ctx, table, 10), 0);  // the absent trailing option
  };
  ParsedStatement p = ParseSql("CREATE TABLE t (a INT REFERENCES u)", o);
  EXPECT_EQ(Codes(p), "");
}

// A column's check list holds the unnamed CHECK conditions themselves and
// the named constraints' four-word records; only a named NOT NULL record
// gets the condition (column IS NULL) filled in: an unnamed CHECK's node is
// left as it was built.
TEST(SqlGrammar, ColumnChecksKeepTheirConditions) {
  ParseOptions o;
  o.poison = true;
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t table = WsWord(ctx, root, STN_ROOT_TOP);
    int32_t column = WsWord(ctx, WsWord(ctx, table, 4), CELL_VALUE);
    int32_t checks = WsWord(ctx, column, 8);
    ASSERT_EQ(qqllen(ctx, checks), 3);
    // CHECK (a > 0), built under the NOT flag of its opening: a <= 0.
    int32_t unnamed = qqlnth(ctx, checks, 1);
    EXPECT_EQ(WsWord(ctx, unnamed, EXN_KIND), kExprLe);
    for (int32_t w : {2, 3, 4}) EXPECT_EQ(WsWord(ctx, unnamed, w), 0) << w;
    // CONSTRAINT n NOT NULL: (n, position, a IS NULL).
    int32_t not_null = qqlnth(ctx, checks, 2);
    int32_t test = WsWord(ctx, not_null, 3);
    ASSERT_NE(test, 0);
    EXPECT_EQ(WsWord(ctx, test, EXN_KIND), kExprEq);
    EXPECT_EQ(WsWord(ctx, WsWord(ctx, test, EXN_OPERAND2), EXN_KIND), kExprNull);
    int32_t name = WsWord(ctx, WsWord(ctx, test, EXN_OPERAND1), EXN_OPERAND1);
    EXPECT_EQ(WsWord(ctx, name, 1), WsWord(ctx, column, 0));
    // CONSTRAINT c CHECK (a < 9): the record keeps its condition, a >= 9.
    int32_t named = qqlnth(ctx, checks, 3);
    EXPECT_EQ(WsWord(ctx, WsWord(ctx, named, 3), EXN_KIND), kExprGe);
  };
  ParsedStatement p = ParseSql(
      "CREATE TABLE t (a INT CHECK (a > 0) CONSTRAINT n NOT NULL CONSTRAINT c CHECK (a < 9))", o);
  EXPECT_EQ(Codes(p), "");
  EXPECT_TRUE(p.poisoned.empty());
}

// Every finished list is in source order: a column's own references and
// checks, and the table's list of references that collects them.
TEST(SqlGrammar, ColumnConstraintListsInSourceOrder) {
  ParseOptions o;
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t table = WsWord(ctx, root, STN_ROOT_TOP);
    int32_t column = WsWord(ctx, WsWord(ctx, table, 4), CELL_VALUE);
    auto referenced = [&](int32_t record) {
      QualifiedName name;
      qqnamget(ctx, WsWord(ctx, record, 3), &name);
      return std::string(name.name[0]);
    };
    std::string own;
    for (int32_t c = WsWord(ctx, column, 7); c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      own += referenced(WsWord(ctx, c, CELL_VALUE));
    }
    EXPECT_EQ(own, "XY");
    std::string all;
    for (int32_t c = WsWord(ctx, table, 7); c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      all += referenced(WsWord(ctx, c, CELL_VALUE));
    }
    EXPECT_EQ(all, "XYZW");
    // CHECK (a > 1) CHECK (a > 2): a <= 1 first.
    int32_t checks = WsWord(ctx, column, 8);
    ASSERT_EQ(qqllen(ctx, checks), 2);
    int32_t first = qqlnth(ctx, checks, 1);
    std::string bound = SqlPrintExpression(ctx, first);
    EXPECT_EQ(bound, "(A <= 1)");
  };
  ParsedStatement p = ParseSql(
      "CREATE TABLE t (a INT REFERENCES x CHECK (a > 1) REFERENCES y CHECK (a > 2), "
      "b INT REFERENCES z, FOREIGN KEY (b) REFERENCES w)",
      o);
  EXPECT_EQ(Codes(p), "");
}

// A FROM clause holds an outer join when a joined table of its list does,
// also one written as a parenthesised TABLE query (which stands for its
// table reference) and one on the right of a NATURAL join.
TEST(SqlGrammar, OuterJoinFlagOfTheFromClause) {
  struct Case {
    const char* from;
    int32_t outer;
  } cases[] = {
      {"t LEFT JOIN u ON t.a = u.a", 1},
      {"(TABLE t LEFT JOIN u ON t.a = u.a)", 1},
      {"(TABLE t JOIN u ON t.a = u.a)", 0},
      {"v, (TABLE t RIGHT JOIN u ON t.a = u.a)", 1},
      {"v NATURAL JOIN (TABLE t LEFT JOIN u ON t.a = u.a)", 1},
      {"v NATURAL JOIN (TABLE t)", 0},
      {"(TABLE t LEFT JOIN u ON t.a = u.a) JOIN v ON v.a = t.a", 1},
  };
  for (const Case& c : cases) {
    for (bool poison : {false, true}) {
      int32_t outer = -1;
      ParseOptions o;
      o.poison = poison;
      o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
        outer = WsWord(ctx, WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3), 13);
      };
      ParsedStatement p = ParseSql(std::string("SELECT a FROM ") + c.from, o);
      EXPECT_EQ(Codes(p), "") << c.from;
      EXPECT_EQ(outer, c.outer) << c.from;
    }
  }
}

TEST(SqlGrammar, CharLengthOutOfRangeBecomesOne) {
  ParseOptions o;
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
    int32_t item = WsWord(ctx, WsWord(ctx, query, 4), CELL_VALUE);
    int32_t cast = WsWord(ctx, WsWord(ctx, item, 3), EXN_OPERAND1);
    int32_t type = WsWord(ctx, cast, 24);
    EXPECT_EQ(WsWord(ctx, type, 0), 4);
    EXPECT_EQ(WsWord(ctx, type, 1), 1);
  };
  ParseSql("SELECT CAST(a AS CHAR(15001)) FROM t", o);
}

TEST(SqlGrammar, NotStackDepthIsBounded) {
  std::string deep = "SELECT a FROM t WHERE ";
  for (int i = 0; i < 300; ++i) deep += "NOT ";
  deep += "a = 1";
  ParsedStatement p = ParseSql(deep);
  ASSERT_FALSE(p.conditions.empty());
  // The parser stack or the NOT stack ends it, whichever fills first.
  EXPECT_TRUE(p.conditions.back().code == -19226 || p.conditions.back().code == -11113) << Codes(p);
}

// The first select item's value of a query statement.
int32_t FirstItem(SqlCompileCtx* ctx, int32_t root) {
  int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
  int32_t item = WsWord(ctx, WsWord(ctx, query, 4), CELL_VALUE);
  return WsWord(ctx, WsWord(ctx, item, 3), EXN_OPERAND1);
}

std::string TypeWords(SqlCompileCtx* ctx, int32_t type) {
  if (type == 0) return "none";
  return std::to_string(WsWord(ctx, type, 0)) + " " + std::to_string(WsWord(ctx, type, 1)) + " " +
         std::to_string(WsWord(ctx, type, 2));
}

// A domain names the type of a column, a CAST and a domain: the phrase's
// type name word holds its qualified name and there is no type node (the
// domain's type is found later); a type keyword alone stays the built-in
// type.
TEST(SqlGrammar, DomainsAsDataTypes) {
  auto name_of = [](SqlCompileCtx* ctx, int32_t node) {
    if (node == 0) return std::string("none");
    QualifiedName name;
    qqnamget(ctx, node, &name);
    return std::string(name.name[1]) + "." + name.name[0];
  };
  std::string seen;
  ParseOptions o;
  o.poison = true;
  o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    int32_t table = WsWord(ctx, root, STN_ROOT_TOP);
    for (int32_t c = WsWord(ctx, table, 4); c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      int32_t column = WsWord(ctx, c, CELL_VALUE);
      seen += name_of(ctx, WsWord(ctx, column, 2)) + "/" + std::to_string(WsWord(ctx, column, 1)) +
              " ";
    }
  };
  ParsedStatement p = ParseSql("CREATE TABLE t (a mydomain, b s.dom NOT NULL, c date)", o);
  EXPECT_EQ(Codes(p), "");
  EXPECT_TRUE(p.poisoned.empty());
  EXPECT_EQ(seen.substr(0, 21), ".MYDOMAIN/0 S.DOM/0 n");  // DATE has its type node
  // CAST's type name (word 25) and type node (word 24).
  o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    int32_t cast = FirstItem(ctx, root);
    seen = name_of(ctx, WsWord(ctx, cast, 25)) + " " + std::to_string(WsWord(ctx, cast, 24));
  };
  EXPECT_EQ(Codes(ParseSql("SELECT CAST(a AS s.d) FROM t", o)), "");
  EXPECT_EQ(seen, "S.D 0");
  o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    int32_t cast = FirstItem(ctx, root);
    seen = name_of(ctx, WsWord(ctx, cast, 25)) + " " +
           std::to_string(WsWord(ctx, WsWord(ctx, cast, 24), 0));
  };
  EXPECT_EQ(Codes(ParseSql("SELECT CAST(a AS INTEGER) FROM t", o)), "");
  EXPECT_EQ(seen, "none 1");
  // DOUBLE PRECISION spells its type and keeps its name in the same shape.
  EXPECT_EQ(Codes(ParseSql("SELECT CAST(a AS DOUBLE PRECISION) FROM t", o)), "");
  EXPECT_EQ(seen, ".DOUBLE PRECISION 2");
  // A domain over a domain; an altered column given a domain.
  EXPECT_EQ(Codes(ParseSql("CREATE DOMAIN d AS base")), "");
  ParsedStatement altered = ParseSql("ALTER TABLE t ALTER a d");
  EXPECT_EQ(Codes(altered), "");
  EXPECT_EQ(altered.kind, 35);
  EXPECT_EQ(Codes(ParseSql("ALTER TABLE t ALTER a ADD UNIQUE")), "-12104 ");
}

TEST(SqlGrammar, IntervalPrecisionsAndTypesWithoutLength) {
  struct Case {
    const char* value;  // a select item
    bool cast;          // the type is a CAST's target (else the literal's type)
    const char* type;   // code, length, scale
  } cases[] = {
      {"INTERVAL '1' DAY", false, "15 7 6"},
      {"INTERVAL '1' DAY (3)", false, "15 8 6"},
      {"INTERVAL '1' DAY (8)", false, "15 7 6"},  // -12512: the default 2
      {"INTERVAL '1' SECOND (5, 3)", false, "18 8 3"},
      {"INTERVAL '1' SECOND (3)", false, "18 9 6"},
      {"INTERVAL '1' DAY (2) TO SECOND (3)", false, "22 10 3"},
      {"INTERVAL '1' DAY TO SECOND", false, "22 7 0"},
      {"INTERVAL '1' DAY (4) TO HOUR", false, "20 9 0"},
      {"INTERVAL '1' YEAR TO MONTH", false, "19 4 0"},
      {"CAST(a AS CHAR(*))", true, "4 -1 -1"},
      {"CAST(a AS VARCHAR(*))", true, "8 -1 -1"},
      {"CAST(a AS NCHAR VARYING(*))", true, "35 -1 -1"},
      {"CAST(a AS TIMESTAMP(*))", true, "12 -1 -1"},
      {"CAST(a AS TIME WITHOUT TIME ZONE)", true, "11 6 0"},
      {"CAST(a AS BINARY LARGE OBJECT)", true, "31 1048576 0"},
      {"CAST(a AS CHARACTER LARGE OBJECT (2 K))", true, "32 2048 0"},
      {"CAST(a AS NATIONAL CHARACTER (7))", true, "34 7 -1"},
      {"CAST(a AS BINARY VARYING (9))", true, "30 9 -1"},
  };
  for (const Case& c : cases) {
    std::string type;
    ParseOptions o;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t node = FirstItem(ctx, root);
      type = TypeWords(ctx, c.cast ? WsWord(ctx, node, 24) : WsWord(ctx, node, EXN_TYPE));
    };
    ParseSql(std::string("SELECT ") + c.value + " FROM t", o);
    EXPECT_EQ(type, c.type) << c.value;
  }
}

TEST(SqlGrammar, ReferentialRulesKeepTheDeleteAction) {
  struct Case {
    const char* rules;
    int32_t action;
  } cases[] = {
      {"", 4},
      {"ON DELETE CASCADE", 1},
      {"ON UPDATE CASCADE", 4},
      {"ON UPDATE CASCADE ON DELETE SET NULL", 2},
      {"ON DELETE SET DEFAULT ON UPDATE NO ACTION", 3},
  };
  for (const Case& c : cases) {
    int32_t action = -1;
    ParseOptions o;
    o.poison = true;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t table = WsWord(ctx, root, STN_ROOT_TOP);
      action = WsWord(ctx, WsWord(ctx, WsWord(ctx, table, 7), CELL_VALUE), 4);
    };
    ParsedStatement p =
        ParseSql(std::string("CREATE TABLE t (a INT REFERENCES u ") + c.rules + ")", o);
    EXPECT_EQ(Codes(p), "") << c.rules;
    EXPECT_EQ(action, c.action) << c.rules;
  }
}

TEST(SqlGrammar, UtilityNodesAndCollectedNames) {
  // Backup: databank, file, log file, online flag.
  ParseOptions o;
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t* n = &WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 0);
    EXPECT_EQ(n[STN_KIND], 34);
    EXPECT_EQ(std::string(qqwsadr(ctx, WsWord(ctx, n[3], 2))), "D");
    EXPECT_EQ(WsWord(ctx, n[4], 0), 1);  // 'f'
    EXPECT_EQ(WsWord(ctx, n[5], 0), 2);  // 'gg'
    EXPECT_EQ(n[6], 0);
  };
  EXPECT_EQ(ParseSql("CREATE EXCLUSIVE BACKUP IN 'f' WITH LOG IN 'gg' FOR DATABANK d", o).kind, 60);
  // Restore over a time range: the AND of two timestamp literals.
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t* n = &WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 0);
    EXPECT_EQ(n[STN_KIND], 35);
    EXPECT_EQ(WsWord(ctx, n[5], EXN_KIND), kExprAnd);
    EXPECT_EQ(WsWord(ctx, WsWord(ctx, n[5], EXN_OPERAND2), EXN_LITERAL_TYPE), 12);
  };
  ParseSql("ALTER DATABANK d RESTORE BETWEEN TIMESTAMP 'a' AND TIMESTAMP 'b' USING 'f'", o);
  // A view collects the names of its query's column lists.
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t view = WsWord(ctx, root, STN_ROOT_TOP);
    int32_t collected = WsWord(ctx, view, 9);
    ASSERT_EQ(qqllen(ctx, collected), 2);
    int32_t first = WsWord(ctx, collected, CELL_VALUE);
    EXPECT_EQ(std::string(qqwsadr(ctx, WsWord(ctx, first, 2))), "A");
  };
  ParseSql("CREATE VIEW v AS SELECT x FROM t JOIN u USING (a, b)", o);
  // USER in the schema path is the user's schema; a domain's checks in order.
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t path = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
    int32_t second = WsWord(ctx, WsWord(ctx, path, CELL_NEXT), CELL_VALUE);
    EXPECT_EQ(std::string(qqwsadr(ctx, WsWord(ctx, second, 2))), "HOME");
  };
  ParseSql("SET PATH s, USER", o);
  o.inspect = [](SqlCompileCtx* ctx, int32_t root) {
    int32_t checks = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 6);
    ASSERT_EQ(qqllen(ctx, checks), 2);
    int32_t first = WsWord(ctx, WsWord(ctx, checks, CELL_VALUE), 3);
    // A check condition is built under the NOT flag its opening pushes.
    EXPECT_EQ(WsWord(ctx, first, EXN_KIND), kExprLe);
  };
  ParseSql("CREATE DOMAIN d INTEGER CHECK (VALUE > 0) CONSTRAINT c CHECK (VALUE < 9)", o);
  // VALUE before a comparison takes its own form (482), elsewhere it is a
  // primary (544); both build a column named VALUE.
  for (const char* check : {"VALUE > 0", "VALUE + 1 > 0", "VALUE BETWEEN 1 AND 2"}) {
    ParsedStatement p = ParseSql(std::string("CREATE DOMAIN d INTEGER CHECK (") + check + ")");
    EXPECT_EQ(Codes(p), "") << check;
    bool comparison_form = std::find(p.rules.begin(), p.rules.end(), 482) != p.rules.end();
    EXPECT_EQ(comparison_form, std::string(check) == "VALUE > 0") << check;
  }
}

}  // namespace
