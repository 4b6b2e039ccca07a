#!/usr/bin/env python3
"""bzl.exe under Wine against zlsim: the command line as a technician runs it on Windows.

Runs alone: bzl_scenarios.py BUILD_WIN SIM_DIR WORK_DIR (WINEPREFIX set); scenarios.py runs it
with the window's scenarios."""
import fcntl
import glob
import json
import os
import pty
import re
import select
import signal
import struct
import subprocess
import termios
import threading
import time

from wine_support import (BUILD, PREFIX, WORK, Sim, check, clear_ports, counts, fresh_prefix, read, usb_port, wait, winpath,
                          zlfw)

BZL = os.path.join(BUILD, "bzl.exe")
ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")


def bzl(*args, timeout=120):
    """Runs bzl.exe to its end with its output in a pipe; (exit code, stdout, stderr)."""
    try:
        r = subprocess.run(["wine", BZL, *args], capture_output=True, text=True, encoding="utf-8", errors="replace",
                           cwd=WORK, env=ENV, timeout=timeout)
        return r.returncode, r.stdout.replace("\r\n", "\n"), r.stderr
    except subprocess.TimeoutExpired as e:
        return None, str(e.stdout), str(e.stderr)


def start(*args):
    return subprocess.Popen(["wine", BZL, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            encoding="utf-8", errors="replace", cwd=WORK, env=ENV)


def ended(proc, timeout):
    try:
        out, err = proc.communicate(timeout=timeout)
        return proc.returncode, out.replace("\r\n", "\n"), err
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
        return None, out, err


def ports_bytes(*args, env=None):
    """bzl ports with its standard output in a pipe, as bytes."""
    r = subprocess.run(["wine", BZL, "ports", *args], capture_output=True, cwd=WORK, env=env or ENV, timeout=60)
    return r.stdout


def in_console(columns, *args, timeout=120):
    """Runs bzl.exe in a console COLUMNS wide (Wine makes one of a terminal: here a
    pseudo-terminal of that size); what the console printed, control sequences removed."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, columns, 0, 0))
    proc = subprocess.Popen(["wine", BZL, *args], stdin=slave, stdout=slave, stderr=slave, cwd=WORK, env=ENV)
    os.close(slave)
    out, end = b"", time.monotonic() + timeout
    while time.monotonic() < end:
        if not select.select([master], [], [], 1)[0]:
            if proc.poll() is not None:
                break
            continue
        try:
            data = os.read(master, 65536)
        except OSError:
            break
        if not data:
            break
        out += data
    os.close(master)
    try:
        code = proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        code = None
    return code, re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", out).decode("utf-8", "replace")


def records():
    """bzl's records so far."""
    found = glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "AppData", "Local", "Hallwyn", "BootloaderZL",
                                   "records.ndjson"))
    lines = [json.loads(line) for line in open(found[0], encoding="utf-8")] if found else []
    return [r for r in lines if r["program"] == "bzl"]


def scenario():
    print("bzl.exe against a PIC32 device on COM3")
    clear_ports()
    sim = Sim("pic32", 3, "bzl")
    try:
        code, out, err = bzl("ports")
        check("bzl ports: COM3 usable", code == 0 and any(line.startswith("COM3 ") and line.endswith("usable")
                                                           for line in out.splitlines()), out + err)
        # Named from the device registry, as the Device Manager names it.
        usb_port(3, "B7733KQ", "Serielles USB-Ger\u00e4t", "Microsoft")
        code, out, err = bzl("ports", "--json")
        port = [json.loads(line) for line in out.splitlines() if '"COM3"' in line]
        check("bzl ports --json: COM3's name, maker and serial number from SetupAPI",
              code == 0 and port and port[0]["device"] == "Serielles USB-Ger\u00e4t (Microsoft), serial B7733KQ" and
              port[0]["serial"] == "B7733KQ" and port[0]["state"] == "usable", out + err)
        code, out, err = bzl("--help")
        check("bzl --help: no ports link on Windows", code == 0 and "bzl ports" in out and "link" not in out, out)

        # Text into a pipe: the ANSI code page without a console (Wine: 1252), UTF-8 when asked.
        name = "Serielles USB-Ger\u00e4t (Microsoft)"
        check("bzl ports into a pipe: the ANSI code page", name.encode("cp1252") in ports_bytes(), ports_bytes())
        check("BZL_UTF8=1 and --utf8: UTF-8",
              name.encode() in ports_bytes(env=dict(ENV, BZL_UTF8="1")) and name.encode() in ports_bytes("--utf8"))
        code, out, err = bzl("load", "fehlt.spic32", "--port", "COM3")
        check("a missing file: exit 7 and its name", code == 7 and "fehlt.spic32" in err, (code, err))
        code, out, err = bzl("info", "--port", "/dev/ttyS0")
        check("a Linux device path: exit 1, Windows wants COMn", code == 1 and "COMn" in err, (code, err))
        code, out, err = bzl("info", "--port", "COM9")
        check("a COM port the machine lacks: exit 1", code == 1 and "COM9" in err, (code, err))

        # A name beyond the ANSI code page reaches the program whole (the command line in UTF-16).
        image = os.path.join(WORK, "Firmware-\u00e4\u00f6\u00fc-\u4e2d.spic32")
        zlfw("pic32", "--length", str(64 * 1024), "--name", "Corvel-Neu", "-o", image)
        known = len(records())
        load = start("load", winpath(image), "--port", "COM3", "--timeout", "60")
        time.sleep(1)
        sim.command("power on")
        code, out, err = ended(load, 120)
        check("load: exit 0 and the device's new firmware reported", code == 0 and "Corvel-Neu" in out,
              (code, out[-600:], err[-400:]))
        check("load: progress lines in the pipe", out.count("%") >= 5, out[-600:])
        check("load: zlsim's flash equals the image", read(sim.flash) == read(image))
        new = records()[known:]
        check("load: its record in %LOCALAPPDATA%", [(r["operation"], r["result"]["outcome"]) for r in new] ==
              [("load", "ok")], new)

        sim.command("power off")
        target = os.path.join(WORK, "Auslesen.spic32")
        reader = start("read", winpath(target), "--port", "COM3", "--timeout", "60", "--json")
        time.sleep(1)
        sim.command("power on")
        code, out, err = ended(reader, 120)
        events = [json.loads(line)["event"] for line in out.splitlines() if line.startswith("{")]
        check("read --json: exit 0, the file holds the flash", code == 0 and read(target) == read(sim.flash),
              (code, err))
        check("read --json: its events", events[0] == "start" and "connected" in events and events[-1] == "result",
              events)

        # In a console 61 columns wide the live line keeps to 60 characters and loses whole
        # fields, never half a number.
        sim.command("power off")
        threading.Timer(2, lambda: sim.command("power on")).start()
        code, out = in_console(61, "load", winpath(image), "--port", "COM3", "--timeout", "60")
        live = [part for line in out.split("\n") for part in line.split("\r") if " %" in part]
        whole = re.compile(r"^COM3  .*\d+ %(  [\d.]+ (B|KiB|MiB)( / [\d.]+ (B|KiB|MiB))?(, \d+ B/s(, [\d:]+ left)?)?)?$")
        check("a console 61 wide: a load's live lines of at most 60 characters, whole fields",
              code == 0 and len(live) > 10 and all(len(p) <= 60 and whole.match(p) for p in live),
              (code, [p for p in live if len(p) > 60 or not whole.match(p)][:3], out[-300:]))

        # The adapter pulled during a load: bzl ends at once with exit 4 and says why.
        sim.command("power off")
        before = len(sim.received())
        load = start("load", winpath(image), "--port", "COM3", "--timeout", "60")
        time.sleep(1)
        sim.command("power on")

        def blocks_arriving():
            rx = sim.received()[before:]
            start_at = rx.find(b"\rSload")
            return start_at >= 0 and len(rx) - start_at > 16 * 1024
        loading = wait(blocks_arriving, 60, 0.1)
        sim.unplug()
        pulled = time.monotonic()
        code, out, err = ended(load, 60)
        check("unplugged while loading: exit 4", loading and code == 4, (loading, code, out[-400:], err[-400:]))
        print(f"  bzl ended {time.monotonic() - pulled:.2f} s after the adapter was pulled")
        check("plugged back", sim.plug())

        # Ctrl-C while waiting for a device: Wine hands SIGINT to the console program as Ctrl-C.
        info = start("info", "--port", "COM3")
        wait(lambda: len(sim.received()) > 0, 20)
        time.sleep(1)
        os.kill(info.pid, signal.SIGINT)
        code, out, err = ended(info, 30)
        check("Ctrl-C while searching: exit 130", code == 130, (code, out[-400:], err[-400:]))
    finally:
        sim.stop()


if __name__ == "__main__":
    if not os.path.exists(os.path.join(PREFIX, "system.reg")):
        fresh_prefix()
    scenario()
    print(f"{counts['passed']} passed, {counts['failed']} failed")
    raise SystemExit(1 if counts["failed"] else 0)
