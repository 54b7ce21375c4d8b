#!/usr/bin/env bash
# Builds everything and runs the whole test suite. Usage:
#   scripts/test.sh              release build with debug info, in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=build
cmake_args=()
ctest_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  cmake_args+=(-DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON)
  # System libraries keep caches the programs cannot free; their leaks are not ours.
  export LSAN_OPTIONS="suppressions=$root/scripts/sanitizers/lsan.supp:print_suppressions=0"
  # Chromium inside Qt WebEngine trips AddressSanitizer in its own code (a
  # delete of the wrong size); the real-engine test runs in the normal build.
  ctest_args+=(-E '^WebEngineBrowser\.')
fi

scripts/install-deps.sh
cmake -S . -B "$build" "${cmake_args[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The independent Jet reader the writer's tests compare against (npm, pinned).
if [ -f tests/independent-reader/package-lock.json ]; then
  mkdir -p "$build/independent-reader"
  cp tests/independent-reader/package.json tests/independent-reader/package-lock.json "$build/independent-reader/"
  (cd "$build/independent-reader" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi

# GUI tests run offscreen; the few that need a real display get a virtual one.
cd "$build"
xvfb-run -a -s "-screen 0 1600x1000x24" ctest --output-on-failure -j"$(nproc)" --timeout 600 "${ctest_args[@]}"
