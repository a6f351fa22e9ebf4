"""Checks the running Taskbell on the smoke test's display: tray icon, click, panel's accessible tree."""

import re
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

APP_PID = int(sys.argv[1])
TIME_LIMIT = 30.0


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def wait_for(what, probe, limit=TIME_LIMIT):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def tray_icon():
    """The app's window embedded in trayer's panel: (x, y, width, height) on the root window."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout.splitlines()
    panel_indent = None
    for line in tree:
        indent = len(line) - len(line.lstrip())
        if '("panel" "trayer")' in line:
            panel_indent = indent
            continue
        if panel_indent is None:
            continue
        if indent <= panel_indent and line.strip():
            panel_indent = None
            continue
        match = re.search(r'\("taskbell" "[^"]*"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', line)
        if match:
            width, height, x, y = map(int, match.groups())
            if 0 < width <= 64 and 0 < height <= 64:
                return x, y, width, height
    return None


def application():
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        if app is not None and app.get_process_id() == APP_PID:
            return app
    return None


def showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def panel_window(app):
    for index in range(app.get_child_count()):
        window = app.get_child_at_index(index)
        if window is not None and window.get_name() == "Taskbell" and showing(window):
            return window
    return None


def names(node, depth=0, found=None):
    """Names of the showing nodes below `node`, with their roles."""
    found = [] if found is None else found
    if depth > 40:
        return found
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is None or not showing(child):
            continue
        found.append((child.get_role_name(), child.get_name()))
        names(child, depth + 1, found)
    return found


def find(node, role, pattern, depth=0):
    """The first showing node below `node` with this role and a name matching the pattern."""
    if depth > 40:
        return None
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is None or not showing(child):
            continue
        if child.get_role_name() == role and re.fullmatch(pattern, child.get_name()):
            return child
        found = find(child, role, pattern, depth + 1)
        if found is not None:
            return found
    return None


def main():
    start = time.monotonic()
    x, y, width, height = wait_for("the tray icon", tray_icon)
    print("tray icon %dx%d at +%d+%d after %.2f s" % (width, height, x, y, time.monotonic() - start))
    app = wait_for("the application on the accessibility bus", application)
    subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"], check=True)
    panel = wait_for("the panel after the click", lambda: panel_window(app), 10)
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
    tab = find(panel, "radio button", r"All \d+")
    action = tab.get_action_iface()
    press = [i for i in range(action.get_n_actions()) if action.get_action_name(i) in ("press", "Press")]
    if not press:
        fail("the All tab offers no Press action")
    action.do_action(press[0])

    def headers_shown():
        Atspi.Accessible.clear_cache(panel)
        tree = names(panel)
        return all(("label", title) in tree for title in ("Backlog", "In Progress", "Done"))

    wait_for("the section headers after pressing the All tab", headers_shown, 10)
    print("the All tab, pressed through AT-SPI, shows the three section headers")
    print("PASS")


main()
