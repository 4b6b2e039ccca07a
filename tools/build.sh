#!/usr/bin/env bash
# Configures and builds one build tree: tools/build.sh [DIR] [extra cmake args...]
# BZL_TARGETS (blank-separated) builds only those targets, e.g. BZL_TARGETS="BootloaderZL zlsim zlfw";
# without it everything is built.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build}"
shift || true
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
[ -n "${BZL_TARGETS:-}" ] && read -r -a targets <<<"$BZL_TARGETS"
cmake --build "$dir" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}
