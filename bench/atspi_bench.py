"""Times the panel's answers over AT-SPI after filter-tab clicks, and reads the program's resident memory.

Usage: atspi_bench.py TASKBELL FAKE_JIRA ROUNDS IDLE_SECONDS ISSUES (run by atspi_bench.sh in a desktop session)
With ROUNDS 0 it visits no other tab: it reads the memory after idling on In Progress as opened, then again
after one click on All, which is what All costs beyond In Progress. With ROUNDS -1 it does the same with the
bridge off: a first program, bridge on, shows where the All tab lies on the screen; a second one, started
without the bridge, is opened from its tray icon and clicked there with xdotool.
"""

import os
import re
import statistics
import subprocess
import sys
import time
import warnings

from driver import Atspi, alive, application, click_tray, find, open_panel, spawn, start_fake_jira, start_trayer
from driver import wait_find, wait_for
from driver import write_profile

TASKBELL, FAKE_JIRA = sys.argv[1:3]
ROUNDS = int(sys.argv[3])
IDLE = float(sys.argv[4])
ISSUES = int(sys.argv[5])
TABS = ("All", "Backlog", "In Progress", "Done")
warnings.simplefilter("ignore", DeprecationWarning)


def resident_kb(pid, field="VmRSS"):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def machine_busy():
    """(busy, total) jiffies of all CPUs so far."""
    with open("/proc/stat") as stat:
        values = [int(v) for v in stat.readline().split()[1:]]
    idle = values[3] + values[4]
    return sum(values) - idle, sum(values)


def proportional_kb(pid):
    """Resident memory with each shared page divided among the processes that map it (Pss)."""
    with open("/proc/%d/smaps_rollup" % pid) as rollup:
        for line in rollup:
            if line.startswith("Pss:"):
                return int(line.split()[1])
    return 0


def memory(pid):
    return "%d kB (%.1f MB: %d kB anonymous, %d kB file-backed, %d kB shared; proportional %d kB)" % (
        resident_kb(pid), resident_kb(pid) / 1024, resident_kb(pid, "RssAnon"), resident_kb(pid, "RssFile"),
        resident_kb(pid, "RssShmem"), proportional_kb(pid))


def largest_files(pid, count=8):
    """The mapped files holding most of the resident memory: [(kB, name)], largest first."""
    sizes = {}
    name = None
    with open("/proc/%d/smaps" % pid) as smaps:
        for line in smaps:
            fields = line.split(maxsplit=5)
            if re.fullmatch(r"[0-9a-f]+-[0-9a-f]+", fields[0]):
                name = fields[5].rstrip("\n") if len(fields) > 5 and fields[5].startswith("/") else None
            elif fields[0] == "Rss:" and name is not None:
                sizes[name] = sizes.get(name, 0) + int(fields[1])
    return sorted(((kb, path) for path, kb in sizes.items()), reverse=True)[:count]


def load_average():
    with open("/proc/loadavg") as loadavg:
        return " ".join(loadavg.read().split()[:3])


def shown(tasks):
    """What the task list says: its description ("N tasks") and its first row's name, each read anew."""
    Atspi.Accessible.clear_cache(tasks)
    row = find(tasks, "panel", r".+")
    return tasks.get_description(), row.get_name() if row is not None else ""


def press_action(node):
    action = node.get_action_iface()
    for index in range(action.get_n_actions()):
        if action.get_action_name(index).lower() in ("press", "toggle"):
            return action, index
    raise SystemExit("FAIL: %r offers no Press action" % node.get_name())


def click(panel, tasks, tab):
    """Clicks the tab; returns (ms until the click's call returned, ms until the list answered for the tab)."""
    button = find(panel, "radio button", r"%s \d+" % re.escape(tab))
    expected = "%s tasks" % button.get_name().split()[-1]
    action, index = press_action(button)
    before = shown(tasks)
    start = time.perf_counter()
    action.do_action(index)
    pressed = time.perf_counter()
    # Tabs of equal counts differ in their first row; All and Backlog share it but not their counts.
    while (answer := shown(tasks)) == before or answer[0] != expected:
        if time.perf_counter() - start > 10:
            raise SystemExit("FAIL: the task list never said %r after clicking %s" % (expected, tab))
    answered = time.perf_counter()
    return (pressed - start) * 1000, (answered - start) * 1000


def main():
    base, email, token = start_fake_jira(FAKE_JIRA, "--issues", str(ISSUES))
    # Six months of Done, so that every seeded issue is listed.
    write_profile({"baseURL": base, "email": email, "refreshMinutes": 0, "autoUpdate": False, "monthsBack": 6},
                  token)
    start_trayer()
    global APP_PID
    APP_PID = spawn([TASKBELL], "taskbell.log").pid
    Atspi.set_timeout(10000, 10000)
    app = wait_for("the application on the accessibility bus", lambda: application(APP_PID), 60)
    panel = open_panel(app)
    wait_find(panel, "radio button", r"All %d" % ISSUES, 120)
    tasks = wait_find(panel, "list", "Tasks")
    print("panel open with %d issues; resident %s" % (ISSUES, memory(APP_PID)))
    if ROUNDS < 0:
        return without_bridge(panel)
    if ROUNDS == 0:
        time.sleep(IDLE)
        print("resident after idling %.0f s on In Progress: %s" % (IDLE, memory(APP_PID)))
        click(panel, tasks, "All")
        time.sleep(IDLE)
        print("resident after idling %.0f s on All:         %s" % (IDLE, memory(APP_PID)))
        return

    # One warm-up round: the first visit of each tab builds its rows for the first time.
    for tab in TABS:
        click(panel, tasks, tab)
    times = {tab: [] for tab in TABS}
    calls = {tab: [] for tab in TABS}
    load_before = load_average()
    busy_before = machine_busy()
    for _ in range(ROUNDS):
        for tab in TABS:
            call_ms, answer_ms = click(panel, tasks, tab)
            calls[tab].append(call_ms)
            times[tab].append(answer_ms)
    busy_after = machine_busy()
    load_after = load_average()
    for tab in TABS:
        print("%-12s click to answer: median %6.1f ms, max %6.1f ms (the click's own call: median %6.1f ms)"
              % (tab, statistics.median(times[tab]), max(times[tab]), statistics.median(calls[tab])))
    everything = [value for values in times.values() for value in values]
    print("all tabs     click to answer: median %6.1f ms, max %6.1f ms over %d clicks"
          % (statistics.median(everything), max(everything), len(everything)))
    busy = (busy_after[0] - busy_before[0]) / max(1, busy_after[1] - busy_before[1])
    print("machine while clicking: %.0f%% of all CPUs busy; load average %s before, %s after"
          % (busy * 100, load_before, load_after))

    click(panel, tasks, "All")
    time.sleep(IDLE)
    print("resident after idling %.0f s on All: %s; peak %d kB; load average %s"
          % (IDLE, memory(APP_PID), resident_kb(APP_PID, "VmHWM"), load_average()))
    print("largest file-backed parts: " + ", ".join("%s %d kB" % (path.split("/")[-1], kb)
                                                    for kb, path in largest_files(APP_PID)))


def visible_window(pid, title):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", "^%s$" % title],
                           capture_output=True, text=True).stdout.split()
    return found[0] if found else None


def without_bridge(panel):
    extents = find(panel, "radio button", r"All \d+").get_component_iface().get_extents(Atspi.CoordType.SCREEN)
    x, y = extents.x + extents.width // 2, extents.y + extents.height // 2
    first = APP_PID
    os.kill(first, 15)
    wait_for("the first program to end", lambda: not alive(first), 30)
    # Qt turns its bridge on when asked to, when the accessibility bus is announced on the X root window, or
    # when the bus says accessibility is enabled.
    environment = dict(os.environ)
    environment.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)
    subprocess.run(["xprop", "-root", "-remove", "AT_SPI_BUS"], check=True)
    subprocess.run(["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
                    "--method", "org.freedesktop.DBus.Properties.Set", "org.a11y.Status", "IsEnabled", "<false>"],
                   check=True, capture_output=True)
    second = spawn([TASKBELL], "taskbell-plain.log", env=environment).pid
    click_tray()
    wait_for("the panel of the program without the bridge", lambda: visible_window(second, "Taskbell"), 60)
    time.sleep(IDLE)
    if application(second) is not None:
        raise SystemExit("FAIL: the second program has its accessibility bridge on")
    print("without the bridge, resident after idling %.0f s on In Progress: %s" % (IDLE, memory(second)))
    # Nothing can read the tab back without the bridge: the click lands where the first program had All.
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
    time.sleep(IDLE)
    print("without the bridge, resident after idling %.0f s on All:         %s" % (IDLE, memory(second)))


main()
