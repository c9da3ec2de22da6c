#!/usr/bin/env bash
# Builds the Linux terminal program and shares from the terminal until Ctrl-C.
#   scripts/run-terminal.sh                shares a small demo file on the same network
#   scripts/run-terminal.sh [vornhale share arguments]   e.g. --internet ~/report.pdf
# The link (and its QR code) is printed as soon as it is known.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/bootstrap.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j"${VH_JOBS:-2}" --target vornhale

args=("$@")
if [ ${#args[@]} -eq 0 ]; then
  demo_dir="$here/build/demo"
  mkdir -p "$demo_dir"
  demo="$demo_dir/vornhale-demo.txt"
  printf 'Hello from Vorn-Hale.\nThis small file was shared with scripts/run-terminal.sh.\n' > "$demo"
  args=(--lan "$demo")
fi

echo "Sharing ${args[*]} (Ctrl-C stops sharing)"
exec "$here/build/linux/src/ui/terminal/vornhale" share "${args[@]}"
