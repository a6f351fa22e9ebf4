#!/usr/bin/env bash
# Line and branch coverage of src/core and of src/app: a Debug build with --coverage in build-cov, the whole
# test suite under the private keyring, then gcovr's summary for each. Not part of scripts/test.sh (it takes several minutes).
# Usage: scripts/coverage.sh [html-output-file]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-cov -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTASKBELL_BENCH=OFF "${launcher[@]}" \
    -DCMAKE_CXX_FLAGS="--coverage" -DCMAKE_C_FLAGS="--coverage" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
    -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
cmake --build build-cov -j "$(nproc)"
find build-cov -name '*.gcda' -delete
# A failing test still leaves its counts; the figures are printed and the script then fails.
status=0
scripts/with-keyring.sh ctest --test-dir build-cov -j "$(nproc)" >build-cov/ctest.log 2>&1 || status=$?
grep -E 'tests passed|\(Failed\)|\(Timeout\)' build-cov/ctest.log || true
# gcov can print a negative branch count for code run on several threads at once (the counters are not
# atomic); gcovr would stop at that line, so such lines are skipped.
options=(-r . --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors build-cov)
if [[ $# -gt 0 ]]; then
    gcovr "${options[@]}" --filter 'src/' --html-details "$1"
fi
# The reports go to files of ours: gcovr replaces its output file, and as root that would replace /dev/null.
for part in core app; do
    echo "src/$part:"
    gcovr "${options[@]}" --filter "src/$part/" --print-summary -o "build-cov/coverage-$part.txt"
done
exit "$status"
