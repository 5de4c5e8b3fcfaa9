#!/usr/bin/env python3
"""Runs tqunzip over a folder of ZIP archives that other projects' test suites wrote, beside
three peers (Info-ZIP unzip, bsdtar, Python's zipfile). An archive that all three extract to the
same names and bytes must come out of tqunzip the same; every other archive must end with one of
tqunzip's documented exit codes, within the time limit, and leave nothing outside its folder.
Prints one line per archive and the counts; exits 1 when an archive breaks those rules."""
import csv, hashlib, os, shutil, subprocess, sys, tempfile, zipfile

TIMEOUT = 60
DOCUMENTED = {0, 1, 2, 3, 9, 11, 50, 80, 81, 82}


def tree(folder):
    """Regular files below folder: relative name -> SHA-256; links -> their target."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for name in files + [d for d in dirs if os.path.islink(os.path.join(root, d))]:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, folder)
            if os.path.islink(path):
                found[rel] = "link:" + os.readlink(path)
            else:
                with open(path, "rb") as f:
                    found[rel] = hashlib.sha256(f.read()).hexdigest()
    return found


def run(args, cwd=None):
    try:
        p = subprocess.run(args, cwd=cwd, capture_output=True, timeout=TIMEOUT)
        return p.returncode, (p.stdout + p.stderr).decode("latin-1")
    except subprocess.TimeoutExpired:
        return "timeout", ""


def python_extract(archive, dest, password):
    try:
        with zipfile.ZipFile(archive) as z:
            z.extractall(dest, pwd=password.encode() if password else None)
        return 0
    except Exception:
        return 1


def peers(archive, work, password):
    """The three peers' trees, or None where a peer failed."""
    results = []
    d = os.path.join(work, "unzip")
    os.mkdir(d)
    code, _ = run(["unzip", "-qq", "-o", "-P", password or "", archive, "-d", d])
    results.append(tree(d) if code == 0 else None)
    d = os.path.join(work, "bsdtar")
    os.mkdir(d)
    args = ["bsdtar", "-xf", archive, "-C", d]
    if password:
        args[1:1] = ["--passphrase", password]
    code, _ = run(args)
    results.append(tree(d) if code == 0 else None)
    d = os.path.join(work, "python")
    os.mkdir(d)
    results.append(tree(d) if python_extract(archive, d, password) == 0 else None)
    return results


SKIP = 77   # CTest's SKIP_RETURN_CODE for this test


def main():
    folder, tqunzip = sys.argv[1], sys.argv[2]
    if not os.path.isfile(os.path.join(folder, "ORIGINS.tsv")):
        print("skipped: no peer archives at %s" % folder)
        return SKIP
    for peer in ("unzip", "bsdtar"):
        if shutil.which(peer) is None:
            print("skipped: the peer %s is not installed" % peer)
            return SKIP
    extra = sys.argv[3:]   # tqunzip's options for extracting with folders, overwriting
    passwords = {}
    with open(os.path.join(folder, "ORIGINS.tsv")) as f:
        for row in csv.DictReader(f, delimiter="\t"):
            passwords[row["name"]] = row["password"]
    counts = {"agreed": 0, "agreed-same": 0, "other": 0, "bad": 0}
    bad = []
    for name in sorted(passwords):
        archive = os.path.join(folder, name)
        password = passwords[name]
        with tempfile.TemporaryDirectory() as work:
            peer_trees = peers(archive, work, password)
            agreed = all(t is not None for t in peer_trees) and \
                peer_trees[0] == peer_trees[1] == peer_trees[2] and bool(peer_trees[0])
            outside = os.path.join(work, "outside")
            dest = os.path.join(outside, "tq")
            os.makedirs(dest)
            args = [tqunzip, "-q"] + extra + ["-d", dest]
            if password:
                args += ["-P", password]
            code, text = run(args + [archive])
            mine = tree(dest)
            escaped = set(tree(outside)) - {os.path.join("tq", n) for n in mine}
            verdict = ""
            if code == "timeout" or code not in DOCUMENTED:
                verdict = "BAD: exit %s" % code
            elif escaped:
                verdict = "BAD: wrote outside its folder: %s" % sorted(escaped)[:3]
            elif agreed:
                counts["agreed"] += 1
                if code == 0 and mine == peer_trees[0]:
                    counts["agreed-same"] += 1
                    verdict = "same as the peers"
                else:
                    missing = sorted(set(peer_trees[0]) ^ set(mine))[:3]
                    differ = sorted(n for n in set(mine) & set(peer_trees[0])
                                    if mine[n] != peer_trees[0][n])[:3]
                    verdict = "BAD: exit %s, names %s, bytes %s" % (code, missing, differ)
            else:
                counts["other"] += 1
                verdict = "peers disagree or fail; exit %s" % code
            if verdict.startswith("BAD"):
                counts["bad"] += 1
                bad.append(name)
            first = text.strip().splitlines()[-1][:100] if text.strip() else ""
            print("%-55s %s | %s" % (name, verdict, first))
    print("archives: %d; all peers agree: %d, tqunzip the same: %d; others: %d; faults: %d"
          % (len(passwords), counts["agreed"], counts["agreed-same"], counts["other"], counts["bad"]))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
