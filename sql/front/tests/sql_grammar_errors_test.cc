// The grammar actions' user errors at the symbols they concern: each error
// is raised at the position of the token its phrase names (positions count
// characters from 0), with its parameter text where it has one, and the
// parse goes on to a statement.
#include <gtest/gtest.h>

#include <string>

#include "sql/front/tests/sql_grammar_support.h"

namespace {

TEST(SqlGrammarErrors, RaisedAtTheirSymbols) {
  const std::string n129(129, 'n');
  struct Case {
    std::string text;
    int32_t code;
    std::string at;  // the text the error's position points to
    int32_t mode = 0;
    const char* param = "";
  } cases[] = {
      // Refused forms: ALTER TABLE's INTO and ADD, the others' second symbol.
      {"ALTER TABLE t INTO db", -12104, "INTO db"},
      {"ALTER TABLE t ALTER a ADD UNIQUE", -12104, "ADD UNIQUE"},
      {"ALTER SCHEMA s", -12104, "SCHEMA s"},
      {"CALL p(1)", -12104, "p(1)"},
      {"CREATE PROCEDURE p (a INTEGER)", -12104, "PROCEDURE"},
      {"SELECT a FROM (SELECT b FROM u) x", -12104, "(SELECT b"},
      {"SELECT a FROM t;", -12108, ";", 1},
      {"DELETE FROM t WHERE CURRENT OF c", -12152, "WHERE", 3, "N\tWHERE CURRENT OF"},
      {"CREATE IDENT u AS USER IDENTIFIED 'a b'", -12123, "'a b'"},
      {"SELECT cursor FROM t", -12125, "cursor"},
      {"SELECT '" + std::string(7500, 'a') + "' '" + std::string(7501, 'b') + "' FROM t", -12128,
       "'bbb"},
      {"CREATE TABLE t (PRIMARY KEY (a))", -12129, "CREATE"},
      {"CREATE TABLE t (a INT PRIMARY KEY, b INT PRIMARY KEY)", -12131, "b INT"},
      {"CREATE TABLE t (a INT PRIMARY KEY PRIMARY KEY)", -12131, "PRIMARY KEY)"},
      {"CREATE TABLE t (a INT REFERENCES u (x, y))", -12132, "REFERENCES"},
      {"CREATE TABLE t (a INT UNIQUE PRIMARY KEY)", -12582, "PRIMARY"},
      {"CREATE TABLE t (a INT PRIMARY KEY UNIQUE)", -12582, "UNIQUE"},
      {"CREATE TABLE t (a INT UNIQUE UNIQUE)", -12583, "UNIQUE)"},
      {"SELECT a AS " + n129 + " FROM t", -12164, n129},
      {"SET PATH a, b, c, d", -12169, "d"},
      {"SET TRANSACTION DIAGNOSTICS SIZE 2147483648", -12230, "2147483648"},
      {"CREATE SEQUENCE q INCREMENT = 99999999999", -12230, "99999999999"},
      {"SELECT INTERVAL '1' MONTH TO DAY FROM t", -12282, "MONTH"},
      {"SELECT a FROM t WHERE (a) DAY = 2", -12283, "DAY"},
      {"SELECT CAST(a AS CHAR(15001)) FROM t", -12512, "15001"},
      {"SELECT CAST(a AS DECIMAL(5, 6)) FROM t", -12512, "6)"},
      {"SELECT CAST(a AS DECIMAL(46, 6)) FROM t", -12512, "46"},
      {"SELECT INTERVAL '1' DAY (8) FROM t", -12512, "8)"},
      {"SELECT CAST(a AS TIME (10)) FROM t", -12512, "10"},
      {"SELECT CAST(a AS BLOB (99999999999999999999 G)) FROM t", -12512, "9999"},
      {"CREATE INDEX i ON t (c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15, "
       "c16, c17, c18, c19, c20, c21, c22, c23, c24, c25, c26, c27, c28, c29, c30, c31, c32, c33)",
       -12544, "c1,", 0, "N\tCREATE INDEX"},
      {"CREATE ONLINE BACKUP IN 'f' WITH LOG IN 'g' FOR DATABANK d", -12618, "CREATE"},
      {"SELECT a COLLATE x.y FROM t", -12632, "COLLATE", 0, "O\tX.Y"},
      {"SELECT a FROM t GROUP BY a COLLATE y", -12632, "COLLATE", 0, "O\tY"},
      {"CREATE SEQUENCE q INCREMENT = 0", -12842, "INCREMENT"},
      {"CREATE SEQUENCE q INITIAL_VALUE = 10 MAX_VALUE = 1", -12843, "CREATE"},
      {"SELECT a FROM t FOR READ ONLY", -14016, "FOR"},
      {"COMMENT ON TABLE t IS '" + std::string(257, 'c') + "'", -12163, "'ccc"},
      // Names cut to 128 characters, each reported by the phrase that uses it.
      {"SELECT :" + n129 + " FROM t", -12162, ":" + n129},
      {"INSERT INTO t (" + n129 + ") VALUES (1)", -12120, n129},
      {"SELECT x." + n129 + ".z FROM t", -12120, "x."},
      {"CREATE VIEW " + n129 + " AS SELECT a FROM t", -12167, n129},
      {"DELETE FROM t WHERE CURRENT OF " + n129, -12157, n129},
      {"CREATE TABLE t (a INT CONSTRAINT " + n129 + " UNIQUE)", -12156, n129},
      {"CREATE SCHEMA " + n129, -12154, n129},
      {"CREATE SHADOW " + n129 + " FOR d IN 'f'", -12168, n129},
      {"DROP STATEMENT " + n129, -12165, n129},
      {"CREATE TABLE t (" + n129 + " INT)", -12166, n129},
      {"CREATE PROCEDURE " + n129 + " (a INTEGER)", -12158, n129},
      {"ALTER SCHEMA " + n129, -12160, n129},
      {"CREATE PROCEDURE p (" + n129 + " INTEGER)", -12161, n129},
      {"ALTER TABLE t ALTER " + n129 + " ADD UNIQUE", -12159, n129},
  };
  for (const Case& c : cases) {
    ParseOptions o;
    o.mode = c.mode;
    o.first_option = c.code == -14016 ? 1 : 0;
    ParsedStatement p = ParseSql(c.text, o);
    const RecordedCondition* found = nullptr;
    for (const RecordedCondition& k : p.conditions) {
      if (k.code == c.code && found == nullptr) found = &k;
    }
    std::string shown = c.text.substr(0, 60);
    ASSERT_NE(found, nullptr) << shown;
    EXPECT_EQ(found->position, static_cast<int32_t>(c.text.find(c.at))) << shown;
    EXPECT_EQ(found->severity, 3) << shown;
    EXPECT_EQ(found->text, c.param) << shown;
    // The parse went on to close the statement (mode 1's separator leaves
    // no root by design).
    if (c.code != -12108) {
      EXPECT_NE(p.root, -1) << shown;
    }
  }
}

}  // namespace
