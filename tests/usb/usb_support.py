"""What the USB scenarios share: zlsim on the host at an adapter's far end, bzl started and
watched in the guest, the checks and their count."""
import json
import os
import select
import signal
import subprocess
import sys
import termios
import time

from vm import child_setup

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


def wait(fn, timeout, step=0.05):
    end = time.monotonic() + timeout
    while True:
        value = fn()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


BAUD = {getattr(termios, f"B{b}"): b for b in (0, 9600, 19200, 38400, 57600, 115200, 230400)}


class Sim:
    """zlsim on the host; its pseudo-terminal is the far end of a QEMU adapter."""

    def __init__(self, sim_dir, work, kind, com, name):
        self.log = os.path.join(work, name + ".jsonl")
        self.flash_path = os.path.join(work, name + ".flash")
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "xdg"))
        self.proc = subprocess.Popen([os.path.join(sim_dir, "zlsim"), "--kind", kind, "--com", str(com), "--flash",
                                      self.flash_path, "--log", self.log], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, env=env, preexec_fn=child_setup)
        started = select.select([self.proc.stdout], [], [], 10)[0]
        ready = self.proc.stdout.readline().split() if started else []
        if ready[:2] != ["ready", f"COM{com}"]:
            raise RuntimeError(f"zlsim did not start: {ready}")
        self.pty = ready[2]
        self._pos = 0
        self._entries = []

    def command(self, line, timeout=10):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        if not select.select([self.proc.stdout], [], [], timeout)[0]:
            raise TimeoutError(f"zlsim did not answer {line!r} within {timeout} s")
        return self.proc.stdout.readline().strip()

    def state(self):
        reply = self.command("status").split()
        return reply[1] if len(reply) > 1 and reply[0] == "ok" else ""

    def entries(self):
        """The log so far (read on from where the last call stopped)."""
        try:
            with open(self.log, "rb") as f:
                f.seek(self._pos)
                data = f.read()
        except FileNotFoundError:
            return self._entries
        end = data.rfind(b"\n") + 1
        self._pos += end
        self._entries += [json.loads(line) for line in data[:end].splitlines() if line.strip()]
        return self._entries

    def bytes(self, direction, since=0.0):
        """Bytes received ("rx") or sent ("tx") since a host monotonic time."""
        after = since * 1e6
        return sum(len(e["hex"]) // 2 for e in self.entries() if e.get("dir") == direction and e["t_us"] >= after)

    def first(self, direction, since):
        """The host monotonic time of the first read or write after since, or None."""
        for e in self.entries():
            if e.get("dir") == direction and e["t_us"] >= since * 1e6:
                return e["t_us"] / 1e6
        return None

    def events(self, name, since=0.0):
        return [e for e in self.entries() if e.get("ev") == name and e["t_us"] >= since * 1e6]

    def flash(self):
        return read(self.flash_path)

    def set_flash(self, data):
        """What the device's flash holds from now on (zlsim reads it anew for each use)."""
        with open(self.flash_path, "wb") as f:
            f.write(data)

    def line_settings(self):
        """The speed and stop bits QEMU set on the pseudo-terminal for the guest's adapter."""
        fd = os.open(self.pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            attrs = termios.tcgetattr(fd)
        finally:
            os.close(fd)
        return BAUD.get(attrs[5], attrs[5]), 2 if attrs[2] & termios.CSTOPB else 1

    def set_line(self, baud):
        """Sets the pseudo-terminal's speed from the host, so that what the guest sets shows."""
        fd = os.open(self.pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            attrs = termios.tcgetattr(fd)
            attrs[4] = attrs[5] = getattr(termios, f"B{baud}")
            attrs[2] &= ~termios.CSTOPB
            termios.tcsetattr(fd, termios.TCSANOW, attrs)
        finally:
            os.close(fd)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def floods(sim, since, timeout=20):
    """Whether bzl floods the line (its bytes arrive at zlsim) within timeout."""
    return wait(lambda: sim.bytes("rx", since) > 100, timeout)


def pull(machine, uid, sim):
    """Pulls an adapter; returns the host's monotonic time of the pull. QEMU 7.2's usb-serial
    can crash (SIGSEGV) when bytes come in from its chardev while the device is being
    removed, so zlsim is held still (SIGSTOP) for a moment first, long enough for the bytes
    already under way to reach the guest, and goes on once the adapter is gone."""
    sim.proc.send_signal(signal.SIGSTOP)
    try:
        time.sleep(0.2)
        return machine.pull(uid)
    finally:
        sim.proc.send_signal(signal.SIGCONT)


class Guest:
    """Commands in the guest, bzl in the background among them."""

    def __init__(self, vm):
        self.vm = vm
        self.n = 0
        self.started = []

    def run(self, command, timeout=30):
        return self.vm.run(command, timeout)

    def start(self, args):
        """Starts bzl in the background; returns its name (its files are /tmp/out/NAME.*)."""
        self.n += 1
        name = f"b{self.n}"
        o = f"/tmp/out/{name}"
        bzl = f"bzl {args} >{o}.out 2>{o}.err"
        rc, out = self.run(f"( {bzl} & echo $! >{o}.pid; wait $!; echo $? >{o}.rc ) </dev/null >/dev/null 2>&1 &")
        if rc != 0:
            raise RuntimeError(f"cannot start bzl in the guest: {out}")
        self.started.append(name)
        return name

    def reap(self):
        """Ends every bzl still running, so that the next scenario starts on a free port."""
        for name in self.started:
            rc, _ = self.run(f"cat /tmp/out/{name}.rc 2>/dev/null")
            if rc != 0:
                self.stop(name)
        self.started = []

    def finished(self, name, timeout):
        """Waits for bzl to end (bounded): (exit code or None, host monotonic time it was seen)."""
        steps = int(timeout / 0.02) + 1
        rc, out = self.run(f"i=0; while [ ! -s /tmp/out/{name}.rc ] && [ $i -lt {steps} ]; do usleep 20000; "
                           f"i=$((i+1)); done; cat /tmp/out/{name}.rc 2>/dev/null", timeout + 15)
        seen = time.monotonic()
        return (int(out.strip()) if out.strip().isdigit() else None), seen

    def output(self, name, stream="out"):
        return self.run(f"cat /tmp/out/{name}.{stream}")[1]

    def kill(self, name, sig="TERM"):
        self.run(f"kill -{sig} $(cat /tmp/out/{name}.pid) 2>/dev/null")

    def stop(self, name, timeout=10):
        """Ends a bzl that is still running (Ctrl-C's way, then SIGKILL)."""
        self.kill(name, "INT")
        rc, _ = self.finished(name, timeout)
        if rc is None:
            self.kill(name, "KILL")
            self.finished(name, 5)

    def drain(self, sim, node="/dev/ttyUSB0", quiet=0.5, timeout=15):
        """Reads away in the guest what zlsim still sends after a pulled transfer: a switched-off
        zlsim goes on sending what it had queued (the rest of a readout), which would reach the
        next bzl in the middle of its search. Returns once zlsim has sent nothing for quiet s."""
        self.run(f"stty -F {node} raw -echo && {{ cat {node} >/dev/null & echo $! >/tmp/out/drain.pid; }}")
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            t = time.monotonic()
            time.sleep(quiet)
            if sim.bytes("tx", t) == 0:
                break
        self.run("kill $(cat /tmp/out/drain.pid); wait $(cat /tmp/out/drain.pid)")

    def nodes(self):
        rc, out = self.run("ls /dev | grep ttyUSB")
        return sorted(out.split())

    def wait_nodes(self, wanted, timeout=10):
        """Waits until the ttyUSB nodes are exactly these; returns the nodes seen last."""
        end = time.monotonic() + timeout
        while True:
            seen = self.nodes()
            if seen == sorted(wanted) or time.monotonic() > end:
                return seen
            time.sleep(0.1)

    def records(self, path):
        rc, out = self.run(f"cat {path} 2>/dev/null")
        recs = []
        for line in out.splitlines():
            try:
                recs.append(json.loads(line))
            except ValueError:
                recs.append({"unparsed": line})
        return recs
