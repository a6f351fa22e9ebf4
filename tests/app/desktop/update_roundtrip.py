"""The update round trip seen from outside: five offers of v2 through "Check now" and "Update & Relaunch".

Usage: update_roundtrip.py APP_PID FEED_DIR FEED_LOG INSTALLED_EXE
FEED_DIR holds appcast-NAME.json for signature, checksum, unstartable, failing and good; the loopback feed
server serves FEED_DIR/appcast.json, which this script points at each in turn.
"""

import os
import shutil
import subprocess
import sys

from driver import alive, application, fail, open_panel, press, wait_find, wait_for, window

APP_PID = int(sys.argv[1])
FEED_DIR = sys.argv[2]
FEED_LOG = sys.argv[3]
INSTALLED_EXE = sys.argv[4]

SIGNATURE_TEXT = r"Download rejected: not signed by the expected developer\.\n.+"
CHECKSUM_TEXT = r"Download rejected: checksum doesn't match the manifest\."
CANNOT_START_TEXT = r"Download rejected: this version can't start on this system\.\n.*undefined symbol.*"


def offer(app, name):
    """Serves appcast-NAME.json and has the settings window check for it now."""
    shutil.copyfile(os.path.join(FEED_DIR, "appcast-%s.json" % name), os.path.join(FEED_DIR, "appcast.json"))
    settings = window(app, "Taskbell Settings")
    if settings is None:
        press(wait_find(open_panel(app), "push button", "Settings"))
        settings = wait_for("the settings window", lambda: window(app, "Taskbell Settings"))
    fetched = feed_requests()
    press(wait_find(settings, "push button", "Check now"))
    wait_for("the feed request", lambda: feed_requests() > fetched)
    wait_find(settings, "push button", "Check now")  # "Checking…" while the check runs
    wait_find(settings, "label", r"v2\.0\.0 available")
    press(wait_find(settings, "push button", "Cancel"))
    wait_for("the settings window to close", lambda: window(app, "Taskbell Settings") is None)


def feed_requests():
    with open(FEED_LOG) as log:
        return sum(1 for line in log if "GET /appcast.json" in line)


def update_from_panel(app):
    panel = open_panel(app)
    wait_find(panel, "label", r"Version 2\.0\.0 is available")
    press(wait_find(panel, "push button", "Update & Relaunch"))
    return panel


def refused(app, pid, name, text):
    offer(app, name)
    panel = update_from_panel(app)
    wait_find(panel, "label", text, 60)
    if not alive(pid):
        fail("the application ended after a refused update")
    print("refused (%s), v1 still running" % name)


def relaunched(before):
    """The application started from the installed path after process `before`, once it is on the bus."""
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != before:
            try:
                if os.readlink("/proc/%s/exe" % entry) == INSTALLED_EXE and application(int(entry)):
                    return int(entry)
            except OSError:
                continue
    return None


def installed_version():
    ready = subprocess.run([INSTALLED_EXE, "--mcp"], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=20).stderr
    return ready.split("ready (Taskbell ")[-1].split(")")[0]


def update_and_relaunch(app, pid, name):
    offer(app, name)
    update_from_panel(app)
    wait_for("the running version to quit", lambda: not alive(pid), 60)
    pid = wait_for("the relaunched application", lambda: relaunched(pid), 30)
    # The caller stops every relaunched process at exit; the install script started them outside its reach.
    with open(os.path.join(FEED_DIR, "relaunched.pids"), "a") as out:
        out.write("%d\n" % pid)
    return pid


def main():
    app = wait_for("the application on the accessibility bus", lambda: application(APP_PID))
    refused(app, APP_PID, "signature", SIGNATURE_TEXT)
    refused(app, APP_PID, "checksum", CHECKSUM_TEXT)
    refused(app, APP_PID, "unstartable", CANNOT_START_TEXT)
    # v2 that ends at once after the swap: v1 is put back and started again.
    pid = update_and_relaunch(app, APP_PID, "failing")
    if installed_version() != "1.0.0":
        fail("the installed path holds v%s after a failed relaunch" % installed_version())
    print("a v2 that failed at once was rolled back; v1 runs again as process %d" % pid)
    app = application(pid)
    pid = update_and_relaunch(app, pid, "good")
    print("v1 quit; the installed path runs again as process %d" % pid)
    print("PASS")


main()
