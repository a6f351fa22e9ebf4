#!/usr/bin/env bash
# The panel's answers to an assistive technology with many issues: the real program with its accessibility
# bridge on, in a private desktop session (Xvfb, trayer, a session bus with the AT-SPI bus, a Secret
# Service), against the fake Jira site holding ISSUES issues of the signed-in user. Opens the panel, then
# clicks each filter tab (All, Backlog, In Progress, Done) through AT-SPI for ROUNDS rounds, timing from the
# click until the program answers an AT-SPI call that shows the new tab (the task list's description); then
# reads the program's resident memory after idling on All. Prints each tab's median and maximum, the
# resident memory and the machine's load while measuring. Figures only.
# Usage: atspi_bench.sh TASKBELL FAKE_JIRA [ROUNDS] [IDLE_SECONDS] [ISSUES]
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
desktop="$here/../tests/app/desktop"
if [[ "${1:-}" != "--inner" ]]; then
    (($# >= 2)) || { echo "usage: atspi_bench.sh TASKBELL FAKE_JIRA [ROUNDS] [IDLE_SECONDS] [ISSUES]" >&2; exit 2; }
    # session.sh ends the whole session (and every process in it) on EXIT, INT, TERM and HUP.
    exec "$desktop/session.sh" 600 "$here/atspi_bench.sh" --inner "$@"
fi

# Inside the private session (see tests/app/desktop/session.sh).
shift
source "$desktop/lib.sh"
trap stop_all EXIT
taskbell=$1
fake_jira=$2
rounds=${3:-5}
idle=${4:-10}
issues=${5:-900}
work=$SESSION_WORK

"$fake_jira" --issues "$issues" 2>"$work/fake_jira.log" &
pids+=("$!")
wait_for 20 grep -q '^token:' "$work/fake_jira.log" || { echo "fake Jira did not start"; exit 1; }
base=$(sed -n 's/^Fake Jira Cloud at //p' "$work/fake_jira.log")
email=$(sed -n 's/^e-mail: //p' "$work/fake_jira.log")
token=$(sed -n 's/^token: *//p' "$work/fake_jira.log")
# Six months of Done, so that every seeded issue is listed.
write_profile "{\"baseURL\": \"$base\", \"email\": \"$email\", \"refreshMinutes\": 0, \"autoUpdate\": false,
 \"monthsBack\": 6}" "$token"

start_trayer || exit 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$taskbell" >"$work/taskbell.log" 2>&1 &
app=$!
pids+=("$app")

PYTHONPATH="$desktop" /usr/bin/python3 "$here/atspi_bench.py" "$app" "$issues" "$rounds" "$idle" 2>&1 |
    tee "$work/bench.log"
exit "${PIPESTATUS[0]}"
