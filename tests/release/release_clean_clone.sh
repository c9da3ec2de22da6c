#!/usr/bin/env bash
# release_clean_clone.sh REPO DEPS WORK VERSION: a fresh clone's release zip and SHA256SUMS checked; rebuilt
# elsewhere: same bytes.
set -uo pipefail
repo=$1 deps=$2 work=$3 version=$4 fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
# release DIR COMMIT [FILE_TIME]: clone into WORK/DIR, release into WORK/DIR-dist.
release() {
  local src=$work/$1
  rm -rf "$src" "$src-build" "$src-dist" && mkdir -p "$src" || return 1
  git clone -q --no-local "$repo" "$src" && git -C "$src" checkout -q "$2" || return 1
  [ -z "${3:-}" ] || find "$src" -path "$src/.git" -prune -o -type f -exec touch -d "$3" {} +
  (cd "$src" && VH_DEPS=$deps VH_RELEASE_BUILD="$src-build" VH_DIST="$src-dist" bash scripts/release.sh)
}
mkdir -p "$work" && work=$(cd "$work" && pwd)
release clone "$(git -C "$repo" rev-parse HEAD)" || { echo "FAIL: release of a fresh clone"; exit 1; }
zip=$work/clone-dist/vornhale-$version-win64.zip unpacked=$work/unpacked
rm -rf "$unpacked" && mkdir -p "$unpacked" && unzip -q "$zip" -d "$unpacked" || { echo "FAIL: unzip $zip"; exit 1; }
(cd "$work/clone-dist" && sha256sum -c --strict SHA256SUMS) || fail "sha256sum -c does not accept SHA256SUMS"
[ "$(wc -l <"$work/clone-dist/SHA256SUMS")" = 1 ] || fail "SHA256SUMS holds more than the zip's line"
listing=$(unzip -Z1 "$zip" | tr '\n' ' ')
[ "$listing" = "vornhale.exe README.txt THIRD-PARTY-NOTICES.txt " ] || fail "zip holds: $listing"
sh "$(dirname "$0")/check_exe.sh" "$unpacked/vornhale.exe" "$version" || fail "exe checks"
readme=$unpacked/README.txt notices=$unpacked/THIRD-PARTY-NOTICES.txt
grep -q $'\r$' "$readme" || fail "README.txt without CRLF line ends"
for text in "Vorn-Hale $version" "https://github.com/cloudflare/cloudflared/releases" \
    'reg delete "HKCU\Software\Classes\*\shell\VornHaleShare" /f' \
    'reg delete "HKCU\Software\Classes\Directory\shell\VornHaleShare" /f'; do
  grep -qF -- "$text" "$readme" || fail "README.txt lacks: $text"
done
# Every library linked in: named on a "Linked:" line and by a phrase of its license.
for pair in "libsodium.a|Frank Denis" "libqrcodegencpp.a|Project Nayuki" "libmingw32.a|MinGW-w64" \
    "libmingwex.a|mingw-w64-crt" "libpthread.a|winpthreads" "libstdc++.a|GCC RUNTIME LIBRARY EXCEPTION" \
    "libgcc.a|GNU GENERAL PUBLIC LICENSE" "libgcc_eh.a|Version 3, 29 June 2007"; do
  tr -d '\r' <"$notices" | grep "^Linked: " | tr ',;' '\n\n' | sed 's/.*[ :]//' | grep -qxF -- "${pair%%|*}" ||
    fail "notices do not name ${pair%%|*}"
  grep -qF -- "${pair#*|}" "$notices" || fail "notices lack '${pair#*|}'"
done
release second/elsewhere "$(git -C "$work/clone" rev-parse HEAD)" '2001-02-03 04:05:06' || fail "second release"
for f in "${zip##*/}" SHA256SUMS; do
  cmp "$work/clone-dist/$f" "$work/second/elsewhere-dist/$f" || fail "the second release's $f differs"
done
[ "$fails" = 0 ] && echo "release_clean_clone: all passed"
