#!/usr/bin/env bash
# The desktop application's start beside the floor, a bare Qt tray program (QApplication and one
# QSystemTrayIcon), in one run: Xvfb with the trayer tray host, a fresh unconfigured profile for every
# start, the two programs taking turns. For each start: time to its tray icon being shown, resident memory
# after idling, and CPU used from start to then. Prints each start, the medians and the application's
# figures against the floor's. Figures only.
# Usage: tray_start_bench.sh TASKBELL FLOOR_TRAY [ROUNDS] [IDLE_SECONDS]
set -uo pipefail
taskbell=$1
floor=$2
rounds=${3:-5}
idle=${4:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/taskbell-traybench-XXXXXX") || exit 1
pids=()
running=""
cleanup() {
    for pid in $running "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in $running "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$work/display")"
trayer --edge top --align right --widthtype request --height 24 --SetDockType true --transparent false \
    --tint 0xdddddd --expand true >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xwininfo -root -tree | grep -q '("panel" "trayer")' && break; sleep 0.1; done

# True when a window of the given WM_CLASS instance sits inside trayer's panel (deeper in the tree).
icon_shown() {
    xwininfo -root -tree | awk -v class="(\"$1\"" '
        { indent = match($0, /[^ ]/) }
        /\("panel" "trayer"\)/ { panel = indent; next }
        panel && indent <= panel { panel = 0 }
        panel && index($0, class) { found = 1 }
        END { exit !found }'
}

ticks_per_second=$(getconf CLK_TCK)
# User plus system CPU of a process so far, in milliseconds.
cpu_ms() {
    local stat
    stat=$(<"/proc/$1/stat") || return 1
    stat=${stat##*) }
    read -r -a fields <<<"$stat"
    echo $(((fields[11] + fields[12]) * 1000 / ticks_per_second))
}
resident_kb() {
    awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}

# One start, run in this shell (not a subshell) so that the traps above can end it: sets m_start (ms),
# m_resident (kB) and m_cpu (ms), or fails.
measure() {
    local program=$1 class=$2 profile=$3
    mkdir -p "$profile/config" "$profile/runtime" "$profile/home"
    chmod 700 "$profile/runtime"
    local start now elapsed
    start=$(date +%s%N)
    env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY HOME="$profile/home" XDG_CONFIG_HOME="$profile/config" \
        XDG_RUNTIME_DIR="$profile/runtime" QT_QPA_PLATFORM=xcb "$program" >/dev/null 2>&1 &
    running=$!
    until icon_shown "$class"; do
        kill -0 "$running" 2>/dev/null || { echo "$class ended before showing its icon" >&2; return 1; }
        now=$(date +%s%N)
        ((now - start > 20000000000)) && { echo "$class showed no tray icon within 20 s" >&2; return 1; }
        sleep 0.005
    done
    elapsed=$((($(date +%s%N) - start) / 1000000))
    now=$(date +%s%N)
    local rest=$((idle * 1000000000 - (now - start)))
    ((rest > 0)) && sleep "$(printf '%d.%09d' $((rest / 1000000000)) $((rest % 1000000000)))"
    m_start=$elapsed
    m_resident=$(resident_kb "$running")
    m_cpu=$(cpu_ms "$running")
    kill "$running"
    wait "$running" 2>/dev/null
    running=""
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$(($# / 2 + 1))p"; }

declare -A start_ms resident cpu
for round in $(seq "$rounds"); do
    # Taking turns, and the order swapped every round, so neither always starts on a warmer cache.
    order=(taskbell floor)
    ((round % 2 == 0)) && order=(floor taskbell)
    for name in "${order[@]}"; do
        program=$taskbell
        [[ $name == floor ]] && program=$floor
        measure "$program" "$(basename "$program")" "$work/$name-$round" || exit 1
        start_ms[$name]+="$m_start "
        resident[$name]+="$m_resident "
        cpu[$name]+="$m_cpu "
        printf '%-8s start %d: tray icon after %5d ms, resident after %d s %6d kB, CPU to then %4d ms\n' \
            "$name" "$round" "$m_start" "$idle" "$m_resident" "$m_cpu"
    done
done

declare -A median_start median_resident median_cpu
for name in taskbell floor; do
    read -r -a s <<<"${start_ms[$name]}"
    read -r -a r <<<"${resident[$name]}"
    read -r -a c <<<"${cpu[$name]}"
    median_start[$name]=$(median "${s[@]}")
    median_resident[$name]=$(median "${r[@]}")
    median_cpu[$name]=$(median "${c[@]}")
    printf '%-8s median over %d starts: tray icon after %d ms, resident %d kB, CPU %d ms\n' "$name" "$rounds" \
        "${median_start[$name]}" "${median_resident[$name]}" "${median_cpu[$name]}"
done
awk -v as="${median_start[taskbell]}" -v fs="${median_start[floor]}" -v ar="${median_resident[taskbell]}" \
    -v fr="${median_resident[floor]}" -v ac="${median_cpu[taskbell]}" -v fc="${median_cpu[floor]}" \
    'BEGIN { printf "taskbell against the floor: start %.2fx, resident %+.1f MB, CPU %+d ms\n",
             fs ? as / fs : 0, (ar - fr) / 1024, ac - fc }'
