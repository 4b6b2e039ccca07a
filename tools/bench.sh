#!/usr/bin/env bash
# Builds and runs the benchmarks and prints their figures (about a quarter of an hour):
#   zl_bench_sim     zlsim's pacing over 64 KiB in each direction at 115200 and 57600 baud,
#                    and its CPU use on a quiet line and under a flood of wake-up strings;
#   zl_bench_search  for the PIC32 and the HCS kind: the program's CPU use while it searches
#                    for a switched-off device and while it is connected to an idle one
#                    (SEARCH_SECONDS each, default 30), and the time from switching the device
#                    on to the answer flag (5 switch-ons); zlsim at a raised priority;
#   zl_bench_load    Auto-Load speed of a 128 KiB and a 1 MiB image at 115200 baud, and a
#                    soak of SOAK_CYCLES (default 20) power cycles, a new 4 KiB image each,
#                    every image verified against zlsim's flash; resident memory, threads and
#                    descriptors after cycles 1, 10, 100, 1000 and the last, and the time per
#                    cycle (about 9 s a cycle: SOAK_CYCLES=1000 takes some two and a half hours);
#   zl_bench_cli     bzl against the window's dialog: CPU while searching (SEARCH_SECONDS each)
#                    and the Auto-Load time of a 1 MiB image at 115200 baud (within 0.5 %);
#   zl_bench_stations  stations in one process: CPU (and per station), resident memory and the
#                    lowest wake-up flood with 1, 8 and 32 stations searching, PIC32 and HCS
#                    (SEARCH_SECONDS each), the block phase of a 256 KiB Auto-Load on 8
#                    stations at once against one alone, and a soak of four stations at once,
#                    STATIONS_SOAK_CYCLES (default 5; about 9 s a cycle) cycles of new 4 KiB images, each verified;
#   zl_bench_shutdown  under two CPU hogs, SHUTDOWN_ROUNDS (default 5) rounds of four stations
#                    quit at once in the middle of their loads (loads cut short, time taken)
#                    and of two stations loading one shared file (loads called failed);
#   zl_bench_report  bzl report over REPORT_RECORDS (default 1000000) generated records: the
#                    reading alone, and bzl report's run by station and by unit ID, with the
#                    CPU time and resident memory of its process.
#   bench/serve_bench.sh  two stations loading 256 KiB, without a server and with --serve under
#                    10,000 slow, oversized, malformed and unauthorised requests: the block phases.
# The build goes to build-bench/ (no GUI needed); BUILD_DIR chooses another directory.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BUILD_DIR:-$root/build-bench}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBZL_GUI=OFF >/dev/null
ninja -C "$dir" zl_bench_sim zl_bench_search zl_bench_load zl_bench_cli zl_bench_stations zl_bench_shutdown zl_bench_report bzl zlsim zlfw

echo "=== zlsim: pacing and CPU ==="
"$dir/bench/zl_bench_sim" | grep -v ' bytes$'
echo "=== program: CPU of the search and of the connected state ==="
"$dir/bench/zl_bench_search" "${SEARCH_SECONDS:-30}"
echo "=== program: Auto-Load speed and soak ==="
"$dir/bench/zl_bench_load" "${SOAK_CYCLES:-20}"
echo "=== bzl against the window: CPU of the search, 1 MiB Auto-Load time ==="
"$dir/bench/zl_bench_cli" "${SEARCH_SECONDS:-30}"
echo "=== stations: 1, 8 and 32 searching; 8 loading 256 KiB at once against one ==="
"$dir/bench/zl_bench_stations" "${SEARCH_SECONDS:-30}"
"$dir/bench/zl_bench_stations" 0 soak "${STATIONS_SOAK_CYCLES:-5}"
echo "=== stations under CPU hogs: quit during loads; two loading one file ==="
"$dir/bench/zl_bench_shutdown" "${SHUTDOWN_ROUNDS:-5}"
echo "=== bzl report: a million records ==="
"$dir/bench/zl_bench_report" "${REPORT_RECORDS:-1000000}"
echo "=== bzl --serve: block phase of two stations under 10,000 hostile requests ==="
"$root/bench/serve_bench.sh" "$dir"
