"""Drives the running Taskbell from outside: the tray icon through X11, everything else through AT-SPI."""

import os
import re
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

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


def click_tray():
    x, y, width, height = wait_for("the tray icon", tray_icon)
    subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"], check=True)
    # Two clicks within the double-click interval would arrive as one double click.
    time.sleep(0.5)


def open_panel(app):
    """The shown panel: as it is when it is open already, else opened with a click on the tray icon."""
    panel = window(app, "Taskbell")
    if panel is None:
        click_tray()
        panel = wait_for("the panel", lambda: window(app, "Taskbell"))
    return panel


def application(pid):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return not open("/proc/%d/stat" % pid).read().split(") ")[-1].startswith("Z")


def showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def window(app, title):
    Atspi.Accessible.clear_cache(app)
    for index in range(app.get_child_count()):
        child = app.get_child_at_index(index)
        if child is not None and child.get_name() == title and showing(child):
            return child
    return None


def names(node, depth=0, found=None):
    """(role, name) of the showing nodes below `node`."""
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
        if child.get_role_name() == role and re.fullmatch(pattern, child.get_name(), re.S):
            return child
        found = find(child, role, pattern, depth + 1)
        if found is not None:
            return found
    return None


def wait_find(node, role, pattern, limit=TIME_LIMIT):
    def probe():
        Atspi.Accessible.clear_cache(node)
        return find(node, role, pattern)

    return wait_for("%s %r" % (role, pattern), probe, limit)


def press(node):
    """Runs the node's Press (or Toggle) action; a slot that ends the application may leave no reply."""
    action = node.get_action_iface()
    wanted = [i for i in range(action.get_n_actions()) if action.get_action_name(i).lower() in ("press", "toggle")]
    if not wanted:
        fail("%r offers no Press action" % node.get_name())
    Atspi.set_timeout(2000, 2000)
    try:
        action.do_action(wanted[0])
    except gi.repository.GLib.GError:
        pass
