#!/usr/bin/env bash
# A line with two PCs on loopback: two bzl load --serve against their zlsims, bzl collect
# --follow from both into a real PostgreSQL (Debian's), the collector killed and started again
# in the middle, one station stopped and started again; then every record of both record files
# is in zl_records exactly once, bzl report --db prints what bzl report prints over the two
# files, and Prometheus (Debian's), scraping both with the token, counts their good loads.
# Usage: line_test.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
bzl=$build/cli/bzl zlsim=$build/sim/zlsim zlfw=$build/sim/zlfw
pgbin=/usr/lib/postgresql/15/bin
[ -x "$pgbin/postgres" ] || { echo "SKIP: no $pgbin/postgres (tools/install-deps.sh)" >&2; exit 77; }
for tool in curl prometheus; do command -v $tool >/dev/null || { echo "SKIP: no $tool" >&2; exit 77; }; done

t=$(mktemp -d /tmp/zl-line.XXXXXX)
chmod 755 "$t"
as_db=()
if [ "$(id -u)" -eq 0 ]; then chown postgres "$t"; as_db=(runuser -u postgres --); fi
export XDG_CONFIG_HOME=$t/config XDG_STATE_HOME=$t/state
mkdir -p "$t/work" "$XDG_CONFIG_HOME/Hallwyn/ports"
w=$t/work
pids=(); collector=
cleanup() {
  [ -n "$collector" ] && kill -9 "$collector" 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  "${as_db[@]}" "$pgbin/pg_ctl" -D "$t/db" -m immediate stop >/dev/null 2>&1 || true
  [ -n "${KEEP:-}" ] && echo "kept $t" >&2 || rm -rf "$t"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in "$w"/*.err "$w/collect.log"; do [ -f "$f" ] && { echo "--- $f" >&2; tail -5 "$f" >&2; }; done; exit 1; }
ok() { echo "ok: $*"; }
wait_for() { local end=$((SECONDS + $1)); shift; until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.2; done; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

"${as_db[@]}" "$pgbin/initdb" -D "$t/db" -A trust -U postgres --no-sync >/dev/null
"${as_db[@]}" "$pgbin/pg_ctl" -D "$t/db" -l "$t/pg.log" -w -o "-k $t -c listen_addresses= -F" start >/dev/null
"${as_db[@]}" "$pgbin/createdb" -h "$t" -U postgres zl
db="postgresql://postgres@/zl?host=$t"
sql() { "${as_db[@]}" "$pgbin/psql" -h "$t" -U postgres -d zl -At -c "$1"; }

"$zlfw" pic32 --length 16384 -o "$w/fw.spic32" >/dev/null
head -c 32 /dev/urandom | base64 | tr -d '/+=\n' >"$w/token"; echo >>"$w/token"
token=$(head -1 "$w/token")
declare -A port url fifo
for s in a b; do
  com=$([ $s = a ] && echo 61 || echo 62)
  mkfifo "$w/sim-$s.in"
  "$zlsim" --kind pic32 --com $com --no-pacing --flash "$w/flash-$s.bin" <"$w/sim-$s.in" >"$w/sim-$s.out" 2>&1 &
  pids+=($!)
  port[$s]=$(free_port); url[$s]=http://127.0.0.1:${port[$s]}
done
exec 7>"$w/sim-a.in" 8>"$w/sim-b.in"
sim() { [ $1 = a ] && echo "$2" >&7 || echo "$2" >&8; }
declare -A station
start_station() {  # start_station a|b: bzl serving its records file on its fixed port
  local s=$1 com; com=$([ $s = a ] && echo 61 || echo 62)
  "$bzl" load "$w/fw.spic32" --port COM$com --device 0 --count 0 --log "$w/$s.ndjson" \
    --serve 127.0.0.1:${port[$s]} --serve-token "$w/token" >"$w/$s.out" 2>>"$w/$s.err" &
  station[$s]=$!; pids+=(${station[$s]})
  wait_for 20 grep -Eq 'Suche nach|searching for' "$w/$s.out" || fail "station $s does not search"
}
good() { curl -s --max-time 3 -H "Authorization: Bearer $token" "${url[$1]}/api/v1/stations" |
           python3 -c 'import json,sys; print(json.load(sys.stdin)["stations"][0]["counters"]["good"])' 2>/dev/null; }
searching() { curl -s --max-time 3 -H "Authorization: Bearer $token" "${url[$1]}/api/v1/stations" | grep -q '"state":"searching"'; }
device() {  # device STATION: one device switched on, loaded, switched off
  local s=$1 before; before=$(good $s)
  sim $s "power on"
  wait_for 40 eval '[ "$(good '$s')" = $((before + 1)) ]' || fail "station $s: no good load ($(good $s))"
  sim $s "power off"
  wait_for 15 searching $s || fail "station $s is not searching again"
}
start_collector() {
  "$bzl" collect --follow --every 1 --from "${url[a]}" --from "${url[b]}" --to "$db" --token-file "$w/token" \
    2>>"$w/collect.log" &
  collector=$!
}
in_db() { sql "SELECT count(*) || ' ' || count(DISTINCT id) FROM zl_records"; }
in_files() { cat "$w/a.ndjson" "$w/b.ndjson" | wc -l; }
all_once() { local n; n=$(in_files); [ "$(in_db)" = "$n $n" ]; }

start_station a; start_station b; start_collector
pport=$(free_port)
cat >"$w/prometheus.yml" <<YML
global: {scrape_interval: 1s, scrape_timeout: 1s}
scrape_configs:
  - job_name: bzl
    authorization: {credentials_file: $w/token}
    static_configs: [{targets: ['127.0.0.1:${port[a]}', '127.0.0.1:${port[b]}']}]
YML
prometheus --config.file="$w/prometheus.yml" --storage.tsdb.path="$w/prom" \
  --web.listen-address=127.0.0.1:$pport >"$w/prom.err" 2>&1 &
pids+=($!)
device a; device b
wait_for 30 all_once || fail "records after the first devices: db $(in_db), files $(in_files)"
ok "two stations, their first records collected once: $(in_db)"

kill -9 $collector; wait $collector 2>/dev/null || true; collector=
device a; device b
start_collector
wait_for 30 all_once || fail "records after the collector's restart: db $(in_db), files $(in_files)"
ok "the collector killed and started again: every record once ($(in_db))"

kill -TERM ${station[b]}; wait ${station[b]} 2>/dev/null || true
device a
sleep 2  # the collector meets the stopped station (and tells of it)
start_station b
device b; device a
wait_for 30 all_once || fail "records after station b's restart: db $(in_db), files $(in_files)"
[ "$(in_files)" -eq 7 ] || fail "expected 7 loads in the files, have $(in_files)"
ok "a station stopped and started again: all $(in_files) records once"

"$bzl" report --db "$db" --json --by station >"$w/db.json" || fail "report --db"
"$bzl" report --log "$w/a.ndjson" --log "$w/b.ndjson" --json --by station >"$w/files.json" || fail "report --log"
cmp -s "$w/db.json" "$w/files.json" || fail "report --db differs: $(diff "$w/db.json" "$w/files.json")"
grep -q '"good":7' "$w/db.json" || fail "report: $(cat "$w/db.json")"
ok "bzl report --db equals bzl report over the two files (7 good loads)"

# Prometheus holds the stations' own counters: the good loads of this run of each.
query() {
  curl -s --max-time 2 "http://127.0.0.1:$pport/api/v1/query" --data-urlencode 'query=sum(zl_transfers_total{outcome="ok"})' |
    python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "")' 2>/dev/null
}
expected=$(( $(good a) + $(good b) ))
wait_for 60 eval '[ "$(query)" = $expected ]' || fail "prometheus: sum(zl_transfers_total{outcome=\"ok\"}) = '$(query)', not $expected"
ok "prometheus scraping both stations with the token: sum(zl_transfers_total{outcome=\"ok\"}) = $expected"

kill -TERM $collector; wait $collector 2>/dev/null || true; collector=
for s in a b; do kill -TERM ${station[$s]} 2>/dev/null || true; done
sim a quit; sim b quit
echo "line_test: all passed"
