#!/bin/sh
# check_install.sh BUILD_DIR VERSION
# `cmake --install` into an empty prefix gives bin/vornhale and the manual
# page share/man/man1/vornhale.1; the installed program prints VERSION for
# --version, and the page carries every line of its --help text.
set -u
build=$1
version=$2
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"
prog=$prefix/bin/vornhale
page=$prefix/share/man/man1/vornhale.1
[ -x "$prog" ] || fail "no $prog"
[ -f "$page" ] || fail "no $page"
[ "$fails" = 0 ] || exit 1

out=$("$prog" --version)
[ "$out" = "vornhale $version" ] || fail "--version printed '$out', want 'vornhale $version'"
head -1 "$page" | grep -qF "\"Vorn-Hale $version\"" || fail "page header lacks the version: $(head -1 "$page")"

# The page as man renders it holds each line of the help text (roff escapes
# undone by the formatter; the usage lines become the synopsis).
"$prog" --help >"$prefix/help.txt" || fail "--help failed"
[ -s "$prefix/help.txt" ] || fail "--help printed nothing"
MANWIDTH=200 man -l "$page" 2>/dev/null | col -bx | sed 's/^[[:space:]]*//; s/[[:space:]]*$//' >"$prefix/page.txt"
grep -q '^SYNOPSIS' "$prefix/page.txt" || fail "rendered page has no SYNOPSIS"
while IFS= read -r line; do
  want=$(printf '%s' "$line" | sed 's/^[Uu]sage:[[:space:]]*//; s/^[[:space:]]*//; s/[[:space:]]*$//')
  [ -z "$want" ] && continue
  grep -qxF -- "$want" "$prefix/page.txt" || fail "page lacks help line: $want"
done <"$prefix/help.txt"

[ "$fails" = 0 ] && echo "check_install: all passed"
[ "$fails" = 0 ]
