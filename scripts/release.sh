#!/usr/bin/env bash
# Builds the Windows release of the committed sources (HEAD):
#
#   dist/vornhale-VERSION-win64.zip   vornhale.exe, README.txt, THIRD-PARTY-NOTICES.txt
#   dist/SHA256SUMS                    the zip's SHA-256, as `sha256sum -c` reads it
#
# Two runs on the same commit give the same bytes, wherever the checkout is.
# The notices are the Debian copyright files of the packages that hold every
# library the link took code from (read from the linker's map).
#
#   VH_DEPS=DIR           cross-built dependencies (default .cache/win64; when
#                         unset and missing, scripts/bootstrap.sh builds them)
#   VH_RELEASE_BUILD=DIR  build folder (default build/release-win)
#   VH_DIST=DIR           where the zip goes (default dist)
#   VH_JOBS=N             parallel compile jobs (default 2)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${VH_RELEASE_BUILD:-$here/build/release-win}
dist=${VH_DIST:-$here/dist}
jobs=${VH_JOBS:-2}
if [ -n "${VH_DEPS:-}" ]; then
  deps=$VH_DEPS
else
  bash scripts/bootstrap.sh
  deps=$here/.cache/win64
fi
[ -f "$deps/lib/libsodium.a" ] || { echo "release: no cross-built dependencies in $deps" >&2; exit 1; }
mkdir -p "$build" "$dist"
build=$(cd "$build" && pwd)
dist=$(cd "$dist" && pwd)

# The committed sources only: whatever else lies in the working tree stays out.
commit=$(git rev-parse HEAD)
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
src=$build/source
rm -rf "$src" "$build/stage"
mkdir -p "$src" "$build/stage"
git archive --format=tar "$commit" | tar -x -C "$src"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: uncommitted changes are left out; building $commit"
fi

version=$(sed -n 's/^project(VornHale VERSION \([0-9][0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
echo "release: Vorn-Hale $version from $commit"

out=$build/out
(cd "$src" && cmake --preset windows -B "$out" -DVH_BUILD_TESTS=OFF -DVH_DEPS="$deps" >"$build/configure.log") ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$out" --target vornhale -j"$jobs" >"$build/build.log" 2>&1 ||
  { tail -60 "$build/build.log"; exit 1; }

stage=$build/stage
cp "$out/src/ui/win32/vornhale.exe" "$stage/vornhale.exe"
crlf() { sed 's/\r*$/\r/'; }
sed "s/@VERSION@/$version/g" "$src/packaging/windows/README.txt" | crlf >"$stage/README.txt"

# --- Notices: archive -> Debian package -> copyright file.
map=$out/vornhale.map
[ -f "$map" ] || { echo "release: no link map $map" >&2; exit 1; }
# Archives the link took members from, and the start-up objects it loaded.
inputs=$( { sed -n '/^Archive member included/,/^Discarded input sections/p' "$map" |
              sed -n 's/^\([^ (][^(]*\.a\)(.*/\1/p'
            sed -n 's/^LOAD \(\/.*\.o\)$/\1/p' "$map"; } | sort -u)
declare -A pkgLibs=()
while IFS= read -r f; do
  [ -n "$f" ] || continue
  case "$f" in /*) ;; *) continue ;; esac  # the program's own archives
  real=$(readlink -f "$f")
  lib=$(basename "$real")
  case "$real" in
    "$(readlink -f "$out")"/delay-import/*) continue ;;  # delay-import tables made by dlltool from the DLLs' export names
    "$(readlink -f "$deps")"/*)
      # Cross-built by scripts/bootstrap.sh from these packages' Debian sources.
      case "$lib" in
        libsodium.a) pkg=libsodium-dev ;;
        libqrcodegencpp.a) pkg=libqrcodegencpp-dev ;;
        *) echo "release: $lib from $deps has no known Debian package" >&2; exit 1 ;;
      esac ;;
    *)
      pkg=$(dpkg -S "$real" 2>/dev/null | head -1 | cut -d: -f1) || true
      [ -n "$pkg" ] || { echo "release: no Debian package holds $real" >&2; exit 1; } ;;
  esac
  pkgLibs[$pkg]="${pkgLibs[$pkg]:-}${pkgLibs[$pkg]:+, }$lib"
done <<<"$inputs"

title() {
  case "$1" in
    libsodium-dev) echo "libsodium" ;;
    libqrcodegencpp-dev) echo "qrcodegen (QR Code generator library)" ;;
    mingw-w64-x86-64-dev) echo "MinGW-w64 runtime, winpthreads and Windows import libraries" ;;
    g++-mingw-w64-*|gcc-mingw-w64-*) echo "GCC runtime: libstdc++, libgcc (GPL 3 with the GCC Runtime Library Exception)" ;;
    *) echo "$1" ;;
  esac
}
rule=$(printf '=%.0s' {1..76})
declare -A seen=()
gpl3=0
{
  echo "Vorn-Hale $version (vornhale.exe) contains code from the libraries below."
  echo "Their copyright and license texts follow, as Debian ships them."
  # Packages sharing one copyright file (the GCC front ends) become one section.
  for pkg in $(printf '%s\n' "${!pkgLibs[@]}" | sort); do
    copyright=$(readlink -f "/usr/share/doc/$pkg/copyright")
    [ -f "$copyright" ] || { echo "release: $pkg has no copyright file" >&2; exit 1; }
    key=$copyright
    seen[$key]="${seen[$key]:-}${seen[$key]:+; }$pkg: ${pkgLibs[$pkg]}"
  done
  for key in $(printf '%s\n' "${!seen[@]}" | sort); do
    first=${seen[$key]%%:*}
    echo
    echo "$rule"
    echo "$(title "$first")"
    echo "Linked: ${seen[$key]}"
    echo "Copyright file: $key"
    echo "$rule"
    echo
    cat "$key"
    case "$first" in g++-mingw-w64-*|gcc-mingw-w64-*) gpl3=1 ;; esac
  done
  if [ "$gpl3" = 1 ]; then
    echo
    echo "$rule"
    echo "GNU General Public License version 3 (referred to by the GCC runtime above)"
    echo "License file: /usr/share/common-licenses/GPL-3"
    echo "$rule"
    echo
    cat /usr/share/common-licenses/GPL-3
  fi
} | crlf >"$stage/THIRD-PARTY-NOTICES.txt"

# --- The archive: fixed order, modes and times (the commit's, in UTC).
files=(vornhale.exe README.txt THIRD-PARTY-NOTICES.txt)
chmod 0644 "$stage"/*
touch -h -d "@$SOURCE_DATE_EPOCH" "$stage"/*
zipname=vornhale-$version-win64.zip
rm -f "$build/$zipname"
(cd "$stage" && TZ=UTC zip -X -D -9 -q "$build/$zipname" "${files[@]}")
mv -f "$build/$zipname" "$dist/$zipname"
# The sum file names the zip alone (no folder), so it checks wherever both lie.
(cd "$dist" && sha256sum -- "$zipname" >SHA256SUMS.new && mv -f SHA256SUMS.new SHA256SUMS)
echo "release: $dist/$zipname"
echo "release: $dist/SHA256SUMS"
sha256sum "$dist/$zipname" "$stage/vornhale.exe"
