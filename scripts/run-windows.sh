#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine.
#
#   scripts/run-windows.sh [PATH]
#
# PATH (optional) is handed to the program as its path argument, as Explorer's
# "Share with Vorn-Hale" would. The window opens on $DISPLAY; without one, on a
# virtual display (Xvfb) started here. Everything this script starts (its
# Xvfb, the Wine server of its own prefix) is ended when it exits.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/bootstrap.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"${VH_JOBS:-2}" --target vornhale

exe="$here/build/windows/src/ui/win32/vornhale.exe"
export WINEPREFIX="${WINEPREFIX:-$here/build/windows/run-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"

xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
  n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  echo "run-windows: virtual display $DISPLAY (Xvfb pid $xvfb_pid)"
fi

[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1 || true

args=()
if [ $# -gt 0 ]; then
  # The program takes Windows paths; Wine maps / to drive Z:.
  args+=("$(winepath -w "$(realpath "$1")" 2>/dev/null)")
fi
set +e
wine "$exe" "${args[@]}"
code=$?
set -e
echo "run-windows: vornhale.exe exited with $code"
exit "$code"
