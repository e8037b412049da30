#!/usr/bin/env python3
"""Packs files into a payload for the Windows builds' example stub.

The Windows builds cannot run the host's packer, so this writes the same merged data file (a 264-byte
header, one 296-byte record per entry, the contents back to back) as one zlib stream. The times are
fixed rather than taken from the files, so a checkout made at any time gives the same bytes. The host
test run lists the result with the packer's own reader.

    make_example_payload.py [--any-launch] OUTPUT LAUNCH_NAME FILE...

--any-launch lets the launch name match no entry, for the tests of such a payload.
"""
import calendar
import os
import struct
import sys
import zlib

NAME_FIELD = 260
SECONDS_1601_TO_1970 = 11644473600


def file_time(*utc):
    """A Windows file time: 100 ns ticks since 1601-01-01 UTC."""
    return (calendar.timegm(utc + (0, 0, 0)) + SECONDS_1601_TO_1970) * 10_000_000


# Three different times, so a test can tell the fields apart.
CREATION = file_time(2026, 1, 2, 3, 4, 5)
LAST_ACCESS = file_time(2026, 1, 3, 4, 5, 6)
LAST_WRITE = file_time(2026, 1, 4, 5, 6, 7)


def name_field(name):
    encoded = name.encode("ascii")
    if len(encoded) >= NAME_FIELD or any(c in name for c in '\\/:*?"<>|'):
        raise SystemExit(f"{name!r} cannot be an entry name")
    return encoded.ljust(NAME_FIELD, b"\0")


def merged_file(launch_name, paths, any_launch=False):
    contents = []
    for path in paths:
        with open(path, "rb") as source:
            contents.append(source.read())
    names = [os.path.basename(path) for path in paths]
    if launch_name not in names and not any_launch:
        raise SystemExit(f"launch name {launch_name!r} matches no entry")
    out = struct.pack("<I", len(paths)) + name_field(launch_name)
    for index, (name, data) in enumerate(zip(names, contents)):
        out += struct.pack("<IQQQII", index, CREATION, LAST_ACCESS, LAST_WRITE, 0, len(data)) + name_field(name)
    return out + b"".join(contents)


def main(argv):
    any_launch = len(argv) > 1 and argv[1] == "--any-launch"
    if any_launch:
        argv = argv[:1] + argv[2:]
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    output, launch_name, paths = argv[1], argv[2], argv[3:]
    payload = zlib.compress(merged_file(launch_name, paths, any_launch), 9)
    with open(output + ".part", "wb") as out:
        out.write(payload)
    os.replace(output + ".part", output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
