#!/usr/bin/env bash
# Runs a command inside a private D-Bus session with an unlocked gnome-keyring and a private HOME and
# XDG folders, so tests use a real Secret Service without touching the user's own.
# Usage: with-keyring.sh COMMAND [ARGS...]
set -euo pipefail

if [[ -z "${TASKBELL_KEYRING_SESSION:-}" ]]; then
    sandbox=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-session-XXXXXX")
    trap 'rm -rf "$sandbox"' EXIT
    mkdir -p "$sandbox/home" "$sandbox/config" "$sandbox/data" "$sandbox/cache" "$sandbox/runtime"
    chmod 700 "$sandbox/runtime"
    export HOME="$sandbox/home" XDG_CONFIG_HOME="$sandbox/config" XDG_DATA_HOME="$sandbox/data"
    export XDG_CACHE_HOME="$sandbox/cache" XDG_RUNTIME_DIR="$sandbox/runtime"
    export XDG_STATE_HOME="$sandbox/state"
    unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
    export TASKBELL_KEYRING_SESSION=1
    status=0
    dbus-run-session -- "$0" "$@" || status=$?
    exit $status
fi

# Inside the session: start the keyring with the secrets component and an unlocked login collection.
printf %s taskbell-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
gdbus wait --session --timeout 10 org.freedesktop.secrets
exec "$@"
