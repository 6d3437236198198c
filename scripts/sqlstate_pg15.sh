#!/bin/bash
# Runs the statements whose SQLSTATE class request/tests/sql_state_test.cc
# holds ours to against a throw-away PostgreSQL 15 cluster, and prints
# "name SQLSTATE" for each. Needs initdb, pg_ctl and psql of PostgreSQL 15.
set -euo pipefail
# The server refuses to run as root: run the whole script as postgres then.
if [ "$(id -u)" = 0 ]; then
  exec runuser -u postgres -- bash "$(readlink -f "$0")"
fi
cd /tmp
dir=$(mktemp -d)
trap 'pg_ctl -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; rm -rf "$dir"' EXIT
PATH=$(ls -d /usr/lib/postgresql/15/bin 2>/dev/null || echo /usr/local/bin):$PATH
initdb -D "$dir/data" -A trust -U pg >/dev/null
pg_ctl -D "$dir/data" -o "-k $dir -c listen_addresses=''" -l "$dir/log" -w start >/dev/null
run() {
  local name=$1 sql=$2
  local state
  state=$(psql -h "$dir" -U pg -d postgres -X -q -v ON_ERROR_STOP=0 -v VERBOSITY=verbose \
            -c "CREATE TEMP TABLE t (k int PRIMARY KEY, v varchar(2)); INSERT INTO t VALUES (1, 'a');" \
            -c "$sql" 2>&1 | sed -n 's/^ERROR: *\([0-9A-Z]\{5\}\):.*/\1/p' | head -1 || true)
  echo "$name ${state:-none}"
}
run negative_substring_length "SELECT substring('abc' FROM 1 FOR -1)"
run division_by_zero "SELECT 1 / 0"
run truncation "INSERT INTO t VALUES (2, 'abc')"
run overflow "SELECT 2147483647 + 1"
run duplicate_key "INSERT INTO t VALUES (1, 'b')"
run bad_like_escape "SELECT 'a' LIKE 'a' ESCAPE 'xy'"
