#!/usr/bin/env bash
# Runs a command on a private virtual display (Xvfb) inside a private D-Bus session that has an unlocked
# Secret Service and the accessibility bus switched on, with private HOME and XDG folders (driver.py beside
# this file starts the rest). SESSION_WORK names a scratch folder that is removed afterwards, and the logs in
# it are shown when the command fails. Exits 77 (skipped) only when Xvfb is not installed.
# Usage: session.sh TIME_LIMIT_SECONDS COMMAND [ARGS...]
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [[ "${1:-}" != "--inner" ]]; then
    command -v Xvfb >/dev/null 2>&1 || { echo "desktop session: Xvfb is not installed; skipped"; exit 77; }
    for tool in trayer xdotool xwininfo dbus-run-session gnome-keyring-daemon secret-tool; do
        command -v "$tool" >/dev/null 2>&1 || { echo "desktop session: $tool is missing"; exit 1; }
    done
    limit=$1
    shift
    work=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-desktop-XXXXXX")
    xvfb_pid=""
    session_pid=""
    # timeout runs the session in a process group of its own and passes a signal on to all of it.
    cleanup() {
        [[ -n "$session_pid" ]] && kill "$session_pid" 2>/dev/null && wait "$session_pid" 2>/dev/null
        [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
        rm -rf "$work"
    }
    trap cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s "$work/display" ]] && break
        sleep 0.1
    done
    [[ -s "$work/display" ]] || { echo "desktop session: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    mkdir -p "$work/home" "$work/config" "$work/state" "$work/runtime" "$work/cache" "$work/data" "$work/tmp"
    chmod 700 "$work/runtime"
    # Programs started outside the test's reach (a relaunch after an update) write to /dev/null; a sanitizer
    # report of theirs goes to a file here instead, shown with the logs.
    if [[ "$work" =~ ^[A-Za-z0-9/._-]+$ ]]; then
        export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}log_path=$work/sanitizer"
        export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}log_path=$work/sanitizer"
    fi
    status=0
    env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER \
        DISPLAY=":$(tr -d '\n' <"$work/display")" HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" \
        XDG_RUNTIME_DIR="$work/runtime" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" \
        TMPDIR="$work/tmp" SESSION_WORK="$work" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=0 \
        QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb \
        timeout -k 5 "$limit" dbus-run-session -- "$here/session.sh" --inner "$@" &
    session_pid=$!
    wait "$session_pid" || status=$?
    session_pid=""
    if ((status != 0)); then
        for log in "$work"/*.log; do
            echo "---- $(basename "$log")"
            tail -n 30 "$log"
        done
        for log in "$work"/sanitizer.*; do
            [[ -f "$log" ]] || continue
            echo "---- $(basename "$log")"
            head -n 200 "$log"
        done
    fi
    exit $status
fi

# Inside the private session: the Secret Service and the accessibility bus, then the command.
shift
pids=()
trap 'kill "${pids[@]}" 2>/dev/null' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
wait_name() { # bus-address-option, name: waits up to ten seconds for the name to have an owner
    for _ in $(seq 100); do
        gdbus call $1 --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.NameHasOwner "$2" 2>/dev/null | grep -q true && return 0
        sleep 0.1
    done
    echo "no $2 on the bus"
    return 1
}

printf %s desktop | gnome-keyring-daemon --unlock --components=secrets >"$SESSION_WORK/keyring.log" 2>&1
gdbus wait --session --timeout 10 org.freedesktop.secrets || { echo "no Secret Service"; exit 1; }

# Switched on before any application starts (Qt reads the state once), with its registry.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$SESSION_WORK/atspi.log" 2>&1 &
pids+=($!)
wait_name --session org.a11y.Bus || exit 1
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<true>" >/dev/null
a11y=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress |
    sed -E "s/^\('(.*)',\)$/\1/")
/usr/libexec/at-spi2-registryd --use-gnome-session >"$SESSION_WORK/registryd.log" 2>&1 &
pids+=($!)
wait_name "--address $a11y" org.a11y.atspi.Registry || exit 1

"$@"
