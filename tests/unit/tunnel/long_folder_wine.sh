#!/bin/sh
# long_folder_wine.sh CLIENT_DOUBLE: a program whose folder's path is longer than 260 characters, started from the
# shell as Explorer would, finds its own folder (the tunnel client's double reads its script there).
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/$(printf 'a%.0s' $(seq 100))/$(printf 'b%.0s' $(seq 100))/$(printf 'c%.0s' $(seq 100))
mkdir -p "$dir" && cp "$1" "$dir/cloudflared.exe" && printf 'print found its folder\nexit 0\n' >"$dir/script.txt" ||
  exit 1
# Output through a file: a service Wine starts on the way may hold a pipe open. Without its folder the double
# finds no script and waits: the time-out ends it.
VH_FAKE_TUNNEL_DIR= timeout 60 wine "$dir/cloudflared.exe" tunnel </dev/null >"$work/out" 2>&1
out=$(tr -d '\r' <"$work/out")
[ "$out" = "found its folder" ] || { echo "FAIL: the double printed '$out' from a ${#dir}-character folder"; exit 1; }
echo "long_folder_wine: passed (${#dir}-character folder)"
