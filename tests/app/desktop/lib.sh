# Helpers for commands run by session.sh: background processes stopped at exit (on a signal too), waiting
# for a condition, the tray host, and the settings and token of a Taskbell profile.

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
    return 0
}
# Whoever sources this stops its background processes however it ends: a signal exits through the EXIT trap.
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

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

start_trayer() {
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true --SetPartialStrut true \
        --transparent false --tint 0xdddddd --expand true >"$SESSION_WORK/trayer.log" 2>&1 &
    pids+=($!)
    wait_for 10 sh -c 'xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"' || { echo "trayer did not start"; return 1; }
}

# write_profile JSON TOKEN: the settings file and the keychain item the application reads.
write_profile() {
    mkdir -p -m 700 "$XDG_CONFIG_HOME/com.quillet.taskbell"
    printf '%s\n' "$1" >"$XDG_CONFIG_HOME/com.quillet.taskbell/settings.json"
    if [[ -n "$2" ]]; then
        printf %s "$2" | secret-tool store --label "Taskbell" service com.quillet.taskbell account apiToken
    fi
}
