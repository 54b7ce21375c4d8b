#!/usr/bin/env bash
# Runs one fuzz target with libFuzzer: scripts/fuzz.sh TARGET [SECONDS]
# Targets: items (the item reader), jet (opening damaged Jet files),
# updater_list (parsing update lists). Works from any folder.
#
# The targets are built with clang into build-fuzz/ (or $VELMORA_FUZZ_BUILD, a
# path relative to the source folder or absolute); every target's program
# lands in its fuzz/ folder. Findings land in fuzz/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(items jet updater_list)
usage() {
  echo "usage: scripts/fuzz.sh TARGET [SECONDS]   (TARGET: ${targets[*]})" >&2
  exit 2
}
[ $# -ge 1 ] && [ $# -le 2 ] || usage
target=$1
seconds=${2:-60}
[[ " ${targets[*]} " == *" $target "* ]] || usage
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage
build=${VELMORA_FUZZ_BUILD:-build-fuzz}

scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -DVELMORA_FUZZ=ON -DVELMORA_GUI=OFF -DVELMORA_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "fuzz_$target"
program="$build/fuzz/fuzz_$target"
if [ ! -x "$program" ]; then
  echo "fuzz.sh: the build left no $program" >&2
  exit 1
fi

mkdir -p "fuzz/findings/$target"
corpus_src="fuzz/corpus/$target"
work="$build/corpus-$target"
mkdir -p "$work"
[ -d "$corpus_src" ] && cp -r "$corpus_src"/. "$work"/
# Inputs that hang count as findings; the targets' own output is kept off the screen.
"$program" "$work" -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 \
  -artifact_prefix="fuzz/findings/$target/"
