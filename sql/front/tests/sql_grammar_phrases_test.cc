// The phrase table: statements whose action traces together reduce every
// production of the SQL grammar, so that no production is left untried; each
// must parse without a syntax error, and give the same tree when every
// value-entry word that no symbol wrote holds poison.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "sql/front/tests/sql_grammar_support.h"
#include "sql_grammar_tables_gen.h"

namespace {

const char* const kPhrases[] = {
    "SELECT a FROM t;",
    ";",
    "SELECT ALL t.*, s.u.*, a x, b AS y, COUNT(*), COUNT(DISTINCT a), AVG(ALL a), SUM(DISTINCT a), "
    "MAX(DISTINCT a), MIN(ALL a) FROM WITH JOIN ORDER s.u (INDEX i) AS x, v y "
    "WHERE CURRENT_TIME IS NOT NULL GROUP BY a, t.b, s.t.c HAVING COUNT(a) > 1",
    "SELECT * FROM t JOIN u USING (a, b) INNER JOIN v ON a = b LEFT JOIN w ON a < b "
    "RIGHT JOIN x ON a > b LEFT OUTER JOIN y ON a <= b RIGHT OUTER JOIN z ON a >= b "
    "NATURAL JOIN q, (TABLE r)",
    "SELECT a FROM t UNION SELECT b FROM u UNION DISTINCT TABLE v UNION ALL (SELECT c FROM w) "
    "ORDER BY 1 COLLATE german ASC, a DESC, b FOR READ ONLY",
    "SELECT a FROM t FOR UPDATE",
    "SELECT a FROM t FOR UPDATE OF a, b",
    "SELECT a FROM t WHERE NOT a = 1 OR (b <> 2 AND c LIKE 'x%' AND c NOT LIKE4 'y' AND "
    "c LIKE 'z' ESCAPE '!' AND a IN (1) AND a NOT IN (1, 2, 3) AND b IS NULL AND "
    "b NOT BETWEEN 1 AND 2 AND (a, b) OVERLAPS (c, d) AND EXISTS (SELECT a FROM u) AND "
    "a IN (SELECT a FROM u) AND a = ALL (SELECT a FROM u) AND a < ANY (SELECT a FROM u) AND "
    "a > SOME (SELECT a FROM u))",
    "SELECT a + b - c || d * e / f, +a, -1, (a) COLLATE german, (c - d) YEAR, (c - d) MONTH, "
    "(c - d) DAY, (c - d) HOUR, (c - d) MINUTE, (c - d) SECOND, :h, ?, :h INDICATOR :i, "
    "CASE a WHEN 1 THEN 2 WHEN 3 THEN 4 END, CASE WHEN a = 1 THEN 2 WHEN b = 2 THEN 3 ELSE 4 END, "
    "CAST(a AS INTEGER), (SELECT a FROM u), f(a, b), fn(), CURRENT_VALUE OF s, NEXT_VALUE OF s.q "
    "FROM t",
    "SELECT SUBSTRING(a FROM 1), SUBSTRING(a FROM 1 FOR 2), TRIM(a FROM b), REPEAT(a, 2), "
    "TRIM(LEADING FROM a), TRIM(TRAILING 'x' FROM a), TRIM(BOTH FROM a), POSITION(a IN b), "
    "EXTRACT(YEAR FROM a), EXTRACT(SECOND FROM b), "
    "COUNT(a), AVG(a), SUM(a), MAX(a), MIN(a), EXTRACT(a), POSITION(a), SUBSTRING(a, 1), TRIM(a) "
    "FROM t",
    "SELECT X'01' X'02', N'a' 'b', 'a' 'b', 1, 1.5, 1E3, DATE '2020-01-01', TIME '10:00:00', "
    "TIMESTAMP '2020-01-01 10:00:00', CURRENT_DATE, CURRENT_TIMESTAMP, NULL, DEFAULT, USER, "
    "CURRENT_USER, SESSION_USER, SYSTEM_USER FROM t",
    "SELECT CAST(a AS CHAR), CAST(a AS CHARACTER), CAST(a AS SMALLINT), CAST(a AS BIGINT), "
    "CAST(a AS DEC), CAST(a AS DECIMAL), CAST(a AS NUMERIC), CAST(a AS REAL), CAST(a AS FLOAT), "
    "CAST(a AS INT), CAST(a AS DATE), CAST(a AS TIME), CAST(a AS TIMESTAMP), CAST(a AS BINARY), "
    "CAST(a AS BLOB), CAST(a AS CLOB), CAST(a AS NCHAR), CAST(a AS NATIONAL CHAR) FROM t",
    "SELECT CAST(a AS CHAR(2)), CAST(a AS VARCHAR(2)), CAST(a AS CHAR VARYING(2)), "
    "CAST(a AS CHARACTER VARYING(2)), CAST(a AS NCHAR(2)), CAST(a AS BINARY(2)), "
    "CAST(a AS VARBINARY(2)), CAST(a AS INTEGER(5)), CAST(a AS DECIMAL(5)), CAST(a AS FLOAT(5)), "
    "CAST(a AS DECIMAL(5, 2)), CAST(a AS DOUBLE PRECISION), CAST(a AS NCHAR VARYING(3) COLLATE "
    "german) "
    "FROM t",
    "UPDATE t SET a = 1, b = 2 WHERE a = 3",
    "UPDATE t SET a = 1 WHERE CURRENT OF c",
    "INSERT INTO t VALUES (1, 2)",
    "INSERT INTO t DEFAULT VALUES",
    "INSERT INTO s.t (a, b) SELECT a, b FROM u",
    "DELETE FROM t WHERE a = 1",
    "DELETE FROM t WHERE CURRENT OF c",
    "CREATE INDEX i ON t (a)",
    "DROP IDENT i CASCADE",
    "DROP DATABANK d RESTRICT",
    "DROP DOMAIN s.d",
    "DROP VIEW v",
    "DROP TRIGGER tr",
    "DROP SCHEMA s",
    "DROP SEQUENCE q",
    "DROP COLLATION c",
    "DROP STATEMENT st",
    "DROP TABLE t",
    "DROP MODULE md",
    "DROP PROCEDURE p",
    "DROP FUNCTION f",
    "DROP INDEX i",
    "DROP SYNONYM y",
    "DROP SHADOW h",
    "COMMENT ON IDENT i IS 'x'",
    "COMMENT ON DATABANK d IS 'x'",
    "COMMENT ON DOMAIN d IS 'x'",
    "COMMENT ON VIEW v IS 'x'",
    "COMMENT ON TRIGGER tr IS 'x'",
    "COMMENT ON INDEX i IS 'x'",
    "COMMENT ON SYNONYM y IS 'x'",
    "COMMENT ON SHADOW h IS 'x'",
    "COMMENT ON SCHEMA s IS 'x'",
    "COMMENT ON SEQUENCE q IS 'x'",
    "COMMENT ON TABLE t IS 'x'",
    "COMMENT ON MODULE md IS 'x'",
    "COMMENT ON PROCEDURE p IS 'x'",
    "COMMENT ON FUNCTION f IS 'x'",
    "COMMENT ON COLUMN t.a IS 'x'",
    "GRANT IDENT, DATABANK, SCHEMA, BACKUP, SHADOW, STATISTICS TO u, PUBLIC WITH GRANT OPTION",
    "GRANT MEMBER ON IDENT i TO u",
    "GRANT ALL PRIVILEGES ON t, s.u TO u",
    "GRANT ALL ON t TO u",
    "GRANT SELECT, INSERT, DELETE, UPDATE, REFERENCES, LOAD, INSERT (a), UPDATE (a, b), REFERENCES "
    "(c) ON t TO u",
    "GRANT USAGE ON SEQUENCE q TO u",
    "REVOKE USAGE ON SEQUENCE q FROM u",
    "GRANT USAGE ON COLLATION c TO u",
    "REVOKE USAGE ON COLLATION c FROM u",
    "GRANT USAGE ON DOMAIN d TO u",
    "REVOKE USAGE ON DOMAIN d FROM u",
    "GRANT EXECUTE ON PROCEDURE p TO u",
    "REVOKE EXECUTE ON PROCEDURE p FROM u",
    "GRANT USAGE ON SCHEMA s TO u",
    "REVOKE USAGE ON SCHEMA s FROM u",
    "GRANT EXECUTE ON FUNCTION f TO u",
    "REVOKE EXECUTE ON FUNCTION f FROM u",
    "GRANT EXECUTE ON MODULE md TO u",
    "REVOKE EXECUTE ON MODULE md FROM u",
    "REVOKE GRANT OPTION FOR IDENT FROM u CASCADE",
    "REVOKE MEMBER ON IDENT i FROM u",
    "REVOKE SELECT ON t FROM u RESTRICT",
    "CREATE TABLE s.t (a INTEGER COLLATE german DEFAULT 1 NOT NULL UNIQUE, b CHAR(2) PRIMARY KEY "
    "REFERENCES u (x) ON DELETE CASCADE CHECK (b > 0), c INT REFERENCES u ON DELETE NO ACTION, "
    "d INT REFERENCES u ON DELETE SET NULL, e INT REFERENCES u ON DELETE SET DEFAULT, "
    "UNIQUE (a, b), FOREIGN KEY (c) REFERENCES u (y), CHECK (c < 5))",
    "CREATE TABLE t (a INT, PRIMARY KEY (a))",
    "CREATE TABLE t (a d, b s.d NOT NULL)",
    "CREATE SCHEMA s",
    "CREATE SCHEMA AUTHORIZATION u CREATE TABLE t (a INT) CREATE VIEW v AS SELECT a FROM t "
    "CREATE INDEX i ON t (a) GRANT SELECT ON t TO PUBLIC",
    "CREATE SCHEMA s AUTHORIZATION u CREATE DOMAIN d AS INT CREATE SEQUENCE q",
    "CREATE VIEW v (a, b) AS SELECT a, b FROM t WITH CHECK OPTION",
    "CREATE VIEW v AS SELECT a FROM t WITH CASCADED CHECK OPTION",
    "CREATE DOMAIN d AS CHAR(5) COLLATE german DEFAULT 'x'",
    "CREATE UNIQUE SEQUENCE q INITIAL_VALUE = - 5 INCREMENT = 2 MAX_VALUE = 100",
    "ALTER TABLE t ADD COLUMN a INT",
    "ALTER TABLE t ADD (a INT DEFAULT 1, b CHAR(2) COLLATE german)",
    "ALTER TABLE t ADD PRIMARY KEY (a)",
    "ALTER TABLE t DROP COLUMN a CASCADE",
    "ALTER TABLE t DROP CONSTRAINT c RESTRICT",
    "ALTER TABLE t INTO db",
    "ALTER TABLE t ALTER a INTEGER COLLATE german",
    "ALTER TABLE t ALTER COLUMN a SET DEFAULT 1",
    "ALTER TABLE t ALTER a DROP DEFAULT",
    "CREATE TABLE t (a INT CONSTRAINT c1 NOT NULL CONSTRAINT c2 CHECK (a > 0), "
    "CONSTRAINT c3 PRIMARY KEY (a))",
    "SELECT INTERVAL '1' DAY, INTERVAL - '1-2' YEAR TO MONTH, INTERVAL + '1' HOUR, "
    "CAST(a AS INTERVAL DAY TO SECOND) FROM t",
    "CREATE UNIQUE INDEX i ON t (a)",
    "LEAVE",
    "LEAVE RETAIN",
    "SET DATABASE OFFLINE",
    "SET DATABANK d ONLINE PRESERVE LOG",
    "SET SHADOW h1, h2 ONLINE RESET LOG",
    "UPDATE STATISTICS",
    "UPDATE STATISTICS FOR IDENT u1, u2 WITH INDEX CHECK",
    "CHECK STATISTICS FOR TABLE t, s.u WITHOUT INDEX CHECK",
    "SET PATH s1, s2, s3",
    "CREATE SYNONYM y FOR s.t",
    "CREATE TABLE t (a BLOB (10), b BLOB (10 K), c CLOB (2 M), d BLOB (1 G), e TIME (3), "
    "f TIMESTAMP (0), g2 INT DEFAULT CURRENT_TIME (2), h INT DEFAULT CURRENT_TIMESTAMP (3))",
    "CREATE COLLATION c FROM 'rules'",
    "CREATE IDENT u AS OS_USER",
    "CREATE IDENT grp AS GROUP",
    "CREATE IDENT p AS PROGRAM IDENTIFIED 'secret' WITHOUT SCHEMA",
    "CREATE IDENT o AS OS_USER IDENTIFIED 'secret' WITH SCHEMA",
    "CREATE IDENT u AS USER IDENTIFIED 'secret'",
    "ALTER IDENT u IDENTIFIED 'other'",
    "CREATE DATABANK d",
    "CREATE DATABANK d IN 'file' OF 200 PAGES (LOG)",
    "CREATE DATABANK d (TRANS)",
    "CREATE DATABANK d (NULL)",
    "ALTER DATABANK d ADD 100 PAGES",
    "ALTER DATABANK d IN 'file2'",
    "ALTER DATABANK d (LOG)",
    "CREATE SHADOW h FOR d IN 'file'",
    "ALTER SHADOW h ADD 10 PAGES",
    "ALTER SHADOW h IN 'other'",
    "ALTER SHADOW h TO MASTER",
    "COMMIT",
    "COMMIT WORK",
    "ROLLBACK WORK",
    "START TRANSACTION",
    "START BACKUP",
    "COMMIT BACKUP",
    "COMMIT BACKUP FOR EXPORT",
    "ROLLBACK BACKUP",
    "START LOAD FOR t",
    "COMMIT LOAD FOR s.t",
    "ROLLBACK LOAD FOR t",
    "SET TRANSACTION CHANGES INVISIBLE",
    "SET TRANSACTION CHANGES VISIBLE",
    "SET TRANSACTION READ ONLY",
    "SET TRANSACTION READ WRITE",
    "SET SESSION READ ONLY",
    "SET SESSION READ WRITE",
    "SET TRANSACTION ISOLATION LEVEL SERIALIZABLE",
    "SET TRANSACTION DIAGNOSTICS SIZE 5",
    "SET TRANSACTION DIAGNOSTICS SIZE DEFAULT",
    "SET SESSION ISOLATION LEVEL SERIALIZABLE",
    "SET SESSION DIAGNOSTICS SIZE 5",
    "SET SESSION DIAGNOSTICS SIZE DEFAULT",
    "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED",
    "SET TRANSACTION ISOLATION LEVEL READ COMMITTED",
    "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ",
    "SET SESSION ISOLATION LEVEL READ UNCOMMITTED",
    "SET SESSION ISOLATION LEVEL READ COMMITTED",
    "SET SESSION ISOLATION LEVEL REPEATABLE READ",
    "SET TRANSACTION START EXPLICIT",
    "SET TRANSACTION START IMPLICIT",
    "SET :h = 1",
    "SELECT EXISTS (SELECT a FROM u) AS found, a FROM t",
    "SET x = a + 1",
    "ALTER SCHEMA s AUTHORIZATION u",
    "ALTER SCHEMA",
    "CALL m.p.q(1, -2, 'a' 'b' || 'c', N'x', U&'y' 'z', X'01' X'02', DATE '2020-01-01', :h)",
    "CREATE PROCEDURE p (a INTEGER, b CHARACTER DEFAULT 'x', c NATIONAL CHARACTER, "
    "d NATIONAL CHARACTER (5), e s.mydomain, f nchar)",
    "CREATE FUNCTION f (a DATE)",
    "CREATE SYNONYM y FOR TABLE t",
    "SET PATH s1, USER",
    "CREATE IDENT u AS USER IDENTIFIED BY 'x'",
    "CREATE SCHEMA s CREATE COLLATION c FROM 'x' CREATE SYNONYM y FOR t",
    "CREATE DOMAIN d INTEGER DEFAULT 1 CHECK (VALUE > 0) CONSTRAINT c CHECK (VALUE + 1 < 9) "
    "INITIALLY IMMEDIATE",
    "CREATE VIEW v AS SELECT a FROM t JOIN u USING (a)",
    "ALTER TABLE t ALTER COLUMN a ADD NOT NULL",
    "COMMENT ON TABLE t ADD 'x'",
    "COMMENT ON TABLE t || 'y'",
    "CREATE TABLE t (a INT REFERENCES u ON UPDATE CASCADE, b INT REFERENCES u ON UPDATE CASCADE "
    "ON DELETE SET NULL, c INT REFERENCES u ON DELETE CASCADE ON UPDATE NO ACTION)",
    "GRANT SELECT ON TABLE t, u TO v",
    "COMMIT TRANSACTION",
    "CREATE BACKUP IN 'f' FOR DATABANK d",
    "CREATE ONLINE BACKUP IN 'f' WITH LOG IN 'g' FOR DATABANK d",
    "CREATE EXCLUSIVE BACKUP IN 'f' WITH LOG IN 'g' FOR DATABANK d",
    "RESTORE LOG FOR DATABANK d",
    "RESTORE IN 'f' FOR DATABANK d",
    "RESTORE FOR DATABANK d",
    "ALTER DATABANK d RESTORE USING 'f'",
    "ALTER DATABANK d RESTORE BETWEEN TIMESTAMP '2020-01-01 00:00:00' AND CURRENT_TIMESTAMP "
    "USING 'f'",
    "ALTER DATABANK d RESTORE BETWEEN TIMESTAMP '2020-01-01 00:00:00' AND TIMESTAMP "
    "'2020-02-01 00:00:00' USING 'f'",
    "SELECT a FROM t GROUP BY a COLLATE german, b",
    "SELECT LOCALTIME, LOCALTIMESTAMP (2), U&'a' 'b', INTERVAL ? DAY, INTERVAL '1' DAY (3), "
    "INTERVAL '1' SECOND (5, 3), INTERVAL '1' DAY (2) TO SECOND (3), INTERVAL '1' DAY TO HOUR, "
    "INTERVAL '1' HOUR FROM t",
    "SELECT CAST(a AS CHAR(*)), CAST(a AS VARCHAR(*)), CAST(a AS BINARY(*)), "
    "CAST(a AS VARBINARY(*)), CAST(a AS TIME(*)), CAST(a AS TIMESTAMP(*)), CAST(a AS NCHAR(*)), "
    "CAST(a AS NCHAR VARYING(*)), CAST(a AS BINARY LARGE OBJECT), CAST(a AS CHAR LARGE OBJECT), "
    "CAST(a AS BINARY LARGE OBJECT (2 K)), CAST(a AS CHARACTER LARGE OBJECT (1 M)), "
    "CAST(a AS TIME WITHOUT TIME ZONE), CAST(a AS TIMESTAMP WITHOUT TIME ZONE), "
    "CAST(a AS NATIONAL CHARACTER), CAST(a AS BINARY VARYING(2)) FROM t",
    "SELECT count, avg, sum, max, indicator, extract, position, substring, trim FROM t",
    "SELECT char, integer, smallint, bigint, decimal, real, float, date, time, timestamp, binary, "
    "blob, clob, nclob, nchar, s.date FROM t",
    "SELECT a AS x, b public, c char, d integer, e smallint, f bigint, g decimal, h real, i float, "
    "j date, k time, l timestamp, m binary, n blob, o clob, p nclob, q nchar, r action, s2 at "
    "FROM t",
};

// The first-group keywords, each used once as a name (with -12125).
const char* const kFirstGroup[] = {"ALLOCATE",
                                   "ARE",
                                   "AT",
                                   "BEGIN",
                                   "CALL",
                                   "CLOSE",
                                   "CONNECT",
                                   "CORRESPONDING",
                                   "CROSS",
                                   "CURRENT_PATH",
                                   "CURSOR",
                                   "DEALLOCATE",
                                   "DECLARE",
                                   "DESCRIBE",
                                   "DISCONNECT",
                                   "DO",
                                   "EACH",
                                   "ELSEIF",
                                   "EXCEPT",
                                   "FALSE",
                                   "FETCH",
                                   "FULL",
                                   "GET",
                                   "GLOBAL",
                                   "HOLD",
                                   "IDENTITY",
                                   "IF",
                                   "INOUT",
                                   "INTERSECT",
                                   "LOCAL",
                                   "LOOP",
                                   "MATCH",
                                   "NEW",
                                   "OLD",
                                   "OPEN",
                                   "OUT",
                                   "PREPARE",
                                   "REFERENCING",
                                   "RELEASE",
                                   "RESIGNAL",
                                   "RETURN",
                                   "ROW",
                                   "SIGNAL",
                                   "SPECIFIC",
                                   "SQLEXCEPTION",
                                   "SQLSTATE",
                                   "SQLWARNING",
                                   "TIMEZONE_HOUR",
                                   "TIMEZONE_MINUTE",
                                   "TRANSLATION",
                                   "TRUE",
                                   "UNKNOWN",
                                   "UNTIL",
                                   "WHILE"};

// The second-group keywords, each used once as a name (no error).
const char* const kSecondGroup[] = {
    "ACTION",    "ADD",           "ASC",         "BACKUP",      "CASCADE",
    "CHANGES",   "COLLATION",     "COMMENT",     "COMMITTED",   "CURRENT_VALUE",
    "DATABANK",  "DATABASE",      "DEFERRABLE",  "DESC",        "DIAGNOSTICS",
    "DOMAIN",    "DOUBLE",        "ENTER",       "ESCAPE",      "EXCLUSIVE",
    "EXPLICIT",  "EXPORT",        "G",           "IDENT",       "IDENTIFIED",
    "IMMEDIATE", "IMPLICIT",      "INCREMENT",   "INCREMENTAL", "INDEX",
    "INITIALLY", "INITIAL_VALUE", "INVISIBLE",   "ISOLATION",   "K",
    "KEY",       "LEVEL",         "LIKE4",       "LOAD",        "LOG",
    "M",         "MASTER",        "MAX_VALUE",   "MEMBER",      "NEXT_VALUE",
    "NO",        "OBJECT",        "OFFLINE",     "ONLINE",      "OPTION",
    "OS_USER",   "PAGES",         "PATH",        "PRESERVE",    "PRIVILEGES",
    "PROGRAM",   "READ",          "REPEATABLE",  "RESET",       "RESTORE",
    "RESTRICT",  "RETAIN",        "SCHEMA",      "SEQUENCE",    "SERIALIZABLE",
    "SESSION",   "SHADOW",        "SIZE",        "STATISTICS",  "SYNONYM",
    "TRANS",     "TRANSACTION",   "UNCOMMITTED", "USAGE",       "VARBINARY",
    "VARCHAR",   "VIEW",          "VISIBLE",     "WORK",        "WRITE",
    "ZONE"};

TEST(SqlGrammarPhrases, EveryProductionIsReduced) {
  std::set<int32_t> reduced;
  ParseOptions poison;
  poison.poison = true;
  for (const char* text : kPhrases) {
    ParsedStatement p = ParseSql(text, poison);
    // Poison in every word no symbol wrote changes nothing.
    ParsedStatement clean = ParseSql(text);
    EXPECT_EQ(p.printed, clean.printed) << text;
    EXPECT_EQ(p.kind, clean.kind) << text;
    EXPECT_EQ(p.rules, clean.rules) << text;
    EXPECT_TRUE(p.workspace == clean.workspace) << text;
    std::string poisoned;
    for (int32_t rule : p.poisoned) poisoned += std::to_string(rule) + " ";
    EXPECT_EQ(poisoned, "") << text;
    // 117, 121 and 129 to 131 refuse their phrases with -12104 by design.
    bool refused = false;
    for (int32_t rule : {117, 121, 129, 130, 131}) {
      refused = refused || std::find(p.rules.begin(), p.rules.end(), rule) != p.rules.end();
    }
    for (const RecordedCondition& c : p.conditions) {
      if (refused && c.code == -12104) continue;
      EXPECT_TRUE(c.code != -12101 && c.code != -12102 && c.code != -12103 && c.code != -12104 &&
                  c.code != -12106)
          << text << ": " << c.code << " at " << c.position;
    }
    reduced.insert(p.rules.begin(), p.rules.end());
  }
  for (const char* keyword : kFirstGroup) {
    ParsedStatement p = ParseSql(std::string("SELECT a FROM ") + keyword);
    ASSERT_EQ(p.conditions.size(), 1u) << keyword;
    EXPECT_EQ(p.conditions[0].code, -12125) << keyword;
    reduced.insert(p.rules.begin(), p.rules.end());
  }
  for (const char* keyword : kSecondGroup) {
    ParsedStatement p = ParseSql(std::string("SELECT a FROM ") + keyword);
    EXPECT_TRUE(p.conditions.empty()) << keyword << ": " << p.conditions[0].code;
    EXPECT_EQ(p.kind, 2) << keyword;
    reduced.insert(p.rules.begin(), p.rules.end());
  }
  std::string missing;
  for (int32_t rule = 1; rule < kSqlGrammarTables.rule_count; ++rule) {
    if (kSqlGrammarTables.lhs_column[rule] == 0) continue;  // not in the grammar
    if (reduced.count(rule) == 0) missing += std::to_string(rule) + " ";
  }
  EXPECT_EQ(missing, "");
}

}  // namespace
