#!/usr/bin/env bash
# Desktop smoke test: the real program on a virtual X display with a tray host, a private session bus, a
# Secret Service and the accessibility bus, against the fake Jira site. The tray icon must appear, a click
# must open the panel, and the panel's accessible tree must hold its header, tabs and the signed-in
# user's task. Exits 77 (skipped) only when Xvfb is not installed.
# Usage: desktop_smoke.sh TASKBELL FAKE_JIRA
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [[ "${1:-}" != "--inner" ]]; then
    command -v Xvfb >/dev/null 2>&1 || { echo "desktop smoke: Xvfb is not installed; skipped"; exit 77; }
    for tool in trayer xdotool xwininfo dbus-run-session gnome-keyring-daemon secret-tool; do
        command -v "$tool" >/dev/null 2>&1 || { echo "desktop smoke: $tool is missing"; exit 1; }
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-smoke-XXXXXX")
    xvfb_pid=""
    cleanup() {
        [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
        rm -rf "$work"
    }
    trap cleanup EXIT
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s "$work/display" ]] && break
        sleep 0.1
    done
    [[ -s "$work/display" ]] || { echo "desktop smoke: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    mkdir -p "$work/home" "$work/config" "$work/runtime" "$work/cache" "$work/data"
    chmod 700 "$work/runtime"
    status=0
    env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER \
        DISPLAY=":$(tr -d '\n' <"$work/display")" HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
        XDG_RUNTIME_DIR="$work/runtime" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" \
        SMOKE_WORK="$work" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=0 \
        timeout -k 5 100 dbus-run-session -- "${BASH_SOURCE[0]}" --inner "$@" || status=$?
    if ((status != 0)); then
        for log in "$work"/*.log; do
            echo "---- $(basename "$log")"
            tail -n 30 "$log"
        done
    fi
    exit $status
fi

# Inside the private session.
shift
taskbell=$1
fake_jira=$2
work=$SMOKE_WORK
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 30); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
    done
}
trap stop_all EXIT

wait_for() { # seconds, command...
    local tries=$(($1 * 10))
    shift
    for _ in $(seq "$tries"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
has_name() { # bus-address-option, name
    gdbus call $1 --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$2" 2>/dev/null | grep -q true
}

# Secret Service with the API token.
printf %s smoke | gnome-keyring-daemon --unlock --components=secrets >"$work/keyring.log" 2>&1
gdbus wait --session --timeout 10 org.freedesktop.secrets || { echo "no Secret Service"; exit 1; }

# The fake Jira site and the application's settings.
"$fake_jira" 2>"$work/fake_jira.log" &
pids+=($!)
wait_for 10 grep -q '^token:' "$work/fake_jira.log" || { echo "fake Jira did not start"; exit 1; }
base=$(sed -n 's/^Fake Jira Cloud at //p' "$work/fake_jira.log")
email=$(sed -n 's/^e-mail: //p' "$work/fake_jira.log")
token=$(sed -n 's/^token: *//p' "$work/fake_jira.log")
printf %s "$token" | secret-tool store --label "Taskbell" service com.quillet.taskbell account apiToken
mkdir -p -m 700 "$XDG_CONFIG_HOME/com.quillet.taskbell"
printf '{"baseURL": "%s", "email": "%s", "refreshMinutes": 0, "autoUpdate": false}\n' "$base" "$email" \
    >"$XDG_CONFIG_HOME/com.quillet.taskbell/settings.json"

# The accessibility bus, switched on before the application starts, and its registry.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
pids+=($!)
wait_for 10 has_name --session org.a11y.Bus || { echo "no accessibility bus"; exit 1; }
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<true>" >/dev/null
a11y=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress |
    sed -E "s/^\('(.*)',\)$/\1/")
/usr/libexec/at-spi2-registryd --use-gnome-session >"$work/registryd.log" 2>&1 &
pids+=($!)
wait_for 10 has_name "--address $a11y" org.a11y.atspi.Registry || { echo "no accessibility registry"; exit 1; }

# The application starts before any tray host, as in a desktop session that starts its panel late: it
# says once that it waits, and its icon appears when the host does.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$taskbell" >"$work/taskbell.log" 2>&1 &
app=$!
pids+=($app)
wait_for 20 grep -q "no system tray is running yet" "$work/taskbell.log" || { echo "no word about the tray"; exit 1; }
# The tray host.
trayer --edge top --align right --widthtype request --height 24 --SetDockType true --SetPartialStrut true \
    --transparent false --tint 0xdddddd --expand true >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 10 sh -c 'xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"' || { echo "trayer did not start"; exit 1; }

# The checks.
/usr/bin/python3 "$here/desktop_smoke.py" "$app" 2>&1 | tee "$work/checks.log"
result=${PIPESTATUS[0]}
if ((result == 0)) && (($(grep -c "no system tray" "$work/taskbell.log") != 1)); then
    echo "the wait for a tray was reported more than once"
    result=1
fi
if ((result == 0)); then
    # A second start hands over to the running instance and ends at once.
    timeout 20 env QT_QPA_PLATFORM=xcb "$taskbell" >"$work/second.log" 2>&1
    second=$?
    ((second == 0)) || { echo "a second start ended with $second"; result=1; }
fi
exit $result
