#!/bin/bash
# Signs a Windows executable in place with an Authenticode signature (osslsigncode):
#   sign.sh FILE.exe
# with the certificate and its key from BZL_SIGN_CERT and BZL_SIGN_KEY (PEM files) and,
# when BZL_SIGN_TIMESTAMP names a time-stamp server, a time stamp from it. Used by
# tools/build-windows.sh for the programs, and by makensis for the installer and the
# uninstaller it writes into it.
set -euo pipefail
file=$1
: "${BZL_SIGN_CERT:?the certificate (PEM) to sign with}" "${BZL_SIGN_KEY:?its private key (PEM)}"
args=(sign -certs "$BZL_SIGN_CERT" -key "$BZL_SIGN_KEY" -h sha256 -n "BootloaderZL")
[ -n "${BZL_SIGN_PASS:-}" ] && args+=(-pass "$BZL_SIGN_PASS")
[ -n "${BZL_SIGN_TIMESTAMP:-}" ] && args+=(-ts "$BZL_SIGN_TIMESTAMP")
tmp=$file.signing.$$  # osslsigncode writes a new file only
rm -f "$tmp"
trap 'rm -f "$tmp"' EXIT
osslsigncode "${args[@]}" -in "$file" -out "$tmp" >/dev/null
chmod 755 "$tmp"
mv -f "$tmp" "$file"
trap - EXIT
