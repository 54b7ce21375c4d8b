#!/usr/bin/env bash
# scripts/fuzz.sh as the README gives it, run from another folder:
#   fuzz_script_test.sh SOURCE BUILD TARGET   runs TARGET for 2 seconds
#   fuzz_script_test.sh SOURCE BUILD usage    checks the refusals
# BUILD is the fuzz build of the test, apart from every other build.
set -uo pipefail
src=$1 build=$2 what=$3
command -v clang++ >/dev/null || { echo "no clang++: scripts/install-deps.sh installs it"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$out"
export VELMORA_FUZZ_BUILD=$build

if [ "$what" = usage ]; then
  fail=0
  for args in "" "nothing 2" "items 0" "items x" "items 2 3"; do
    # shellcheck disable=SC2086
    "$src/scripts/fuzz.sh" $args >stdout 2>stderr
    rc=$?
    if [ $rc -ne 2 ] || ! grep -q '^usage: scripts/fuzz.sh TARGET' stderr; then
      echo "fuzz.sh $args: exit $rc, want 2 and the usage"; cat stderr; fail=1
    fi
  done
  exit $fail
fi

"$src/scripts/fuzz.sh" "$what" 2 >stdout 2>stderr
rc=$?
if [ $rc -ne 0 ]; then
  echo "fuzz.sh $what 2: exit $rc"; tail -20 stderr; tail -5 stdout; exit 1
fi
# libFuzzer's last line: "Done N runs in S second(s)".
if ! grep -Eq '^Done [0-9]+ runs in [0-9]+ second' stderr; then
  echo "fuzz.sh $what 2: no fuzzing run"; tail -20 stderr; exit 1
fi
[ -x "$build/fuzz/fuzz_$what" ] || { echo "no $build/fuzz/fuzz_$what"; exit 1; }
exit 0
