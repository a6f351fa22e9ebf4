#!/usr/bin/env bash
# Desktop smoke test: the real program on a virtual X display with a tray host, a private session bus, a
# Secret Service and the accessibility bus (see ../desktop/session.sh), against the fake Jira site. The tray
# icon must appear, a click must open the panel, and the panel's accessible tree must hold its header, tabs
# and the signed-in user's task; a move made by `taskbell --mcp` must show in the panel and its Undo, pressed
# through the accessibility interface, must move the task back. Exits 77 (skipped) only when Xvfb is not installed.
# Usage: desktop_smoke.sh TASKBELL FAKE_JIRA
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ "${1:-}" != "--inner" ]]; then
    exec "$here/../desktop/session.sh" 100 "$here/desktop_smoke.sh" --inner "$@"
fi

# Inside the private session.
shift
source "$here/../desktop/lib.sh"
trap stop_all EXIT
taskbell=$1
fake_jira=$2
work=$SESSION_WORK

# The fake Jira site and the application's settings.
"$fake_jira" 2>"$work/fake_jira.log" &
pids+=($!)
wait_for 10 grep -q '^token:' "$work/fake_jira.log" || { echo "fake Jira did not start"; exit 1; }
base=$(sed -n 's/^Fake Jira Cloud at //p' "$work/fake_jira.log")
email=$(sed -n 's/^e-mail: //p' "$work/fake_jira.log")
token=$(sed -n 's/^token: *//p' "$work/fake_jira.log")
write_profile "{\"baseURL\": \"$base\", \"email\": \"$email\", \"refreshMinutes\": 0, \"autoUpdate\": false}" "$token"

# The application starts before any tray host, as in a desktop session that starts its panel late: it
# says once that it waits, and its icon appears when the host does.
"$taskbell" >"$work/taskbell.log" 2>&1 &
app=$!
pids+=($app)
wait_for 20 grep -q "no system tray is running yet" "$work/taskbell.log" || { echo "no word about the tray"; exit 1; }
start_trayer || exit 1

# The checks.
/usr/bin/python3 "$here/desktop_smoke.py" "$app" "$taskbell" 2>&1 | tee "$work/checks.log"
result=${PIPESTATUS[0]}
if ((result == 0)) && (($(grep -c "no system tray" "$work/taskbell.log") != 1)); then
    echo "the wait for a tray was reported more than once"
    result=1
fi
if ((result == 0)); then
    # A second start hands over to the running instance and ends at once.
    timeout 20 "$taskbell" >"$work/second.log" 2>&1
    second=$?
    ((second == 0)) || { echo "a second start ended with $second"; result=1; }
fi
exit $result
