#!/usr/bin/env bash
# Tries Taskbell without a Jira site: starts a local stand-in for Jira Cloud with a sample workspace, a
# throwaway profile (private HOME and XDG folders, a private D-Bus session with its own unlocked keyring)
# and the app, or the MCP server on standard input and output when given --mcp. Nothing touches your own
# settings or keychain, and the profile is removed when it exits, on Ctrl-C, SIGTERM or SIGHUP too.
#
#   scripts/try.sh [--mcp]
#
# TASKBELL_BUILD_DIR names the build folder (default build/); TASKBELL_NO_BUILD=1 skips set-up and build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${TASKBELL_BUILD_DIR:-$root/build}
# The inner run inside the private session gets this first argument, with the profile and the run's token.
inner_flag=--inside-trial-profile

if [[ "${1:-}" != "$inner_flag" ]]; then
    if [[ "${TASKBELL_NO_BUILD:-0}" != 1 ]]; then
        "$root/scripts/setup.sh" >&2
        cmake -S "$root" -B "$build_dir" -G Ninja >&2
        cmake --build "$build_dir" --target taskbell taskbell_gui fake_jira >&2
    fi
    profile=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-try-XXXXXX")
    session=""
    # Ends the trial's processes first (the inner run stops its own children and waits for them), then
    # removes the profile.
    finish() {
        if [[ -n "$session" ]] && kill -0 "$session" 2>/dev/null; then
            local inner
            inner=$(cat "$profile/inner.pid" 2>/dev/null || true)
            kill -TERM "${inner:-$session}" 2>/dev/null || true
            wait "$session" 2>/dev/null || true
        fi
        rm -rf "$profile"
    }
    trap finish EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
    token=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
    printf %s "$token" >"$profile/run-token"
    mkdir -p "$profile/home" "$profile/config" "$profile/data" "$profile/cache" "$profile/runtime"
    chmod 700 "$profile/runtime"
    export HOME="$profile/home" XDG_CONFIG_HOME="$profile/config" XDG_DATA_HOME="$profile/data"
    export XDG_CACHE_HOME="$profile/cache" XDG_RUNTIME_DIR="$profile/runtime" TASKBELL_BUILD_DIR="$build_dir"
    export XDG_STATE_HOME="$profile/state"
    unset DBUS_SESSION_BUS_ADDRESS TASKBELL_TRY_PROFILE
    # In the background with its input passed on, so that a signal reaches the trap above at once.
    dbus-run-session -- "$0" "$inner_flag" "$profile" "$token" "$@" <&0 &
    session=$!
    status=0
    wait "$session" || status=$?
    session=""
    exit $status
fi

# Inside the private session: only in the profile this run made, with HOME and the settings inside it.
profile=$2
token=$3
shift 3
if [[ ! -d "$profile" || -L "$profile" || ! -O "$profile" || "$(cat "$profile/run-token" 2>/dev/null)" != "$token" ||
    "$HOME" != "$profile/home" || "$XDG_CONFIG_HOME" != "$profile/config" || "$XDG_DATA_HOME" != "$profile/data" || "$XDG_STATE_HOME" != "$profile/state" ]]; then
    echo "try.sh: $profile is not the trial profile of this run; nothing was written." >&2
    exit 2
fi
echo $$ >"$profile/inner.pid"
children=()
stop() {
    ((${#children[@]} == 0)) || kill "${children[@]}" 2>/dev/null || true
    wait || true
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

printf %s taskbell-try | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
children+=("$!")
gdbus wait --session --timeout 10 org.freedesktop.secrets >/dev/null

info="$profile/jira.json"
"$build_dir/tools/fake_jira" --workspace --info "$info" 2>"$profile/fake-jira.log" &
children+=("$!")
for _ in $(seq 100); do
    [[ -s "$info" ]] && break
    kill -0 "${children[1]}" 2>/dev/null || { cat "$profile/fake-jira.log" >&2; exit 1; }
    sleep 0.1
done
[[ -s "$info" ]] || { echo "try.sh: the sample Jira did not start" >&2; exit 1; }
field() { sed -n "s/.*\"$1\":\"\\([^\"]*\\)\".*/\\1/p" "$info"; }

# The same settings file and keychain item the app writes; automatic updates stay off in a trial.
mkdir -p -m 700 "$XDG_CONFIG_HOME/com.quillet.taskbell"
cat >"$XDG_CONFIG_HOME/com.quillet.taskbell/settings.json" <<JSON
{"baseURL":"$(field baseURL)","email":"$(field email)","projectKey":"TB","defaultIssueType":"Task",
 "monthsBack":3,"refreshMinutes":5,"autoUpdate":false}
JSON
chmod 600 "$XDG_CONFIG_HOME/com.quillet.taskbell/settings.json"
field apiToken | tr -d '\n' | secret-tool store --label="Taskbell API token" service com.quillet.taskbell \
    account apiToken

if [[ " $* " != *" --mcp "* ]]; then
    echo "Taskbell with a sample workspace at $(field baseURL); quit it (or press Ctrl-C here) to end the trial." >&2
fi
"$build_dir/taskbell" "$@" <&0 &
app=$!
children+=("$app")
status=0
wait "$app" || status=$?
exit $status
