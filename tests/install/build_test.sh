#!/usr/bin/env bash
# What the build promises a newcomer and a packager.
#
#   build_test.sh subdirs  SOURCE   a folder listed for the build without its CMakeLists.txt stops the configure
#   build_test.sh no-tests SOURCE   -DVELMORA_TESTS=OFF configures without GoogleTest and still has every program
set -euo pipefail
mode=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case "$mode" in
subdirs)
  mkdir -p "$work/src/present" "$work/src/forgotten"
  echo 'set(PRESENT_SEEN ON PARENT_SCOPE)' >"$work/src/present/CMakeLists.txt"
  cat >"$work/src/CMakeLists.txt" <<TXT
cmake_minimum_required(VERSION 3.25)
project(subdirs_check NONE)
list(APPEND CMAKE_MODULE_PATH "$source/cmake")
include(VelmoraSubdirs)
velmora_add_subdirs(present \${LISTED})
TXT
  cmake -S "$work/src" -B "$work/ok" -DLISTED= >/dev/null ||
    { echo "FAIL: a folder with its CMakeLists.txt did not configure" >&2; exit 1; }
  if cmake -S "$work/src" -B "$work/bad" -DLISTED=forgotten >"$work/out" 2>&1; then
    echo "FAIL: a listed folder without CMakeLists.txt was skipped silently" >&2
    exit 1
  fi
  # CMake wraps the message; compare it without line breaks.
  tr -s ' \n' ' ' <"$work/out" | grep -q "src/forgotten is listed for the build but has no CMakeLists.txt" ||
    { cat "$work/out" >&2; echo "FAIL: the error does not name the folder" >&2; exit 1; }
  ;;
no-tests)
  # GoogleTest is installed on this machine: forbid finding it instead.
  cmake -S "$source" -B "$work/build" -DVELMORA_TESTS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/out" 2>&1 ||
    { cat "$work/out" >&2; echo "FAIL: the programs alone need the test framework" >&2; exit 1; }
  targets=$(cmake --build "$work/build" --target help)
  for t in Velmora Quennar velmora-cli demo_folder velmora_programs; do
    grep -qE "^\.\.\. $t( |$)" <<<"$targets" || { echo "FAIL: target $t is missing without tests" >&2; exit 1; }
  done
  # (bench_library, the Jet writer's generated benchmark library, is a file
  # target of the tool's folder that nothing builds unless asked.)
  found=$(grep -E '_tests?( |$)|bench' <<<"$targets" | grep -v '^\.\.\. bench_library$' || true)
  if [ -n "$found" ]; then
    echo "FAIL: test or benchmark targets are configured without tests:" >&2
    echo "$found" >&2
    exit 1
  fi
  ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac
echo ok
