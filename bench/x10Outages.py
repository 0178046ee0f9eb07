"""KV-X10 through outages, through kvq-host against cm11a-sim --instant: how soon
it is back, and what an outage costs the host's thread.

  python3 -m bench.x10Outages [--wine] [--samples N]

Natively build/native-release/bin/kvq-host with KV-X10.so; with --wine,
kvq-host.exe with KV-X10.dll from build/win32/bin under Wine. Prints the median
and the range over the samples of:

  back-to-event    the device plugged back (the simulator's new "device" line)
                   to the host's "Powered On" event of a report that waited
                   for it: the port reopens by its timer, without a command.
                   The outages last from 0.5 to 4.5 s, spread over the samples,
                   so that the return falls anywhere between two attempts
  back-to-command  the device plugged back to a command's frame on the power
                   line, the command invoked at once: it reopens the port first
  attempt          the longest hold of the host's message loop over 10 s with
                   the port refused (held by another program), about 5 reopen
                   attempts: an upper bound of one attempt
  silent-first     the host's thread held by the first command to a silent
                   controller (its 10 attempts)
  silent-later     the same for the commands after it (one attempt each)
"""
import argparse
import os
import statistics
import sys
import tempfile
import time

from scripts.lib.kvqdrive import Failed, Host, Lines, Sim

A1_ON = "X10/House Code: A/Unit Code: 1/Power On"


def summary(values, unit="ms"):
    if not values:
        return "(none)"
    return "%.1f %s (%.1f to %.1f, %d samples)" % (statistics.median(values), unit, min(values),
                                                    max(values), len(values))


def wait(lines, name, test, what):
    return lines.expect(name, test, 60, what)


def host_event(event):
    return lambda r: r.get("event") == event


def measure(args):
    work = tempfile.mkdtemp(prefix="kvq-outages-")
    link = work + "/com1"
    lines = Lines()
    # The simulator's hold names the device in this file, which the modem-line
    # fixture in Wine's server reads to refuse an open.
    busy = {"KVQ_MODEMLINES_BUSY_FILE": work + "/busy"}
    sim = Sim(lines, link, ["--instant", "--poll-interval", "100"], dict(os.environ, **busy))
    host = Host(lines, args.wine, link, ["--commands", "--seconds", "3600"])
    wait(lines, "host", host_event("watching"), "watching")
    back_event, back_command, blocked_first, blocked_later = [], [], [], []
    try:
        for i in range(args.samples):
            # Pulled out; a report waits in the controller; plugged back.
            sim.command("unplug %.2f" % (0.5 + 4.0 * i / max(1, args.samples - 1)))
            wait(lines, "host", host_event("error"), "the outage's report")
            sim.command("report A1 A-ON")
            _, _, back = wait(lines, "sim", host_event("device"), "the device back")
            wait(lines, "host", host_event("fired"), "the event")
            back_event.append((time.monotonic() - back) * 1000)

            sim.command("unplug 1")
            wait(lines, "host", host_event("error"), "the outage's report")
            _, _, back = wait(lines, "sim", host_event("device"), "the device back")
            host.command("invoke " + A1_ON)
            wait(lines, "sim", lambda r: r.get("text") == "A1 ON put on the power line",
                 "the frame on the power line")
            back_command.append((time.monotonic() - back) * 1000)
            wait(lines, "host", host_event("result"), "the result")

        # A controller without power: the first command, then later ones.
        sim.command("silent on")
        for i in range(args.samples + 1):
            host.command("invoke " + A1_ON)
            _, record, _ = wait(lines, "host", host_event("result"), "the result")
            (blocked_later if i else blocked_first).append(float(record["ms"]))
        sim.command("silent off")
    finally:
        host.close()
        sim.command("hold 0")  # the attempts of a new host while the port is refused
    attempt = Host(lines, args.wine, link, ["--seconds", "10", "--until-eof"], env=busy,
                   name="attempt")
    _, loop, _ = wait(lines, "attempt", host_event("loop"), "the loop's longest hold")
    attempt.close()
    sim.quit()
    return host.where, back_event, back_command, loop["longestHoldMs"], blocked_first, blocked_later


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--wine", action="store_true", help="the real DLL under Wine")
    parser.add_argument("--samples", type=int, default=5)
    args = parser.parse_args()
    try:
        where, event, command, attempt, first, later = measure(args)
    except Failed as error:
        sys.exit("x10Outages: " + str(error))
    print("KV-X10 through outages, %s, instant controller:" % where)
    print("  back-to-event    %s" % summary(event))
    print("  back-to-command  %s" % summary(command))
    print("  attempt          %.1f ms (longest loop hold, port refused for 10 s)" % attempt)
    print("  silent-first     %s" % summary(first))
    print("  silent-later     %s" % summary(later))


if __name__ == "__main__":
    main()
