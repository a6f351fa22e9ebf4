#!/usr/bin/env bash
# The try-it mode serves the sample workspace through --mcp, leaves no profile and no process behind, even
# when it is stopped by a signal, and never writes outside its own profile.
# Usage: try_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
sandbox=$(mktemp -d)
export TMPDIR="$sandbox/tmp"
mkdir "$TMPDIR"
trial=""
trap '[[ -z "$trial" ]] || kill "$trial" 2>/dev/null; exec 3>&- 4<&- || true; rm -rf "$sandbox"' EXIT INT TERM HUP
fail() { echo "FAIL: $*" >&2; exit 1; }
export TASKBELL_NO_BUILD=1 TASKBELL_BUILD_DIR="$build_dir"
initialize='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"t","version":"1"}}}'
# Processes whose environment names a trial profile under our TMPDIR.
trial_processes() { grep -lsF "$TMPDIR/taskbell-try-" /proc/[0-9]*/environ || true; }

# An inherited variable that once meant "inside the trial" changes nothing: the trial still isolates itself
# and the real home stays untouched.
real="$sandbox/real home"
mkdir -p "$real/.config"
requests="$initialize
{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"tools/call\",\"params\":{\"name\":\"list_tasks\",\"arguments\":{}}}"
output=$(printf '%s\n' "$requests" | HOME="$real" XDG_CONFIG_HOME="$real/.config" TASKBELL_TRY_PROFILE="$real" \
    timeout 60 "$source_dir/scripts/try.sh" --mcp 2>"$sandbox/try.err") || fail "try.sh failed: $(cat "$sandbox/try.err")"
[[ "$output" == *'"id":2'* && "$output" == *"In Progress — "* ]] || fail "list_tasks did not answer: $output"
[[ "$output" == *"Post-mortem for the checkout outage"* ]] || fail "the sample workspace is missing: $output"
[[ -z "$(ls -A "$TMPDIR")" ]] || fail "the profile was left behind: $(ls -A "$TMPDIR")"
[[ "$(cd "$real" && find . | sort)" == $'.\n./.config' ]] || fail "the real home changed: $(find "$real")"
# The inner run's argument with a profile this run did not make is refused.
status=0
HOME="$real" XDG_CONFIG_HOME="$real/.config" "$source_dir/scripts/try.sh" --inside-trial-profile "$real" x --mcp \
    </dev/null >/dev/null 2>&1 || status=$?
[[ $status == 2 && "$(cd "$real" && find . | sort)" == $'.\n./.config' ]] || fail "a foreign profile was used ($status)"

# SIGTERM or SIGHUP ends the sample Jira, the keyring, the bus and the server, then removes the profile.
for signal in TERM HUP; do
    mkfifo "$sandbox/in" "$sandbox/out"
    "$source_dir/scripts/try.sh" --mcp <"$sandbox/in" >"$sandbox/out" 2>"$sandbox/try.err" &
    trial=$!
    exec 3>"$sandbox/in" 4<"$sandbox/out"
    printf '%s\n' "$initialize" >&3
    IFS= read -r -t 60 reply <&4 || fail "no answer from the trial: $(cat "$sandbox/try.err")"
    [[ "$reply" == *'"serverInfo"'* ]] || fail "unexpected answer $reply"
    [[ -n "$(trial_processes)" ]] || fail "the trial's processes cannot be seen"
    kill -s "$signal" "$trial"
    wait "$trial" || true
    trial=""
    # Checked while the server's input is still open, which would otherwise keep it running.
    left=$(trial_processes | xargs -r -I{} sh -c 'tr "\0" " " <"$(dirname {})/cmdline"; echo')
    exec 3>&- 4<&-
    rm "$sandbox/in" "$sandbox/out"
    [[ -z "$left" ]] || fail "SIG$signal left: $left"
    [[ -z "$(ls -A "$TMPDIR")" ]] || fail "SIG$signal left the profile: $(ls -A "$TMPDIR")"
done
echo "try mode: ok"
