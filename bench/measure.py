#!/usr/bin/env python3
"""Extracts each benchmark archive with tqunzip and its peers, side by side, as black boxes.

For every archive and program: one warm-up run whose output is checked against the payload
(file count and bytes), then RUNS timed runs, each into an emptied folder on tmpfs. A run is
timed from start to exit; /usr/bin/time gives its peak resident memory and CPU time (user and
system). The table gives medians and the ratios of each program's median wall and CPU time to
tqunzip's (above 1: tqunzip is faster). On a loaded machine the CPU ratio is the steadier one.

usage: measure.py TQUNZIP WORK_FOLDER RUNS"""
import os
import shutil
import statistics
import subprocess
import sys
import time

PASSWORD = "Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E"
ARCHIVES = ["deflated-encrypted", "deflated", "stored", "stored-encrypted"]


def commands(tqunzip, archive, out):
    # tqunzip decrypts with its built-in password, which the archives were made with.
    return {
        "tqunzip": [tqunzip, "-q", "-d", out, archive],
        "unzip": ["unzip", "-q", "-o", "-P", PASSWORD, archive, "-d", out],
        "bsdtar": ["bsdtar", "-xf", archive, "-C", out, "--passphrase", PASSWORD],
        "7z": ["7z", "x", "-y", "-bd", "-bso0", "-bsp0", "-p" + PASSWORD, "-o" + out, archive],
    }


def folder_summary(folder):
    names = os.listdir(folder)
    return len(names), sum(os.path.getsize(os.path.join(folder, n)) for n in names)


def run_once(command, out, stats):
    shutil.rmtree(out, ignore_errors=True)
    os.mkdir(out)
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", stats] + command,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (command[0], result.stderr.decode(errors="replace")))
    rss, user, system = open(stats).read().split()[-3:]
    return wall, int(rss), float(user) + float(system)


def main():
    tqunzip, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    payload = folder_summary(os.path.join(work, "payload"))
    out, stats = os.path.join(work, "out"), os.path.join(work, "time.txt")
    print("Payload: %d files, %.1f MiB. Median of %d runs each, extracting into tmpfs.\n"
          % (payload[0], payload[1] / 1048576, runs))
    print("| archive | size MiB | program | wall ms | CPU ms | peak RSS KiB | wall / tqunzip's | CPU / tqunzip's |")
    print("|---|---|---|---|---|---|---|---|")
    for name in ARCHIVES:
        archive = os.path.join(work, name + ".zip")
        size = os.path.getsize(archive) / 1048576
        rows, base, base_cpu = [], None, None
        for program, command in commands(tqunzip, archive, out).items():
            run_once(command, out, stats)
            if folder_summary(out) != payload:
                raise RuntimeError("%s extracted something else from %s" % (program, name))
            samples = [run_once(command, out, stats) for _ in range(runs)]
            wall = statistics.median(s[0] for s in samples)
            rss = statistics.median(s[1] for s in samples)
            cpu = statistics.median(s[2] for s in samples)
            base, base_cpu = base or wall, base_cpu or cpu
            rows.append((program, wall, cpu, rss, wall / base, cpu / base_cpu))
        for program, wall, cpu, rss, ratio, cpu_ratio in rows:
            print("| %s | %.1f | %s | %.0f | %.0f | %d | %.2f | %.2f |"
                  % (name, size, program, wall * 1000, cpu * 1000, rss, ratio, cpu_ratio))
    shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
