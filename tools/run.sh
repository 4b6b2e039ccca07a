#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program with a simulated device.
# With --real it starts the program alone, on the machine's own serial ports. Only the
# window, zlsim and zlfw are built (tools/test.sh builds everything).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
BZL_TARGETS="BootloaderZL zlsim zlfw" "$root/tools/build.sh" "$root/build"
if [ "${1:-}" = "--real" ]; then
  exec "$root/build/BootloaderZL"
fi
exec "$root/tools/run-demo.sh"
