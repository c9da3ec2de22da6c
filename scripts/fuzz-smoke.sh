#!/usr/bin/env bash
# Builds the libFuzzer targets (linux-fuzz preset) and runs the request-handling
# target for SECONDS (default 60). Exits non-zero on a finding; the input that
# triggered it is kept in the build folder as fuzz-crash-*/fuzz-leak-*/...
#
#   scripts/fuzz-smoke.sh [SECONDS]
#   VH_FUZZ_BUILD=build/me-fuzz scripts/fuzz-smoke.sh 30   (own build folder)
set -euo pipefail

secs=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${VH_FUZZ_BUILD:-build/linux-fuzz}

cmake --preset linux-fuzz -B "$build" >/dev/null
cmake --build "$build" --target http_request_fuzz -j"${VH_JOBS:-2}"

# libFuzzer adds what it finds to the first folder; keep the checked-in seeds clean.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"

"$build/tests/fuzz/http_request_fuzz" \
  -max_total_time="$secs" -max_len=20000 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$build/fuzz-" \
  "$work/corpus" tests/fuzz/corpus/http
