#!/bin/sh
# check_install.sh BUILD_DIR VERSION: the installed program's --version, its manual's version and --help lines.
set -u
prefix=$(mktemp -d) version=$2 fails=0
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
cmake --install "$1" --prefix "$prefix/p" >"$prefix/log" 2>&1 || { cat "$prefix/log"; exit 1; }
prog=$prefix/p/bin/vornhale page=$prefix/p/share/man/man1/vornhale.1
[ "$("$prog" --version)" = "vornhale $version" ] || fail "--version printed '$("$prog" --version)'"
head -1 "$page" | grep -qF "\"Vorn-Hale $version\"" || fail "page header lacks the version"
"$prog" --help >"$prefix/help.txt" && [ -s "$prefix/help.txt" ] || fail "--help printed nothing"
MANWIDTH=200 man -l "$page" 2>/dev/null | col -bx | sed 's/^[[:space:]]*//; s/[[:space:]]*$//' >"$prefix/page.txt"
grep -q '^SYNOPSIS' "$prefix/page.txt" || fail "rendered page has no SYNOPSIS"
missing=$(sed 's/^[Uu]sage:[[:space:]]*//; s/^[[:space:]]*//; s/[[:space:]]*$//; /^$/d' "$prefix/help.txt" |
  grep -vxF -f "$prefix/page.txt") && fail "page lacks help lines: $missing"
[ "$fails" = 0 ] && echo "check_install: all passed"
