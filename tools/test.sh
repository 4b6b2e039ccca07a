#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build (unit, GUI,
# simulator and end-to-end tests), the ThreadSanitizer and AddressSanitizer/UBSan
# builds of the non-GUI suites, and a short run of the fuzz targets.
# The simulator's own tests time its line and run in the normal build only, as do the
# tests with the real engines (PostgreSQL, Prometheus, Chromium; ctest label "factory").
# SKIP_SANITIZERS=1 or SKIP_FUZZ=1 leave those parts out (for a quick local run).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
# The scenarios spend most of their time waiting on the line's own timing (a 2-core
# machine stays 60-85 % idle with four at once), so more run at once than there are
# cores: twice the cores for the normal build, three times for the sanitizer builds,
# whose suites leave out the simulator's timed tests and the real engines.
cores="$(nproc)"
status=0

run_suite() {  # name build-dir jobs [ctest args...]
  local name="$1" dir="$2" jobs="$3"; shift 3
  echo "=== $name ==="
  if ! ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600 "$@"; then
    status=1
  fi
}

"$root/tools/build.sh" "$root/build"
run_suite "tests" "$root/build" $((cores * 2))

if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/tools/build.sh" "$root/build-tsan" -DBZL_GUI=OFF -DBZL_SANITIZE=thread
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_suite "ThreadSanitizer" "$root/build-tsan" $((cores * 3)) -E '^sim[.]' -LE factory
  "$root/tools/build.sh" "$root/build-asan" -DBZL_GUI=OFF -DBZL_SANITIZE=address
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" run_suite "AddressSanitizer+UBSan" "$root/build-asan" $((cores * 3)) -E '^sim[.]' -LE factory
fi

if [ "${SKIP_FUZZ:-0}" != 1 ] && [ -x "$root/fuzz/run_fuzz.sh" ]; then
  echo "=== fuzz ==="
  bash "$root/fuzz/run_fuzz.sh" "${FUZZ_SECONDS:-15}" || status=1
fi

exit $status
