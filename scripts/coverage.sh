#!/usr/bin/env bash
# Coverage of src/ by the whole test suite: builds with gcov counters in
# build-coverage/ (-DVELMORA_COVERAGE=ON, Debug), runs the suite as
# scripts/test.sh does, and prints line and branch figures per folder of src/
# (branches that only exceptions take, and unreachable ones, left out).
# The HTML report is build-coverage/coverage/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build-coverage

scripts/install-deps.sh
cmake -S . -B "$build" -DVELMORA_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j"$(nproc)"

# The independent Jet reader the writer's tests compare against (npm, pinned).
if [ -f tests/independent-reader/package-lock.json ]; then
  mkdir -p "$build/independent-reader"
  cp tests/independent-reader/package.json tests/independent-reader/package-lock.json "$build/independent-reader/"
  (cd "$build/independent-reader" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi

# Counters of an earlier run would add up with this one.
find "$build" -name '*.gcda' -delete
# The fuzz script's test builds with clang elsewhere and counts nothing here.
# The install tests refuse a program that names its build folder, and a
# coverage build writes the counters' paths into every program: they belong to
# the normal build, as the coverage-only test belongs to this one.
# The counters' own complaints (a .gcda that another build of the same file
# wrote, say) go to a file of their own: tests compare what a program writes
# to its standard error, and these lines are not the program's.
mkdir -p "$build/coverage"
gcov_errors="$root/$build/coverage/gcov-errors.txt"
rm -f "$gcov_errors"
status=0
(cd "$build" && GCOV_ERROR_FILE="$gcov_errors" xvfb-run -a -s "-screen 0 1600x1000x24" \
  ctest --output-on-failure -j"$(nproc)" --timeout 900 -E '^(FuzzScript\.|install\.(prefix|user)$)') || status=$?

# ccache (base_dir) hands the compiler relative source names, which gcov
# resolves from the folder the compiler ran in: run it there, one .gcov file
# per translation unit and source (-l -p), and let gcovr read those.
find "$build" -name '*.gcov' -delete
find "$build" -name '*.gcda' | while read -r gcda; do
  (cd "${gcda%%/CMakeFiles/*}" && gcov -b -c -l -p -o "$(dirname "$root/$gcda")" "$root/$gcda" >/dev/null 2>&1) || true
done
mkdir -p "$build/coverage"
gcovr -r "$root" -g -k --object-directory "$build" --filter "$root/src/" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json-summary "$build/coverage/summary.json" --html-details "$build/coverage/index.html" "$build" >/dev/null

# Per folder: the files' counts added up.
python3 - "$build/coverage/summary.json" <<'PY'
import json, os, sys
folders = {}
for f in json.load(open(sys.argv[1]))["files"]:
    d = folders.setdefault(os.path.dirname(f["filename"]), [0, 0, 0, 0])
    d[0] += f["line_covered"]; d[1] += f["line_total"]
    d[2] += f["branch_covered"]; d[3] += f["branch_total"]
def pct(a, b):
    return f"{100.0 * a / b:5.1f}%" if b else "    -"
print(f"{'folder':32} {'lines':>18} {'branches':>18}")
total = [0, 0, 0, 0]
for name in sorted(folders):
    d = folders[name]
    total = [t + x for t, x in zip(total, d)]
    print(f"{name:32} {pct(d[0], d[1])} {d[0]:5}/{d[1]:<5} {pct(d[2], d[3])} {d[2]:5}/{d[3]:<5}")
d = total
print(f"{'src/ (all)':32} {pct(d[0], d[1])} {d[0]:5}/{d[1]:<5} {pct(d[2], d[3])} {d[2]:5}/{d[3]:<5}")
PY
if [ -s "$gcov_errors" ]; then
  echo "coverage.sh: $(wc -l < "$gcov_errors") complaints of the counters (figures of those files may be short), in $gcov_errors:" >&2
  sort "$gcov_errors" | uniq -c | sort -rn | head -5 >&2
fi
if [ $status -ne 0 ]; then
  echo "coverage.sh: some tests failed (ctest exit $status); the figures above count the run as it was" >&2
fi
exit $status
