"""Checks the running Taskbell on the smoke test's display: tray icon, click, panel's accessible tree."""

import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop"))
from driver import (  # noqa: E402
    TIME_LIMIT,
    Atspi,
    application,
    click_tray,
    fail,
    find,
    names,
    press,
    tray_icon,
    wait_for,
    window,
)

APP_PID = int(sys.argv[1])


def main():
    start = time.monotonic()
    x, y, width, height = wait_for("the tray icon", tray_icon)
    print("tray icon %dx%d at +%d+%d after %.2f s" % (width, height, x, y, time.monotonic() - start))
    app = wait_for("the application on the accessibility bus", lambda: application(APP_PID))
    click_tray()
    panel = wait_for("the panel after the click", lambda: window(app, "Taskbell"), 10)
    print("panel shown after the click")

    # (role, name pattern): the header, the filter tabs with their counts, the sample task of the signed-in
    # user and the row's controls.
    expected = [
        ("label", r"My Jira Tasks"),
        ("label", r"Ana Pereira"),
        ("radio button", r"All \d+"),
        ("radio button", r"In Progress \d+"),
        ("label", r"Fix the tray badge on Wayland"),
        ("push button", r"Change status"),
        ("push button", r"Settings"),
        ("push button", r"Refresh"),
        ("push button", r"Add task"),
        ("push button", r"Quit"),
    ]

    def present(item, tree):
        return any(role == item[0] and re.fullmatch(item[1], name) for role, name in tree)

    def complete():
        Atspi.Accessible.clear_cache(panel)
        tree = names(panel)
        return tree if all(present(item, tree) for item in expected) else None

    deadline = time.monotonic() + TIME_LIMIT
    tree = None
    while time.monotonic() < deadline and tree is None:
        tree = complete()
        if tree is None:
            time.sleep(0.2)
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
    print("PASS")


main()
