#!/bin/bash
# Runs the expression typing and name binding cases of
# sql/front/tests/expr_types_pg15_test.cc in PostgreSQL 15 over the same
# tables and writes PostgreSQL's outcomes into
# sql/front/tests/data/expr_types_pg15.txt, which the test reads (no server
# at test time). Re-run it whenever the cases below change. Needs initdb,
# pg_ctl and psql of PostgreSQL 15; run as root it runs itself as postgres.
#
# Lines of the table:
#   a <tab> expression <tab> described type <tab> scale   the expression as
#       the column of CREATE TABLE AS SELECT ... FROM ty (format_type of the
#       column), and scale() of its value on ty's one row ("-" when scale()
#       does not take it); "error" and the SQLSTATE when it is refused;
#   b <tab> statement <tab> "ok" or the SQLSTATE, run as the user ADAM.
set -euo pipefail
out=$(readlink -f "$(dirname "$0")/../data")/expr_types_pg15.txt
. "$(readlink -f "$(dirname "$0")/../../../../scripts")/pg15_cluster.sh"

# The cases: "a expression" or "b statement", one a line.
cases=$(cat <<'CASES'
a 1 + 1.5
a i + 1
a i - 1
a i * 2
a i + n
a i - n
a n * n30
a n + n30
a n - n30
a n - 1.5
a n * 2.25
a n30 * n30
a i + f
a f * n
a i / 2
a n / 3
a - n
a + i
a i * i
a c
a v
a c || v
a v || 'ab'
a 'ab' || 'c'
a UPPER(v)
a LOWER(c)
a SUBSTRING(v FROM 2 FOR 2)
a TRIM(v)
a POSITION('y' IN v)
a CHAR_LENGTH(v)
a OCTET_LENGTH(v)
a ABS(n)
a ABS(i)
a MOD(i, 3)
a CAST(i AS CHAR(12))
a CAST(n AS VARCHAR(30))
a CAST(v AS CHAR(5))
a CAST(i AS NUMERIC(12,3))
a CAST(n AS INTEGER)
a CAST(f AS NUMERIC(9,4))
a CAST(d AS TIMESTAMP)
a CAST(ts AS DATE)
a CAST(ts AS TIME)
a CAST(d AS TIME)
a CAST(i AS DATE)
a ts + ds
a ts - ds
a ts + ym
a tm + ds
a d + ym
a ym + ym
a ds + ds
a ds * 2
a ym - ym
a EXTRACT(YEAR FROM d)
a EXTRACT(SECOND FROM ts)
a COUNT(*)
a COUNT(v)
a SUM(i)
a SUM(n)
a AVG(n)
a AVG(i)
a MAX(v)
a MIN(n)
a MAX(d)
a CASE WHEN i > 0 THEN i ELSE n END
a CASE WHEN i > 0 THEN n30 ELSE n END
a CASE WHEN i > 0 THEN v ELSE c END
a CASE WHEN i > 0 THEN f ELSE i END
a CASE WHEN i > 0 THEN 'a' ELSE NULL END
a CASE WHEN i > 0 THEN i ELSE v END
a COALESCE(v, 'x')
a COALESCE(i, n)
a NULLIF(i, 1)
a v + 1
a d + 1
a d + i
a UPPER(i)
a SUM(v)
a c = i
a ts = d
a EXTRACT(HOUR FROM d)
b SELECT a, b FROM t WHERE a = 1
b SELECT a FROM nosuch
b SELECT x.a FROM t
b SELECT z FROM t
b SELECT a FROM t, s
b SELECT t.a FROM t, t
b SELECT t.a FROM t, t AS t2
b SELECT t.a, d FROM t JOIN s ON t.a = s.a
b SELECT t.a, d FROM t LEFT JOIN s ON t.a = s.a
b SELECT a, d FROM t NATURAL JOIN s
b SELECT a FROM t WHERE EXISTS (SELECT * FROM s)
b SELECT a FROM t WHERE a IN (SELECT a FROM s)
b SELECT a FROM t WHERE a IN (SELECT * FROM s)
b SELECT a FROM t WHERE a IN (SELECT d FROM s WHERE d = b)
b SELECT a, COUNT(*) FROM t
b SELECT a, COUNT(*) FROM t GROUP BY b
b SELECT b, COUNT(*) FROM t GROUP BY b
b SELECT b, COUNT(*) FROM t GROUP BY b HAVING COUNT(*) > 1
b SELECT a FROM t ORDER BY 3
b SELECT a, b FROM t ORDER BY 2
b SELECT a AS k FROM t ORDER BY k
b SELECT a FROM t UNION SELECT a, d FROM s
b SELECT a FROM t UNION SELECT d FROM s
b SELECT x FROM p
b SELECT e + f FROM r
b SELECT COUNT(DISTINCT a) FROM t
b SELECT a FROM t WHERE a IN (SELECT t.b FROM s)
b SELECT NULL FROM t UNION SELECT NULL FROM s
b SELECT a FROM t ORDER BY 1, 1
CASES
)

psql -h "$dir" -U pg -d postgres -X -q -v ON_ERROR_STOP=1 >/dev/null <<'SQL'
CREATE ROLE adam;
CREATE SCHEMA adam;
GRANT USAGE, CREATE ON SCHEMA adam TO adam;
SET search_path TO adam;
CREATE TABLE t (a integer, b integer, c char(10));
CREATE TABLE s (a integer, d integer);
CREATE TABLE r (e integer, f numeric(10,2), g text);
CREATE TABLE p (x integer, y integer);
CREATE TABLE ty (i integer, n numeric(10,2), n30 numeric(30,10), f double precision,
                 c char(10), v varchar(20), d date, ts timestamp(3), tm time(0),
                 ym interval year to month, ds interval day to second(6));
INSERT INTO ty VALUES (7, 12.34, 1.5, 2.5, 'abc', 'xyz', DATE '2020-02-03',
                       TIMESTAMP '2020-02-03 04:05:06.789', TIME '04:05:06',
                       INTERVAL '1-2' YEAR TO MONTH, INTERVAL '3 04:05:06.5' DAY TO SECOND);
GRANT SELECT ON t, s, r, ty TO adam;
CREATE FUNCTION probe(e text) RETURNS text LANGUAGE plpgsql AS $$
DECLARE
  described text;
  sc text;
BEGIN
  EXECUTE 'CREATE TEMP TABLE probe_t AS SELECT ' || e || ' AS v FROM ty';
  SELECT format_type(atttypid, atttypmod) INTO described
    FROM pg_attribute WHERE attrelid = 'probe_t'::regclass AND attname = 'v';
  BEGIN
    EXECUTE 'SELECT scale(v::numeric)::text FROM probe_t' INTO sc;
  EXCEPTION WHEN others THEN
    sc := '-';
  END;
  DROP TABLE probe_t;
  RETURN described || E'\t' || coalesce(sc, '-');
EXCEPTION WHEN others THEN
  RETURN 'error' || E'\t' || SQLSTATE;
END $$;
CREATE FUNCTION run(q text) RETURNS text LANGUAGE plpgsql AS $$
BEGIN
  EXECUTE q;
  RETURN 'ok';
EXCEPTION WHEN others THEN
  RETURN SQLSTATE;
END $$;
SQL

{
  echo "# PostgreSQL 15 outcomes of the expression typing and binding cases,"
  echo "# written by sql/front/tests/scripts/expr_types_pg15.sh (do not edit)."
  while IFS= read -r line; do
    form=${line%% *}
    text=${line#* }
    quoted=${text//\'/\'\'}
    if [ "$form" = a ]; then
      sql="SET ROLE adam; SET search_path TO adam; SELECT probe('$quoted');"
    else
      sql="SET ROLE adam; SET search_path TO adam; SELECT run('$quoted');"
    fi
    answer=$(psql -h "$dir" -U pg -d postgres -X -q -At -v ON_ERROR_STOP=1 -c "$sql" | tail -1)
    printf '%s\t%s\t%s\n' "$form" "$text" "$answer"
  done <<< "$cases"
} > "$dir/result"

if [ "${1:-}" = --stdout ]; then
  cat "$dir/result"
else
  cp "$dir/result" "$out"
fi
