#!/usr/bin/env bash
# The panel's answers to an assistive technology with many issues: the real program with its accessibility
# bridge on, in a private desktop session (Xvfb, trayer, a session bus with the AT-SPI bus, a Secret
# Service), against the fake Jira site holding ISSUES issues of the signed-in user. Opens the panel, then
# clicks each filter tab (All, Backlog, In Progress, Done) through AT-SPI for ROUNDS rounds, timing from the
# click until the program answers an AT-SPI call that shows the new tab (the task list's description); then
# reads the program's resident memory after idling on All. Prints each tab's median and maximum, the
# resident memory and the machine's load while measuring. Figures only. With ROUNDS 0 it reads the memory
# idle on In Progress as opened, then idle after one click on All; with ROUNDS -1 the same with the bridge
# off (a second program, clicked with xdotool where the first showed the All tab).
# Usage: atspi_bench.sh TASKBELL FAKE_JIRA [ROUNDS] [IDLE_SECONDS] [ISSUES]
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
(($# >= 2)) || { echo "usage: atspi_bench.sh TASKBELL FAKE_JIRA [ROUNDS] [IDLE_SECONDS] [ISSUES]" >&2; exit 2; }
# session.sh ends the whole session (and every process in it) on EXIT, INT, TERM and HUP.
PYTHONPATH="$here/../tests/app/desktop" exec "$here/../tests/app/desktop/session.sh" 600 /usr/bin/python3 \
    "$here/atspi_bench.py" "$1" "$2" "${3:-5}" "${4:-10}" "${5:-900}"
