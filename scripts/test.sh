#!/usr/bin/env bash
# Installs what is missing, builds Taskbell (plain, sanitizer and fuzzing builds) and runs the whole test
# suite: format check, the sanitizer build's tests, a bounded fuzz run, then the plain build's tests.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)

scripts/setup.sh

echo "== format check"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== SDK client dependencies"
(cd tests/sdk && npm ci --no-audit --no-fund --loglevel=error)

echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKBELL_TESTS=ON -DTASKBELL_BENCH=ON
cmake --build build -j "$jobs"

echo "== static analysis (clang-tidy, core)"
git ls-files 'src/core/*.cpp' | xargs -P "$jobs" -n 4 clang-tidy -p build --quiet

echo "== sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTASKBELL_SANITIZE=ON -DTASKBELL_TESTS=ON -DTASKBELL_BENCH=OFF
cmake --build build-asan -j "$jobs"

echo "== fuzzing build"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASKBELL_FUZZ=ON \
    -DTASKBELL_TESTS=OFF -DTASKBELL_BENCH=OFF
cmake --build build-fuzz -j "$jobs" --target fuzz_mcp_line

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== sanitizer tests"
scripts/with-keyring.sh ctest --test-dir build-asan --output-on-failure -j "$jobs" -E '^(sdk|script)_'

echo "== fuzzing the MCP line handler"
fuzz/run.sh build-fuzz/fuzz/fuzz_mcp_line "${TASKBELL_FUZZ_SECONDS:-60}"

echo "== tests"
scripts/with-keyring.sh ctest --test-dir build --output-on-failure -j "$jobs"
