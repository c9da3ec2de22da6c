#!/usr/bin/env bash
# release_clean_clone.sh SOURCE_REPO DEPS WORK VERSION [NAME]
# A release as a maintainer makes it: clone the repository into WORK/NAME, run
# scripts/release.sh there (reusing the cross-built dependencies DEPS), then
# check the zip as a Windows user gets it: exactly the three files, the
# program passes the import/size/version checks, its self-test passes under
# Wine when started from the unpacked folder, and the README and notices say
# what they must. The zip stays in WORK/NAME-dist for the reproducibility test.
set -uo pipefail
repo=$1
deps=$2
work=$3
version=$4
name=${5:-clone}
here=$(cd "$(dirname "$0")" && pwd)
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

mkdir -p "$work"
work=$(cd "$work" && pwd)
rm -rf "${work:?}/$name" "$work/$name-build" "$work/$name-dist" "$work/$name-unpacked"
git clone -q --no-local "$repo" "$work/$name" || { echo "FAIL: git clone $repo"; exit 1; }
if ! (cd "$work/$name" && VH_DEPS=$deps VH_RELEASE_BUILD="$work/$name-build" VH_DIST="$work/$name-dist" \
      bash scripts/release.sh); then
  echo "FAIL: scripts/release.sh"
  exit 1
fi
zip=$work/$name-dist/vornhale-$version-win64.zip
[ -f "$zip" ] || { echo "FAIL: no $zip"; ls -la "$work/$name-dist"; exit 1; }

# Unpacked into an empty folder: exactly these files, in this order.
unpacked=$work/$name-unpacked
mkdir -p "$unpacked"
listing=$(unzip -Z1 "$zip" | tr '\n' ' ')
[ "$listing" = "vornhale.exe README.txt THIRD-PARTY-NOTICES.txt " ] || fail "zip holds: $listing"
unzip -q "$zip" -d "$unpacked" || fail "unzip"
sh "$here/check_exe.sh" "$unpacked/vornhale.exe" "$version" || fail "exe checks"

readme=$unpacked/README.txt
notices=$unpacked/THIRD-PARTY-NOTICES.txt
grep -q $'\r$' "$readme" || fail "README.txt without CRLF line ends"
for text in "Vorn-Hale $version" "cloudflared.exe" "next to vornhale.exe" \
    "https://github.com/cloudflare/cloudflared/releases" \
    'reg delete "HKCU\Software\Classes\*\shell\VornHaleShare" /f' \
    'reg delete "HKCU\Software\Classes\Directory\shell\VornHaleShare" /f'; do
  grep -qF -- "$text" "$readme" || fail "README.txt lacks: $text"
done
# Every library linked into the program, by the archive name the notices list
# and by a phrase of its own license text.
for pair in "libsodium.a|Frank Denis" "libqrcodegencpp.a|Project Nayuki" \
    "libmingw32.a|MinGW-w64" "libmingwex.a|mingw-w64-crt" "libpthread.a|winpthreads" \
    "libstdc++.a|GCC RUNTIME LIBRARY EXCEPTION" "libgcc.a|GNU GENERAL PUBLIC LICENSE" \
    "libgcc_eh.a|Version 3, 29 June 2007"; do
  lib=${pair%%|*}
  phrase=${pair#*|}
  tr -d '\r' <"$notices" | grep "^Linked: " | tr ',;' '\n\n' | sed 's/.*[ :]//' | grep -qxF -- "$lib" ||
    fail "notices do not name $lib"
  grep -qF -- "$phrase" "$notices" || fail "notices lack '$phrase' (license of $lib)"
done

# The self-test from the unpacked folder: a GUI program's console shows only
# in a terminal, so it runs in a private tmux server; Enter ends it.
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all
sock=vh-release-$$
cleanup() {
  tmux -L "$sock" kill-server 2>/dev/null
  wineserver -k 2>/dev/null
}
trap cleanup EXIT
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  timeout 300 wineboot -i >/dev/null 2>&1 || fail "cannot create $WINEPREFIX"
fi
rc=$work/selftest.rc
pane=$work/selftest.pane
rm -f "$rc"
tmux -L "$sock" new-session -d -s st -x 160 -y 120 -c "$unpacked" \
  "wine ./vornhale.exe --self-test; echo \$? >'$rc'"
shown=0
for _ in $(seq 1 180); do
  tmux -L "$sock" capture-pane -p -S - -J -t st >"$pane" 2>/dev/null
  if grep -q 'Press Enter to exit' "$pane"; then shown=1; break; fi
  [ -f "$rc" ] && break
  sleep 1
done
if [ "$shown" = 1 ]; then
  grep -qx '86/86 tests passed\.[[:space:]]*' "$pane" || { fail "no '86/86 tests passed.'"; cat "$pane"; }
  tmux -L "$sock" send-keys -t st Enter
  for _ in $(seq 1 30); do [ -f "$rc" ] && break; sleep 1; done
  [ "$(cat "$rc" 2>/dev/null)" = 0 ] || fail "self-test exit code '$(cat "$rc" 2>/dev/null)', want 0"
else
  fail "self-test never asked for Enter"
  cat "$pane"
fi

[ "$fails" = 0 ] && echo "release_clean_clone: all passed ($zip)"
[ "$fails" = 0 ]
