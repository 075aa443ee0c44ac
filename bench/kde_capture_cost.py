#!/usr/bin/python3
"""kde_capture_cost.py PREFIX RUNS: in the KDE test desktop (scripts/lib/kde-session.sh), the
time from `lumora --capture screen` to a complete BMP file, answered by a running instance and
by the command alone: the installed program (KWin grants it CaptureWorkspace: raw pixels
through a pipe) against a copy outside the installation (refused by KWin, so the Screenshot
portal: a PNG written, read back and deleted). Prints the medians in ms:
"<kwin running> <portal running> <kwin alone> <portal alone>"."""
import os
import shutil
import statistics
import subprocess
import sys
import time

prefix, runs = sys.argv[1], int(sys.argv[2])
home = os.environ["HOME"]
installed = os.path.join(prefix, "bin", "lumora")

# The entry as installed, where KWin's service cache finds it.
apps = os.path.join(os.environ["XDG_DATA_HOME"], "applications")
os.makedirs(apps, exist_ok=True)
shutil.copy(os.path.join(prefix, "share", "applications", "lumora.desktop"), apps)
subprocess.run(["kbuildsycoca5"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

# No logo, no sound, BMP files.
registry = os.path.join(os.environ["XDG_CONFIG_HOME"], "lumora", "registry")
os.makedirs(registry, exist_ok=True)
with open(os.path.join(registry, "HKEY_LOCAL_MACHINE.reg"), "w") as f:
    f.write('REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\Velmora\\Krel-V1.10]\n'
            '"logo"=dword:00000000\n"yinqing"=dword:00000000\n"yinxiao"=dword:00000000\n')


def captures(folder):
    return {n for n in os.listdir(folder) if n.endswith(".bmp") and not n.startswith(".")}


def requests(program, count, log):
    """`count` timed requests, after one that warms up and tells a complete file's size."""
    folder = os.path.dirname(program)
    size, times = None, []
    for i in range(count + 1):
        before = captures(folder)
        t0 = time.monotonic()
        subprocess.run([program, "--capture", "screen"], check=True,
                       stdout=subprocess.DEVNULL, stderr=log)
        deadline = t0 + 20
        while time.monotonic() < deadline:
            new = captures(folder) - before
            if new:
                path = os.path.join(folder, new.pop())
                if size is None or os.path.getsize(path) >= size:
                    break
            time.sleep(0.001)
        else:
            raise SystemExit("no capture from " + program)
        elapsed = (time.monotonic() - t0) * 1000
        if size is None:
            time.sleep(0.5)
            size = os.path.getsize(path)
        else:
            times.append(elapsed)
        time.sleep(0.2)
    return statistics.median(times)


def measure(program):
    """Medians beside a running instance, then of the command alone."""
    folder = os.path.dirname(program)
    log = open(os.path.join(home, os.path.basename(folder) + ".log"), "w")
    running = subprocess.Popen([program], stdout=log, stderr=log)
    try:
        time.sleep(4)  # its window up, its session ready
        beside = requests(program, runs, log)
    finally:
        running.terminate()
        running.wait(10)
    return beside, requests(program, max(5, runs // 2), log)


def used_portal(folder):
    with open(os.path.join(home, folder + ".log")) as f:
        return "using the screenshot portal" in f.read()


kwin, kwin_alone = measure(installed)
portal_dir = os.path.join(home, "elsewhere")
os.makedirs(portal_dir, exist_ok=True)
copy = os.path.join(portal_dir, "lumora")
shutil.copy(installed, copy)
portal, portal_alone = measure(copy)
if used_portal("bin") or not used_portal("elsewhere"):
    raise SystemExit("the captures did not take the paths measured (see ~/*.log)")
print("%.1f %.1f %.1f %.1f" % (kwin, portal, kwin_alone, portal_alone))
