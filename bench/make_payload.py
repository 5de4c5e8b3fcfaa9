#!/usr/bin/env python3
"""Writes a benchmark payload into a folder. The default one is about 64 MiB in some 300 files of
one folder, like a program distribution: text (documentation, source code, logs, word lists),
structured binary data (tables of small integers with embedded strings, as in program files)
and incompressible data (already compressed media). Sizes range from 1 KiB to 6 MiB.

With --many N it is N small text files (100 to 1200 bytes: prose, source code, logs) in a tree
of 50 folders with 7 subfolders each, src/d{i%50}/e{i%7}/f{i}.txt, where an extractor's costs
per file and per folder outweigh its decoding. The content is fixed by the seed, so every
machine measures the same bytes.

usage: make_payload.py FOLDER | make_payload.py --many N FOLDER"""
import array
import itertools
import os
import random
import sys

MIB = 1 << 20
TOTAL = 64 * MIB


VOCABULARY = []
WEIGHTS = []


def words(rng, count):
    if not VOCABULARY:
        syllables = ["ta", "ne", "ri", "so", "ku", "lem", "var", "ost", "in", "ar", "el", "dor", "pex", "u", "qua"]
        VOCABULARY.extend("".join(rng.choices(syllables, k=rng.randint(1, 4))) for _ in range(3000))
        WEIGHTS.extend(itertools.accumulate(1.0 / (i + 1) for i in range(3000)))   # Zipf-like, as in prose
    return rng.choices(VOCABULARY, cum_weights=WEIGHTS, k=count)


def prose(rng, size):
    out, length = [], 0
    while length < size:
        line = " ".join(words(rng, rng.randint(4, 16))).capitalize() + ".\n"
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def source(rng, size):
    names = words(rng, 400)
    out, length = [], 0
    while length < size:
        a, b, c = rng.choice(names), rng.choice(names), rng.choice(names)
        block = ("static int %s_%s(const char* %s, int count)\n{\n    for (int i = 0; i < count; ++i)\n"
                 "        if (%s[i] == '%c')\n            return %d;\n    return -1;\n}\n\n"
                 % (a, b, c, c, rng.choice("abcdefxyz"), rng.randint(0, 999)))
        out.append(block)
        length += len(block)
    return "".join(out).encode()[:size]


def log(rng, size):
    out, length, t = [], 0, 1_700_000_000
    while length < size:
        t += rng.randint(0, 5)
        line = "%d [%s] %s: %s %d\n" % (t, rng.choice(["INFO", "INFO", "INFO", "WARN", "DEBUG"]),
                                        rng.choice(["setup", "engine", "meter", "shell"]),
                                        " ".join(words(rng, 5)), rng.randint(0, 65535))
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def program(rng, size):
    out = bytearray()
    strings = [w.encode() + b"\0" for w in words(rng, 200)]
    # Code-like bytes: a few frequent opcodes among all byte values.
    opcode_weights = [1.0] * 256
    for opcode in (0x8B, 0x89, 0xE8, 0x48, 0x83, 0xC3, 0x90, 0x0F, 0x85, 0x00, 0xFF):
        opcode_weights[opcode] = 40.0
    cumulative = list(itertools.accumulate(opcode_weights))
    while len(out) < size:
        kind = rng.random()
        if kind < 0.6:
            out += bytes(rng.choices(range(256), cum_weights=cumulative, k=4096))
        elif kind < 0.85:   # tables of small integers
            out += array.array("I", (int(rng.expovariate(1 / 300)) for _ in range(1024))).tobytes()
        else:
            out += b"".join(rng.choices(strings, k=256))
    return bytes(out[:size])


def noise(rng, size):
    return rng.randbytes(size)


MANY_FOLDERS, MANY_SUBFOLDERS = 50, 7
MANY_SIZES = (100, 1200)


def many(folder, count):
    rng = random.Random(count)
    makers = [prose, source, log]
    for i in range(count):
        path = os.path.join(folder, "src", "d%d" % (i % MANY_FOLDERS), "e%d" % (i % MANY_SUBFOLDERS))
        os.makedirs(path, exist_ok=True)
        with open(os.path.join(path, "f%d.txt" % i), "wb") as f:
            f.write(rng.choice(makers)(rng, rng.randint(*MANY_SIZES)))
    print("%d files" % count)


def main():
    if sys.argv[1] == "--many":
        many(sys.argv[3], int(sys.argv[2]))
        return
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(64)
    makers = [("txt", prose, 0.22), ("c", source, 0.14), ("log", log, 0.14), ("dll", program, 0.30),
              ("jpg", noise, 0.20)]
    index = 0
    for extension, make, share in makers:
        budget = int(TOTAL * share)
        while budget > 0:
            size = min(budget, int(rng.lognormvariate(11.5, 1.4)) + 1024, 6 * MIB)
            with open(os.path.join(folder, "file%03d.%s" % (index, extension)), "wb") as f:
                f.write(make(rng, size))
            budget -= size
            index += 1
    print("%d files" % index)


if __name__ == "__main__":
    main()
