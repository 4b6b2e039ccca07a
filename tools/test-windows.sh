#!/bin/bash
# The end-to-end scenarios of BootloaderZL.exe under Wine, in a fresh Wine prefix under
# Xvfb, against zlsim on pseudo-terminals linked as COM ports. Installs what it needs
# (wine, wine64, Xvfb) with apt-get, builds the .exe (tools/build-windows.sh) and zlsim.
# Takes a few minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tools=${BZL_WIN_TOOLS_BUILD:-$root/build-win-tools}

need=()
command -v wine >/dev/null || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v stty >/dev/null || need+=(coreutils)
command -v python3 >/dev/null || need+=(python3)
if ((${#need[@]})); then
  sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

"$root/tools/build-windows.sh"
# zlsim and zlfw, native, without the window.
cmake -S "$root" -B "$tools" -G Ninja -DBZL_GUI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tools" --target zlsim zlfw -j"${BZL_JOBS:-2}" >/dev/null

work=$(mktemp -d /tmp/bzl-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The prefix is made under the X server too (scenarios.py): Wine's desktop process,
# started with it, then has the display.
xvfb-run -a -s "-screen 0 1024x768x24" python3 "$root/tests/wine/scenarios.py" "$root/build-win" "$tools/sim" "$work"
