"""bzl against the Linux kernel's own USB serial driver: bzl runs in a QEMU guest with
Debian's kernel, on QEMU's emulated FTDI adapters, which the guest's ftdi_sio binds as
/dev/ttyUSBn; zlsim runs on the host at each adapter's far end. Adapters are pulled and
put back over QMP as a hand pulls a USB plug.

    scenarios.py BUILD_DIR KERNEL_DIR [SCENARIO...]     (tools/test-usb.sh [SCENARIO...])
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vm as vmlib  # noqa: E402
from usb_support import Guest, Sim, check, counts, floods, pull, read, wait  # noqa: E402

BUILD, KERNEL_DIR = (os.path.abspath(p) for p in sys.argv[1:3])
ONLY = sys.argv[3:]  # scenario names to run alone (ports line pic32 hcs busy kill replug pulled stations)
HERE = os.path.dirname(os.path.abspath(__file__))
SIM = os.path.join(BUILD, "sim")
KIB16 = 16 * 1024


def jsonl(text):
    out = []
    for line in text.splitlines():
        try:
            out.append(json.loads(line))
        except ValueError:
            pass
    return out


def settle(g, *sims):
    """Between scenarios: no bzl left, every device switched off."""
    g.reap()
    for s in sims:
        s.command("power off")


def ports(g):
    print("bzl ports sees the adapter")
    rc, out = g.run("bzl ports --json")
    com33 = [e for e in jsonl(out) if e.get("port") == "COM33"]
    check("bzl ports --json: COM33 is /dev/ttyUSB0 from the default table, usable",
          rc == 0 and len(com33) == 1 and com33[0].get("path") == "/dev/ttyUSB0" and
          com33[0].get("source") == "default" and com33[0].get("state") == "usable", out)
    rc, out = g.run("bzl ports")
    line = next((x for x in out.splitlines() if x.startswith("COM33 ")), "")
    check("bzl ports: the line of COM33", rc == 0 and "/dev/ttyUSB0" in line and line.rstrip().endswith("usable"), out)


def line_settings(g, a):
    print("The program's line settings and modem lines on the driver (line_probe)")
    a.set_line(9600)
    for mode, dtr, rts, want in [("115200,n,8,1", "on", "on", (115200, 1)),
                                 ("57600,n,8,2", "off", "off", (57600, 2)),
                                 ("115200,n,8,1", "on", "off", (115200, 1))]:
        rc, out = g.run(f"line_probe COM33 /dev/ttyUSB0 {mode} dtr={dtr} rts={rts}")
        check(f"{mode} dtr={dtr} rts={rts}: the driver took speed, frame and modem lines", rc == 0, "\n" + out)
        seen = a.line_settings()
        check(f"  and the adapter's far end runs at {want[0]} baud, {want[1]} stop bit(s)", seen == want, seen)


def pic32_load(g, a, fw):
    print("A PIC32 load of 64 KiB through the driver")
    a.set_flash(b"")
    a.set_line(9600)
    t0 = time.monotonic()
    name = g.start(f"load /fw/{os.path.basename(fw)} --port COM33 --device 0 --timeout 60 --lang en "
                   "--log /tmp/out/pic32.ndjson")
    check("bzl floods the line", floods(a, t0))
    a.command("power on")
    rc, _ = g.finished(name, 60)
    check("exit 0", rc == 0, g.output(name) + g.output(name, "err"))
    check("zlsim's flash is the image, byte for byte", a.flash() == read(fw), len(a.flash()))
    check("the line ran at 115200 baud, 1 stop bit", a.line_settings() == (115200, 1), a.line_settings())
    recs = g.records("/tmp/out/pic32.ndjson")
    r = recs[0] if recs else {}
    check("the record names COM33 and /dev/ttyUSB0, a good load of 65536 bytes",
          len(recs) == 1 and r.get("port") == "COM33" and r.get("device_path") == "/dev/ttyUSB0" and
          r.get("operation") == "load" and r.get("device_kind") == "pic32" and r.get("bytes") == 65536 and
          r.get("result", {}).get("outcome") == "ok", recs)


def hcs_load(g, machine, a, h, sx):
    print("An HCS load at 57600 baud through the driver")
    h.set_flash(b"")
    pull(machine, "u1", a)
    machine.plug("u1", "ch")
    check("the HCS device's adapter is /dev/ttyUSB0", g.wait_nodes(["ttyUSB0"]) == ["ttyUSB0"])
    h.set_line(9600)
    t0 = time.monotonic()
    name = g.start(f"load /fw/{os.path.basename(sx)} --port COM33 --device 1 --timeout 60 --lang en "
                   "--log /tmp/out/hcs.ndjson")
    check("bzl floods the line", floods(h, t0))
    check("  at 57600 baud, 1 stop bit at the adapter's far end", h.line_settings() == (57600, 1), h.line_settings())
    h.command("power on")
    check("the load starts", wait(lambda: h.state() == "hcs-load", 30))
    check("  at 57600 baud at the adapter's far end", h.line_settings() == (57600, 1), h.line_settings())
    rc, _ = g.finished(name, 60)
    check("exit 0", rc == 0, g.output(name) + g.output(name, "err"))
    check("zlsim's flash holds the S-record file, byte for byte", h.flash() == read(sx), len(h.flash()))
    recs = g.records("/tmp/out/hcs.ndjson")
    r = recs[0] if recs else {}
    check("the record: an HCS load on COM33, /dev/ttyUSB0, good",
          len(recs) == 1 and r.get("port") == "COM33" and r.get("device_path") == "/dev/ttyUSB0" and
          r.get("device_kind") == "hcs" and r.get("result", {}).get("outcome") == "ok", recs)
    h.command("power off")
    pull(machine, "u1", h)
    machine.plug("u1", "ca")
    check("the PIC32 device's adapter is /dev/ttyUSB0 again", g.wait_nodes(["ttyUSB0"]) == ["ttyUSB0"])


def second_opener(g, a):
    print("A second opener of a held port")
    t0 = time.monotonic()
    first = g.start("info --port COM33 --device 0 --timeout 60 --lang en")
    check("the first bzl floods the line", floods(a, t0))
    pid = g.run(f"cat /tmp/out/{first}.pid")[1].strip()
    rc, out = g.run("bzl info --port COM33 --device 0 --timeout 5 --lang en")
    check("a second bzl (root): exit 2, busy, held by the first", rc == 2 and f"busy, held by bzl (PID {pid})" in out,
          out)
    # Another user's program: the driver itself refuses the open (TIOCEXCL).
    g.run("chmod 666 /dev/ttyUSB0")
    rc, out = g.run("su -s /bin/sh user -c 'bzl info --port COM33 --device 0 --timeout 5 --lang en'")
    check("a second bzl (another user): exit 2, busy", rc == 2 and "busy" in out, out)
    t1 = time.monotonic()
    check("the first one still floods the line", floods(a, t1, 5))
    a.command("power on")
    rc, _ = g.finished(first, 30)
    out = g.output(first)
    check("the first one connects and shows the device: exit 0", rc == 0 and "Hallwyn" in out,
          out + g.output(first, "err"))


def killed_holder(g, a):
    print("The port after SIGKILL of the bzl that held it")
    t0 = time.monotonic()
    name = g.start("info --port COM33 --device 0 --timeout 60 --lang en")
    check("bzl holds the port and floods", floods(a, t0))
    g.kill(name, "KILL")
    rc, _ = g.finished(name, 10)
    check("it is killed", rc == 137, rc)
    rc, out = g.run("bzl ports --json")
    com33 = [e for e in jsonl(out) if e.get("port") == "COM33"]
    check("bzl ports at once: COM33 usable", com33 and com33[0].get("state") == "usable", out)
    t1 = time.monotonic()
    name = g.start("info --port COM33 --device 0 --timeout 30 --lang en")
    check("a new bzl gets the port and floods", floods(a, t1, 5))
    a.command("power on")
    rc, _ = g.finished(name, 30)
    check("  and connects: exit 0", rc == 0, g.output(name) + g.output(name, "err"))


def count_two_with_replug(g, machine, a, fw):
    print("--count 2, the adapter pulled and put back while bzl searches for the second device")
    a.set_flash(b"")
    t0 = time.monotonic()
    log = "/tmp/out/count2.ndjson"
    name = g.start(f"load /fw/{os.path.basename(fw)} --port COM33 --device 0 --count 2 --timeout 120 --json "
                   f"--lang en --log {log}")
    check("bzl floods the line", floods(a, t0))
    a.command("power on")
    check("the first device is loaded", wait(lambda: len(g.records(log)) >= 1, 60), g.output(name))
    a.command("power off")
    t1 = time.monotonic()
    check("bzl searches for the second device", floods(a, t1, 10))
    pull(machine, "u1", a)
    check("the adapter is gone in the guest", g.wait_nodes([], 5) == [])
    time.sleep(1.0)
    t_plug = machine.plug("u1", "ca")
    nodes = g.wait_nodes(["ttyUSB0"], 5)
    t_node = time.monotonic() - t_plug
    check(f"it comes back as /dev/ttyUSB0 (seen {t_node:.2f} s after the replug): bzl let go of the dead "
          "descriptor at once", nodes == ["ttyUSB0"], nodes)
    resumed = wait(lambda: a.first("rx", t_plug), 5)
    took = "none" if resumed is None else f"{resumed - t_plug:.2f} s"
    check(f"bzl floods again within 2 s of the replug ({took})", resumed is not None and resumed - t_plug <= 2.0)
    a.command("power on")
    rc, _ = g.finished(name, 60)
    out = g.output(name)
    check("the second device is loaded: exit 0", rc == 0, out + g.output(name, "err"))
    loaded = a.events("loaded", t0)
    check("zlsim saw two whole loads", [e.get("name") for e in loaded] == ["128", "128"], loaded)
    check("zlsim's flash is the image", a.flash() == read(fw))
    recs = g.records(log)
    check("two good load records", len(recs) == 2 and all(r.get("result", {}).get("outcome") == "ok" for r in recs),
          recs)
    boxes = [e for e in jsonl(out) if e.get("event") == "box"]
    check("the loss was told once: \"Port is not available!\"",
          sum("not available" in e.get("text", "") for e in boxes) == 1, boxes)


def pull_during(g, machine, a, what, args, state, counter):
    """Starts bzl, switches the device on, pulls the adapter 16 KiB into the transfer."""
    t0 = time.monotonic()
    log = f"/tmp/out/pulled-{what}.ndjson"
    name = g.start(f"{args} --port COM33 --timeout 60 --lang en --log {log}")
    check(f"{what}: bzl floods the line", floods(a, t0))
    a.command("power on")
    started = wait(lambda: a.state() == state, 30)
    t1 = time.monotonic()
    under_way = started and wait(lambda: counter(t1) >= KIB16, 30)
    check(f"{what}: under way, bzl still running", under_way and g.run(f"[ ! -e /tmp/out/{name}.rc ]")[0] == 0,
          a.state())
    t_pull = pull(machine, "u1", a)
    rc, seen = g.finished(name, 10)
    out = g.output(name) + g.output(name, "err")
    check(f"{what}, adapter pulled: exit 4 within 2 s (exit {rc} seen {seen - t_pull:.2f} s after the pull)",
          rc == 4 and seen - t_pull <= 2.0, out)
    check(f"{what}: the report names the port and the failure",
          any(x.startswith("COM33") and "FAILED" in x and "device-gone" in x for x in out.splitlines()), out)
    recs = g.records(log)
    check(f"{what}: the record of a failed transfer on COM33, device-gone",
          len(recs) == 1 and recs[0].get("port") == "COM33" and recs[0].get("device_path") == "/dev/ttyUSB0" and
          recs[0].get("result", {}).get("outcome") == "transfer-failed" and
          recs[0].get("result", {}).get("failure") == "device-gone", recs)
    a.command("power off")
    machine.plug("u1", "ca")
    check("the adapter is back as /dev/ttyUSB0", g.wait_nodes(["ttyUSB0"]) == ["ttyUSB0"])
    g.drain(a)
    return out


def pulled(g, machine, a, fw2, fw3):
    print("The adapter pulled during a readout, a verify and a load")
    a.set_flash(read(fw2))
    out = pull_during(g, machine, a, "readout", "read /tmp/out/r.bin", "menu", lambda t: a.bytes("tx", t))
    rc, size = g.run("stat -c %s /tmp/out/r.bin.part")
    size = int(size) if rc == 0 and size.strip().isdigit() else 0
    _, same = g.run(f"head -c {size} /fw/{os.path.basename(fw2)} | cmp - /tmp/out/r.bin.part && echo same")
    check("the readout: the .part file holds the flash's beginning, no target file",
          0 < size < 65536 and "same" in same and g.run("[ ! -e /tmp/out/r.bin ]")[0] == 0, f"{size} {same}")
    check("  and the error names the .part file", "r.bin.part" in out, out)

    a.set_flash(read(fw2))
    pull_during(g, machine, a, "verify", f"verify /fw/{os.path.basename(fw2)}", "verify", lambda t: a.bytes("rx", t))
    pull_during(g, machine, a, "load", f"load /fw/{os.path.basename(fw3)} --device 0", "load",
                lambda t: a.bytes("rx", t))


def two_adapters(g, machine, a, b, fw):
    print("Two adapters, two stations; one pulled during its load")
    a.set_flash(b"")
    b.set_flash(b"")
    machine.plug("u2", "cb")
    check("the second adapter is /dev/ttyUSB1", g.wait_nodes(["ttyUSB0", "ttyUSB1"]) == ["ttyUSB0", "ttyUSB1"])
    t0 = time.monotonic()
    name = g.start(f"load /fw/{os.path.basename(fw)} --port COM33 --port COM34 --device 0 --timeout 60 --lang en "
                   "--log /tmp/out/stations.ndjson")
    check("both stations flood their line", floods(a, t0) and floods(b, t0))
    a.command("power on")
    b.command("power on")
    started = wait(lambda: b.state() == "load", 30)
    t1 = time.monotonic()
    check("COM34's load is under way", started and wait(lambda: b.bytes("rx", t1) >= KIB16, 30), b.state())
    pull(machine, "u2", b)
    rc, _ = g.finished(name, 60)
    out = g.output(name) + g.output(name, "err")
    check("exit 4 overall", rc == 4, out)
    check("COM33's device is loaded whole", a.flash() == read(fw), len(a.flash()))
    check("the run ends with \"2 stations: exit code 4\"", "2 stations: exit code 4" in out, out)
    recs = {r.get("port"): r.get("result", {}).get("outcome") for r in g.records("/tmp/out/stations.ndjson")}
    check("records: COM33 good, COM34 failed", recs == {"COM33": "ok", "COM34": "transfer-failed"}, recs)


def main():
    work = tempfile.mkdtemp(prefix="bzl-usb.")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sims, machine = [], None
    try:
        fws = {}
        for seed in (1, 2, 3):
            fws[seed] = os.path.join(work, f"fw{seed}.spic32")
            subprocess.run([os.path.join(SIM, "zlfw"), "pic32", "--length", "65536", "--seed", str(seed),
                            "--name", f"USB-{seed}", "-o", fws[seed]], check=True, stdout=subprocess.DEVNULL)
        sx = os.path.join(work, "fw.sx")
        subprocess.run([os.path.join(SIM, "zlfw"), "sx", "--length", "8192", "-o", sx], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(work, "passwd"), "w") as f:
            f.write("root:x:0:0:root:/tmp/home:/bin/sh\nuser:x:1000:1000:user:/tmp/user:/bin/sh\n")
        with open(os.path.join(work, "group"), "w") as f:
            f.write("root:x:0:\nuser:x:1000:\n")

        a = Sim(SIM, work, "pic32", 1, "a")
        sims.append(a)
        h = Sim(SIM, work, "hcs", 2, "h")
        sims.append(h)
        b = Sim(SIM, work, "pic32", 3, "b")
        sims.append(b)

        kernel = next(os.path.join(r, f) for r, _, fs in os.walk(KERNEL_DIR) for f in fs if f.startswith("vmlinuz"))
        initramfs = os.path.join(work, "initramfs.cpio")
        files = {f"fw/{os.path.basename(p)}": p for p in [*fws.values(), sx]}
        files.update({"etc/passwd": os.path.join(work, "passwd"), "etc/group": os.path.join(work, "group")})
        vmlib.make_initramfs(initramfs, KERNEL_DIR, os.path.join(HERE, "guest_init.sh"),
                             [os.path.join(BUILD, "cli", "bzl"), os.path.join(BUILD, "tests", "usb", "line_probe")], files)
        by_chardev = {"ca": a, "ch": h, "cb": b}
        machine = vmlib.Vm(work, kernel, initramfs, {c: s.pty for c, s in by_chardev.items()}, {"u1": "ca"})
        release, took = machine.boot()
        print(f"guest: kernel {release} up in {took:.1f} s")
        g = Guest(machine)
        g.run("mkdir -p /tmp/user && chown user:user /tmp/user")
        if not check("the guest's ftdi_sio makes the adapter /dev/ttyUSB0", g.wait_nodes(["ttyUSB0"]) == ["ttyUSB0"]):
            return
        scenarios = {
            "ports": lambda: ports(g),
            "line": lambda: line_settings(g, a),
            "pic32": lambda: pic32_load(g, a, fws[1]),
            "hcs": lambda: hcs_load(g, machine, a, h, sx),
            "busy": lambda: second_opener(g, a),
            "kill": lambda: killed_holder(g, a),
            "replug": lambda: count_two_with_replug(g, machine, a, fws[2]),
            "pulled": lambda: pulled(g, machine, a, fws[2], fws[3]),
            "stations": lambda: two_adapters(g, machine, a, b, fws[1]),
        }
        for key in ONLY:
            if key not in scenarios:
                check(f"a scenario named {key}", False, "; there are: " + " ".join(scenarios))
        for key, scenario in scenarios.items():
            if ONLY and key not in ONLY:
                continue
            start = time.monotonic()
            try:
                scenario()
            except Exception as e:
                check("the scenario ran to its end", False, "".join(traceback.format_exception(e)))
            print(f"  ({time.monotonic() - start:.1f} s)")
            settle(g, *sims)
            # The next one starts on one adapter, the PIC32 device's, as /dev/ttyUSB0.
            if machine.plugged != {"u1": "ca"} or g.nodes() != ["ttyUSB0"]:
                for uid, cid in list(machine.plugged.items()):
                    pull(machine, uid, by_chardev[cid])
                machine.plug("u1", "ca")
                g.wait_nodes(["ttyUSB0"])
    except Exception as e:
        check("the harness", False, "".join(traceback.format_exception(e)))
    finally:
        if machine:
            machine.stop()
        for s in sims:
            s.stop()
        if counts["failed"]:
            print(f"logs kept in {work} (console.log: the guest's console, *.jsonl: zlsim's logs)")
        else:
            shutil.rmtree(work, ignore_errors=True)
    print(f"{counts['passed']} passed, {counts['failed']} failed")
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
