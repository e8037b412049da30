#!/usr/bin/env bash
# Takes a picture of the progress dialog in the middle of a run, in a Wine virtual desktop so that
# the caption bar is drawn, and checks that the picture is not blank.
#   screenshot.sh STATE_DIR WIN64_DIR OUTPUT.png [STUB.exe]
# STATE_DIR is the test run's Xvfb and prefix (wine_env.sh). The driver holds the stub still at one of
# the copy loop's texts; the picture is taken meanwhile and the driver lets the run finish.
set -euo pipefail
state=$1 win64=$2 output=$3 stub=${4:-$2/resources/brimsole-stub-example.exe}
wine=/usr/lib/wine/wine64
for tool in import identify; do
  command -v "$tool" >/dev/null || { echo "$tool not found: install imagemagick (scripts/install-deps.sh)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/brimsole-shot.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Wine's drive Z: is the Linux root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

export DISPLAY WINEPREFIX="$state/prefix" WINEDEBUG=-all
DISPLAY=$(cat "$state/display")
"$wine" explorer /desktop=shot,640x480 "$(windows_path "$win64/tests/wine/stub_driver.exe")" \
  --log "$(windows_path "$work/driver.log")" --expect-exit 18 \
  --freeze-when-status 'Copying ...\readme.txt' --freeze-when-status 'Copying ...\data.bin' \
  --freeze-file "$(windows_path "$work/frozen")" \
  "$(windows_path "$stub")" </dev/null >"$work/explorer.out" 2>&1 &
desktop=$!

for _ in $(seq 300); do [ -e "$work/frozen" ] && break; sleep 0.1; done
if [ ! -e "$work/frozen" ]; then
  echo "the driver never held the dialog at a copy text"
  cat "$work/driver.log" 2>/dev/null || true
  kill "$desktop" 2>/dev/null || true
  exit 1
fi
# The stub's UI thread still runs: give it time to paint the text that the driver saw.
sleep 0.5
mkdir -p "$(dirname "$output")"
import -window "shot - Wine desktop" "$output"
rm -f "$work/frozen"
wait "$desktop" || true
cat "$work/driver.log"
grep -q '^PASSED' "$work/driver.log" || { echo "the driven run failed"; exit 1; }

# A desktop without the dialog is one flat colour: no deviation at all.
deviation=$(identify -format '%[fx:standard_deviation]' "$output")
size=$(identify -format '%wx%h' "$output")
echo "$output: $size, standard deviation $deviation"
[ "$size" = 640x480 ] || { echo "expected the 640x480 desktop"; exit 1; }
awk -v d="$deviation" 'BEGIN { exit !(d > 0.01) }' || { echo "the picture is blank"; exit 1; }
