#!/usr/bin/env bash
# Runs a Windows program under Wine with a wineserver of its own, and returns its exit status:
#   tests/run_under_wine.sh PROGRAM.exe [ARGS...]
# A fresh prefix in a temporary directory, a persistent server for the run, so the clipboard
# outlives the processes that fill it, and everything stopped and removed at the end. No X
# display is used: Wine keeps the clipboard in the wineserver.
set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/clipfiles-wine-XXXXXX")
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all                  # no debug channels, and no hint about 32-bit Wine
export WINEDLLOVERRIDES="mscoree,mshtml="  # no offer to install Mono or Gecko
export LC_ALL=C.UTF-8                  # Wine's ANSI code page follows the locale: 1252 here
unset DISPLAY WAYLAND_DISPLAY

stop() {
  # Stops the server of this prefix and every Wine process attached to it, and waits for it.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM HUP

mkdir "$WINEPREFIX"
# Should this script be killed before its trap runs, the server still ends by itself a minute
# after its last program has.
wineserver -p60
if ! wineboot -i >"$work/wineboot.log" 2>&1; then
  cat "$work/wineboot.log" >&2
  echo "run_under_wine.sh: wineboot failed" >&2
  exit 1
fi
wine "$@"
