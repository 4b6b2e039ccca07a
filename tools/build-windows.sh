#!/bin/bash
# Builds build-win/BootloaderZL.exe, build-win/bzl.exe (and the test helper zlctl.exe) with mingw-w64,
# statically linked: the executable needs no DLL beyond those of Windows itself; then the installer
# build-win/BootloaderZL-<version>-setup.exe (NSIS) with both programs.
#
#   tools/build-windows.sh [--sign-cert CERT.pem --sign-key KEY.pem [--sign-pass PASS] [--timestamp URL]]
#
# With --sign-cert and --sign-key both programs, the installer and its uninstaller carry an
# Authenticode signature (osslsigncode); without them nothing is signed.
# Installs the cross compiler, ImageMagick (for the icon), NSIS and osslsigncode with apt-get when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BZL_WIN_BUILD:-$root/build-win}

cert= key=
while (($#)); do
  case $1 in
    --sign-cert) cert=$(realpath "$2"); shift 2 ;;
    --sign-key) key=$(realpath "$2"); shift 2 ;;
    --sign-pass) export BZL_SIGN_PASS=$2; shift 2 ;;
    --timestamp) export BZL_SIGN_TIMESTAMP=$2; shift 2 ;;
    *) echo "usage: $0 [--sign-cert CERT.pem --sign-key KEY.pem [--sign-pass PASS] [--timestamp URL]]" >&2; exit 1 ;;
  esac
done
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  echo "$0: --sign-cert and --sign-key go together" >&2
  exit 1
fi

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v x86_64-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-x86-64)
[ -x /usr/bin/convert ] || need+=(imagemagick)  # ImageMagick itself, not another program of that name
command -v makensis >/dev/null || need+=(nsis)
[ -z "$cert" ] || command -v osslsigncode >/dev/null || need+=(osslsigncode)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
if ((${#need[@]})); then
  sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$build" -j"${BZL_JOBS:-2}"

# Only system DLLs may be imported.
for exe in "$build/BootloaderZL.exe" "$build/bzl.exe"; do
  bad=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' |
    grep -viE '^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|winmm|msvcrt|shell32|ole32|setupapi|cfgmgr32)\.dll$' || true)
  if [ -n "$bad" ]; then
    echo "$(basename "$exe") imports DLLs that Windows does not ship: $bad" >&2
    exit 1
  fi
  echo "built $exe ($(stat -c %s "$exe") bytes)"
done

# The installer, from copies of the programs (signed there when asked), so that the
# build's own files stay as the linker made them.
version=$(sed -n 's/^project(BootloaderZL VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
stage=$build/package
rm -rf "$stage"
mkdir -p "$stage"
cp "$build/BootloaderZL.exe" "$build/bzl.exe" "$build/icon.ico" "$stage/"
sign=()
if [ -n "$cert" ]; then
  export BZL_SIGN_CERT=$cert BZL_SIGN_KEY=$key
  for exe in "$stage/BootloaderZL.exe" "$stage/bzl.exe"; do "$root/packaging/windows/sign.sh" "$exe"; done
  sign=(-DSIGN="$root/packaging/windows/sign.sh")
fi
setup=$build/BootloaderZL-$version-setup.exe
makensis -V2 -DVERSION="$version" -DBUILD="$stage" -DOUTFILE="$setup" "${sign[@]}" \
  "$root/packaging/windows/BootloaderZL.nsi" >/dev/null
echo "built $setup ($(stat -c %s "$setup") bytes)${cert:+, signed}"
