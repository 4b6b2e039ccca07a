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
jobs="$(nproc)"
status=0

run_suite() {  # name build-dir [ctest args...]
  local name="$1" dir="$2"; shift 2
  echo "=== $name ==="
  if ! ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600 "$@"; then
    status=1
  fi
}

"$root/tools/build.sh" "$root/build"
run_suite "tests" "$root/build"

if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/tools/build.sh" "$root/build-tsan" -DBZL_GUI=OFF -DBZL_SANITIZE=thread
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_suite "ThreadSanitizer" "$root/build-tsan" -E '^sim[.]' -LE factory
  "$root/tools/build.sh" "$root/build-asan" -DBZL_GUI=OFF -DBZL_SANITIZE=address
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" run_suite "AddressSanitizer+UBSan" "$root/build-asan" -E '^sim[.]' -LE factory
fi

if [ "${SKIP_FUZZ:-0}" != 1 ] && [ -x "$root/fuzz/run_fuzz.sh" ]; then
  echo "=== fuzz ==="
  bash "$root/fuzz/run_fuzz.sh" "${FUZZ_SECONDS:-15}" || status=1
fi

exit $status
