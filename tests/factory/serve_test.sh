#!/usr/bin/env bash
# bzl load --serve against zlsim, read by curl, by a Prometheus server that scrapes it and by
# headless Chromium showing the live page; all on loopback. Usage: serve_test.sh [BUILD_DIR]
# Needs curl, python3, prometheus and chromium (tools/install-deps.sh).
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
BZL=$BUILD/cli/bzl ZLSIM=$BUILD/sim/zlsim ZLFW=$BUILD/sim/zlfw
for tool in curl python3 prometheus chromium; do
  command -v $tool >/dev/null || { echo "serve_test: $tool is missing (tools/install-deps.sh): skipped"; exit 77; }
done
T=$(mktemp -d /tmp/bzl-serve-XXXXXX)
export XDG_CONFIG_HOME=$T/config XDG_STATE_HOME=$T/state
mkdir -p "$XDG_CONFIG_HOME/Hallwyn/ports"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$T"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }
wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.2; done
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# The simulated device, driven through its standard input.
COM=47
mkfifo "$T/sim.in"
"$ZLSIM" --kind pic32 --com $COM --no-pacing --flash "$T/flash.bin" <"$T/sim.in" >"$T/sim.out" 2>&1 &
pids+=($!)
exec 7>"$T/sim.in"
wait_for 10 grep -q '^ready' "$T/sim.out" || fail "zlsim did not start"
sim() { echo "$1" >&7; }
"$ZLFW" pic32 --length 32768 -o "$T/fw.spic32" >/dev/null
head -c 32 /dev/urandom | base64 | tr -d '/+=\n' >"$T/token"; echo >>"$T/token"
TOKEN=$(head -1 "$T/token")
LOG=$T/records.ndjson
# Lines that are no schema-2 record are never served.
printf '%s\n' '{"schema":1,"time":"2026-01-01T00:00:00.000Z","operation":"load"}' 'not json' >"$LOG"

# Safety: an address other than loopback wants a token; nothing is started without one.
set +e
"$BZL" load "$T/fw.spic32" --port COM$COM --serve 0.0.0.0:0 --log "$LOG" >"$T/refused.out" 2>&1
rc=$?
set -e
[ $rc -eq 1 ] && grep -q "serve-token" "$T/refused.out" || fail "non-loopback without token: exit $rc, $(cat "$T/refused.out")"
ok "0.0.0.0 without --serve-token refused (exit 1)"

# Starts bzl serving on a free loopback port; sets BZL_PID and URL.
start_bzl() {  # start_bzl NAME ARGS...
  local name=$1; shift
  "$BZL" load "$T/fw.spic32" --port COM$COM --count 0 --log "$LOG" --serve 127.0.0.1:0 "$@" >"$T/$name.out" 2>"$T/$name.err" &
  BZL_PID=$!
  pids+=($BZL_PID)
  wait_for 10 grep -q 'serving on' "$T/$name.err" || fail "$name: no server: $(cat "$T/$name.err")"
  URL=$(sed -n 's|.*serving on \(http://[^ ]*/\).*|\1|p' "$T/$name.err")
  wait_for 20 grep -Eq 'searching for device|Suche nach' "$T/$name.out" || fail "$name: no search"
}
auth=(-H "Authorization: Bearer $TOKEN")  # with the array empty, curl sends no token
get() { curl -s --max-time 5 "${auth[@]}" "$@"; }
code() { curl -s -o /dev/null --max-time 5 -w '%{http_code}' "$@"; }
ok_loads() { get "${URL}metrics" | grep -c "^zl_transfers_total{.*outcome=\"ok\".*} $1\$" >/dev/null; }
searching_again() { get "${URL}api/v1/stations" | grep -q '"state":"searching"'; }
# One device: switched on, loaded, switched off.
one_device() {  # one_device GOOD_LOADS_AFTER
  sim "power on"
  wait_for 30 ok_loads "$1" || fail "load $1 not counted: $(get "${URL}metrics" | grep transfers_total)"
  sim "power off"
  wait_for 10 searching_again || fail "not searching again"
}

start_bzl api --serve-token "$T/token" --lang en
one_device 1
ok "metrics: zl_transfers_total{outcome=\"ok\"} 1 after one load"
get "${URL}metrics" >"$T/metrics.txt"
promtool check metrics <"$T/metrics.txt" || fail "promtool: the exposition is not well formed"
grep -q '^zl_station_state{station="COM47",state="searching"} 1$' "$T/metrics.txt" || fail "station state"
grep -q '^zl_transfer_seconds_count{operation="load"} 1$' "$T/metrics.txt" || fail "histogram"
grep -q '^zl_units_first_pass_yield 1$' "$T/metrics.txt" || fail "first-pass yield"
grep -q '^zl_line_efficiency{station="COM47"} ' "$T/metrics.txt" || fail "line efficiency"
grep -q '^zl_build_info{program="bzl",version="[0-9.]*",job_sha256=""} 1$' "$T/metrics.txt" || fail "build info"
get "${URL}api/v1/stations" | python3 -c '
import json, sys
d = json.load(sys.stdin); s = d["stations"][0]
assert s["station"] == "COM47" and s["state"] == "searching", s
assert s["counters"] == {"good": 1, "failed": 0}, s
assert s["last_verdict"]["outcome"] == "ok" and s["last_verdict"]["operation"] == "load", s
assert d["totals"]["first_pass_yield"] == 1, d' || fail "stations JSON"
ok "stations: COM47 searching, 1 good, last verdict ok"

[ "$(code "${URL}metrics")" = 401 ] || fail "no token: not 401"
[ "$(code -H "Authorization: Bearer wrong$TOKEN" "${URL}metrics")" = 401 ] || fail "wrong token: not 401"
[ "$(code "${auth[@]}" "${URL}nothing")" = 404 ] || fail "bad path: not 404"
[ "$(code "${auth[@]}" -X POST "${URL}metrics")" = 405 ] || fail "POST: not 405"
big=(); for i in $(seq 1 12); do big+=(-H "X-Filler-$i: $(head -c 1000 /dev/zero | tr '\0' a)"); done
[ "$(code "${auth[@]}" "${big[@]}" "${URL}metrics")" = 431 ] || fail "oversized header: not 431"
ok "401 without and with a wrong token, 404, 405, 431"

one_device 2
get -D "$T/h" "${URL}api/v1/records" >"$T/all.ndjson"
grep -qi '^content-type: application/x-ndjson' "$T/h" || fail "records content type"
[ "$(wc -l <"$T/all.ndjson")" -eq 2 ] || fail "records: $(cat "$T/all.ndjson")"
first=$(head -1 "$T/all.ndjson" | python3 -c 'import json,sys; print(json.load(sys.stdin)["id"])')
second=$(tail -1 "$T/all.ndjson" | python3 -c 'import json,sys; print(json.load(sys.stdin)["id"])')
[ "$(get "${URL}api/v1/records?limit=1")" = "$(head -1 "$T/all.ndjson")" ] || fail "limit=1"
[ "$(get "${URL}api/v1/records?after=$first")" = "$(tail -1 "$T/all.ndjson")" ] || fail "after=first"
[ -z "$(get "${URL}api/v1/records?after=$second")" ] || fail "after=last is not empty"
[ "$(code "${auth[@]}" "${URL}api/v1/records?after=00000000-0000-7000-8000-000000000000")" = 404 ] || fail "unknown after"
[ "$(code "${auth[@]}" "${URL}api/v1/records?after=junk")" = 400 ] || fail "malformed after"
ok "records: 2 of 4 lines served, limit and after= paging, unknown ID 404"

# Prometheus scrapes bzl with the token; its query API counts the good loads.
PPORT=$(free_port)
HOSTPORT=${URL#http://}; HOSTPORT=${HOSTPORT%/}
cat >"$T/prometheus.yml" <<YML
global: {scrape_interval: 1s, scrape_timeout: 1s}
scrape_configs:
  - job_name: bzl
    authorization: {credentials_file: $T/token}
    static_configs: [{targets: ['$HOSTPORT']}]
YML
prometheus --config.file="$T/prometheus.yml" --storage.tsdb.path="$T/prom" \
  --web.listen-address=127.0.0.1:$PPORT >"$T/prom.log" 2>&1 &
pids+=($!)
query() {
  curl -s --max-time 2 "http://127.0.0.1:$PPORT/api/v1/query" --data-urlencode 'query=sum(zl_transfers_total{outcome="ok"})' |
    python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if r else "")' 2>/dev/null
}
counted_two() { [ "$(query)" = 2 ]; }
wait_for 60 counted_two ||
  fail "prometheus: sum(zl_transfers_total{outcome=\"ok\"}) = '$(query)'; $(tail -3 "$T/prom.log")"
ok "prometheus: sum(zl_transfers_total{outcome=\"ok\"}) = 2"

kill -TERM $BZL_PID; set +e; wait $BZL_PID; rc=$?; set -e
[ $rc -eq 130 ] || fail "bzl did not end on SIGTERM ($rc)"

# The live page in German, in headless Chromium (no token on loopback).
start_bzl page --lang de
auth=()
one_device 1
chrome=(chromium --headless --no-sandbox --disable-gpu --user-data-dir="$T/chrome" --virtual-time-budget=4000)
"${chrome[@]}" --dump-dom "$URL" >"$T/dom.html" 2>"$T/chrome.err" || fail "chromium: $(tail -3 "$T/chrome.err")"
grep -q 'data-station="COM47"' "$T/dom.html" || fail "no tile for COM47: $(head -c 2000 "$T/dom.html")"
grep -q 'class="verdict" data-outcome="ok">Laden: gut' "$T/dom.html" || fail "no verdict in the tile"
grep -q 'Erstdurchlauf-Ausbeute: 100.0 %' "$T/dom.html" || fail "no first-pass yield"
SHOT=${SERVE_SCREENSHOT:-$T/page.png}
"${chrome[@]}" --window-size=1000,500 --screenshot="$SHOT" "$URL" >/dev/null 2>&1 || fail "screenshot"
[ -s "$SHOT" ] || fail "no screenshot"
ok "live page: tile of COM47 with the verdict \"Laden: gut\" (screenshot $SHOT)"
kill -TERM $BZL_PID; wait $BZL_PID || true
sim "quit"
echo "serve_test: all passed"
