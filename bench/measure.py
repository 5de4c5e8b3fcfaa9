#!/usr/bin/env python3
"""Extracts each benchmark archive with tqunzip and its peers, side by side, as black boxes.

For every archive: each program once as a warm-up whose output is checked against the payload
(file count and bytes, the whole tree), then RUNS rounds in which every program runs once, in
turn, into an emptied folder on tmpfs; interleaving the programs lets a change of the machine's
load fall on all of them alike, and each round starts with the next program, so that none
always follows the same one. A run is timed from start to exit; /usr/bin/time gives its peak
resident memory and CPU time (user and system, of all its processes). The table gives medians
and each program's ratio to tqunzip's (above 1: tqunzip is faster); the summary gives tqunzip's
time as a fraction of the fastest peer's, by wall and by CPU time, and each --jobs run's wall
time as a fraction of one process's. On a loaded machine the CPU ratio is the steadier one for
one process; the wall ratio is what --jobs changes.

The default archives are the four of the 64 MiB payload; --many measures those of many small
files (make_payload.py --many) instead, with four times the rounds, since each run is short.

usage: measure.py [--many] TQUNZIP WORK_FOLDER RUNS [JOBS...]   (JOBS: also time tqunzip --jobs=JOBS)"""
import os
import shutil
import statistics
import subprocess
import sys
import time

PASSWORD = "Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E"
ARCHIVES = [(name, "payload") for name in ["deflated-encrypted", "deflated", "stored", "stored-encrypted"]]
MANY_ARCHIVES = [("many-5000", "many-5000"), ("many-10000", "many-10000")]   # archive, payload folder
PEERS = ["unzip", "bsdtar", "7z"]


def commands(tqunzip, jobs, archive, out):
    # tqunzip decrypts with its built-in password, which the archives were made with.
    programs = {"tqunzip": [tqunzip, "-q", "-d", out, archive]}
    for n in jobs:
        programs["tqunzip --jobs=%d" % n] = [tqunzip, "-q", "--jobs=%d" % n, "-d", out, archive]
    programs.update({
        "unzip": ["unzip", "-qq", "-o", "-P", PASSWORD, archive, "-d", out],
        "bsdtar": ["bsdtar", "-xf", archive, "-C", out, "--passphrase", PASSWORD],
        "7z": ["7z", "x", "-y", "-bd", "-bso0", "-bsp0", "-p" + PASSWORD, "-o" + out, archive],
    })
    return programs


def folder_summary(folder):
    """Files below folder and their bytes, with their paths."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            files[os.path.relpath(path, folder)] = os.path.getsize(path)
    return len(files), sum(files.values()), sorted(files.items())


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
    args = sys.argv[1:]
    many = args[0] == "--many"
    if many:
        args = args[1:]
    tqunzip, work, runs = args[0], args[1], int(args[2])
    jobs = [int(n) for n in args[3:]]
    archives = MANY_ARCHIVES if many else ARCHIVES
    if many:
        runs *= 4
    payloads = {folder: folder_summary(os.path.join(work, folder)) for _, folder in archives}
    out, stats = os.path.join(work, "out"), os.path.join(work, "time.txt")
    for folder, payload in payloads.items():
        print("Payload %s: %d files, %.1f MiB%s." % (folder, payload[0], payload[1] / 1048576,
              (" in %d folders" % sum(len(d) for _, d, _ in os.walk(os.path.join(work, folder)))) if many else ""))
    print("Median of %d interleaved rounds, extracting into tmpfs.\n" % runs)
    print("| archive | size MiB | program | wall ms | CPU ms | peak RSS KiB | wall / tqunzip's | CPU / tqunzip's |")
    print("|---|---|---|---|---|---|---|---|")
    summary = []
    for name, folder in archives:
        archive = os.path.join(work, name + ".zip")
        size = os.path.getsize(archive) / 1048576
        programs = commands(tqunzip, jobs, archive, out)
        for program, command in programs.items():
            run_once(command, out, stats)
            if folder_summary(out) != payloads[folder]:
                raise RuntimeError("%s extracted something else from %s" % (program, name))
        samples = {program: [] for program in programs}
        names = list(programs)
        for round_ in range(runs):
            for program in names[round_ % len(names):] + names[:round_ % len(names)]:
                samples[program].append(run_once(programs[program], out, stats))
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
        row += [medians["tqunzip --jobs=%d" % n][0] / medians["tqunzip"][0] for n in jobs]
        row.append(max(m[2] for p, m in medians.items() if p.startswith("tqunzip")))
        summary.append(row)
    shutil.rmtree(out, ignore_errors=True)

    print("\ntqunzip's time as a fraction of the fastest peer's (below 1: tqunzip faster), and --jobs "
          "against one process (at most 1: never slower)\n")
    print("| archive | fastest peer (wall) | tqunzip wall | tqunzip CPU / least peer CPU | "
          + "".join("--jobs=%d wall | " % n for n in jobs)
          + "".join("--jobs=%d / one process | " % n for n in jobs) + "tqunzip peak RSS KiB |")
    print("|---|---|---|---|" + "---|" * (2 * len(jobs)) + "---|")
    for row in summary:
        print("| %s | %s | %.2f | %.2f | " % tuple(row[:4])
              + "".join("%.2f | " % r for r in row[4:-1]) + "%d |" % row[-1])


if __name__ == "__main__":
    main()
