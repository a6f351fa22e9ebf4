# Drives Taskbell inside a desktop session (session.sh): starts the processes a test needs and stops them
# however the test ends, clicks the tray icon through X11 and works everything else through AT-SPI.

import atexit
import json
import os
import re
import signal
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

TIME_LIMIT = 30.0
WORK = os.environ.get("SESSION_WORK", "")
started = []  # processes to stop at exit, ours or relaunched ones (pids)


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def stop_all():
    for pid in started:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    for pid in started:
        if wait_for("", lambda: not alive(pid), 3, quiet=True) is None:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass


# A signal ends the test through sys.exit, so its processes are stopped as at any other end.
atexit.register(stop_all)
for number, code in ((signal.SIGINT, 130), (signal.SIGTERM, 143), (signal.SIGHUP, 129)):
    signal.signal(number, lambda *_, code=code: sys.exit(code))


def spawn(args, log, **options):
    # Starts args in the background with stdout and stderr in SESSION_WORK/LOG; stopped at exit.
    with open(os.path.join(WORK, log), "w") as out:
        process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, **options)
    started.append(process.pid)
    return process


def log_text(log):
    with open(os.path.join(WORK, log)) as text:
        return text.read()


def wait_for(what, probe, limit=TIME_LIMIT, quiet=False):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    return None if quiet else fail("timed out waiting for " + what)


def alive(pid):
    # A child of ours has ended once it is reaped, here, so that others waiting for it (an install script
    # polling with kill -0) see it gone too. Its main thread shows as a zombie while the other threads are
    # still ending, and the process cannot be reaped yet then.
    try:
        return os.waitpid(pid, os.WNOHANG)[0] == 0
    except ChildProcessError:
        pass
    try:  # a process started by someone else that ended stays a zombie until its parent reaps it
        with open("/proc/%d/stat" % pid) as stat:
            return not stat.read().split(") ")[-1].startswith("Z")
    except OSError:
        return False


def start_fake_jira(fake_jira, *args):
    # The fake site started as `fake_jira ARGS`: (base URL, e-mail, token).
    spawn([fake_jira, *args], "fake_jira.log")
    wait_for("fake Jira", lambda: re.search(r"^token:", log_text("fake_jira.log"), re.M), 20)
    text = log_text("fake_jira.log")
    return tuple(re.search(pattern, text, re.M).group(1)
                 for pattern in (r"^Fake Jira Cloud at (\S+)", r"^e-mail: (\S+)", r"^token: *(\S+)"))


def write_profile(settings, token=""):
    # The settings file and the keyring item the application reads.
    folder = os.path.join(os.environ["XDG_CONFIG_HOME"], "com.quillet.taskbell")
    os.makedirs(folder, mode=0o700, exist_ok=True)
    with open(os.path.join(folder, "settings.json"), "w") as out:
        json.dump(settings, out)
    if token:
        subprocess.run(["secret-tool", "store", "--label", "Taskbell", "service", "com.quillet.taskbell", "account",
                        "apiToken"], input=token, text=True, check=True)


def start_trayer():
    spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
           "--SetDockType", "true", "--SetPartialStrut", "true", "--transparent", "false", "--tint", "0xdddddd",
           "--expand", "true"], "trayer.log")
    wait_for("trayer", lambda: '("panel" "trayer")' in window_tree(), 10)


def window_tree():
    return subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout


def tray_icon():
    # The app's window embedded in trayer's panel: (x, y, width, height) on the root window.
    panel_indent = None
    for line in window_tree().splitlines():
        indent = len(line) - len(line.lstrip())
        if '("panel" "trayer")' in line:
            panel_indent = indent
        elif panel_indent is not None and indent <= panel_indent and line.strip():
            panel_indent = None
        elif panel_indent is not None:
            match = re.search(r'\("taskbell" "[^"]*"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', line)
            if match and 0 < int(match[1]) <= 64 and 0 < int(match[2]) <= 64:
                width, height, x, y = map(int, match.groups())
                return x, y, width, height
    return None


DOUBLE_CLICK_SECONDS = 0.5
last_tray_click = None


def click_tray():
    global last_tray_click
    x, y, width, height = wait_for("the tray icon", tray_icon)
    # Two clicks within the double-click interval would arrive as one double click: only a click that follows
    # another that closely waits for the rest of the interval.
    if last_tray_click is not None:
        time.sleep(max(0.0, last_tray_click + DOUBLE_CLICK_SECONDS - time.monotonic()))
    subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"], check=True)
    last_tray_click = time.monotonic()


def open_panel(app):
    # The shown panel: as it is when it is open already, else opened with a click on the tray icon.
    if window(app, "Taskbell") is None:
        click_tray()
    return wait_for("the panel", lambda: window(app, "Taskbell"))


def application(pid):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(index)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def children(node):
    # The showing children of `node`.
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None and child.get_state_set().contains(Atspi.StateType.SHOWING):
            yield child


def window(app, title):
    Atspi.Accessible.clear_cache(app)
    return next((child for child in children(app) if child.get_name() == title), None)


def names(node, depth=0):
    # (role, name) of the showing nodes below `node`.
    found = []
    for child in children(node) if depth <= 40 else ():
        found += [(child.get_role_name(), child.get_name())] + names(child, depth + 1)
    return found


def find(node, role, pattern, depth=0):
    # The first showing node below `node` with this role and a name matching the pattern.
    for child in children(node) if depth <= 40 else ():
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
    # Runs the node's Press (or Toggle) action; a slot that ends the application may leave no reply.
    action = node.get_action_iface()
    wanted = [i for i in range(action.get_n_actions()) if action.get_action_name(i).lower() in ("press", "toggle")]
    if not wanted:
        fail("%r offers no Press action" % node.get_name())
    Atspi.set_timeout(2000, 2000)
    try:
        action.do_action(wanted[0])
    except GLib.GError:
        pass
