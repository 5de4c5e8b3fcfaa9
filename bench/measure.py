#!/usr/bin/env python3
"""Extracts each benchmark archive with tqunzip and its peers, side by side, as black boxes.

For every archive: each program once as a warm-up whose output is checked against the payload
(file count and bytes), then RUNS rounds in which every program runs once, in turn, into an
emptied folder on tmpfs; interleaving the programs lets a change of the machine's load fall on
all of them alike. A run is timed from start to exit; /usr/bin/time gives its peak resident
memory and CPU time (user and system, of all its processes). The table gives medians and each
program's ratio to tqunzip's (above 1: tqunzip is faster); the summary gives tqunzip's time as
a fraction of the fastest peer's, by wall and by CPU time. On a loaded machine the CPU ratio is
the steadier one for one process; the wall ratio is what -j changes.

usage: measure.py TQUNZIP WORK_FOLDER RUNS [JOBS...]   (JOBS: also time tqunzip --jobs=JOBS)"""
import os
import shutil
import statistics
import subprocess
import sys
import time

PASSWORD = "Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E"
ARCHIVES = ["deflated-encrypted", "deflated", "stored", "stored-encrypted"]
PEERS = ["unzip", "bsdtar", "7z"]


def commands(tqunzip, jobs, archive, out):
    # tqunzip decrypts with its built-in password, which the archives were made with.
    programs = {"tqunzip": [tqunzip, "-q", "-d", out, archive]}
    for n in jobs:
        programs["tqunzip --jobs=%d" % n] = [tqunzip, "-q", "--jobs=%d" % n, "-d", out, archive]
    programs.update({
        "unzip": ["unzip", "-q", "-o", "-P", PASSWORD, archive, "-d", out],
        "bsdtar": ["bsdtar", "-xf", archive, "-C", out, "--passphrase", PASSWORD],
        "7z": ["7z", "x", "-y", "-bd", "-bso0", "-bsp0", "-p" + PASSWORD, "-o" + out, archive],
    })
    return programs


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
    jobs = [int(n) for n in sys.argv[4:]]
    payload = folder_summary(os.path.join(work, "payload"))
    out, stats = os.path.join(work, "out"), os.path.join(work, "time.txt")
    print("Payload: %d files, %.1f MiB. Median of %d interleaved rounds, extracting into tmpfs.\n"
          % (payload[0], payload[1] / 1048576, runs))
    print("| archive | size MiB | program | wall ms | CPU ms | peak RSS KiB | wall / tqunzip's | CPU / tqunzip's |")
    print("|---|---|---|---|---|---|---|---|")
    summary = []
    for name in ARCHIVES:
        archive = os.path.join(work, name + ".zip")
        size = os.path.getsize(archive) / 1048576
        programs = commands(tqunzip, jobs, archive, out)
        for program, command in programs.items():
            run_once(command, out, stats)
            if folder_summary(out) != payload:
                raise RuntimeError("%s extracted something else from %s" % (program, name))
        samples = {program: [] for program in programs}
        for _ in range(runs):
            for program, command in programs.items():
                samples[program].append(run_once(command, out, stats))
        medians = {}
        for program, runs_of in samples.items():
            medians[program] = (statistics.median(s[0] for s in runs_of),
                                statistics.median(s[2] for s in runs_of),
                                statistics.median(s[1] for s in runs_of))
        base_wall, base_cpu, _ = medians["tqunzip"]
        for program, (wall, cpu, rss) in medians.items():
            print("| %s | %.1f | %s | %.0f | %.0f | %d | %.2f | %.2f |"
                  % (name, size, program, wall * 1000, cpu * 1000, rss, wall / base_wall,
                     cpu / base_cpu if base_cpu else 0))
        fastest = min(PEERS, key=lambda p: medians[p][0])
        row = [name, fastest, medians["tqunzip"][0] / medians[fastest][0],
               medians["tqunzip"][1] / min(medians[p][1] for p in PEERS)]
        row += [medians["tqunzip --jobs=%d" % n][0] / medians[fastest][0] for n in jobs]
        row.append(max(m[2] for p, m in medians.items() if p.startswith("tqunzip")))
        summary.append(row)
    shutil.rmtree(out, ignore_errors=True)

    print("\ntqunzip's time as a fraction of the fastest peer's (below 1: tqunzip faster)\n")
    print("| archive | fastest peer (wall) | tqunzip wall | tqunzip CPU / least peer CPU | "
          + "".join("--jobs=%d wall | " % n for n in jobs) + "tqunzip peak RSS KiB |")
    print("|---|---|---|---|" + "---|" * len(jobs) + "---|")
    for row in summary:
        print("| %s | %s | %.2f | %.2f | " % tuple(row[:4])
              + "".join("%.2f | " % r for r in row[4:-1]) + "%d |" % row[-1])


if __name__ == "__main__":
    main()
