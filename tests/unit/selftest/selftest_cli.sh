#!/bin/sh
# selftest_cli.sh VORNHALE EXPECTED_CHECKS: exact output, exit code, the user's key kept, failure paths.
set -u
exe=$1 work=$(mktemp -d) fails=0
cfg=$work/cfg/Vorn-Hale
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
# run <want exit code> <XDG_CONFIG_HOME> <args...>: output in $work/out.
run() {
  want=$1 home=$2 && shift 2
  printf '\n' | XDG_CONFIG_HOME=$home timeout 60 "$exe" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" = "$want" ] || fail "$*: exit code $rc, want $want"
}
summary() { grep -qx "$1" "$work/out" || fail "$2: $(grep 'tests passed' "$work/out")"; }
key_kept() {
  cmp -s "$work/key" "$cfg/identity.key" || fail "$1: key file changed"
  [ "$(ls "$cfg")" = identity.key ] || fail "$1: left $(ls "$cfg")"
  [ "$(stat -c %a "$cfg/identity.key")" = 600 ] || fail "$1: key file mode not 600"
}
# A clean run without a key file: exactly the expected output, nothing left.
mkdir -p "$cfg"
run 0 "$work/cfg" --self-test
awk -F' [|] ' '/^#/ {next} {p = $1; if (!sub(/: .*/, ": ", p)) p = ""
  print "[ ok ] " $1; for (i = 2; i <= NF; i++) print "[ ok ] " p $i}' "$2" >"$work/want"
printf '\n86/86 tests passed.\n\nPress Enter to exit...\n' >>"$work/want"
diff "$work/want" "$work/out" || fail "output differs"
[ -z "$(ls "$cfg")" ] || fail "files left behind: $(ls "$cfg")"
# A key survives byte for byte, also a run ended at each step: the next run puts it back.
head -c 64 /dev/urandom >"$work/key" && cp "$work/key" "$cfg/identity.key" && chmod 600 "$cfg/identity.key"
run 0 "$work/cfg" --self-test
key_kept "with a key file"
for point in aside generate restore; do
  for next in self-test start; do
    VH_SELFTEST_EXIT_AT=$point run 3 "$work/cfg" --self-test
    [ -f "$cfg/identity.key.aside" ] || fail "$point: key not set aside"
    case $next in
      self-test) run 0 "$work/cfg" --self-test; summary '86/86 tests passed.' "$point" ;;
      start) run 1 "$work/cfg" share --lan "$work/no-such-file" ;;
    esac
    key_kept "$point, then a $next"
  done
done
# A folder in the way of setting the key aside: the key stays, the checks needing one fail.
mkdir "$cfg/identity.key.aside"
run 1 "$work/cfg" --self-test
summary '81/86 tests passed.' "aside blocked"
cmp -s "$work/key" "$cfg/identity.key" || fail "aside blocked: key changed"
rmdir "$cfg/identity.key.aside"
# No usable folder: the three file checks are skipped, exactly the six needing it fail.
: >"$work/blocker"
run 1 "$work/blocker" --self-test
summary '77/83 tests passed.' "folder blocked"
printf '[FAIL] %s\n' 'EnsureAppDataDir: created or exists' 'IdentityStore::Init: generate-on-miss ok' \
  'IdentityStore: ready after init' 'IdentityStore::Init: reload-on-hit ok' \
  'IdentityStore::Sign: returns ok' 'IdentityStore::Sign: pub verifies own sig' >"$work/want"
echo 'FAILED: 6 test(s)' >>"$work/want"
grep -e '^\[FAIL\]' -e '^FAILED' "$work/out" | cmp -s "$work/want" - || fail "folder blocked: other checks failed"
# Only exactly "--self-test" as the first argument starts it (2: the usage); stdin at its end still ends a run.
for arg in --Self-test --self-test= " --self-test"; do run 2 "$work/cfg" "$arg"; done
run 2 "$work/cfg" foo --self-test
XDG_CONFIG_HOME=$work/cfg timeout 60 "$exe" --self-test </dev/null >/dev/null 2>&1 || fail "stdin at end: $?"
[ "$fails" = 0 ] && echo "selftest_cli: all passed"
