#!/usr/bin/env bash
# Runs one fuzz target with libFuzzer: scripts/fuzz.sh TARGET [SECONDS]
# Targets: items (the item reader), and those the other folders of fuzz/ add.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?which target: items, jet, updater_list}
seconds=${2:-60}
scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVELMORA_FUZZ=ON -DVELMORA_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "fuzz_$target"
mkdir -p "fuzz/findings/$target"
corpus_src="fuzz/corpus/$target"
work=build-fuzz/corpus-$target
mkdir -p "$work"
[ -d "$corpus_src" ] && cp -r "$corpus_src"/. "$work"/
# Inputs that hang count as findings; the targets' own output is kept off the screen.
"build-fuzz/fuzz/fuzz_$target" "$work" -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 \
  -artifact_prefix="fuzz/findings/$target/"
