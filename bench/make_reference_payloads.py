#!/usr/bin/env python3
"""Makes the two reference payloads the benchmarks inflate.

Both inflate to a merged data file of 15,413,709 bytes with three entries, the size of the payload
we ship. "mixed" compresses like it, to about 93%: mostly incompressible bytes with some text.
"text" is highly compressible. The bytes come from a seeded generator, so every run makes the same files.
"""
import pathlib
import random
import subprocess
import sys

MERGED_SIZE = 15_413_709
HEADERS = 264 + 3 * 296
WORDS = ("install setup product version component feature registry shortcut folder file "
         "logging started stopped action property value windows user system").split()


def text_bytes(rng, size):
    out = bytearray()
    while len(out) < size:
        out += (" ".join(rng.choice(WORDS) for _ in range(12)) + "\r\n").encode()
    return bytes(out[:size])


def mixed_bytes(rng, size):
    # Random blocks with a share of text between them, as an installer database with strings.
    out = bytearray()
    while len(out) < size:
        out += rng.randbytes(60_000)
        out += text_bytes(rng, 12_000)
    return bytes(out[:size])


def make_set(folder, bulk_maker, rng):
    folder.mkdir(parents=True, exist_ok=True)
    small = {"install.bat": b"@echo off\r\nstart /wait msiexec /i product.msi /l*v LOG.TXT\r\n",
             "readme.txt": text_bytes(rng, 40_000)}
    bulk_size = MERGED_SIZE - HEADERS - sum(len(b) for b in small.values())
    files = {"install.bat": small["install.bat"], "product.msi": bulk_maker(rng, bulk_size),
             "readme.txt": small["readme.txt"]}
    for name, data in files.items():
        (folder / name).write_bytes(data)
    return [folder / name for name in files]


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_reference_payloads.py BRIMSOLE_PACK OUT_DIR")
    pack, out = sys.argv[1], pathlib.Path(sys.argv[2])
    for name, maker in (("mixed", mixed_bytes), ("text", text_bytes)):
        files = make_set(out / name, maker, random.Random(name))
        payload = out / f"{name}.payload"
        subprocess.run([pack, "payload", "-o", str(payload), "--launch", "install.bat", *map(str, files)],
                       check=True)
        print(f"{payload}: {payload.stat().st_size} bytes, "
              f"{100.0 * payload.stat().st_size / MERGED_SIZE:.1f}% of {MERGED_SIZE}")


if __name__ == "__main__":
    main()
