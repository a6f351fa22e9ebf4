#!/usr/bin/env bash
# Tries Taskbell without a Jira site: starts a local stand-in for Jira Cloud with a sample workspace, a
# throwaway profile (private HOME and XDG folders, a private D-Bus session with its own unlocked keyring)
# and the app, or the MCP server on standard input and output when given --mcp. Nothing touches your own
# settings or keychain, and the profile is removed when it exits.
#
#   scripts/try.sh [--mcp]
#
# TASKBELL_BUILD_DIR names the build folder (default build/); TASKBELL_NO_BUILD=1 skips set-up and build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${TASKBELL_BUILD_DIR:-$root/build}

if [[ -z "${TASKBELL_TRY_PROFILE:-}" ]]; then
    if [[ "${TASKBELL_NO_BUILD:-0}" != 1 ]]; then
        "$root/scripts/setup.sh" >&2
        cmake -S "$root" -B "$build_dir" -G Ninja >&2
        cmake --build "$build_dir" --target taskbell taskbell_gui fake_jira >&2
    fi
    profile=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-try-XXXXXX")
    trap 'rm -rf "$profile"' EXIT
    mkdir -p "$profile/home" "$profile/config" "$profile/data" "$profile/cache" "$profile/runtime"
    chmod 700 "$profile/runtime"
    export HOME="$profile/home" XDG_CONFIG_HOME="$profile/config" XDG_DATA_HOME="$profile/data"
    export XDG_CACHE_HOME="$profile/cache" XDG_RUNTIME_DIR="$profile/runtime"
    export XDG_STATE_HOME="$profile/state"
    export TASKBELL_TRY_PROFILE="$profile" TASKBELL_BUILD_DIR="$build_dir"
    unset DBUS_SESSION_BUS_ADDRESS
    status=0
    dbus-run-session -- "$0" "$@" || status=$?
    exit $status
fi

# Inside the private session.
profile=$TASKBELL_TRY_PROFILE
printf %s taskbell-try | gnome-keyring-daemon --unlock --components=secrets >/dev/null
gdbus wait --session --timeout 10 org.freedesktop.secrets >/dev/null

info="$profile/jira.json"
"$build_dir/tools/fake_jira" --workspace --info "$info" 2>"$profile/fake-jira.log" &
jira_pid=$!
trap 'kill "$jira_pid" 2>/dev/null; wait "$jira_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [[ -s "$info" ]] && break
    kill -0 "$jira_pid" 2>/dev/null || { cat "$profile/fake-jira.log" >&2; exit 1; }
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
"$build_dir/taskbell" "$@"
