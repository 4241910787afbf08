#!/usr/bin/env python3
"""Start-up benchmark: time from process start to the main window shown,
median of N runs under Xvfb, and the process's peak memory.

Usage: bench/startup.py [path-to-veilgate] [runs]
Run it with an X server (e.g. `xvfb-run -a bench/startup.py`)."""
import os, resource, statistics, subprocess, sys, tempfile, time, shutil

exe = sys.argv[1] if len(sys.argv) > 1 else "build/default/veilgate"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
times, peaks = [], []
with tempfile.TemporaryDirectory() as home:
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config",
               XDG_DATA_HOME=home + "/data", XDG_RUNTIME_DIR=home + "/run",
               VEILGATE_QUIT_WHEN_SHOWN="1")
    os.makedirs(home + "/run", mode=0o700)
    # Keep the machine-wide all-users folder out of it.
    reg = home + "/data/veilgate/registry"
    os.makedirs(reg)
    with open(reg + "/HKEY_LOCAL_MACHINE.reg", "w") as f:
        f.write('REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\n'
                '"Common AppData"="%s"\n' % (home + "/common"))
    for i in range(runs):
        t0 = time.perf_counter()
        pid = os.posix_spawn(exe, [exe], env)
        _, status, usage = os.wait4(pid, 0)
        times.append((time.perf_counter() - t0) * 1000)
        peaks.append(usage.ru_maxrss / 1024)
        if status != 0:
            print("run %d exited with status %d" % (i, status)); sys.exit(1)
print("start-up to main window shown: median %.1f ms over %d runs (min %.1f, max %.1f)"
      % (statistics.median(times), runs, min(times), max(times)))
print("peak resident memory: median %.1f MB" % statistics.median(peaks))
