#!/bin/sh
# help_to_man.sh PROGRAM VERSION OUT
# Writes the manual page OUT from what `PROGRAM --help` prints, so the page and
# the help text never drift apart. The help's first paragraph (its "usage:"
# lines) becomes the synopsis, the rest the description, laid out as printed.
set -eu
prog=$1
version=$2
out=$3
help=$("$prog" --help) || { echo "help_to_man: '$prog --help' failed" >&2; exit 1; }
printf '%s\n' "$help" | awk -v version="$version" '
  # Text as troff reads it: backslashes and hyphens escaped, no line that
  # starts with a control character.
  function esc(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (s ~ /^[.\047]/) s = "\\&" s
    return s
  }
  BEGIN {
    printf ".TH VORNHALE 1 \"\" \"Vorn-Hale %s\" \"User Commands\"\n", version
    printf ".SH NAME\nvornhale \\- share files or a folder through a link\n"
    printf ".SH SYNOPSIS\n"
    part = "synopsis"
  }
  part == "synopsis" && /^[[:space:]]*$/ {
    if (!synopsis) { print "help text has no usage line" > "/dev/stderr"; exit 1 }
    printf ".SH DESCRIPTION\n.nf\n"
    part = "description"
    next
  }
  part == "synopsis" {
    line = $0
    sub(/^[Uu]sage:[[:space:]]*/, "", line)
    sub(/^[[:space:]]+/, "", line)
    if (line !~ /^vornhale( |$)/) { print "usage line without the program name: " $0 > "/dev/stderr"; exit 1 }
    sub(/^vornhale ?/, "", line)
    if (synopsis) print ".br"
    printf ".B vornhale\n%s\n", esc(line)
    synopsis = 1
    next
  }
  { print esc($0) }
  END {
    if (part != "description") { print "help text has no description" > "/dev/stderr"; exit 1 }
    print ".fi"
  }
' >"$out.tmp"
mv "$out.tmp" "$out"
