#!/bin/bash
# The end-to-end scenarios of BootloaderZL.exe, bzl.exe and the installer under Wine, in a
# fresh Wine prefix under Xvfb, against zlsim on pseudo-terminals linked as COM ports.
# Installs what it needs (wine, wine64, Xvfb, openssl, osslsigncode) with apt-get, builds
# the .exe files and the installer signed with a throwaway certificate
# (tools/build-windows.sh), and zlsim. Takes a few minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tools=${BZL_WIN_TOOLS_BUILD:-$root/build-win-tools}

need=()
command -v wine >/dev/null || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v stty >/dev/null || need+=(coreutils)
command -v python3 >/dev/null || need+=(python3)
command -v openssl >/dev/null || need+=(openssl)
command -v osslsigncode >/dev/null || need+=(osslsigncode)
if ((${#need[@]})); then
  sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

build=${BZL_WIN_BUILD:-$root/build-win}
work=$(mktemp -d /tmp/bzl-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A throwaway self-signed code signing certificate: the signatures are checked against it
# (it chains to no trusted root, so that is all a test can check).
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=BootloaderZL test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$root/tools/build-windows.sh" --sign-cert "$work/cert.pem" --sign-key "$work/key.pem"
export BZL_TEST_SIGN_CERT=$work/cert.pem
# zlsim and zlfw, native, without the window (in a tree configured before as it is).
[ -f "$tools/CMakeCache.txt" ] || cmake -S "$root" -B "$tools" -G Ninja -DBZL_GUI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tools" --target zlsim zlfw -j"${BZL_JOBS:-2}" >/dev/null

# The prefix is made under the X server too (scenarios.py): Wine's desktop process,
# started with it, then has the display.
xvfb-run -a -s "-screen 0 1024x768x24" python3 "$root/tests/wine/scenarios.py" "$build" "$tools/sim" "$work"

# Built without the signing options, nothing is signed (and the build is left unsigned).
"$root/tools/build-windows.sh" >/dev/null
for exe in "$build/package/BootloaderZL.exe" "$build/package/bzl.exe" "$build"/BootloaderZL-*-setup.exe; do
  if osslsigncode verify -in "$exe" >/dev/null 2>&1; then
    echo "FAIL  $(basename "$exe") is signed although no certificate was given" >&2
    exit 1
  fi
done
echo "  ok    without --sign-cert nothing is signed"
