# The update round trip on a desktop session (run by session.sh): Taskbell v1, installed as a user would
# have it, finds v2 on a loopback feed through "Check now" and "Update & Relaunch". A v2 signed with another key,
# a v2 whose checksum does not match and a v2 whose program cannot start here are refused with v1 left in place
# and running; a v2 that ends at once after the swap is rolled back and v1 starts again; the good v2 is
# downloaded, verified, swapped in by install.sh and started from the same path, with nothing left behind.
#
# Usage: update_roundtrip.py SOURCE_DIR BUILD_DIR TEST_KEY_MODULE UNLINKABLE_MODULE FAILING_MODULE

import os
import re
import shutil
import subprocess
import sys
import time

from driver import WORK, alive, application, fail, log_text, open_panel, press, spawn, start_trayer, started
from driver import wait_find, wait_for, window, write_profile

SOURCE, BUILD, MODULE, UNLINKABLE, FAILING = sys.argv[1:6]
FEED = os.path.join(WORK, "feed")
LIB = os.path.join(os.environ["HOME"], ".local", "lib", "taskbell")
INSTALLED = os.path.join(LIB, "Taskbell.app", "Contents", "bin", "taskbell")
TEST_KEY = os.path.join(SOURCE, "tests", "data", "update", "test-release-key.pem")

BEGIN = time.monotonic()

SIGNATURE_TEXT = r"Download rejected: not signed by the expected developer\.\n.+"
CHECKSUM_TEXT = r"Download rejected: checksum doesn't match the manifest\."
CANNOT_START_TEXT = r"Download rejected: this version can't start on this system\.\n.*undefined symbol.*"


def package(base, version, build, key, folder, module=MODULE):
    # Packages a release into FEED/folder; its appcast.
    done = subprocess.run([os.path.join(SOURCE, "tools", "package.sh"), "--version", version, "--build", build,
                           "--module", module, BUILD, key, base + "/" + folder, os.path.join(FEED, folder)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        fail("packaging %s (%s) failed: %s" % (version, folder, done.stderr))
    return done.stdout


def serve_feed():
    # The loopback feed server over FEED, appcast-NAME.json for each offer; its address.
    other_key = os.path.join(WORK, "other-key.pem")
    subprocess.run([os.path.join(BUILD, "tools", "sign_bundle"), "keygen", other_key], capture_output=True, check=True)
    os.makedirs(FEED)
    spawn([sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1", "--directory", FEED, "0"], "feed.log")
    port = wait_for("the feed server", lambda: re.search(r" port (\d+)", log_text("feed.log")), 10).group(1)
    base = "http://127.0.0.1:" + port
    package(base, "1.0.0", "1", TEST_KEY, "v1")
    offers = {"good": package(base, "2.0.0", "2", TEST_KEY, "good"),
              "signature": package(base, "2.0.0", "2", other_key, "other"),
              "unstartable": package(base, "2.0.0", "2", TEST_KEY, "unstartable", UNLINKABLE),
              "failing": package(base, "2.0.0", "2", TEST_KEY, "failing", FAILING)}
    offers["checksum"] = re.sub(r'"sha256":"[0-9a-f]*"', '"sha256":"' + "0" * 64 + '"', offers["good"])
    for name, appcast in offers.items():
        with open(os.path.join(FEED, "appcast-%s.json" % name), "w") as out:
            out.write(appcast)
    return base


def offer(app, name):
    # Serves appcast-NAME.json and has the settings window check for it now.
    shutil.copyfile(os.path.join(FEED, "appcast-%s.json" % name), os.path.join(FEED, "appcast.json"))
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
    return log_text("feed.log").count("GET /appcast.json")


def update_from_panel(app):
    panel = open_panel(app)
    wait_find(panel, "label", r"Version 2\.0\.0 is available")
    press(wait_find(panel, "push button", "Update & Relaunch"))
    return panel


def refused(app, pid, name, text):
    offer(app, name)
    wait_find(update_from_panel(app), "label", text, 60)
    if not alive(pid):
        fail("the application ended after a refused update")
    print("%s: refused (%s), v1 still running" % (elapsed(), name), flush=True)


def relaunched(before):
    # The application started from the installed path after process `before`, once it is on the bus.
    for entry in os.listdir("/proc"):
        if entry.isdigit() and int(entry) != before:
            try:
                if os.readlink("/proc/%s/exe" % entry) == INSTALLED and application(int(entry)):
                    return int(entry)
            except OSError:
                continue
    return None


def installed_version():
    ready = subprocess.run([INSTALLED, "--mcp"], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=20).stderr
    return ready.split("ready (Taskbell ")[-1].split(")")[0]


def elapsed():
    return "%.1f s" % (time.monotonic() - BEGIN)


def show_state():
    # What a failed relaunch left: the install folder and the processes running from it or installing.
    for folder, names, files in os.walk(LIB):
        depth = folder[len(LIB):].count(os.sep)
        if depth <= 2:
            print("  %s/ %s" % (folder, sorted(names + files)), flush=True)
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as cmdline:
                words = cmdline.read().split(b"\0")
            with open("/proc/%s/stat" % entry) as stat:
                state = stat.read().split(") ")[-1][0]
        except OSError:
            continue
        text = b" ".join(words).decode(errors="replace")
        if "taskbell" in text.lower():
            print("  process %s (%s): %s" % (entry, state, text), flush=True)


def update_and_relaunch(app, pid, name):
    offer(app, name)
    update_from_panel(app)
    print("%s: installing %s" % (elapsed(), name), flush=True)
    wait_for("the running version to quit", lambda: not alive(pid), 60)
    print("%s: process %d quit" % (elapsed(), pid), flush=True)
    # The relaunch waits up to ten seconds for a failing program to end, then starts the previous one.
    found = wait_for("", lambda: relaunched(pid), 60, quiet=True)
    if found is None:
        show_state()
        fail("timed out waiting for the relaunched application")
    started.append(found)  # install.sh started it outside our reach
    print("%s: process %d runs from the installed path" % (elapsed(), found), flush=True)
    return found


def main():
    base = serve_feed()
    print("%s: feed ready" % elapsed(), flush=True)
    shutil.copyfile(os.path.join(FEED, "appcast-good.json"), os.path.join(FEED, "appcast.json"))
    os.makedirs(LIB)
    subprocess.run(["unzip", "-q", os.path.join(FEED, "v1", "Taskbell-1.0.0.zip"), "-d", LIB], check=True)
    write_profile({"updateFeedURL": base + "/appcast.json", "autoUpdate": False, "refreshMinutes": 0})
    start_trayer()
    pid = spawn([INSTALLED], "taskbell.log").pid
    app = wait_for("the application on the accessibility bus", lambda: application(pid))
    refused(app, pid, "signature", SIGNATURE_TEXT)
    refused(app, pid, "checksum", CHECKSUM_TEXT)
    refused(app, pid, "unstartable", CANNOT_START_TEXT)
    # v2 that ends at once after the swap: v1 is put back and started again.
    pid = update_and_relaunch(app, pid, "failing")
    if installed_version() != "1.0.0":
        fail("the installed path holds v%s after a failed relaunch" % installed_version())
    print("a v2 that failed at once was rolled back; v1 runs again as process %d" % pid, flush=True)
    pid = update_and_relaunch(application(pid), pid, "good")
    print("v1 quit; the installed path runs again as process %d" % pid, flush=True)

    # From outside: the installed path holds v2; v2 cleared its staging folder and the previous bundle.
    if installed_version() != "2.0.0":
        fail("the installed program reports v%s" % installed_version())
    wait_for("the bundle alone in its folder, no old bundle or staging beside it",
             lambda: set(os.listdir(LIB)) == {"Taskbell.app"}, 20)
    updates = [name for name in os.listdir(os.environ["TMPDIR"]) if name.startswith("TaskbellUpdate-")]
    if updates:
        fail("update folders left in the temporary folder: %s" % updates)
    print("v2 runs from %s; no old bundle, staging or update folder left" % INSTALLED)
    print("PASS")


main()
