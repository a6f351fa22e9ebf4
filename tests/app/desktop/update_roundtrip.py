"""The update round trip seen from outside: three offers of v2 through "Check now" and "Update & Relaunch".

Usage: update_roundtrip.py APP_PID FEED_DIR FEED_LOG INSTALLED_EXE
FEED_DIR holds appcast-signature.json, appcast-checksum.json and appcast-good.json; the loopback feed
server serves FEED_DIR/appcast.json, which this script points at each in turn.
"""

import os
import shutil
import sys
import time

from driver import alive, application, fail, open_panel, press, wait_find, wait_for, window

APP_PID = int(sys.argv[1])
FEED_DIR = sys.argv[2]
FEED_LOG = sys.argv[3]
INSTALLED_EXE = sys.argv[4]

SIGNATURE_TEXT = r"Download rejected: not signed by the expected developer\.\n.+"
CHECKSUM_TEXT = r"Download rejected: checksum doesn't match the manifest\."


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


def refused(app, name, text):
    offer(app, name)
    panel = update_from_panel(app)
    wait_find(panel, "label", text, 60)
    if not alive(APP_PID):
        fail("the application ended after a refused update")
    print("refused (%s), v1 still running" % name)


def relaunched():
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != APP_PID:
            try:
                if os.readlink("/proc/%s/exe" % entry) == INSTALLED_EXE:
                    return int(entry)
            except OSError:
                continue
    return None


def main():
    app = wait_for("the application on the accessibility bus", lambda: application(APP_PID))
    refused(app, "signature", SIGNATURE_TEXT)
    refused(app, "checksum", CHECKSUM_TEXT)
    offer(app, "good")
    update_from_panel(app)
    wait_for("v1 to quit", lambda: not alive(APP_PID), 60)
    pid = wait_for("the relaunched application", relaunched, 30)
    print("v1 quit; the installed path runs again as process %d" % pid)
    with open(os.path.join(FEED_DIR, "relaunched.pid"), "w") as out:
        out.write(str(pid))
    print("PASS")


main()
