#!/usr/bin/env python3
"""End-to-end scenarios of BootloaderZL.exe under Wine against zlsim.

Usage: scenarios.py BUILD_WIN SIM_DIR WORK_DIR (WINEPREFIX and DISPLAY set)."""
import glob
import json
import os
import subprocess
import sys
import time

import bzl_scenarios
import installer
import lost_port
from wine_support import (CONNECTED, fresh_prefix, IDC, KEY, PREFIX, SEARCHING, WORK, Program, Sim, check, clear_ports, counts,
                          read, reg, usb_port, wait, zlfw)


def pic32_scenarios():
    print("PIC32 device, two ports, PrevCOM = COM7")
    clear_ports()
    other = Sim("pic32", 3, "com3")
    sim = Sim("pic32", 7, "com7")
    reg("PrevCOM", "REG_SZ", r"\\.\COM7")
    reg("PrevDevice", "REG_DWORD", 0)
    reg("PrevLang", "REG_DWORD", 0)
    usb_port(7, "A50285BI")
    ui = Program()
    try:
        started = wait(lambda: ui.combo(IDC["port"])[1], 60, 0.02)
        print(f"  cold start: the window with its Port box filled after {time.monotonic() - ui.t0:.2f} s")
        check("start-up lists both ports and selects PrevCOM",
              ui.combo(IDC["port"]) == (1, ["COM3", "COM7"]), ui.combo(IDC["port"]) if started else ui.ask("text 0"))
        check("searching on COM7", ui.wait_text(IDC["status"], SEARCHING, 10), ui.text(IDC["status"]))
        check("the Port box's tooltip names COM7 as the Device Manager does",
              "USB Serial Port (FTDI), serial A50285BI" in ui.ask("tips").split("|"), ui.ask("tips"))
        if os.environ.get("BZL_WINE_SCREENSHOT"):  # the window as Wine draws it, for a look beside the Linux one
            subprocess.run(["import", "-window", "root", "-trim", os.environ["BZL_WINE_SCREENSHOT"]], check=False)

        image = os.path.join(WORK, "fw.spic32")
        zlfw("pic32", "--length", str(64 * 1024), "--name", "Corvel-Neu", "-o", image)
        ui.ask(f"click {IDC['autoload_on']}")
        check("Auto-Load file chosen in the open dialog",
              ui.answer_file(image) and ui.wait_text(IDC["path"], "fw.spic32", 10), ui.text(IDC["path"]))

        check("power on", sim.command("power on").startswith("ok"))
        check("search and connect of the PIC32 device, then the Auto-Load",
              wait(lambda: sim.events("loaded") >= 1, 90), ui.text(IDC["status"]))
        check("Update erfolgreich", ui.wait_text(IDC["fw_result"], "Update erfolgreich", 30), ui.text(IDC["fw_result"]))
        check("zlsim's flash equals the 64 KiB image", wait(lambda: read(sim.flash) == read(image), 10))
        check("the device answers with the new firmware", ui.wait_text(IDC["fw_left"], "Corvel-Neu", 30),
              ui.text(IDC["fw_left"]))
        check("connected and ready, no box", ui.wait_text(IDC["status"], CONNECTED, 10) and ui.box() is None,
              f"{ui.text(IDC['status'])} / {ui.box()}")

        target = os.path.join(WORK, "readout.spic32")
        ui.ask(f"click {IDC['readout']}")
        ui.answer_file(target)
        box = wait(ui.box, 90)
        check("readout: the box tells the file received", box is not None and "Datei empfangen" in box, box)
        check("readout: the file holds the flash", os.path.exists(target) and read(target) == read(sim.flash))
        ui.ask("boxclick 1")
        check("connected again after the readout", ui.wait_text(IDC["status"], CONNECTED, 30), ui.text(IDC["status"]))

        ui.ask(f"click {IDC['compare']}")
        ui.answer_file(image)
        box = wait(ui.box, 90)
        check("verify: file and flash are the same", box is not None and "identisch" in box, box)
        ui.ask("boxclick 1")
        check("connected again after the verify", ui.wait_text(IDC["status"], CONNECTED, 30), ui.text(IDC["status"]))

        resets = sim.received().count(b"\rSreset\r")
        ui.ask(f"click {IDC['disconnect']}")
        check("Disconnect sends \\rSreset\\r", wait(lambda: sim.received().count(b"\rSreset\r") > resets, 10))

        resets = sim.received().count(b"\rSreset\r")
        ui.ask(f"click {IDC['quit']}")
        try:
            code = ui.proc.wait(20)
        except subprocess.TimeoutExpired:
            code = None
        check("Quit ends the process with code 0", code == 0, code)
        check("Quit sends the reset", sim.received().count(b"\rSreset\r") > resets)
        prev = subprocess.run(["wine", "reg", "query", KEY, "/v", "PrevCOM"], capture_output=True, text=True).stdout
        check("PrevCOM in the registry", r"\\.\COM7" in prev, prev.strip())
        records = glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", "*", "AppData", "Local",
                                         "Hallwyn", "BootloaderZL", "records.ndjson"))
        lines = [json.loads(line) for line in open(records[0], encoding="utf-8")] if records else []
        check("a record of the load, the readout and the verify",
              [r["operation"] for r in lines] == ["load", "readout", "verify"] and
              all(r["result"]["outcome"] == "ok" for r in lines), lines)
    finally:
        ui.stop()
        sim.stop()
        other.stop()


def hcs_scenario():
    print("HCS device")
    clear_ports()
    sim = Sim("hcs", 4, "hcs", ["--power", "on"])
    reg("PrevCOM", "REG_SZ", r"\\.\COM4")
    reg("PrevDevice", "REG_DWORD", 1)
    ui = Program()
    try:
        check("the HCS kind connects", ui.wait_text(IDC["status"], CONNECTED, 60), ui.text(IDC["status"]))
        speed = subprocess.run(["stty", "-F", sim.pty, "speed"], capture_output=True, text=True).stdout.strip()
        check("at 57600 baud", speed == "57600", speed)
        ui.ask(f"click {IDC['quit']}")
        try:
            code = ui.proc.wait(20)
        except subprocess.TimeoutExpired:
            code = None
        check("Quit ends the process with code 0", code == 0, code)
    finally:
        ui.stop()
        sim.stop()


if not os.path.exists(os.path.join(PREFIX, "system.reg")):
    fresh_prefix()
pic32_scenarios()
hcs_scenario()
lost_port.scenario()
bzl_scenarios.scenario()
installer.scenario()
print(f"{counts['passed']} passed, {counts['failed']} failed")
sys.exit(1 if counts["failed"] else 0)
