# Sourced by the scripts that ask PostgreSQL 15 for reference outcomes, once
# they have set $out: run as root, the calling script runs itself again as
# postgres (the server refuses root), writing its standard output to $out,
# and stops. Otherwise this starts a throwaway cluster listening only on a
# socket in $dir (user pg, UTF-8, C.UTF-8), removed when the script exits.
if [ "$(id -u)" = 0 ]; then
  runuser -u postgres -- bash "$(readlink -f "$0")" --stdout > "$out"
  exit
fi
cd /tmp
dir=$(mktemp -d)
trap 'pg_ctl -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; rm -rf "$dir"' EXIT
PATH=$(ls -d /usr/lib/postgresql/15/bin 2>/dev/null || echo /usr/local/bin):$PATH
initdb -D "$dir/data" -A trust -U pg -E UTF8 --locale=C.UTF-8 >/dev/null
pg_ctl -D "$dir/data" -o "-k $dir -c listen_addresses=''" -l "$dir/log" -w start >/dev/null
