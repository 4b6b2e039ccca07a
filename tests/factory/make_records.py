#!/usr/bin/env python3
"""Record files for tests/factory/collect_test.sh: schema 1 and 2 lines of a made-up line.

make_records.py OUT_DIR: writes f1.ndjson, f2.ndjson (its first lines repeat lines of f1),
station.ndjson (schema 2, ids in time order, served by the test's records endpoint) and
union.ndjson (every distinct record once)."""
import json, random, sys, os

rng = random.Random(7)
T0 = 1796803200000  # 2026-12-09T08:00:00Z
CAUSES1 = ["no-report", "no-data", "mismatch", "file", "start-refused", "device-errors", "make-timeout"]
CAUSES2 = ["timeout", "incomplete", "verify-mismatch", "device-gone", "start-refused", "length"]
counter = 0


def iso(ms):
    import datetime
    d = datetime.datetime.fromtimestamp(ms / 1000, datetime.timezone.utc)
    return d.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (ms % 1000)


def uuid7(ms):
    global counter
    counter += 1
    h = "%012x" % ms + "7" + "%03x" % (counter & 0xfff) + "%04x" % (0x8000 | (counter >> 12)) + "%012x" % rng.getrandbits(48)
    return "-".join([h[0:8], h[8:12], h[12:16], h[16:20], h[20:32]])


def record(schema, ms, unit):
    op = rng.choices(["load", "readout", "verify"], [8, 1, 1])[0]
    good = rng.random() < 0.7
    r = {"schema": schema}
    if schema == 2:
        r["id"] = uuid7(ms)
    r.update({"time": iso(ms), "host": rng.choice(["line-pc-3", "line-pc-4"]), "program": "bzl", "version": "1.23"})
    port = rng.choice(["COM5", "COM6", "COM7", "COM150"])
    r["port"] = port
    if schema == 2:
        r["station"] = port
        r["unit_id"] = unit
        r["job"] = {"name": "Corvel 6 - Basis 3.5.0", "sha256": "bb" * 32} if rng.random() < 0.5 else None
    r["device_kind"] = "pic32"
    r["operation"] = op
    r["file"] = {"path": "/srv/fw/corvel-%s.spic32" % rng.choice(["3.5.0", "3.4.1"]), "size": 65536,
                 "sha256": rng.choice(["e4ac5274" * 8, "0123abcd" * 8])}
    r["bytes"] = 65536
    r["duration_s"] = round(rng.uniform(8, 14), 3)
    if rng.random() < 0.9:
        r["line_efficiency"] = round(rng.uniform(0.4, 0.6), 4)
    if good:
        r["result"] = {"outcome": "ok", "box": ""}
    else:
        r["result"] = {"outcome": "transfer-failed", "failure": rng.choice(CAUSES1 if schema == 1 else CAUSES2),
                       "box": "Fehler\r\n\u00fcbertragung"}
    return json.dumps(r, ensure_ascii=False, separators=(",", ":"))


def unit():
    return None if rng.random() < 0.2 else "SN-%03d" % rng.randrange(250)


def main():
    out = sys.argv[1]
    span = 6 * 3600 * 1000
    f1 = [record(1 if i % 3 == 0 else 2, T0 + rng.randrange(span), unit()) for i in range(300)]
    f2_new = [record(2, T0 + rng.randrange(span), unit()) for i in range(200)]
    f2 = f1[:40] + f1[150:160] + f2_new
    ms = T0 + span
    station = []
    for i in range(2400):
        ms += rng.randrange(1, 4000)
        station.append(record(2, ms, unit()))
    with open(os.path.join(out, "f1.ndjson"), "w") as f:
        f.write("\n".join(f1[:100]) + "\nnot a record\n" + "\n".join(f1[100:]) + "\n")
    with open(os.path.join(out, "f2.ndjson"), "w") as f:
        f.write("\n".join(f2) + "\n")
    with open(os.path.join(out, "station.ndjson"), "w") as f:
        f.write("\n".join(station) + "\n")
    with open(os.path.join(out, "union.ndjson"), "w") as f:
        f.write("\n".join(f1 + f2_new + station) + "\n")


main()
