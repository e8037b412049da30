#!/usr/bin/env bash
# The README's main command: build an installer from the files in examples/ and run it under Wine,
# headless. Prints the dialog's stages as they are seen, the files extracted and the exit code, and
# saves a screenshot of the dialog in the middle of a run in out/dialog.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
out=$PWD/out
mkdir -p "$out"

echo "== building the packer (Linux) and the stub (Windows x86-64, for 64-bit Wine)"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs" --target brimsole-pack >/dev/null
cmake --preset mingw-x86-64 >/dev/null
cmake --build --preset mingw-x86-64 -j "$jobs" --target fake_installer stub_driver >/dev/null
win64=build/x86-64

echo "== packing examples/ and the sample installer into a payload"
build/host/pack/brimsole-pack payload -o "$out/demo.payload" --launch install.bat \
  examples/installer/install.bat examples/readme.txt examples/data.bin "$win64/tests/wine/fake_installer.exe"
build/host/pack/brimsole-pack list "$out/demo.payload"

echo "== putting the payload into the stub"
cmake --preset mingw-x86-64 -DBRIMSOLE_DEMO_PAYLOAD="$out/demo.payload" >/dev/null
cmake --build --preset mingw-x86-64 -j "$jobs" --target brimsole-demo >/dev/null
cp "$win64/resources/brimsole-demo.exe" "$out/brimsole-demo.exe"
echo "$out/brimsole-demo.exe: $(stat -c %s "$out/brimsole-demo.exe") bytes"

echo "== running it under Wine (a fresh prefix in out/wine; the first start takes a few seconds)"
state=$out/wine
trap 'tests/wine/wine_env.sh cleanup "$state"' EXIT
tests/wine/wine_env.sh setup "$state"
temp=$out/demo-temp
rm -rf "$temp" && mkdir -p "$temp"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
status=0
tests/wine/wine_env.sh run "$state" "$win64/tests/wine/stub_driver.exe" \
  --env "TMP=$(windows_path "$temp")" --env "TEMP=$(windows_path "$temp")" --expect-exit 18 \
  "$(windows_path "$out/brimsole-demo.exe")" || status=$?

echo "== the run folder"
for folder in "$temp"/Brimsole*/; do
  echo "$folder"
  ls -l --time-style=+%Y-%m-%dT%H:%M:%S "$folder"
done
echo "== the sample installer's report"
cat "$temp"/Brimsole*/report.txt 2>/dev/null || echo "(none)"

echo "== screenshot"
tests/wine/screenshot.sh "$state" "$PWD/$win64" "$out/dialog.png" "$out/brimsole-demo.exe" &&
  echo "saved $out/dialog.png"
exit "$status"
