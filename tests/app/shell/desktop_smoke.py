# Desktop smoke test, run by ../desktop/session.sh: the real program against the fake Jira site. It starts
# before any tray host and says once that it waits; its icon appears when the host does, a click opens the panel,
# whose accessible tree holds its header, tabs and the signed-in user's task; a move made by `taskbell --mcp` shows
# in the panel and its Undo, pressed through AT-SPI, moves the task back; a second start hands over and ends.
#
# Usage: desktop_smoke.py TASKBELL FAKE_JIRA

import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))
from driver import TIME_LIMIT, Atspi, application, click_tray, fail, find, log_text, names, press  # noqa: E402
from driver import spawn, start_fake_jira, start_trayer, tray_icon, wait_find, wait_for, window  # noqa: E402
from driver import write_profile  # noqa: E402

TASKBELL = sys.argv[1]
FAKE_JIRA = sys.argv[2]


def assistant_moves(key, status):
    # One set_status call through a real `taskbell --mcp` run sharing this session's settings and journal.
    request = {"jsonrpc": "2.0", "id": 1, "method": "tools/call",
               "params": {"name": "set_status", "arguments": {"issueKey": key, "status": status}}}
    done = subprocess.run([TASKBELL, "--mcp"], input=json.dumps(request) + "\n", capture_output=True, text=True,
                          timeout=TIME_LIMIT, check=False)
    if '"isError":true' in done.stdout.replace(" ", "") or done.returncode != 0:
        fail("set_status failed: %s %s" % (done.stdout, done.stderr))


def main():
    base, email, token = start_fake_jira(FAKE_JIRA)
    write_profile({"baseURL": base, "email": email, "refreshMinutes": 0, "autoUpdate": False}, token)
    # The application starts before any tray host, as in a desktop session that starts its panel late.
    app_pid = spawn([TASKBELL], "taskbell.log").pid
    wait_for("word about the tray", lambda: "no system tray is running yet" in log_text("taskbell.log"), 20)
    start_trayer()
    start = time.monotonic()
    x, y, width, height = wait_for("the tray icon", tray_icon)
    print("tray icon %dx%d at +%d+%d after %.2f s" % (width, height, x, y, time.monotonic() - start))
    app = wait_for("the application on the accessibility bus", lambda: application(app_pid))
    click_tray()
    panel = wait_for("the panel after the click", lambda: window(app, "Taskbell"), 10)
    print("panel shown after the click")

    # (role, name pattern): the header, the filter tabs with their counts, the sample task of the signed-in
    # user and the row's controls.
    expected = [("label", r"My Jira Tasks"), ("label", r"Ana Pereira"), ("radio button", r"All \d+"),
                ("radio button", r"In Progress \d+"), ("label", r"Fix the tray badge on Wayland")]
    expected += [("push button", name) for name in ("Change status", "Settings", "Refresh", "Add task", "Quit")]

    def present(item, tree):
        return any(role == item[0] and re.fullmatch(item[1], name) for role, name in tree)

    def complete():
        Atspi.Accessible.clear_cache(panel)
        tree = names(panel)
        return tree if all(present(item, tree) for item in expected) else None

    tree = wait_for("the panel's accessible tree", complete, quiet=True)
    if tree is None:
        tree = names(panel)
        missing = [item for item in expected if not present(item, tree)]
        fail("the panel's accessible tree lacks %s; it holds %s" % (missing, tree[:80]))
    groups = [name for role, name in tree if role == "panel" and name.endswith(": Fix the tray badge on Wayland")]
    if not groups:
        fail("no accessible group for the task row")
    print("panel holds the header, the tabs and the row " + groups[0])

    # The filter tabs work through their accessibility action: pressing "All" shows the section headers.
    press(find(panel, "radio button", r"All \d+"))

    def headers_shown():
        Atspi.Accessible.clear_cache(panel)
        tree = names(panel)
        return all(("label", title) in tree for title in ("Backlog", "In Progress", "Done"))

    wait_for("the section headers after pressing the All tab", headers_shown, 10)
    print("the All tab, pressed through AT-SPI, shows the three section headers")

    # An assistant moves the task; the panel lists the change at once and Undo, pressed through AT-SPI, moves
    # it back (the In Progress tab counts it again).
    key = groups[0].split(":")[0]
    in_progress = find(panel, "radio button", r"In Progress \d+").get_name()
    assistant_moves(key, "done")
    written = time.monotonic()
    wait_find(panel, "panel", r"Changed by your assistant", 10)
    wait_find(panel, "push button", r"Moved %s to Done" % re.escape(key), 10)
    wait_find(panel, "radio button", r"In Progress %d" % (int(in_progress.split()[-1]) - 1), 10)
    print("the panel lists and counts the assistant's move of %s %.2f s after the write"
          % (key, time.monotonic() - written))
    press(wait_find(panel, "push button", r"Undo", 10))
    wait_find(panel, "label", r"Undone", 10)
    wait_find(panel, "radio button", re.escape(in_progress), 10)
    print("Undo, pressed through AT-SPI, moved %s back (%s)" % (key, in_progress))
    if log_text("taskbell.log").count("no system tray") != 1:
        fail("the wait for a tray was reported more than once")
    second = subprocess.run([TASKBELL], capture_output=True, timeout=20).returncode
    if second != 0:
        fail("a second start, which hands over to the running one, ended with %d" % second)
    print("PASS")


main()
