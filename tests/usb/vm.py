"""A QEMU guest with Debian's kernel and its own USB serial drivers, driven from the host.

The guest boots from an uncompressed initramfs made here (busybox, the USB driver modules,
the programs under test with the libraries they need, the firmware files). Its console is
QEMU's standard input and output: the guest's /init (guest_init.sh) runs each line sent to
it and answers with the output and "@@<id> <exit code>". Adapters are QEMU's emulated FTDI
devices (usb-serial) on an xHCI controller, each with a zlsim pseudo-terminal at its far
end; QMP on a Unix socket plugs and pulls them. Files go in through the initramfs and
results come back over the console, so the guest needs no network and no shared folder."""
import ctypes
import json
import os
import signal
import re
import socket
import stat
import subprocess
import threading
import time

MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]


class Cpio:
    """An uncompressed newc archive, written without root (device nodes included)."""

    def __init__(self, path):
        self.f = open(path, "wb")
        self.ino = 1
        self.dirs = set()

    def _entry(self, name, mode, data=b"", rdev=(0, 0)):
        name_b = name.encode() + b"\0"
        fields = [self.ino, mode, 0, 0, 1, 0, len(data), 0, 0, rdev[0], rdev[1], len(name_b), 0]
        self.ino += 1
        head = b"070701" + b"".join(b"%08X" % v for v in fields)
        self.f.write(head + name_b)
        self.f.write(b"\0" * ((4 - (len(head) + len(name_b)) % 4) % 4))
        self.f.write(data)
        self.f.write(b"\0" * ((4 - len(data) % 4) % 4))

    def mkdir(self, path):
        path = path.strip("/")
        parts = path.split("/")
        for i in range(1, len(parts) + 1):
            d = "/".join(parts[:i])
            if d and d not in self.dirs:
                self.dirs.add(d)
                self._entry(d, stat.S_IFDIR | 0o755)

    def file(self, path, src=None, data=None, mode=0o755):
        path = path.strip("/")
        self.mkdir(os.path.dirname(path))
        if data is None:
            with open(src, "rb") as f:
                data = f.read()
        self._entry(path, stat.S_IFREG | mode, data)

    def symlink(self, path, target):
        path = path.strip("/")
        self.mkdir(os.path.dirname(path))
        self._entry(path, stat.S_IFLNK | 0o777, target.encode())

    def chardev(self, path, major, minor):
        path = path.strip("/")
        self.mkdir(os.path.dirname(path))
        self._entry(path, stat.S_IFCHR | 0o600, rdev=(major, minor))

    def close(self):
        self._entry("TRAILER!!!", 0)
        self.f.close()


def libraries(program):
    """The shared libraries ldd names for a program, the loader included (none when static)."""
    out = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
    libs = []
    for line in out.splitlines():
        m = re.search(r"(/\S+) \(0x", line)
        if m:
            libs.append(m.group(1))
    return libs


def make_initramfs(path, kernel_dir, init_script, programs, files):
    """programs: host paths copied to /usr/bin with their libraries; files: {guest path: host path}."""
    cpio = Cpio(path)
    for d in ("dev", "proc", "sys", "tmp", "bin", "sbin", "usr/bin", "usr/sbin", "lib/modules"):
        cpio.mkdir(d)
    cpio.chardev("dev/console", 5, 1)
    cpio.file("bin/busybox", "/bin/busybox")
    cpio.symlink("bin/sh", "busybox")
    cpio.file("init", init_script)
    for m in MODULES:
        found = [os.path.join(r, f) for r, _, fs in os.walk(kernel_dir) for f in fs if f == m + ".ko"]
        if not found:
            raise RuntimeError(f"module {m}.ko not in {kernel_dir}")
        cpio.file(f"lib/modules/{m}.ko", found[0], mode=0o644)
    seen = set()
    for prog in programs:
        cpio.file("usr/bin/" + os.path.basename(prog), prog)
        for lib in libraries(prog):
            if lib in seen:
                continue
            seen.add(lib)
            cpio.file(lib, os.path.realpath(lib))
    for guest, host in files.items():
        cpio.file(guest, host, mode=0o644)
    cpio.close()


def child_setup():
    """In QEMU and zlsim: SIGKILL when the harness dies in any way, so nothing is left
    behind; and, where allowed (root), a higher CPU priority. The guest runs under TCG on
    a shared machine: a build beside it must not hold the line still for longer than a
    device's end-of-data pause (a quarter of a second)."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    try:
        os.nice(-10)
    except OSError:
        pass


class Console:
    """The guest's console: a reader thread keeps QEMU's output drained at all times."""

    def __init__(self, proc, transcript):
        self.proc = proc
        self.buf = b""
        self.cond = threading.Condition()
        self.transcript = open(transcript, "wb")
        self.next_id = 1
        threading.Thread(target=self._reader, daemon=True).start()

    def _reader(self):
        while True:
            data = os.read(self.proc.stdout.fileno(), 65536)
            with self.cond:
                if not data:
                    self.buf += b"\n@@EOF\n"
                    self.cond.notify_all()
                    return
                self.buf += data
                self.transcript.write(data)
                self.transcript.flush()
                self.cond.notify_all()

    def expect(self, pattern, timeout):
        """Waits for a regex in the output; returns (text before it, match) and consumes both."""
        rx = re.compile(pattern.encode() if isinstance(pattern, str) else pattern)
        end = time.monotonic() + timeout
        with self.cond:
            while True:
                m = rx.search(self.buf)
                if m:
                    before = self.buf[:m.start()]
                    self.buf = self.buf[m.end():]
                    return before.decode(errors="replace"), m
                if b"@@EOF" in self.buf:
                    code = self.proc.wait(5)
                    raise RuntimeError(f"the guest's console closed: QEMU ended with {code}")
                left = end - time.monotonic()
                if left <= 0:
                    raise TimeoutError(f"no {pattern!r} from the guest within {timeout} s; "
                                       f"last output: {self.buf[-500:]!r}")
                self.cond.wait(left)

    def run(self, command, timeout=30):
        """Runs one shell command line in the guest: (exit code, output)."""
        n = self.next_id
        self.next_id += 1
        sep = "" if command.rstrip().endswith("&") else " ;"
        self.proc.stdin.write(f'{{ {command}{sep} }} 2>&1; echo "@@{n} $?"\n'.encode())
        self.proc.stdin.flush()
        out, m = self.expect(rf"@@{n} (\d+)\n", timeout)
        return int(m.group(1)), out


class Qmp:
    def __init__(self, path, timeout=20):
        end = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > end:
                    raise
                time.sleep(0.05)
        self.sock.settimeout(timeout)
        self.file = self.sock.makefile("rb")
        self.events = []
        self._read()  # the greeting
        self.call("qmp_capabilities")

    def _read(self):
        line = self.file.readline()
        if not line:
            raise RuntimeError("QMP closed")
        return json.loads(line)

    def call(self, command, **args):
        msg = {"execute": command}
        if args:
            msg["arguments"] = args
        self.sock.sendall(json.dumps(msg).encode() + b"\n")
        while True:
            reply = self._read()
            if "event" in reply:
                self.events.append(reply)
                continue
            return reply

    def wait_event(self, name, data_match, timeout):
        end = time.monotonic() + timeout
        while True:
            for i, e in enumerate(self.events):
                if e["event"] == name and all(e.get("data", {}).get(k) == v for k, v in data_match.items()):
                    del self.events[i]
                    return True
            left = end - time.monotonic()
            if left <= 0:
                return False
            self.sock.settimeout(left)
            try:
                self.events.append(self._read())
            except socket.timeout:
                return False
            finally:
                self.sock.settimeout(20)


class Vm:
    def __init__(self, work, kernel, initramfs, chardevs, plugged):
        """chardevs: {id: pty path}; plugged: {adapter id: chardev id} present at boot."""
        self.work = work
        qmp_path = os.path.join(work, "qmp.sock")
        args = ["qemu-system-x86_64", "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
                "-accel", "tcg", "-smp", "1", "-m", "512",
                "-kernel", kernel, "-initrd", initramfs,
                "-append", "console=ttyS0 quiet loglevel=1 panic=-1 rdinit=/init",
                "-chardev", "stdio,id=con,signal=off", "-serial", "chardev:con",
                "-qmp", f"unix:{qmp_path},server=on,wait=off",
                "-device", "qemu-xhci,id=xhci"]
        for cid, pty in chardevs.items():
            args += ["-chardev", f"serial,id={cid},path={pty}"]
        for uid, cid in plugged.items():
            args += ["-device", f"usb-serial,chardev={cid},id={uid}"]
        self.plugged = dict(plugged)
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=open(os.path.join(work, "qemu.stderr"), "wb"),
                                     preexec_fn=child_setup)
        self.console = Console(self.proc, os.path.join(work, "console.log"))
        self.qmp = Qmp(qmp_path)

    def boot(self, timeout=90):
        start = time.monotonic()
        out, m = self.console.expect(r"@@READY (\S+)\n", timeout)
        failed = re.findall(r"@@INIT (.*)", out)
        if failed:
            raise RuntimeError("; ".join(failed))
        return m.group(1).decode(), time.monotonic() - start

    def run(self, command, timeout=30):
        return self.console.run(command, timeout)

    def pull(self, uid, timeout=10):
        """Pulls an adapter; returns the host's monotonic time of the pull."""
        t = time.monotonic()
        reply = self.qmp.call("device_del", id=uid)
        if "error" in reply:
            raise RuntimeError(f"device_del {uid}: {reply['error']}")
        if not self.qmp.wait_event("DEVICE_DELETED", {"device": uid}, timeout):
            raise TimeoutError(f"{uid} not removed within {timeout} s")
        del self.plugged[uid]
        return t

    def plug(self, uid, cid, timeout=10):
        """Plugs an adapter in; returns the host's monotonic time of the plug."""
        end = time.monotonic() + timeout
        while True:
            t = time.monotonic()
            reply = self.qmp.call("device_add", driver="usb-serial", chardev=cid, id=uid)
            if "error" not in reply:
                self.plugged[uid] = cid
                return t
            if time.monotonic() > end:
                raise RuntimeError(f"device_add {uid}: {reply['error']}")
            time.sleep(0.1)

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.qmp.call("quit")
            except Exception:
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
