#!/usr/bin/env bash
# Start of the desktop application to its tray icon being shown: Xvfb with the trayer tray host, a fresh
# unconfigured profile, five starts; prints each time and the median. Figures only.
# Usage: tray_start_bench.sh TASKBELL
set -uo pipefail
taskbell=$1
rounds=5
work=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-traybench-XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(tr -d '\n' <"$work/display")"
trayer --edge top --align right --widthtype request --height 24 --SetDockType true --transparent false \
    --tint 0xdddddd --expand true >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xwininfo -root -tree | grep -q '("panel" "trayer")' && break; sleep 0.1; done

icon_shown() {
    xwininfo -root -tree | awk '/\("panel" "trayer"\)/ { panel = 1; next } panel && /\("taskbell"/ { found = 1 } END { exit !found }'
}

times=()
for round in $(seq "$rounds"); do
    mkdir -p "$work/$round/config" "$work/$round/runtime"
    chmod 700 "$work/$round/runtime"
    start=$(date +%s%N)
    env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/$round/config" \
        XDG_RUNTIME_DIR="$work/$round/runtime" QT_QPA_PLATFORM=xcb "$taskbell" >/dev/null 2>&1 &
    app=$!
    until icon_shown; do
        kill -0 "$app" 2>/dev/null || { echo "taskbell ended before showing its icon"; exit 1; }
        (( $(date +%s%N) - start > 20000000000 )) && { echo "no tray icon within 20 s"; kill "$app"; exit 1; }
        sleep 0.005
    done
    elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
    times+=("$elapsed")
    echo "start $round: tray icon shown after $elapsed ms"
    kill "$app"
    wait "$app" 2>/dev/null
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "application start to tray icon shown: median ${sorted[$((rounds / 2))]} ms over $rounds starts"
