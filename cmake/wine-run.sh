#!/bin/sh
# Runs a Windows test program under Wine (the emulator of the Windows build).
# Its output goes through a file, not straight into the caller's pipe: a Wine
# helper that outlives the program (a headless conhost.exe of a child it
# started) would otherwise keep ctest's output pipe open and ctest waiting.
out=$(mktemp "${TMPDIR:-/tmp}/vh-wine-run.XXXXXX") || exit 1
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
