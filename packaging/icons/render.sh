#!/usr/bin/env bash
# Renders the program's icon (res/icon.svg) into the hicolor PNG sizes that the package
# installs. Run it after a change to the icon and commit the PNGs it writes.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
svg="$here/../../res/icon.svg"
command -v rsvg-convert >/dev/null || { echo "render.sh: needs rsvg-convert (Debian package librsvg2-bin)" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$here/hicolor/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" "$svg" -o "$here/hicolor/${size}x${size}/com.hallwyn.BootloaderZL.png"
done
