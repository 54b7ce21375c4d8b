#!/usr/bin/env bash
# Builds the programs and the demo program folder (nothing else: no tests or
# benchmarks), then starts Velmora on it. Extra arguments go to Velmora.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target Velmora Quennar demo_folder

folder=build/demo-folder
if [ ! -x "$folder/Velmora" ]; then
  echo "The demo program folder ($folder) or the Velmora program is not built yet." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<TXT
There is no display to show the window on. On a machine without a desktop, run it
under a virtual display and take a screenshot, for example:
  xvfb-run -a -s "-screen 0 1600x1000x24" $0
TXT
  exit 1
fi
exec "$folder/Velmora" "$@"
