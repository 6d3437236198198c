#!/bin/bash
# Runs the data change statements of
# sql/front/tests/semantic_data_change_test.cc in PostgreSQL 15 over the
# same tables and privileges and writes PostgreSQL's outcomes into
# sql/front/tests/data/data_change_pg15.txt, which the test reads (no server
# at test time). Re-run it whenever the cases below change. Needs initdb,
# pg_ctl and psql of PostgreSQL 15; run as root it runs itself as postgres.
#
# Lines of the table: statement <tab> "ok" or the SQLSTATE, run as the user
# ADAM (each in its own transaction, rolled back).
set -euo pipefail
out=$(readlink -f "$(dirname "$0")/../data")/data_change_pg15.txt
. "$(readlink -f "$(dirname "$0")/../../../../scripts")/pg15_cluster.sh"

cases=$(cat <<'CASES'
INSERT INTO t VALUES (1, 2, 'x')
INSERT INTO t (b) VALUES (1)
INSERT INTO t (a, a) VALUES (1, 2)
INSERT INTO t (a, b) VALUES (1)
INSERT INTO t (a) VALUES (1, 2)
INSERT INTO t VALUES (1, 2, 'x', 4)
INSERT INTO t (a, nosuch) VALUES (1, 2)
INSERT INTO t VALUES (b, 2, 'x')
INSERT INTO t (a) SELECT a FROM s
INSERT INTO t (a) SELECT a, d FROM s
INSERT INTO t (a) SELECT c FROM t
INSERT INTO t (c) SELECT a FROM t
INSERT INTO s VALUES (1, 2)
INSERT INTO nope VALUES (1)
INSERT INTO w (d, k) VALUES (DEFAULT, 2)
UPDATE t SET a = b + 1 WHERE c = 'x'
UPDATE t SET a = 1, b = 2, a = 3
UPDATE t SET nosuch = 1
UPDATE t SET a = c
UPDATE t SET c = a
UPDATE s SET a = 1
UPDATE w SET d = DEFAULT
UPDATE v SET a = 1
UPDATE v SET a = 1, b = 2
INSERT INTO v (a) VALUES (1)
INSERT INTO v (a, b) VALUES (1, 2)
DELETE FROM t
DELETE FROM t WHERE a = 1
DELETE FROM t WHERE nosuch = 1
DELETE FROM s
DELETE FROM nope
INSERT INTO va (a) VALUES (1)
INSERT INTO va (a, x) VALUES (1, 2)
UPDATE va SET a = 1 WHERE a = 2
UPDATE va SET x = 1
DELETE FROM va
DELETE FROM vd
UPDATE vg SET a = 1
INSERT INTO vu VALUES (1)
INSERT INTO vv (a) VALUES (1)
UPDATE vv SET x = 1
DELETE FROM vv WHERE a = 3
CASES
)

psql -h "$dir" -U pg -d postgres -X -q -v ON_ERROR_STOP=1 >/dev/null <<'SQL'
CREATE ROLE adam;
CREATE SCHEMA adam;
GRANT USAGE ON SCHEMA adam TO adam;
SET search_path TO adam;
CREATE TABLE t (a integer, b integer, c char(10));
CREATE TABLE s (a integer, d integer);
CREATE TABLE w (k integer NOT NULL, d char(10) DEFAULT 'dflt', n smallint);
CREATE TABLE v (a integer, b integer);
GRANT SELECT, INSERT, UPDATE, DELETE ON t, w TO adam;
GRANT SELECT ON s TO adam;
GRANT INSERT (a), UPDATE (a) ON v TO adam;
CREATE VIEW va AS SELECT a, b + 1 AS x FROM t WHERE a > 1;
CREATE VIEW vd AS SELECT DISTINCT a, b AS x FROM t;
CREATE VIEW vg AS SELECT a, COUNT(*) AS x FROM t GROUP BY a;
CREATE VIEW vu AS SELECT a FROM t UNION SELECT a FROM s;
CREATE VIEW vv AS SELECT x, a FROM va WHERE x < 9;
GRANT SELECT, INSERT, UPDATE, DELETE ON va, vd, vg, vu, vv TO adam;
CREATE FUNCTION run(q text) RETURNS text LANGUAGE plpgsql AS $$
BEGIN
  EXECUTE q;
  RETURN 'ok';
EXCEPTION WHEN others THEN
  RETURN SQLSTATE;
END $$;
SQL

{
  echo "# PostgreSQL 15 outcomes of the data change statements, written by"
  echo "# sql/front/tests/scripts/data_change_pg15.sh (do not edit)."
  while IFS= read -r text; do
    quoted=${text//\'/\'\'}
    sql="BEGIN; SET ROLE adam; SET search_path TO adam; SELECT run('$quoted'); ROLLBACK;"
    answer=$(psql -h "$dir" -U pg -d postgres -X -q -At -v ON_ERROR_STOP=1 -c "$sql" | grep -v '^$' | tail -1)
    printf '%s\t%s\n' "$text" "$answer"
  done <<< "$cases"
} > "$dir/result"

if [ "${1:-}" = --stdout ]; then
  cat "$dir/result"
else
  cp "$dir/result" "$out"
fi
