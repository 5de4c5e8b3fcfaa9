#!/usr/bin/env python3
"""Writes the seed corpus of one fuzz target into a folder.

inflate: raw Deflate streams (RFC 1951) of a few texts at several levels and strategies, so that
stored, fixed-code and dynamic-code blocks are all present. extract: small ZIP archives made with
Python's zipfile (stored, deflated, empty and folder entries, streamed entries with a data
descriptor, data in front of the archive) and one traditionally encrypted with the engine's
built-in password (APPNOTE 6.1). roundtrip: the target's settings bytes (fuzz/roundtrip.cpp) for
every data shape with both compressors, every zlib level, window size, memory level, strategy
and kind of flush, and every libdeflate level, the shapes' random choices left to the target's
generator; the window's end is reached in most."""
import io
import os
import random
import struct
import sys
import zipfile
import zlib

DEFAULT_PASSWORD = b"Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E"


def samples():
    rng = random.Random(1951)
    text = b"".join(b"line %d of a text that repeats itself\n" % i for i in range(300))
    noise = bytes(rng.getrandbits(8) for _ in range(3000))
    runs = b"a" * 1000 + b"b" * 300 + bytes(range(256)) * 4
    return {"text": text, "noise": noise, "runs": runs, "tiny": b"x", "empty": b""}


def deflate(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    packer = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return packer.compress(data) + packer.flush()


def inflate_seeds():
    for name, data in samples().items():
        for level in (0, 1, 9):
            yield "%s-l%d" % (name, level), deflate(data, level)
        yield name + "-fixed", deflate(data, 9, zlib.Z_FIXED)
        yield name + "-huffman", deflate(data, 9, zlib.Z_HUFFMAN_ONLY)


def crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ (0xEDB88320 if c & 1 else 0)
        table.append(c)
    return table


def encrypt(data, check_byte, password=DEFAULT_PASSWORD):
    """Traditional PKWARE encryption with a fixed encryption header, APPNOTE 6.1.5."""
    table = crc_table()
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(c):
        keys[0] = (keys[0] >> 8) ^ table[(keys[0] ^ c) & 0xFF]
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = (keys[2] >> 8) ^ table[(keys[2] ^ (keys[1] >> 24)) & 0xFF]

    for c in password:
        update(c)
    out = bytearray()
    for c in bytes(range(11)) + bytes([check_byte]) + data:
        t = (keys[2] | 2) & 0xFFFF
        out.append(c ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        update(c)
    return bytes(out)


def encrypted_archive(name, data):
    crc = zlib.crc32(data)
    body = encrypt(deflate(data, 6), crc >> 24)
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 1, 8, 0, 0x21, crc, len(body), len(data), len(name), 0)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 1, 8, 0, 0x21, crc, len(body), len(data),
                          len(name), 0, 0, 0, 0, 0, 0) + name
    start = len(local) + len(name) + len(body)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), start, 0)
    return local + name + body + central + end


def archive(entries, method, stream=False):
    buffer = io.BytesIO()

    class Unseekable:  # makes zipfile write data descriptors, as streaming archivers do
        def write(self, b):
            return buffer.write(b)

        def flush(self):
            pass

    with zipfile.ZipFile(Unseekable() if stream else buffer, "w", method) as z:
        for name, data in entries:
            # A fixed time stamp, so that the seeds come out the same on every run.
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 12, 0, 0))
            info.external_attr = (0o40775 << 16 | 0x10) if name.endswith("/") else 0o600 << 16
            z.writestr(info, data, compress_type=method)
    return buffer.getvalue()


def extract_seeds():
    s = samples()
    entries = [("a.txt", s["text"]), ("sub/", b""), ("sub/noise.bin", s["noise"]), ("empty", b"")]
    yield "stored", archive(entries, zipfile.ZIP_STORED)
    yield "deflated", archive(entries, zipfile.ZIP_DEFLATED)
    yield "streamed", archive(entries[:1], zipfile.ZIP_DEFLATED, stream=True)
    yield "prefixed", b"MZ" + bytes(200) + archive(entries[2:], zipfile.ZIP_DEFLATED)
    yield "encrypted", encrypted_archive(b"runs.bin", s["runs"])


SHAPES = ["zeros", "far", "text", "random", "skewed", "ends", "patchwork"]
STRATEGIES = ["default", "filtered", "huffman", "rle", "fixed"]
FLUSHES = ["none", "partial", "sync", "full", "block"]


def zlib_settings(rng, level, window_bits, mem_level, strategy, flush):
    """The four settings bytes that roundtrip.cpp reads as these zlib settings, in pieces."""
    while True:
        first = rng.getrandbits(32)
        if (first % 10, 9 + (first >> 4) % 7, 1 + (first >> 8) % 9, (first >> 12) % 5,
                (first >> 16) % 5) == (level, window_bits, mem_level, strategy, flush) \
                and (first >> 27) % 4 != 0:
            return struct.pack("<I", first)


def roundtrip_seeds():
    rng = random.Random(258)
    for index in range(60):
        shape = index % len(SHAPES)
        level, window_bits, mem_level = index % 10, 9 + index % 7, 1 + index % 9
        strategy, flush = index % 5, (index // 5) % 5
        size_bits = 17 if index % 15 == 0 else rng.choice([15, 16])
        header = bytes([shape << 1]) + zlib_settings(rng, level, window_bits, mem_level, strategy, flush)
        name = "zlib-%s-l%d-w%d-m%d-%s-%s" % (SHAPES[shape], level, window_bits, mem_level,
                                              STRATEGIES[strategy], FLUSHES[flush])
        yield name, header + bytes([size_bits, rng.getrandbits(8)]) + rng.randbytes(16)
    # Records against every window end (the "ends" shape) over four windows, at the zlib settings
    # and libdeflate levels where a decoder's window-end fault first showed.
    ends = SHAPES.index("ends")
    for level, strategy in ((1, 0), (6, 0), (9, 0), (6, 1), (8, 4)):
        header = bytes([ends << 1]) + zlib_settings(rng, level, 15, 8, strategy, 0)
        name = "zlib-ends-4w-l%d-%s" % (level, STRATEGIES[strategy])
        yield name, header + bytes([17, 255]) + rng.randbytes(16)
    for level in (1, 6, 12):
        yield "libdeflate-ends-4w-l%d" % level, bytes([ends << 1 | 1, level, 0, 0, 0, 17, 255]) + rng.randbytes(16)
    for level in range(13):
        shape = level % len(SHAPES)
        header = bytes([shape << 1 | 1, level, 0, 0, 0, rng.choice([15, 16, 17]), rng.getrandbits(8)])
        yield "libdeflate-%s-l%d" % (SHAPES[shape], level), header + rng.randbytes(16)


def main():
    target, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    seeds = {"inflate": inflate_seeds, "extract": extract_seeds, "roundtrip": roundtrip_seeds}
    for name, data in seeds[target]():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
