#!/usr/bin/env bash
# The main job: build Vorn-Hale and run it.
#
#   scripts/run.sh [PATH]          the desktop program (vornhale.exe) under Wine, on $DISPLAY or on a
#                                  virtual display started here; PATH is shared as if chosen in Explorer
#   scripts/run.sh share [--lan | --internet] [--link NAME] PATH...
#                                  the Linux terminal program; without arguments it shares a demo file
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "share" ]; then
  shift
  exec bash "$here/run-terminal.sh" "$@"
fi
exec bash "$here/run-windows.sh" "$@"
