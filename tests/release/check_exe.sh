#!/bin/sh
# check_exe.sh EXE VERSION: imports at start-up only KnownDLLs (which Windows takes from System32 alone) and the
# side-by-side common controls, < 5 MB, VERSION in resources, no link time. Any other DLL must be delay-loaded.
set -u
exe=$1 version=$2 fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
dump=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "FAIL: objdump cannot read $exe"; exit 1; }
dlls=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: *//p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
[ -n "$dlls" ] || fail "no import table found"
known='kernel32|ntdll|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|ws2_32|shlwapi|msvcrt|imm32|psapi'
known="$known|rpcrt4|sechost|setupapi|shcore|normaliz|nsi|wldap32|imagehlp|gdiplus|msctf|combase|clbcatq|coml2"
allowed="$known|comctl32"  # comctl32 6 comes side by side, as the manifest names it
bad=$(printf '%s\n' $dlls | grep -vxE "$allowed") && fail "imports at start-up $(echo $bad)"
size=$(stat -c %s "$exe")
[ "$size" -lt 5242880 ] || fail "$size bytes, want under 5 MB"
printf '%s\n' "$dump" | grep -q '^Time/Date[[:space:]]*Thu Jan  1 00:00:00 1970' || fail "PE header has a link time"
# The key, NUL, padding to 32 bits, then the value, all UTF-16.
utf16() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n'; }
hex=$(od -An -v -tx1 "$exe" | tr -d ' \n')
for key in FileVersion ProductVersion; do
  printf '%s' "$hex" | grep -Eq "$(utf16 "$key")0000(0000)?$(utf16 "$version")0000" || fail "no $key $version"
done
[ "$fails" = 0 ] && echo "check_exe: all passed ($(echo $dlls); $size bytes)"
