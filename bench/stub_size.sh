#!/usr/bin/env bash
# Builds the shipped i686 stub and reports its size without a payload, stripped, against the
# 64 KiB target. Over the target, it lists what takes the space: the sections, and the library
# members and object files that bring in the most code and data.
# Usage: bench/stub_size.sh   (exit status 1 when over the target)
set -euo pipefail
cd "$(dirname "$0")/.."
target=$((64 * 1024))
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j 2 --target brimsole-stub >/dev/null
build=build/i686/resources
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$build/brimsole-stub.exe" "$work/stub.exe"
i686-w64-mingw32-strip "$work/stub.exe"
size=$(stat -c %s "$work/stub.exe")
echo "i686 stub, no payload, stripped: $size bytes ($(( (size + 1023) / 1024 )) KiB); target $target bytes"
[ "$size" -le "$target" ] && exit 0

echo "== sections (bytes)"
i686-w64-mingw32-objdump -h "$work/stub.exe" |
  /usr/bin/python3 -c 'import sys
for f in (line.split() for line in sys.stdin):
    if len(f) > 2 and f[0].isdigit(): print(f"{f[1]:10} {int(f[2], 16):7}")'

# Relinks the same objects with the build's own flags and a link map, to see who brings what.
( cd "$build" &&
  link=$(sed -n 's/^\(.*-o brimsole-stub\.exe\).*$/\1/p' CMakeFiles/brimsole-stub.dir/link.txt) &&
  eval "${link/-o brimsole-stub.exe/-o $work/mapped.exe} -Wl,-Map,$work/stub.map" \
       "@CMakeFiles/brimsole-stub.dir/linkLibs.rsp" ) || { echo "relink for the map failed" >&2; exit 1; }
echo "== largest contributors (bytes of code and data in the image, by object file)"
/usr/bin/python3 - "$work/stub.map" <<'PY'
import collections, re, sys
totals = collections.Counter()
in_map = keep = False
pending = False
for line in open(sys.argv[1]):
    if line.startswith("Linker script and memory map"):
        in_map = True
        continue
    if not in_map:
        continue
    if re.match(r"\.\w", line):  # an output section: count only those that reach the image
        keep = not line.startswith((".debug", ".reloc"))
        continue
    fields = line.split()
    if not keep or not fields:
        continue
    if len(fields) == 1 and fields[0].startswith("."):
        pending = True  # a long input-section name; its address and size follow on the next line
        continue
    if len(fields) == 4 and fields[0].startswith("."):
        fields = fields[1:]
    elif not (pending and len(fields) == 3):
        continue
    pending = False
    address, size, source = fields
    if address.startswith("0x") and size.startswith("0x") and int(address, 16) and int(size, 16):
        totals[source.rsplit("/", 1)[-1]] += int(size, 16)
for source, size in totals.most_common(25):
    print(f"{size:7} {source}")
PY
exit 1
