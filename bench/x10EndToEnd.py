"""KV-X10 end to end, through kvq-host against cm11a-sim: what a command costs
and how soon a report from the power line reaches the host.

  python3 -m bench.x10EndToEnd [--wine] [--mains 60|50|instant] [--commands N] [--reports N]

Natively it runs build/native-release/bin/kvq-host with KV-X10.so; with --wine,
kvq-host.exe with KV-X10.dll from build/win32/bin under Wine (WINEPREFIX, else
build/wineprefix, with COM1 pointed at the simulator). Prints, per figure, the
median and the range over the samples:

  command        a "Power On"'s time from the controller's view: the address
                 frame's first byte to the function frame's ready byte
  floor          what no port can beat: both frames on the power line (25
                 mains cycles each) and the ten bytes at 4800 baud
  port's share   the command beyond what the simulated line takes (the frames'
                 cycles and the ack and ready bytes; a pseudo-terminal carries
                 the other six bytes without their 12.5 ms)
  blocked        the time the command held the host's thread (kvq-host's
                 "result" ms, the entry call of command 289)
  poll-to-321    the controller's first poll of a report to the host's 321,
                 both read by this script as they are printed
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

from scripts.lib.kvqdrive import NATIVE, WIN32, Failed, Lines, map_wine_port, stop_wine, wine_env

BYTE_MS = 10 * 1000.0 / 4800  # one byte, 8N1, at 4800 baud


def fail(text):
    sys.exit("x10EndToEnd: " + text)


def summary(values, unit="ms"):
    if not values:
        return "(none)"
    return "%.1f %s (%.1f to %.1f, %d samples)" % (statistics.median(values), unit, min(values),
                                                    max(values), len(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--wine", action="store_true", help="the real DLL under Wine")
    parser.add_argument("--mains", default="60", choices=["60", "50", "instant"])
    parser.add_argument("--commands", type=int, default=10)
    parser.add_argument("--reports", type=int, default=10)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="kvq-e2e-")
    link = os.path.join(work, "com1")
    pace = ["--instant"] if args.mains == "instant" else ["--mains", args.mains]
    sim = subprocess.Popen([os.path.join(NATIVE, "cm11a-sim"), "--json", "--link", link,
                            "--poll-interval", "1000", "--exit-on-eof"] + pace,
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    lines = Lines()
    lines.watch("sim", sim.stdout)
    lines.event("sim", "device", 10)

    env = dict(os.environ)
    invokes = []
    for unit in range(1, args.commands + 1):
        invokes += ["--invoke", "X10/House Code: A/Unit Code: %d/Power On" % (unit % 16 + 1)]
    if args.wine:
        env = wine_env()
        map_wine_port(env, "COM1", link)
        command = ["wine", os.path.join(WIN32, "kvq-host.exe"), "watch",
                   os.path.join(WIN32, "KV-X10.dll")]
        where = "Wine"
    else:
        env["KVQ_PORT_COM1"] = link
        command = [os.path.join(NATIVE, "kvq-host"), "watch", os.path.join(NATIVE, "KV-X10.so")]
        where = "native"
    host = subprocess.Popen(command + ["--json", "--until-eof", "--seconds", "600"] + invokes,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                            stderr=subprocess.DEVNULL)
    lines.watch("host", host.stdout)

    # The commands: the host's "result" lines, the simulator's bytes.
    seen = []
    blocked = []
    while len(blocked) < args.commands:
        _, record, _ = lines.event("host", "result", 120, seen)
        blocked.append(float(record["ms"]))
    walls = []
    start = None
    function = False
    while True:  # the last ready byte may be read after the host's lines
        more = lines.next(0.3)
        if more is None:
            break
        seen.append(more)
    for name, record, _ in seen:
        if name != "sim":
            continue
        data, when = record.get("bytes", ""), record.get("ms", 0)
        if record.get("event") == "rx" and len(data.split()) == 2:
            header = int(data.split()[0], 16)
            function = header & 0x02 != 0
            if not function and start is None:
                start = when
        elif record.get("event") == "tx" and data == "55" and function and start is not None:
            walls.append(when - start)
            start = None

    # The reports: the first poll, then the host's 321.
    latencies = []
    for i in range(args.reports):
        sim.stdin.write(b"report A1 A-ON\n" if i % 2 else b"report B2 B-OFF\n")
        sim.stdin.flush()
        _, _, polled = lines.until("sim", lambda r: r.get("text") == "poll", 10)
        _, _, fired = lines.event("host", "fired", 10)
        latencies.append((fired - polled) * 1000)
        time.sleep(0.05)

    host.stdin.close()
    host.wait(60)
    if args.wine:
        stop_wine(env)
    sim.stdin.write(b"quit\n")
    sim.stdin.flush()
    sim.wait(10)

    cycles = 0 if args.mains == "instant" else 2 * 25 * 1000.0 / int(args.mains)
    pace_text = "instant controller" if args.mains == "instant" else args.mains + " Hz mains"
    print("KV-X10 end to end, %s, %s:" % (where, pace_text))
    print("  command      %s" % summary(walls))
    print("  floor        %.1f ms" % (cycles + 10 * BYTE_MS))
    # The simulator takes time for the ack and ready bytes only: a pseudo-terminal
    # carries the four frame bytes and the two checksums at once.
    line_ms = 0 if args.mains == "instant" else cycles + 4 * BYTE_MS
    print("  port's share %s" % summary([w - line_ms for w in walls]))
    print("  blocked      %s" % summary(blocked))
    print("  poll-to-321  %s" % summary(latencies))


if __name__ == "__main__":
    try:
        main()
    except Failed as error:
        fail(str(error))
