#!/bin/bash
# Writes the random cases of SUBSTRING from starts below 1, RIGHT, REPEAT and
# UPPER and LOWER of letters beyond ASCII, where SQLite differs or has no
# function, with PostgreSQL 15's results (UTF-8 database, C.UTF-8 character
# classes) into interp/tests/data/string_functions_pg15.txt, which
# interp/tests/string_functions_pg15_test.cc holds ours to. Needs initdb,
# pg_ctl and psql of PostgreSQL 15.
#
# Line: FUNCTION <tab> string <tab> number <tab> number <tab> result, the
# strings as the hexadecimal text of their UTF-8 bytes, a null result as NULL.
set -euo pipefail
out=$(readlink -f "$(dirname "$0")/../interp/tests/data")/string_functions_pg15.txt
. "$(readlink -f "$(dirname "$0")")/pg15_cluster.sh"
result=$(psql -h "$dir" -U pg -d postgres -X -q -At -F $'\t' -v ON_ERROR_STOP=1 <<'SQL'
SELECT setseed(0.26) \g /dev/null
CREATE TEMP TABLE c AS
SELECT i,
       (SELECT coalesce(string_agg(a[1 + floor(random() * array_length(a, 1))::int + g * 0], ''), '')
          FROM generate_series(1, floor(random() * 10)::int + i * 0) AS g) AS s,
       floor(random() * 9)::int - 5 AS b,
       floor(random() * 9)::int AS n
  FROM generate_series(1, 240) AS i,
       (SELECT ARRAY['a', 'b', 'X', ' ', 'é', 'ÿ', 'Σ', 'σ', 'Д', 'ж', '中', '😀'] AS a) AS alphabet;
CREATE FUNCTION h(t text) RETURNS text LANGUAGE sql AS
  $$ SELECT coalesce(encode(convert_to(t, 'UTF8'), 'hex'), 'NULL') $$;
SELECT 'SUBSTRING', h(s), b, n, h(substring(s FROM b FOR n)) FROM c WHERE i <= 60
UNION ALL
SELECT 'SUBSTRING', h(s), b, -1, h(substring(s FROM b)) FROM c WHERE i > 60 AND i <= 90
UNION ALL
SELECT 'RIGHT', h(s), n, 0, h(right(s, n)) FROM c WHERE i > 90 AND i <= 130
UNION ALL
SELECT 'REPEAT', h(s), n % 4, 0, h(repeat(s, n % 4)) FROM c WHERE i > 130 AND i <= 160
UNION ALL
SELECT 'UPPER', h(s), 0, 0, h(upper(s)) FROM c WHERE i > 160 AND i <= 200
UNION ALL
SELECT 'LOWER', h(s), 0, 0, h(lower(s)) FROM c WHERE i > 200;
SQL
)
if [ "${1:-}" = --stdout ]; then
  echo "$result"
else
  echo "$result" > "$out"
fi
