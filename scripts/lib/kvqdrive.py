"""Driving KV-X10 end to end from a script: cm11a-sim on a pseudo-terminal, and
kvq-host on the plug-in (natively KV-X10.so, or kvq-host.exe with KV-X10.dll
under Wine), both printing JSON lines that the script reads as they come.

Used by scripts/soak and the bench scripts (bench/*.py).
"""
import json
import os
import selectors
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NATIVE = os.path.join(ROOT, "build", "native-release", "bin")
WIN32 = os.path.join(ROOT, "build", "win32", "bin")


class Failed(Exception):
    """What a run expected did not happen."""


class Lines:
    """The JSON lines of several pipes, as they come, each as (pipe, object, time read)."""

    def __init__(self, on_line=None):
        self.selector = selectors.DefaultSelector()
        self.buffers = {}
        self.backlog = []  # lines read and not yet expected, for expect()
        self.on_line = on_line  # sees every line once, as it is read

    def watch(self, name, stream):
        os.set_blocking(stream.fileno(), False)
        self.selector.register(stream, selectors.EVENT_READ, name)
        self.buffers[name] = b""

    def next(self, timeout):
        """(name, object, time) of the next line, or None when the time runs out; a line
        that is not a JSON object (Wine's own messages) comes as an empty one."""
        end = time.monotonic() + timeout
        while True:
            for name, buffered in self.buffers.items():
                if b"\n" in buffered:
                    line, rest = buffered.split(b"\n", 1)
                    self.buffers[name] = rest
                    try:
                        record = json.loads(line)
                    except ValueError:
                        record = {}
                    got = name, record if isinstance(record, dict) else {}, time.monotonic()
                    if self.on_line:
                        self.on_line(*got)
                    return got
            left = end - time.monotonic()
            if left <= 0:
                return None
            for key, _ in self.selector.select(left):
                data = os.read(key.fileobj.fileno(), 65536)
                if data:
                    self.buffers[key.data] += data
                else:
                    self.selector.unregister(key.fileobj)

    def until(self, name, test, timeout, seen=None, what=None):
        """The next line of pipe `name` for which test(record) holds; every line read on
        the way goes to `seen` (a list) when given. Raises Failed at the deadline."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            got = self.next(end - time.monotonic())
            if got is None:
                break
            if seen is not None:
                seen.append(got)
            if got[0] == name and test(got[1]):
                return got
        raise Failed("no %s from %s within %d s" % (what or "such line", name, timeout))

    def event(self, name, event, timeout, seen=None):
        return self.until(name, lambda r: r.get("event") == event, timeout, seen,
                          "event %r" % event)

    def expect(self, name, test, timeout, what=None):
        """Like until, but a line read while waiting for another is kept for a later
        expect (the last 1000), so that lines of two pipes may come in any order."""
        for i, got in enumerate(self.backlog):
            if got[0] == name and test(got[1]):
                del self.backlog[i]
                return got
        end = time.monotonic() + timeout
        while True:
            got = self.next(max(0, end - time.monotonic()))
            if got is None:
                raise Failed("no %s from %s within %d s" % (what or "such line", name, timeout))
            if got[0] == name and test(got[1]):
                return got
            self.backlog.append(got)
            del self.backlog[:-1000]

    def drain(self, timeout, seen):
        """Every line that comes until the pipes are quiet for `timeout` s."""
        while True:
            got = self.next(timeout)
            if got is None:
                return
            seen.append(got)


def wine_env(extra=None):
    """The environment of a Wine run: the project's prefix (WINEPREFIX, else
    build/wineprefix) and the modem-line fixture, without which Wine's event wait
    fails on a pseudo-terminal."""
    env = dict(os.environ)
    env.update(WINEPREFIX=os.environ.get("WINEPREFIX") or os.path.join(ROOT, "build", "wineprefix"),
               WINEDEBUG="-all", WINEARCH="win32",
               LD_PRELOAD=os.path.join(NATIVE, "libkvqmodemlines.so"))
    env.update(extra or {})
    return env


def map_wine_port(env, port, path):
    """Points the Wine port (COM1) at `path`. Wine reads the mapping when its
    server starts: a server still running is ended first, and a new one is kept
    running until stop_wine (so that each program starts in a second, not ten)."""
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", port, "/d", path,
                    "/f"], env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, check=True, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=env, check=True, stderr=subprocess.DEVNULL)


def stop_wine(env):
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)


class Sim:
    """cm11a-sim on a pseudo-terminal that `link` leads to."""

    def __init__(self, lines, link, args, env=None):
        self.process = subprocess.Popen(
            [os.path.join(NATIVE, "cm11a-sim"), "--json", "--link", link, "--exit-on-eof"] + args,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.lines = lines
        lines.watch("sim", self.process.stdout)
        lines.expect("sim", lambda r: r.get("event") == "device", 10, "device")

    def command(self, text):
        self.process.stdin.write((text + "\n").encode())
        self.process.stdin.flush()

    def quit(self):
        try:
            self.command("quit")
        except BrokenPipeError:
            pass
        self.process.wait(10)


class Host:
    """kvq-host watching KV-X10 with commands on its standard input."""

    def __init__(self, lines, wine, link, args, env=None, name="host"):
        self.lines = lines
        self.wine = wine_env(env) if wine else None
        if wine:
            env = self.wine
            map_wine_port(env, "COM1", link)
            command = ["wine", os.path.join(WIN32, "kvq-host.exe"), "watch",
                       os.path.join(WIN32, "KV-X10.dll")]
        else:
            env = dict(os.environ, **(env or {}))
            env["KVQ_PORT_COM1"] = link
            command = [os.path.join(NATIVE, "kvq-host"), "watch",
                       os.path.join(NATIVE, "KV-X10.so")]
        self.process = subprocess.Popen(command + ["--json"] + args, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        env=env)
        self.where = "Wine" if wine else "native"
        lines.watch(name, self.process.stdout)

    def command(self, text):
        self.process.stdin.write((text + "\n").encode())
        self.process.stdin.flush()

    def close(self, timeout=120):
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        # What it still prints is read (and dropped), or it could block on a full pipe.
        end = time.monotonic() + timeout
        while self.process.poll() is None and time.monotonic() < end:
            self.lines.next(0.1)
        code = self.process.wait(max(1, end - time.monotonic()))
        if self.wine:
            stop_wine(self.wine)
        return code


def need(*paths):
    for path in paths:
        if not os.path.exists(path):
            sys.exit("%s is missing: build the presets first (cmake --build --preset ...)" % path)
