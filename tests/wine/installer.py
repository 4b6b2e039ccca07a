#!/usr/bin/env python3
"""The Windows installer under Wine: a silent installation (with bzl.exe on the PATH) puts
the programs, the Start menu entry and the Apps & features entry in place, the installed
programs start, and the silent uninstallation takes away everything it put there. With
BZL_TEST_SIGN_CERT (the certificate tools/build-windows.sh signed with), the signatures
of both programs, the installer and the uninstaller are checked.

Usage: installer.py BUILD_WIN SIM_DIR WORK_DIR (WINEPREFIX and DISPLAY set)."""
import glob
import os
import subprocess
import sys
import time

from wine_support import BUILD, CTL, PREFIX, check, counts, fresh_prefix, wait

APP_DIR = os.path.join(PREFIX, "drive_c", "Program Files", "Hallwyn", "BootloaderZL")
WIN_APP_DIR = r"C:\Program Files\Hallwyn\BootloaderZL"
SHORTCUT = os.path.join(PREFIX, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                        "BootloaderZL.lnk")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\BootloaderZL"
FILES = ("BootloaderZL.exe", "bzl.exe", "uninstall.exe")


def values(key):
    """The values of a registry key, by name ({} when there is no such key)."""
    r = subprocess.run(["wine", "reg", "query", key], capture_output=True, text=True, errors="replace")
    found = {}
    for line in r.stdout.splitlines():
        parts = line.strip().split(None, 2)
        if r.returncode == 0 and len(parts) == 3 and parts[1].startswith("REG_"):
            found[parts[0]] = parts[2].strip()
    return found


def user_path():
    return values(r"HKCU\Environment").get("Path", "")


def signed(path, cert):
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path], capture_output=True, text=True)
    return r.returncode == 0 and "Signature verification: ok" in r.stdout


def scenario():
    print("The installer: silent installation, the programs start, silent uninstallation")
    setups = glob.glob(os.path.join(BUILD, "BootloaderZL-*-setup.exe"))
    if not check("the installer was built", len(setups) == 1, setups):
        return
    setup = setups[0]
    cert = os.environ.get("BZL_TEST_SIGN_CERT")
    if cert:
        check("signatures: both programs and the installer, valid for the throwaway certificate",
              all(signed(p, cert) for p in (os.path.join(BUILD, "package", "BootloaderZL.exe"),
                                             os.path.join(BUILD, "package", "bzl.exe"), setup)))
    path_before = user_path()

    start = time.monotonic()
    r = subprocess.run(["wine", setup, "/S", "/PATH"], capture_output=True, timeout=120)
    print(f"  silent installation in {time.monotonic() - start:.1f} s")
    check("setup /S /PATH: exit code 0, the files and the Start menu entry in place",
          r.returncode == 0 and all(os.path.isfile(os.path.join(APP_DIR, f)) for f in FILES) and
          os.path.isfile(SHORTCUT), (r.returncode, os.listdir(os.path.dirname(APP_DIR)) if os.path.isdir(
              os.path.dirname(APP_DIR)) else None))
    entry = values(UNINSTALL_KEY)
    check("listed in Apps & features: name, version, publisher, silent uninstall",
          entry.get("DisplayName") == "BootloaderZL" and entry.get("Publisher") == "Hallwyn" and
          entry.get("DisplayVersion") and
          entry.get("QuietUninstallString") == f'"{WIN_APP_DIR}\\uninstall.exe" /S', entry)
    check("bzl.exe's folder on the user's PATH", WIN_APP_DIR.lower() in user_path().lower().split(";"), user_path())
    if cert:
        check("the installed uninstaller is signed too", signed(os.path.join(APP_DIR, "uninstall.exe"), cert))

    version = subprocess.run(["wine", os.path.join(APP_DIR, "bzl.exe"), "--version"], capture_output=True, text=True)
    check("the installed bzl.exe runs", version.returncode == 0 and version.stdout.startswith("bzl "), version.stdout)
    ui = subprocess.Popen(["wine", os.path.join(APP_DIR, "BootloaderZL.exe")], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    ctl = subprocess.Popen(["wine", CTL], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True, encoding="utf-8")

    def ask(line):
        ctl.stdin.write(line + "\n")
        ctl.stdin.flush()
        return ctl.stdout.readline().rstrip("\n")
    try:
        start = time.monotonic()
        title = wait(lambda: (lambda t: t if t.startswith("ok ") and len(t) > 3 else None)(ask("text 0")), 60, 0.2)
        print(f"  the installed window after {time.monotonic() - start:.1f} s")
        check("the installed BootloaderZL.exe starts: its window", title is not None, ask("text 0"))
        ask("click 1013")  # Quit
        try:
            code = ui.wait(20)
        except subprocess.TimeoutExpired:
            code = None
        check("... and ends with Quit", code == 0, code)
    finally:
        if ui.poll() is None:
            ui.kill()
        ctl.stdin.close()
        ctl.wait(10)

    # The uninstaller copies itself to the temporary folder and goes on from there.
    subprocess.run(["wine", os.path.join(APP_DIR, "uninstall.exe"), "/S"], capture_output=True, timeout=60)
    start = time.monotonic()
    gone = wait(lambda: not os.path.exists(APP_DIR), 30, 0.2)
    print(f"  silent uninstallation in {time.monotonic() - start:.1f} s")
    check("uninstall /S: the programs, the folder and the Start menu entry are gone",
          gone and not os.path.exists(os.path.dirname(APP_DIR)) and not os.path.exists(SHORTCUT),
          os.listdir(APP_DIR) if os.path.isdir(APP_DIR) else None)
    check("... its Apps & features entry too", values(UNINSTALL_KEY) == {})
    check("... and the PATH is as before", user_path() == path_before, (user_path(), path_before))


if __name__ == "__main__":
    if not os.path.exists(os.path.join(PREFIX, "system.reg")):
        fresh_prefix()
    began = time.monotonic()
    scenario()
    print(f"{counts['passed']} passed, {counts['failed']} failed in {time.monotonic() - began:.1f} s")
    sys.exit(1 if counts["failed"] else 0)
