#!/bin/bash
# Builds build-win/BootloaderZL.exe, build-win/bzl.exe (and the test helper zlctl.exe) with mingw-w64,
# statically linked: the executable needs no DLL beyond those of Windows itself.
# Installs the cross compiler and ImageMagick (for the icon) with apt-get when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BZL_WIN_BUILD:-$root/build-win}

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v x86_64-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-x86-64)
[ -x /usr/bin/convert ] || need+=(imagemagick)  # ImageMagick itself, not another program of that name
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
