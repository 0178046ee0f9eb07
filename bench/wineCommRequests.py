"""What Wine itself keeps of a serial port's overlapped requests, without any
code of the plug-ins: bench/wine/commRequests.c, built with the mingw-w64
compiler into build/bench-wine/, run under Wine with COM1 mapped to a
pseudo-terminal (and the modem-line fixture preloaded), 4 rounds of 500 reads,
event waits and writes, each with the private memory before and after.

  python3 -m bench.wineCommRequests
"""
import os
import pty
import subprocess
import sys
import tempfile
import threading
import tty

from scripts.lib.kvqdrive import ROOT, map_wine_port, stop_wine, wine_env


def main():
    if len(sys.argv) > 1:
        sys.exit(__doc__.strip())
    out = os.path.join(ROOT, "build", "bench-wine")
    os.makedirs(out, exist_ok=True)
    exe = os.path.join(out, "commRequests.exe")
    subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-o", exe,
                    os.path.join(ROOT, "bench", "wine", "commRequests.c"), "-lpsapi"], check=True)
    master, slave = pty.openpty()
    tty.setraw(slave)
    link = os.path.join(tempfile.mkdtemp(prefix="kvq-wine-requests-"), "com1")
    os.symlink(os.ttyname(slave), link)

    def drain():  # what the writes send
        while True:
            try:
                os.read(master, 4096)
            except OSError:
                return
    threading.Thread(target=drain, daemon=True).start()
    env = wine_env()
    map_wine_port(env, "COM1", link)
    for mode, what in (("0", "reads"), ("1", "event waits"), ("2", "writes")):
        print("%s:" % what, flush=True)
        try:
            run = subprocess.run(["wine", exe, mode], env=env, capture_output=True, text=True,
                                 timeout=120)
            output = run.stdout
        except subprocess.TimeoutExpired as ended:  # Wine may not end a process with waits left
            output = (ended.stdout or b"").decode(errors="replace")
        for line in output.strip().splitlines():
            print("  " + line)
    stop_wine(env)


if __name__ == "__main__":
    main()
