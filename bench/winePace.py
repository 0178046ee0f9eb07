"""How finely a loop of 1 ms pauses runs under Wine, the three ways the
Quillport poll could pause (bench/wine/pace.c, built with the mingw-w64
compiler into build/bench-wine/): Sleep(1) alone, Sleep(1) under
timeBeginPeriod(1), and a high-resolution waitable timer. With --version V
(winxp, win7, win10) Wine reports that Windows to the program.

  python3 -m bench.winePace [--version V]
"""
import argparse
import os
import subprocess
import sys

from scripts.lib.kvqdrive import ROOT, stop_wine, wine_env


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", choices=["winxp", "win7", "win10"])
    args = parser.parse_args()
    out = os.path.join(ROOT, "build", "bench-wine")
    os.makedirs(out, exist_ok=True)
    exe = os.path.join(out, "pace.exe")
    subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-o", exe,
                    os.path.join(ROOT, "bench", "wine", "pace.c")], check=True)
    env = wine_env()
    key = "HKCU\\Software\\Wine\\AppDefaults\\pace.exe"
    if args.version:
        subprocess.run(["wine", "reg", "add", key, "/v", "Version", "/d", args.version, "/f"],
                       env=env, check=True, capture_output=True)
    try:
        run = subprocess.run(["wine", exe], env=env, capture_output=True, text=True, timeout=300)
        sys.stdout.write(run.stdout)
    finally:
        if args.version:
            subprocess.run(["wine", "reg", "delete", key, "/v", "Version", "/f"], env=env,
                           capture_output=True)
        stop_wine(env)


if __name__ == "__main__":
    main()
