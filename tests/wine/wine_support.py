"""What the scenarios under Wine share: zlsim on a COM port, the program driven by zlctl.exe,
the checks and their count.

zlsim's pseudo-terminals become COM ports through links in $WINEPREFIX/dosdevices;
zlctl.exe (tests/wine/zlctl.cpp) reads the dialog's controls and presses its buttons.
The scenario scripts take BUILD_WIN SIM_DIR WORK_DIR as arguments."""
import glob
import json
import os
import subprocess
import sys
import time

BUILD, SIM, WORK = (os.path.abspath(p) for p in sys.argv[1:4])
PREFIX = os.environ["WINEPREFIX"]
EXE = os.path.join(BUILD, "BootloaderZL.exe")
CTL = os.path.join(BUILD, "zlctl.exe")
KEY = r"HKCU\Software\Hallwyn\BootloaderZL"
IDC = dict(port=1000, readout=1001, path=1003, autoload_on=1004, progress=1006, status=1007, fw_left=1008,
           compare=1010, quit=1013, fw_result=1016, device=1018, disconnect=1020)
SEARCHING, CONNECTED = "Suche nach Ger\u00e4t", "Ger\u00e4t angeschlossen und bereit"

counts = {"passed": 0, "failed": 0}


def check(what, ok, detail=""):
    if ok:
        counts["passed"] += 1
        print(f"  ok    {what}")
    else:
        counts["failed"] += 1
        print(f"  FAIL  {what} {detail}")
    sys.stdout.flush()
    return ok


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait(fn, timeout, step=0.2):
    end = time.monotonic() + timeout
    while True:
        value = fn()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


class Sim:
    def __init__(self, kind, com, name, extra=()):
        self.log = os.path.join(WORK, name + ".jsonl")
        self.flash = os.path.join(WORK, name + ".flash")
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(WORK, "xdg-" + name))
        self.proc = subprocess.Popen([os.path.join(SIM, "zlsim"), "--kind", kind, "--com", str(com), "--flash",
                                      self.flash, "--log", self.log, *extra], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, env=env)
        ready = self.proc.stdout.readline().split()
        assert ready[:2] == ["ready", f"COM{com}"], ready
        self.pty = ready[2]
        self.link = os.path.join(PREFIX, "dosdevices", f"com{com}")
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(self.pty, self.link)

    def unplug(self):
        """Pulls the adapter: the line hangs up and the port disappears from Wine too, as a
        USB adapter's device goes away."""
        ok = self.command("unplug") == "ok unplugged"
        if os.path.lexists(self.link):
            os.remove(self.link)
        return ok

    def plug(self):
        """Plugs the adapter back: a new pseudo-terminal behind the same COM number."""
        reply = self.command("plug").split()
        if reply[:2] != ["ok", "plugged"]:
            return False
        self.pty = reply[2]
        os.symlink(self.pty, self.link)
        return True

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def entries(self):
        try:
            with open(self.log) as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def received(self):
        return b"".join(bytes.fromhex(e["hex"]) for e in self.entries() if e.get("dir") == "rx")

    def events(self, name):
        return sum(1 for e in self.entries() if e.get("ev") == name)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            self.proc.wait(10)


class Program:
    def __init__(self):
        self.t0 = time.monotonic()
        self.proc = subprocess.Popen(["wine", EXE], cwd=WORK, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.ctl = subprocess.Popen(["wine", CTL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, text=True, encoding="utf-8")

    def ask(self, line):
        self.ctl.stdin.write(line + "\n")
        self.ctl.stdin.flush()
        return self.ctl.stdout.readline().rstrip("\n")

    def text(self, cid):
        r = self.ask(f"text {cid}")
        return r[3:] if r.startswith("ok ") else None

    def combo(self, cid):
        r = self.ask(f"combo {cid}")
        parts = r[3:].split("|") if r.startswith("ok ") else ["-1"]
        return int(parts[0]), parts[1:]

    def box(self):
        r = self.ask("box")
        return None if r == "ok none" else r[3:]

    def wait_text(self, cid, wanted, timeout):
        return wait(lambda: wanted in (self.text(cid) or ""), timeout)

    def answer_file(self, path, timeout=20):
        if not wait(lambda: self.ask("file " + winpath(path)) == "ok", timeout, 0.3):
            return False
        return wait(lambda: self.box() is None, 10)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.ctl.stdin.close()
        self.ctl.wait(10)


def reg(name, kind, value):
    subprocess.run(["wine", "reg", "add", KEY, "/v", name, "/t", kind, "/d", str(value), "/f"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def usb_port(com, serial, friendly="USB Serial Port", maker="FTDI"):
    """Makes COMn a USB serial adapter in Windows' device registry (the Ports class, as
    SetupAPI reads it): its friendly name, its maker and its serial number."""
    key = rf"HKLM\System\CurrentControlSet\Enum\USB\VID_0403&PID_6001\{serial}"
    for sub, name, value in (("", "ClassGUID", "{4d36e978-e325-11ce-bfc1-08002be10318}"),
                             ("", "FriendlyName", f"{friendly} (COM{com})"), ("", "Mfg", maker),
                             (r"\Device Parameters", "PortName", f"COM{com}")):
        subprocess.run(["wine", "reg", "add", key + sub, "/v", name, "/d", value, "/f"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def zlfw(*args):
    subprocess.run([os.path.join(SIM, "zlfw"), *args], check=True, stdout=subprocess.DEVNULL)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def clear_ports():
    dos = os.path.join(PREFIX, "dosdevices")
    for name in os.listdir(dos):
        if name.startswith("com"):
            os.remove(os.path.join(dos, name))


def fresh_prefix():
    start = time.monotonic()
    subprocess.run(["wineboot", "-i"], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Unmanaged, undecorated windows: closing one costs no 2 s wait for the window manager.
    for name in ("Managed", "Decorated"):
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", name, "/d", "N", "/f"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print(f"fresh Wine prefix in {time.monotonic() - start:.1f} s")
