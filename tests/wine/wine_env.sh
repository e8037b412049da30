#!/usr/bin/env bash
# One Xvfb and one Wine prefix for a whole test run, kept under the build folder.
#   wine_env.sh setup STATE_DIR    start Xvfb, make a fresh prefix
#   wine_env.sh cleanup STATE_DIR  stop Wine and Xvfb
#   wine_env.sh run STATE_DIR PROGRAM ARGS...   run a Windows program in that prefix and display
set -euo pipefail
action=$1 state=$2
shift 2
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

free_display() {
  for n in $(seq 90 190); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then echo "$n"; return; fi
  done
  echo "no free X display" >&2
  exit 1
}

setup() {
  cleanup || true
  rm -rf "$state"
  mkdir -p "$state"
  local n
  n=$(free_display)
  # Detached, with its own output files, so CTest does not wait on it.
  setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  echo ":$n" >"$state/display"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  export DISPLAY=":$n" WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$wine" wineboot -i </dev/null >"$state/wineboot.log" 2>&1
  # Without a window manager, Wine waits 2 s for one on every hide and destroy unless windows are
  # unmanaged.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$state/wineboot.log" 2>&1
  # A program started before the prefix's server has settled may fail to create its window.
  "$wineserver" -w
}

cleanup() {
  if [ -d "$state/prefix" ]; then WINEPREFIX="$state/prefix" "$wineserver" -k 2>/dev/null || true; fi
  if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; rm -f "$state/xvfb.pid"; fi
}

run() {
  export DISPLAY
  DISPLAY=$(cat "$state/display")
  export WINEPREFIX="$state/prefix" WINEDEBUG=${WINEDEBUG:--all}
  # Processes the program starts in the prefix (a shell, a console host) may outlive it; given a file
  # instead of the test's pipe, they cannot keep CTest waiting for the end of the output.
  local output status=0
  output=$(mktemp "$state/run.XXXXXX")
  "$wine" "$@" </dev/null >"$output" 2>&1 || status=$?
  cat "$output"
  rm -f "$output"
  return "$status"
}

"$action" "$@"
