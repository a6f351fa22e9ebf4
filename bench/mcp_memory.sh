#!/usr/bin/env bash
# Peak and retained memory of `taskbell --mcp` on large input and over many tool calls, inside a private
# keyring session. Usage: bench/mcp_memory.sh [BUILD_DIR [CALLS [TASKBELL_EXECUTABLE]]]
# (BUILD_DIR defaults to build; pass another executable to measure an older build with the same cases.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
shift || true
exec "$root/scripts/with-keyring.sh" "$build/bench/bench_mcp_memory" "$@"
