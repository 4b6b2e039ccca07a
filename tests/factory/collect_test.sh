#!/usr/bin/env bash
# bzl collect against a real PostgreSQL 15 (Debian's package) in a private cluster on a Unix
# socket in a temporary folder: record files imported twice, a station's records followed over
# HTTP while the collector is killed and restarted and the station and the database go down
# and come back; every record must be in zl_records exactly once, and bzl report --db must
# print what bzl report prints over the same records as files.
#   tests/factory/collect_test.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
bzl=$build/cli/bzl
server=$build/tests/factory/zl_records_server
pgbin=/usr/lib/postgresql/15/bin
for f in "$bzl" "$server"; do [ -x "$f" ] || { echo "missing $f" >&2; exit 2; }; done
# Without PostgreSQL 15 (tools/install-deps.sh installs it) the test is skipped.
[ -x "$pgbin/postgres" ] || { echo "SKIP: no $pgbin/postgres" >&2; exit 77; }
[ "$(id -u)" -ne 0 ] || id postgres >/dev/null 2>&1 || { echo "SKIP: no user postgres to run the server" >&2; exit 77; }

t=$(mktemp -d /tmp/zl-collect.XXXXXX)
chmod 755 "$t"
as_db=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$t"   # the server refuses to run as root
  as_db=(runuser -u postgres --)
fi
collector=; station=
cleanup() {
  [ -n "$collector" ] && kill -9 "$collector" 2>/dev/null || true
  [ -n "$station" ] && kill "$station" 2>/dev/null || true
  "${as_db[@]}" "$pgbin/pg_ctl" -D "$t/db" -m immediate stop >/dev/null 2>&1 || true
  [ -n "${KEEP:-}" ] && echo "kept $t" >&2 || rm -rf "$t"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; echo "--- collector log:" >&2; cat "$t/collect.log" >&2 2>/dev/null || true; exit 1; }

pg_start() { "${as_db[@]}" "$pgbin/pg_ctl" -D "$t/db" -l "$t/pg.log" -w -o "-k $t -c listen_addresses= -F" start >/dev/null; }
"${as_db[@]}" "$pgbin/initdb" -D "$t/db" -A trust -U postgres --no-sync >/dev/null
pg_start
"${as_db[@]}" "$pgbin/createdb" -h "$t" -U postgres zl
db="postgresql://postgres@/zl?host=$t"
sql() { "${as_db[@]}" "$pgbin/psql" -h "$t" -U postgres -d zl -At -c "$1"; }

python3 "$here/make_records.py" "$t"
total=$(wc -l < "$t/union.ndjson")
head -n 1500 "$t/station.ndjson" > "$t/served.ndjson"
echo "s3cret-token" > "$t/token"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# The station file as chown'd postgres cannot be read by it: keep it readable for the server only.
start_station() { "$server" "$t/served.ndjson" "$port" "$t/token" & station=$!; sleep 0.3; }
append() { sed -n "$1,$2p" "$t/station.ndjson" >> "$t/served.ndjson"; }
count() { sql "SELECT count(*) || ' ' || count(DISTINCT id) FROM zl_records"; }
wait_count() {
  for _ in $(seq 1 150); do [ "$(count)" = "$1 $1" ] && return 0; sleep 0.2; done
  fail "expected $1 records once each, have $(count)"
}

# Errors: usage 1, a file that cannot be read 7, a database that cannot be reached 2.
set +e
"$bzl" collect --from-file "$t/f1.ndjson" 2>/dev/null; [ $? -eq 1 ] || fail "no --to: exit 1"
"$bzl" collect --from-file "$t/missing" --to "$db" 2>/dev/null; [ $? -eq 7 ] || fail "missing file: exit 7"
"$bzl" collect --from-file "$t/f1.ndjson" --to "postgresql://postgres@/zl?host=$t/nowhere" 2>/dev/null
[ $? -eq 2 ] || fail "no database: exit 2"
set -e

# A file read up to its end, then replaced by another (larger) one: read again from its start.
head -n 100 "$t/f1.ndjson" > "$t/f3.ndjson"
"$bzl" collect --from-file "$t/f3.ndjson" --to "$db" 2>/dev/null || fail "import f3"
wait_count 100
cp "$t/f2.ndjson" "$t/f3.ndjson"
"$bzl" collect --from-file "$t/f3.ndjson" --to "$db" 2>"$t/import.log" || fail "import the replaced f3"
grep -q "replaced" "$t/import.log" || fail "the replaced file is not told"
wait_count 310   # f2 repeats 40 of those 100 lines

# Two files, some lines in both; imported twice: each record once.
"$bzl" collect --from-file "$t/f1.ndjson" --from-file "$t/f2.ndjson" --to "$db" 2>"$t/import.log" || fail "import"
grep -q "1 lines that are not records" "$t/import.log" || fail "the line that is no record is not told: $(cat "$t/import.log")"
wait_count 500
"$bzl" collect --from-file "$t/f2.ndjson" --from-file "$t/f1.ndjson" --to "$db" 2>/dev/null || fail "import again"
wait_count 500
[ "$(sql "SELECT count(*) FROM zl_sources WHERE file_offset > 0")" = 3 ] || fail "file positions"

# A station followed over HTTP, with its token; more records arrive while it runs.
start_station
follow() { "$bzl" collect --follow --every 1 --from "http://127.0.0.1:$port" --token-file "$t/token" --to "$db" 2>>"$t/collect.log" & collector=$!; }
follow
for _ in $(seq 1 200); do [ "$(count)" != "500 500" ] && break; sleep 0.05; done   # its first page is in
kill -9 "$collector"; wait "$collector" 2>/dev/null || true   # killed in the middle of its first pages
echo "killed with $(count | cut -d' ' -f1) records stored" >> "$t/collect.log"
append 1501 1700
follow
wait_count $((500 + 1700))
append 1701 1900
wait_count $((500 + 1900))

# The station goes away, records keep being written to its file, it comes back.
kill "$station"; wait "$station" 2>/dev/null || true; station=
append 1901 2100
sleep 2.5
grep -q "127.0.0.1:$port: .*trying again" "$t/collect.log" || fail "the station's outage is not told"
start_station
wait_count $((500 + 2100))
grep -q "127.0.0.1:$port: back" "$t/collect.log" || fail "the station's return is not told"

# The database goes away and comes back.
"${as_db[@]}" "$pgbin/pg_ctl" -D "$t/db" -m fast -w stop >/dev/null
append 2101 2400
sleep 2.5
pg_start
wait_count "$total"
grep -q "the database cannot be reached" "$t/collect.log" || fail "the database's outage is not told"
grep -q "the database is back" "$t/collect.log" || fail "the database's return is not told"
[ "$(grep -c "the database cannot be reached" "$t/collect.log")" = 1 ] || fail "the outage is told more than once"
kill -TERM "$collector"; wait "$collector" || fail "collect --follow does not end with 0 at SIGTERM"; collector=

# A wrong token is refused by the station and told.
echo "wrong" > "$t/bad-token"
set +e
"$bzl" collect --from "http://127.0.0.1:$port" --token-file "$t/bad-token" --to "$db" 2>"$t/bad.log"
[ $? -eq 3 ] || fail "refused token: exit 3"
set -e
grep -q "401" "$t/bad.log" || fail "the refused token is not told"

# The report from the database is the report from the files, for every table and filter.
for by in station host firmware cause hour unit_id; do
  diff <("$bzl" report --db "$db" --json --by $by) <("$bzl" report --log "$t/union.ndjson" --json --by $by) \
    || fail "report --db --by $by differs"
done
diff <("$bzl" report --db "$db" --since 2026-12-09T12:30) <("$bzl" report --log "$t/union.ndjson" --since 2026-12-09T12:30) \
  || fail "report --db --since differs"
diff <("$bzl" report --db "$db" --csv --lang en) <("$bzl" report --log "$t/union.ndjson" --csv --lang en) \
  || fail "report --db --csv differs"
[ -n "${VERBOSE:-}" ] && cat "$t/collect.log" && "$bzl" report --db "$db" --lang en
echo "PASS: $total records once each; report --db equals report over the files"
