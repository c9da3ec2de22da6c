#!/bin/sh
# selftest_wine.sh EXE PREFIX EXPECTED_CHECKS: the self-test's console in a private tmux server, Enter sent.
set -u
exe=$(realpath -m "$1")
export WINEPREFIX="$(realpath -m "$2")" WINEDEBUG=-all  # Wine refuses a relative prefix
sock=vh-selftest-$$ work=$(mktemp -d) fails=0
trap 'tmux -L "$sock" kill-server 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
awk -F' [|] ' '/^#/ {next} {p = $1; if (!sub(/: .*/, ": ", p)) p = ""
  print "[ ok ] " $1; for (i = 2; i <= NF; i++) print "[ ok ] " p $i}' "$3" >"$work/want"
[ -d "$WINEPREFIX/drive_c" ] || timeout 300 wineboot -i >/dev/null 2>&1 || { echo "no prefix"; exit 1; }
dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Vorn-Hale"
mkdir -p "$dir" && head -c 64 /dev/urandom >"$work/key" && cp "$work/key" "$dir/identity.key" || exit 1
start() { tmux -L "$sock" new-session -d -s "$1" -x 200 -y 150 "wine '$exe' $2; echo \$? >'$work/$1.rc'"; }
wait_for() { n=$1; shift; until "$@"; do [ "$n" -gt 0 ] || return 1; sleep 1; n=$((n - 1)); done; }
pane() { tmux -L "$sock" capture-pane -p -S - -J -t "$1" >"$work/$1.pane" 2>/dev/null; }
prompt_shown() { pane st && grep -q 'Press Enter to exit' "$work/st.pane"; }
# The self-test: the check lines, the summary, Enter, exit 0; the user's key kept, nothing left.
start st --self-test
if wait_for 120 prompt_shown; then
  grep '^\[' "$work/st.pane" | sed 's/[[:space:]]*$//' | diff "$work/want" - || fail "check lines differ"
  grep -qx '86/86 tests passed\.[[:space:]]*' "$work/st.pane" || fail "no '86/86 tests passed.'"
  [ -f "$work/st.rc" ] && fail "ended before Enter was pressed"
  tmux -L "$sock" send-keys -t st Enter
  wait_for 30 test -f "$work/st.rc" || fail "no exit after Enter"
  [ "$(cat "$work/st.rc" 2>/dev/null)" = 0 ] || fail "exit code $(cat "$work/st.rc" 2>/dev/null), want 0"
else
  fail "prompt never shown" && cat "$work/st.pane"
fi
cmp -s "$work/key" "$dir/identity.key" || fail "user's key file changed"
[ "$(ls "$dir")" = identity.key ] || fail "left behind: $(ls "$dir")"
# A near miss starts the program normally: still running or ended with 0 (handed over).
start nm --self-testx
wait_for 20 test -f "$work/nm.rc"
pane nm
grep -q -e 'tests passed' -e '^\[ ok \]' "$work/nm.pane" && fail "'--self-testx' ran the self-test"
[ -f "$work/nm.rc" ] && [ "$(cat "$work/nm.rc")" != 0 ] && fail "'--self-testx': exit code $(cat "$work/nm.rc")"
[ "$fails" = 0 ] && echo "selftest_wine: all passed"
