#!/usr/bin/env bash
# Starts the program with a simulated PIC32 device (zlsim) on a free COM number, in a
# profile of its own, and switches the device on a moment later.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
demo="${DEMO_HOME:-${XDG_RUNTIME_DIR:-/tmp}/bootloaderzl-demo}"
mkdir -p "$demo/Hallwyn/ports"
export XDG_CONFIG_HOME="$demo"
com=""
for n in $(seq 100 256); do
  [ -e "$demo/Hallwyn/ports/com$n" ] || [ -L "$demo/Hallwyn/ports/com$n" ] || { com=$n; break; }
done
[ -n "$com" ] || { echo "no free COM number in $demo/Hallwyn/ports" >&2; exit 1; }
flash="$demo/flash-com$com.bin"
"$build/sim/zlfw" pic32 --length 65536 -o "$demo/demo.spic32" >/dev/null
# zlsim reads its commands from a pipe: power on after two seconds, off at the end.
pipe="$demo/zlsim-$com.ctl"
rm -f "$pipe"; mkfifo "$pipe"
"$build/sim/zlsim" --kind pic32 --com "$com" --flash "$flash" <"$pipe" >"$demo/zlsim-$com.out" 2>&1 &
sim=$!
exec 3>"$pipe"
trap 'echo quit >&3 2>/dev/null || true; exec 3>&-; wait $sim 2>/dev/null || true; rm -f "$pipe"' EXIT
# Point the remembered port at the simulated device (the demo has a profile of its own).
conf="$demo/Hallwyn/BootloaderZL.conf"
others=""
[ -f "$conf" ] && others="$(grep -E '^(PrevDevice|PrevLang)=' "$conf" || true)"
{ echo "[General]"; printf 'PrevCOM=\\\\\\\\.\\\\COM%s\n' "$com"; if [ -n "$others" ]; then echo "$others"; fi; } >"$conf"
( sleep 2; echo "power on" >&3 ) &
echo "Simulated PIC32 device on COM$com (zlsim log: $demo/zlsim-$com.out); a demo image: $demo/demo.spic32"
"$build/BootloaderZL"
