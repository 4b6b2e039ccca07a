#!/usr/bin/env bash
# Builds the Debian packages and checks them:
#   build/packages/bootloaderzl_<version>_<arch>.deb      BootloaderZL, bzl, desktop entry, udev rules
#   build/packages/bootloaderzl-sim_<version>_<arch>.deb  zlsim, zlfw
# Checks: lintian (no error), desktop-file-validate, appstreamcli validate --no-net, and
# udev's own parser on the rules file.
#
#   tools/package.sh [--install-test]
#
# --install-test then installs both packages on this machine with dpkg (as root), starts
# the program from the desktop entry's Exec line under Xvfb until its window shows, runs
# bzl --version and zlfw, removes the packages again and checks that none of their files
# is left behind.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-pkg"
out="$root/build/packages"
install_test=0
for arg in "$@"; do
  case "$arg" in
    --install-test) install_test=1 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown option '$arg' (see --help)" >&2; exit 1 ;;
  esac
done

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# What the build and the checks need.
"$root/tools/install-deps.sh"
need=(dpkg-dev lintian desktop-file-utils appstream udev file)
[ $install_test = 1 ] && need+=(xvfb xauth x11-utils)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "=== installing ${missing[*]} ==="
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- build ---
echo "=== build ($build) ==="
# Debian's hardening flags; the time of the last commit for the release date, so that
# the same commit gives the same package.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags="$(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
if epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null)" && [ -n "$epoch" ]; then
  export SOURCE_DATE_EPOCH="$epoch"
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
# Only what goes into the packages, not the tests.
targets=(BootloaderZL BootloaderZL-Stations zlsim zlfw bzl_package_files)
if grep -q '^bzl:' <<<"$(cmake --build "$build" --target help)"; then
  targets+=(bzl)
else
  echo "note: there is no bzl target yet; the package holds the window alone"
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

echo "=== cpack ==="
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p "$out"
debs=()
for deb in "$build"/*.deb; do
  cp "$deb" "$out/"
  debs+=("$out/$(basename "$deb")")
done
version="$(dpkg-deb -f "${debs[0]}" Version)"
arch="$(dpkg --print-architecture)"
main="$out/bootloaderzl_${version}_${arch}.deb"
sim="$out/bootloaderzl-sim_${version}_${arch}.deb"
for deb in "$main" "$sim"; do
  [ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }
  echo "$deb ($(stat -c %s "$deb") bytes)"
done

# --- checks ---
status=0
check() {  # name command...
  local name="$1"; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name" >&2; status=1; fi
}

echo "=== lintian ==="
# Warnings and notes are shown; an error fails. (lintian warns about running as root.)
check "lintian reports no error" lintian --fail-on error --info "$main" "$sim" 2> >(grep -v 'running with root privileges' >&2)

tree="$(mktemp -d)"
udev_copy=""
trap 'rm -rf "$tree"; [ -z "$udev_copy" ] || rm -f "$udev_copy"' EXIT
dpkg-deb -x "$main" "$tree"
echo "=== desktop entry and AppStream metainfo ==="
check "desktop-file-validate" desktop-file-validate "$tree"/usr/share/applications/*.desktop
check "appstreamcli validate --no-net" appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml

echo "=== udev rules ==="
udev_check() {  # rules-file
  local rules="$1" name log
  name="$(basename "$rules")"
  if udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rules"
    return
  fi
  # Older udevadm: let udev itself read a copy of the file from /run/udev/rules.d while it
  # runs the rules on a tty, and report every complaint it has about that copy.
  if [ "$(id -u)" -ne 0 ]; then
    echo "udev rules: not checked (needs root, or udevadm verify from systemd 253 on)" >&2
    return 1
  fi
  mkdir -p /run/udev/rules.d
  udev_copy="/run/udev/rules.d/${name%.rules}-check-$$.rules"
  local copy="$udev_copy"
  cp "$rules" "$copy"
  log="$(udevadm test --action=add /sys/class/tty/ptmx 2>&1 || true)"
  rm -f "$copy"
  if ! grep -qF "Reading rules file: $copy" <<<"$log"; then
    echo "udev rules: udevadm test did not read $copy" >&2
    return 1
  fi
  if grep -F "$copy:" <<<"$log"; then
    return 1
  fi
  echo "udevadm test read $name without a complaint"
}
check "udev accepts the rules" udev_check "$tree"/lib/udev/rules.d/*.rules

# --- install, run, remove ---
if [ $install_test = 1 ]; then
  echo "=== install test ==="
  [ "$(id -u)" -eq 0 ] || { echo "package.sh: --install-test needs root" >&2; exit 1; }
  dpkg_locked() {  # dpkg args...: waits (at most two minutes) while another apt or dpkg runs
    local i out
    for i in $(seq 1 60); do
      if out="$(dpkg "$@" 2>&1)"; then return 0; fi
      grep -q "lock" <<<"$out" || { echo "$out" >&2; return 1; }
      sleep 2
    done
    echo "$out" >&2
    return 1
  }
  for p in bootloaderzl bootloaderzl-sim; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      echo "package.sh: $p is installed already; --install-test wants a machine without it" >&2
      exit 1
    fi
  done
  check "dpkg -i" dpkg_locked -i "$main" "$sim"
  listed="$tree/listed"
  dpkg -L bootloaderzl bootloaderzl-sim | sort -u >"$listed"

  # The program as the menu starts it: the Exec line without field codes.
  exec_line="$(sed -n 's/^Exec=//p' /usr/share/applications/com.hallwyn.BootloaderZL.desktop | sed 's/ %[fFuUick]//g')"
  window_shows() {
    local cfg="$tree/config"
    mkdir -p "$cfg"
    XDG_CONFIG_HOME="$cfg" XDG_STATE_HOME="$tree/state" xvfb-run -a sh -c '
      '"$exec_line"' >"$1/app.log" 2>&1 &
      app=$!
      for i in $(seq 1 100); do
        if xwininfo -root -tree | grep -q "Bootloader-Software"; then
          xwininfo -root -tree | grep "Bootloader-Software" | head -1
          kill $app; wait $app 2>/dev/null; exit 0
        fi
        kill -0 $app 2>/dev/null || break
        sleep 0.1
      done
      kill $app 2>/dev/null; cat "$1/app.log" >&2; exit 1' sh "$tree"
  }
  check "$exec_line (from the menu entry) shows its window" window_shows
  if [ -x /usr/bin/bzl ]; then
    bzl_version() { local v; v="$(bzl --version)"; echo "$v"; grep -qF "$version" <<<"$v"; }
    check "bzl --version prints $version" bzl_version
  fi
  check "zlfw makes a firmware file" sh -c "zlfw sx --length 256 -o '$tree/fw.sx' && test -s '$tree/fw.sx'"
  check "man BootloaderZL" sh -c "man -w BootloaderZL >/dev/null"

  check "dpkg -r" dpkg_locked -r bootloaderzl bootloaderzl-sim
  # Left behind: any file or link to a file from the lists, and any of their directories
  # that is now empty and owned by no other package (/usr/bin and the like stay, rightly).
  left="$(while read -r path; do
    [ "$path" = "/." ] && continue
    if [ -d "$path" ]; then
      [ -z "$(ls -A "$path")" ] && ! dpkg -S "$path" >/dev/null 2>&1 && echo "$path"
    elif [ -e "$path" ] || [ -L "$path" ]; then
      echo "$path"
    fi
  done <"$listed")"
  check "nothing left behind ($(wc -l <"$listed") paths were installed)" test -z "$left"
  [ -z "$left" ] || echo "$left" >&2
  # Without conffiles nothing stays for a purge either: dpkg forgets both packages.
  check "dpkg knows neither package any more" sh -c '! dpkg-query -W bootloaderzl bootloaderzl-sim 2>/dev/null | grep -q .'
fi

exit $status
