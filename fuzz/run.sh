#!/usr/bin/env bash
# Runs the MCP line fuzzer: first every kept regression input, then a bounded fuzzing session seeded
# from fuzz/seeds. Fails on any crash; a crashing input is left in the work folder and named in the log.
# Usage: fuzz/run.sh FUZZER_BINARY SECONDS
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fuzzer=$1
seconds=${2:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-fuzz-XXXXXX")
mkdir -p "$work/corpus" "$work/artifacts"
cp "$here"/seeds/* "$work/corpus/"

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
if compgen -G "$here/regressions/*" >/dev/null; then
    "$fuzzer" -runs=0 "$here"/regressions/*
fi
status=0
"$fuzzer" "$work/corpus" -dict="$here/json.dict" -max_len=200000 -max_total_time="$seconds" \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 2>"$work/log" || status=$?
tail -n 20 "$work/log"
if [[ $status -ne 0 ]]; then
    echo "fuzz: crash found; inputs in $work/artifacts" >&2
    exit $status
fi
rm -rf "$work"
echo "fuzz: no crash in ${seconds}s"
