#!/usr/bin/env bash
# Starts Velmora on the demo program folder under a virtual display, clicks a
# category of the category navigator and saves a picture of the main window;
# then pictures of the price windows 价格对比 (the two latest months over that
# category) and 价格走势 (its first product), next to it as OUT-compare.png and
# OUT-history.png.
#
#   scripts/screenshot.sh [OUT.png] [CATEGORY_ID] [PRODUCT_ROW]
#
# OUT.png defaults to build/velmora-screenshot.png; CATEGORY_ID is the id of
# the category to click (default 5, a leaf of the demo tree); PRODUCT_ROW the
# product row clicked after it (0 = first, the default; -1 = none). The program also
# reports on stderr how long its load step and the click took. VELMORA_BUILD
# names another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build/velmora-screenshot.png}
category=${2:-5}
product=${3:-0}
build=${VELMORA_BUILD:-build}
folder=$build/demo-folder

if [ ! -x "$folder/Velmora" ]; then
  cmake -S . -B "$build" >/dev/null
  cmake --build "$build" -j"$(nproc)" --target Velmora demo_folder
fi
shooter=$build/tests/price_windows/price_windows_screenshot
if [ ! -x "$shooter" ]; then
  cmake --build "$build" -j"$(nproc)" --target price_windows_screenshot
fi
if ! command -v xvfb-run >/dev/null; then
  echo "xvfb-run is missing; scripts/install-deps.sh installs it." >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
out_abs=$(realpath -m "$out")
rm -f "$out_abs"

# The window is grabbed 5 s after it shows: the click comes first, then the
# page engine gets time to draw the page.
xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$folder/Velmora" --splash-ms=500 --click-category="$category" --click-product="$product" \
  --screenshot="$out_abs" --screenshot-delay=5000 --timing

if [ -s "$out_abs" ]; then
  echo "Screenshot: $out"
else
  echo "No screenshot was saved." >&2
  exit 1
fi

# The price windows, drawn by a small driver of the same window code (its page
# views record addresses instead of drawing pages).
prefix=${out_abs%.png}
rm -f "$prefix-compare.png" "$prefix-history.png" "$prefix-progress.png"
# With the demo's material list, 材料清单载价 on it as well (OUT-pricelist.png,
# OUT-pricelist-adjust.png).
list=$(ls "$folder"/*清单*.xlsx "$folder"/*材料表*.xlsx 2>/dev/null | head -n1 || true)
shots="compare history progress"
[ -n "$list" ] && shots="$shots pricelist pricelist-adjust"
rm -f "$prefix-pricelist.png" "$prefix-pricelist-adjust.png"
xvfb-run -a -s "-screen 0 1600x1000x24" "$shooter" "$folder" "$prefix" "$category" $list 2>/dev/null
for shot in $shots; do
  if [ -s "$prefix-$shot.png" ]; then
    echo "Screenshot: ${out%.png}-$shot.png"
  else
    echo "No screenshot of the $shot window was saved." >&2
    exit 1
  fi
done
