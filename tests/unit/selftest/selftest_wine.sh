#!/bin/sh
# `vornhale.exe --self-test` under Wine in a private tmux server (the console shows only in a
# terminal): the pane read back, Enter sent. Usage: selftest_wine.sh <vornhale.exe> <own prefix>
# <expected_checks.txt>
set -u
abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
exe=$(abs "$1")
export WINEPREFIX="$(abs "$2")" WINEDEBUG=-all  # Wine refuses a relative prefix
expected=$(abs "$3")
sock=vh-selftest-$$
work=$(mktemp -d)
trap 'tmux -L "$sock" kill-server 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

[ -d "$WINEPREFIX/drive_c" ] || timeout 300 wineboot -i >/dev/null 2>&1 || { echo "no prefix"; exit 1; }
dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Vorn-Hale"
mkdir -p "$dir" || exit 1
head -c 64 /dev/urandom >"$work/key"
cp "$work/key" "$dir/identity.key"

start() { tmux -L "$sock" new-session -d -s "$1" -x 200 -y 150 "wine '$exe' $2; echo \$? >'$work/$1.rc'"; }
wait_for() { n=$1; shift; until "$@"; do [ "$n" -gt 0 ] || return 1; sleep 1; n=$((n - 1)); done; }
pane() { tmux -L "$sock" capture-pane -p -S - -J -t "$1" >"$work/$1.pane" 2>/dev/null; }
prompt_shown() { pane st && grep -q 'Press Enter to exit' "$work/st.pane"; }

# The self-test: the check lines, the summary, Enter, exit 0.
start st --self-test
if wait_for 120 prompt_shown; then
  grep '^\[' "$work/st.pane" | sed 's/[[:space:]]*$//' >"$work/checks"
  cmp -s "$work/checks" "$expected" || { fail "check lines differ"; diff "$expected" "$work/checks"; }
  grep -qx '86/86 tests passed\.[[:space:]]*' "$work/st.pane" || fail "no '86/86 tests passed.'"
  [ -f "$work/st.rc" ] && fail "ended before Enter was pressed"
  tmux -L "$sock" send-keys -t st Enter
  wait_for 30 test -f "$work/st.rc" || fail "no exit after Enter"
  [ "$(cat "$work/st.rc" 2>/dev/null)" = 0 ] || fail "exit code $(cat "$work/st.rc" 2>/dev/null), want 0"
else
  fail "prompt never shown"
  cat "$work/st.pane"
fi
cmp -s "$work/key" "$dir/identity.key" || fail "user's key file changed"
[ -f "$dir/_selftest.bin" ] && fail "_selftest.bin left behind"

# Near misses start the program normally: still running or ended with 0 (handed over).
i=0
for arg in --Self-test --self-testx -self-test; do
  i=$((i + 1))
  start "v$i" "$arg"
  wait_for 20 test -f "$work/v$i.rc"
  pane "v$i"
  grep -q -e 'tests passed' -e '^\[ ok \]' -e 'Press Enter' "$work/v$i.pane" && fail "'$arg' ran the self-test"
  [ -f "$work/v$i.rc" ] && [ "$(cat "$work/v$i.rc")" != 0 ] && fail "'$arg': exit code $(cat "$work/v$i.rc")"
done

[ "$fails" = 0 ] && echo "selftest_wine: all passed"
[ "$fails" = 0 ]
