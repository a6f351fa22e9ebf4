#!/usr/bin/env bash
# The try-it mode serves the sample workspace through --mcp and leaves no profile behind.
# Usage: try_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
export TMPDIR=$(mktemp -d)
trap 'rm -rf "$TMPDIR"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

requests='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"t","version":"1"}}}
{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"list_tasks","arguments":{}}}'
output=$(printf '%s\n' "$requests" |
    TASKBELL_NO_BUILD=1 TASKBELL_BUILD_DIR="$build_dir" timeout 60 "$source_dir/scripts/try.sh" --mcp 2>"$TMPDIR/../try-$$.err") ||
    fail "try.sh failed: $(cat "$TMPDIR/../try-$$.err")"
rm -f "$TMPDIR/../try-$$.err"
[[ "$output" == *'"id":2'* && "$output" == *"In Progress — "* ]] || fail "list_tasks did not answer: $output"
[[ "$output" == *"Post-mortem for the checkout outage"* ]] || fail "the sample workspace is missing: $output"
[[ -z "$(ls -A "$TMPDIR")" ]] || fail "the profile was left behind: $(ls -A "$TMPDIR")"
echo "try mode: ok"
