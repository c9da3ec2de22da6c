#!/bin/sh
# The Windows `vornhale.exe --self-test` under Wine, in a private tmux server
# (a GUI program's console shows only inside a terminal): the pane is read
# back and Enter sent as a person would. The user's key file stays byte for
# byte; near misses of "--self-test" start the program normally.
# Usage: selftest_wine.sh <vornhale.exe> <wine prefix (own, created if missing)> <expected_checks.txt>
set -u
abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
exe=$(abs "$1")
export WINEPREFIX="$(abs "$2")"  # Wine refuses a relative prefix
expected=$(abs "$3")
export WINEDEBUG=-all
sock=vh-selftest-$$
work=$(mktemp -d)
cleanup() {
  tmux -L "$sock" kill-server 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

if [ ! -d "$WINEPREFIX/drive_c" ]; then
  timeout 300 wineboot -i >/dev/null 2>&1 || { echo "cannot create $WINEPREFIX"; exit 1; }
fi
roaming="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
[ -d "$roaming" ] || { echo "no roaming folder under $WINEPREFIX"; exit 1; }
mkdir -p "$roaming/Vorn-Hale"
keyfile="$roaming/Vorn-Hale/identity.key"
head -c 64 /dev/urandom >"$work/key.orig"
cp "$work/key.orig" "$keyfile"

# start <name> <args>: runs the program in a new tmux session; its exit code
# lands in $work/<name>.rc.
start() {
  name=$1
  shift
  tmux -L "$sock" new-session -d -s "$name" -x 200 -y 150 \
    "wine '$exe' $*; echo \$? >'$work/$name.rc'"
}
# wait_for <seconds> <command...>: polls once a second.
wait_for() {
  n=$1
  shift
  while [ "$n" -gt 0 ]; do
    "$@" && return 0
    sleep 1
    n=$((n - 1))
  done
  return 1
}
pane() { tmux -L "$sock" capture-pane -p -S - -J -t "$1" >"$work/$1.pane" 2>/dev/null; }
prompt_shown() { pane st && grep -q 'Press Enter to exit' "$work/st.pane"; }

# 1. The self-test: 86 check lines, the summary, Enter, exit code 0.
start st --self-test
if wait_for 120 prompt_shown; then
  grep '^\[' "$work/st.pane" | sed 's/[[:space:]]*$//' >"$work/checks"
  cmp -s "$work/checks" "$expected" || { fail "check lines differ"; diff "$expected" "$work/checks"; }
  grep -qx '86/86 tests passed\.[[:space:]]*' "$work/st.pane" || fail "no '86/86 tests passed.'"
  grep -q 'FAILED' "$work/st.pane" && fail "FAILED line shown"
  [ -f "$work/st.rc" ] && fail "ended before Enter was pressed"
  tmux -L "$sock" send-keys -t st Enter
  if wait_for 30 test -f "$work/st.rc"; then
    [ "$(cat "$work/st.rc")" = 0 ] || fail "exit code $(cat "$work/st.rc"), want 0"
  else
    fail "no exit after Enter"
  fi
else
  fail "prompt never shown"
  cat "$work/st.pane"
fi
cmp -s "$work/key.orig" "$keyfile" || fail "user's key file changed"
[ -f "$roaming/Vorn-Hale/_selftest.bin" ] && fail "_selftest.bin left behind"

# 2. Near misses of the argument start the program normally, not the self-test.
i=0
for arg in --Self-test --self-testx -self-test; do
  i=$((i + 1))
  start "v$i" "$arg"
  wait_for 20 test -f "$work/v$i.rc"
  pane "v$i"
  if grep -q -e 'tests passed' -e '^\[ ok \]' -e 'Press Enter' "$work/v$i.pane"; then
    fail "argument '$arg' ran the self-test"
  fi
  # Still running (its window open), or ended cleanly (a second instance hands
  # its argument over and ends with 0): anything else is a crash.
  if [ -f "$work/v$i.rc" ] && [ "$(cat "$work/v$i.rc")" != 0 ]; then
    fail "argument '$arg': exit code $(cat "$work/v$i.rc")"
  fi
done

[ "$fails" = 0 ] && echo "selftest_wine: all passed"
[ "$fails" = 0 ]
