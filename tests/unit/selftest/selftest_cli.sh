#!/bin/sh
# End-to-end run of the native `vornhale --self-test`: exact check lines,
# summary, exit code, the user's key file left as it was, the failure path,
# and arguments that must not start the self-test.
# Usage: selftest_cli.sh <vornhale> <expected_checks.txt>
set -u
exe=$1
expected=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# run <XDG_CONFIG_HOME> <args...>: output in $work/out, exit code in $rc.
run() {
  cfg=$1
  shift
  printf '\n' | XDG_CONFIG_HOME=$cfg timeout 60 "$exe" "$@" >"$work/out" 2>"$work/err"
  rc=$?
}

# 1. A clean run with no key file: 86 lines exactly as expected, summary, 0.
mkdir -p "$work/cfg"
run "$work/cfg" --self-test
[ "$rc" = 0 ] || fail "exit code $rc, want 0"
grep '^\[' "$work/out" >"$work/checks"
cmp -s "$work/checks" "$expected" || { fail "check lines differ"; diff "$expected" "$work/checks"; }
printf '\n86/86 tests passed.\n\nPress Enter to exit...\n' >"$work/tail"
tail -n 4 "$work/out" >"$work/gottail"
cmp -s "$work/tail" "$work/gottail" || fail "summary differs: $(cat "$work/gottail")"
grep -q FAILED "$work/out" && fail "FAILED line printed"
[ "$(wc -l <"$work/out")" = 90 ] || fail "want 90 output lines, got $(wc -l <"$work/out")"
ls "$work/cfg/Vorn-Hale" >"$work/left"
[ -s "$work/left" ] && fail "files left behind: $(cat "$work/left")"

# 2. An existing 64-byte key file survives byte for byte, still owner-only.
head -c 64 /dev/urandom >"$work/key.orig"
cp "$work/key.orig" "$work/cfg/Vorn-Hale/identity.key"
chmod 600 "$work/cfg/Vorn-Hale/identity.key"
run "$work/cfg" --self-test
[ "$rc" = 0 ] || fail "with a key file: exit code $rc"
cmp -s "$work/key.orig" "$work/cfg/Vorn-Hale/identity.key" || fail "key file changed"
[ "$(stat -c %a "$work/cfg/Vorn-Hale/identity.key")" = 600 ] || fail "key file mode not 600"
[ "$(ls "$work/cfg/Vorn-Hale")" = identity.key ] || fail "extra files: $(ls "$work/cfg/Vorn-Hale")"

# 2b. A run ended abruptly after the key was set aside, after the test key was
#     generated, or just before the restore: the next self-test and the next
#     normal start both put the user's key back byte for byte.
for point in aside generate restore; do
  printf '\n' | VH_SELFTEST_EXIT_AT=$point XDG_CONFIG_HOME=$work/cfg timeout 60 "$exe" --self-test \
    >"$work/out" 2>&1
  rc=$?
  [ "$rc" = 3 ] || fail "$point: interrupted run exit code $rc, want 3"
  [ -f "$work/cfg/Vorn-Hale/identity.key.aside" ] || fail "$point: key not set aside"
  run "$work/cfg" --self-test
  [ "$rc" = 0 ] || fail "$point: second run exit code $rc"
  grep -qx '86/86 tests passed.' "$work/out" || fail "$point: second run: $(grep 'tests passed' "$work/out")"
  cmp -s "$work/key.orig" "$work/cfg/Vorn-Hale/identity.key" || fail "$point: key lost after a self-test"
  [ "$(ls "$work/cfg/Vorn-Hale")" = identity.key ] || fail "$point: left $(ls "$work/cfg/Vorn-Hale")"

  printf '\n' | VH_SELFTEST_EXIT_AT=$point XDG_CONFIG_HOME=$work/cfg timeout 60 "$exe" --self-test \
    >/dev/null 2>&1
  # A normal start (refused at once: the path does not exist) restores it too.
  run "$work/cfg" share --lan "$work/no-such-file"
  [ "$rc" = 1 ] || fail "$point: normal start exit code $rc, want 1"
  cmp -s "$work/key.orig" "$work/cfg/Vorn-Hale/identity.key" || fail "$point: key lost after a start"
  [ "$(ls "$work/cfg/Vorn-Hale")" = identity.key ] || fail "$point: left $(ls "$work/cfg/Vorn-Hale")"
done
[ "$(stat -c %a "$work/cfg/Vorn-Hale/identity.key")" = 600 ] || fail "key file mode not 600 after restores"

# 2c. Something in the way of putting a set-aside key back (a folder under its
#     name): the self-test sets nothing aside over it and leaves the key alone;
#     the checks that need a fresh key fail instead.
mkdir "$work/cfg/Vorn-Hale/identity.key.aside"
run "$work/cfg" --self-test
[ "$rc" = 1 ] || fail "aside blocked: exit code $rc, want 1"
grep -qx '81/86 tests passed.' "$work/out" || fail "aside blocked: $(grep 'tests passed' "$work/out")"
cmp -s "$work/key.orig" "$work/cfg/Vorn-Hale/identity.key" || fail "aside blocked: key changed"
rmdir "$work/cfg/Vorn-Hale/identity.key.aside"

# 3. No usable folder (a file in the way): the three file checks are skipped,
#    the identity checks that need it fail, exit code 1.
: >"$work/blocker"
run "$work/blocker" --self-test
[ "$rc" = 1 ] || fail "folder blocked: exit code $rc, want 1"
grep -qx '77/83 tests passed.' "$work/out" || fail "folder blocked: summary $(grep 'tests passed' "$work/out")"
grep -qx 'FAILED: 6 test(s)' "$work/out" || fail "folder blocked: no 'FAILED: 6 test(s)'"
for name in 'EnsureAppDataDir: created or exists' 'IdentityStore::Init: generate-on-miss ok' \
  'IdentityStore: ready after init' 'IdentityStore::Init: reload-on-hit ok' \
  'IdentityStore::Sign: returns ok' 'IdentityStore::Sign: pub verifies own sig'; do
  grep -qxF "[FAIL] $name" "$work/out" || fail "folder blocked: '$name' not failed"
done
[ "$(grep -c '^\[FAIL\]' "$work/out")" = 6 ] || fail "folder blocked: other checks failed"

# 4. Anything but exactly "--self-test" as the first argument is not the self-test.
for arg in --Self-test --self-test= -self-test --self-tes " --self-test" "--self-test " foo; do
  run "$work/cfg" "$arg"
  [ "$rc" = 2 ] || fail "argument '$arg': exit code $rc, want 2"
  grep -q 'tests passed' "$work/out" && fail "argument '$arg' ran the self-test"
done
run "$work/cfg" foo --self-test
[ "$rc" = 2 ] || fail "--self-test as second argument: exit code $rc"
run "$work/cfg"
[ "$rc" = 2 ] || fail "no argument: exit code $rc"

# 5. Standard input already at its end: the run still finishes.
XDG_CONFIG_HOME=$work/cfg timeout 60 "$exe" --self-test </dev/null >/dev/null 2>&1
[ $? = 0 ] || fail "stdin at end: run did not finish with 0"

[ "$fails" = 0 ] && echo "selftest_cli: all passed"
[ "$fails" = 0 ]
