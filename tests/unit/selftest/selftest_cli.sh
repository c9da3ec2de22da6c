#!/bin/sh
# The native `vornhale --self-test` end to end: exact output and exit code, the
# user's key file kept through normal and interrupted runs, the failure paths,
# and arguments that must not start it. Every run's exit code is checked, so a
# crash fails.
# Usage: selftest_cli.sh <vornhale> <expected_checks.txt>
set -u
exe=$1
expected=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cfg=$work/cfg/Vorn-Hale
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# run <want exit code> <XDG_CONFIG_HOME> <args...>: output in $work/out.
run() {
  want=$1 home=$2
  shift 2
  printf '\n' | XDG_CONFIG_HOME=$home timeout 60 "$exe" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" = "$want" ] || fail "$*: exit code $rc, want $want"
}
summary() { grep -qx "$1" "$work/out" || fail "$2: $(grep 'tests passed' "$work/out")"; }
key_kept() {
  cmp -s "$work/key.orig" "$cfg/identity.key" || fail "$1: key file changed"
  [ "$(ls "$cfg")" = identity.key ] || fail "$1: left $(ls "$cfg")"
  [ "$(stat -c %a "$cfg/identity.key")" = 600 ] || fail "$1: key file mode not 600"
}

# 1. A clean run without a key file: exactly the expected output, nothing left.
mkdir -p "$cfg"
run 0 "$work/cfg" --self-test
{ cat "$expected"; printf '\n86/86 tests passed.\n\nPress Enter to exit...\n'; } >"$work/want"
cmp -s "$work/want" "$work/out" || { fail "output differs"; diff "$work/want" "$work/out"; }
[ -z "$(ls "$cfg")" ] || fail "files left behind: $(ls "$cfg")"

# 2. An existing key file survives byte for byte, still owner-only.
head -c 64 /dev/urandom >"$work/key.orig"
cp "$work/key.orig" "$cfg/identity.key"
chmod 600 "$cfg/identity.key"
run 0 "$work/cfg" --self-test
key_kept "with a key file"

# 3. A run ended abruptly after the key was set aside, after the test key was
#    generated, or just before the restore: the next self-test and the next
#    normal start (refused at once: no such file) both put the key back.
interrupt() {
  export VH_SELFTEST_EXIT_AT=$1
  run 3 "$work/cfg" --self-test
  unset VH_SELFTEST_EXIT_AT
  [ -f "$cfg/identity.key.aside" ] || fail "$1: key not set aside"
}
for point in aside generate restore; do
  interrupt $point
  run 0 "$work/cfg" --self-test
  summary '86/86 tests passed.' "$point"
  key_kept "$point, then the self-test"
  interrupt $point
  run 1 "$work/cfg" share --lan "$work/no-such-file"
  key_kept "$point, then a start"
done

# 4. Something in the way of putting a set-aside key back (a folder under its
#    name): nothing is set aside over it, the key stays, the checks that need
#    a fresh key fail.
mkdir "$cfg/identity.key.aside"
run 1 "$work/cfg" --self-test
summary '81/86 tests passed.' "aside blocked"
cmp -s "$work/key.orig" "$cfg/identity.key" || fail "aside blocked: key changed"
rmdir "$cfg/identity.key.aside"

# 5. No usable folder (a file in the way): the three file checks are skipped,
#    exactly the six checks that need the folder fail.
: >"$work/blocker"
run 1 "$work/blocker" --self-test
summary '77/83 tests passed.' "folder blocked"
grep -qx 'FAILED: 6 test(s)' "$work/out" || fail "folder blocked: no 'FAILED: 6 test(s)'"
grep '^\[FAIL\]' "$work/out" >"$work/failed"
printf '[FAIL] %s\n' 'EnsureAppDataDir: created or exists' 'IdentityStore::Init: generate-on-miss ok' \
  'IdentityStore: ready after init' 'IdentityStore::Init: reload-on-hit ok' \
  'IdentityStore::Sign: returns ok' 'IdentityStore::Sign: pub verifies own sig' >"$work/want"
cmp -s "$work/want" "$work/failed" || fail "folder blocked: failed checks: $(cat "$work/failed")"

# 6. Only exactly "--self-test" as the first argument starts it.
for arg in --Self-test --self-test= -self-test --self-tes " --self-test" "--self-test " foo; do
  run 2 "$work/cfg" "$arg"
  grep -q 'tests passed' "$work/out" && fail "argument '$arg' ran the self-test"
done
run 2 "$work/cfg" foo --self-test
run 2 "$work/cfg"

# 7. Standard input already at its end: the run still finishes.
XDG_CONFIG_HOME=$work/cfg timeout 60 "$exe" --self-test </dev/null >/dev/null 2>&1
rc=$?
[ $rc = 0 ] || fail "stdin at end: exit code $rc"

[ "$fails" = 0 ] && echo "selftest_cli: all passed"
[ "$fails" = 0 ]
