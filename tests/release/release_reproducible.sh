#!/usr/bin/env bash
# release_reproducible.sh SOURCE_REPO DEPS WORK VERSION
# A second release of the same commit, cloned to another path and built in
# another folder, is byte for byte the first one (release_clean_clone's).
set -uo pipefail
repo=$1
deps=$2
work=$3
version=$4
zipname=vornhale-$version-win64.zip
first=$work/clone-dist/$zipname
[ -f "$first" ] || { echo "FAIL: no first release $first (release_clean_clone)"; exit 1; }
commit=$(git -C "$work/clone" rev-parse HEAD)

again=$work/second/elsewhere
rm -rf "$work/second"
mkdir -p "$work/second"
git clone -q --no-local "$repo" "$again" || { echo "FAIL: git clone"; exit 1; }
git -C "$again" checkout -q "$commit" || { echo "FAIL: checkout $commit"; exit 1; }
# Another file time for the sources: only the commit's time may count.
find "$again" -path "$again/.git" -prune -o -type f -exec touch -d '2001-02-03 04:05:06' {} +
(cd "$again" && VH_DEPS=$deps VH_RELEASE_BUILD="$work/second/build" VH_DIST="$work/second/dist" \
  bash scripts/release.sh) || { echo "FAIL: scripts/release.sh"; exit 1; }
second=$work/second/dist/$zipname

fails=0
exe1=$(unzip -p "$first" vornhale.exe | sha256sum | cut -d' ' -f1)
exe2=$(unzip -p "$second" vornhale.exe | sha256sum | cut -d' ' -f1)
echo "vornhale.exe: $exe1 / $exe2"
[ "$exe1" = "$exe2" ] || { echo "FAIL: vornhale.exe differs between the two builds"; fails=1; }
zip1=$(sha256sum <"$first" | cut -d' ' -f1)
zip2=$(sha256sum <"$second" | cut -d' ' -f1)
echo "$zipname: $zip1 / $zip2"
[ "$zip1" = "$zip2" ] || { echo "FAIL: the zips differ"; fails=1; }
if [ "$fails" != 0 ]; then
  cmp -l <(unzip -p "$first" vornhale.exe) <(unzip -p "$second" vornhale.exe) | head -20
fi
[ "$fails" = 0 ] && echo "release_reproducible: same bytes"
[ "$fails" = 0 ]
