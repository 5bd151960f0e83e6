#!/usr/bin/env python3
"""stbup-gui.exe under Wine against the Linux simulator, driven as an operator
drives it: COM1 of the Wine prefix is a stable path (scripts/wine-prefix) that
each case points at a fresh pty, keys reach the window through the X server,
and what the window shows is read from its STBUP_TRACE.

    tests/windows/wine_window_test.py LINUX_STBUP STBUP_GUI_EXE [CASE ...]

Needs a display (scripts/with-display), xdotool, and the environment
scripts/wine-prefix prints (WINEPREFIX, STBUP_WINE_COM1). With
STBUP_SCREENSHOTS=DIR each case leaves a picture of the window there.
Prints one line per case and exits 0 when every case passed.
"""

import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_cases import WINE, Failed, check, run_cases, windows_path  # noqa: E402

KEY = r"HKCU\SOFTWARE\TAVOLINKS\SOFTWAREUPGRADE_TZIP"
TICKS = os.sysconf("SC_CLK_TCK")


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failed("%s within %.0f s" % (what, timeout))
        time.sleep(0.05)


def wine_quiet(*args):
    subprocess.run([WINE, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def prefix_processes(program):
    """Linux pids of this prefix's processes running program (a Windows exe
    name, or the Linux wineserver)."""
    prefix = os.environ["WINEPREFIX"].encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                first = f.read().split(b"\0")[0]
            with open("/proc/%s/environ" % entry, "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if first.lower().endswith(program.lower().encode()) and \
                b"WINEPREFIX=" + prefix in environment:
            found.append(int(entry))
    return found


def cpu_ticks(pid):
    """User and system time of a process so far, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True)


class Window:
    """One stbup-gui.exe on a Wine desktop of its own, traced."""

    def __init__(self, env, name, *arguments, extra_environment=None):
        self.env = env
        self.trace = os.path.join(env.work, name + ".jsonl")
        if os.path.exists(self.trace):
            os.remove(self.trace)
        environment = dict(os.environ, STBUP_TRACE=windows_path(self.trace),
                           **(extra_environment or {}))
        log = open(os.path.join(env.work, name + ".gui.log"), "wb")
        # A desktop of its own each time: windows get their frames, and boxes
        # do not stack with another case's.
        self.process = subprocess.Popen(
            [WINE, "explorer", "/desktop=stbup-%s,1024x768" % name, env.gui, *arguments],
            env=environment, stdout=log, stderr=log)
        wait_for(lambda: self.records(), 60, "the window did not start")
        self.pid = wait_for(lambda: (prefix_processes("stbup-gui.exe") or [None])[0], 30,
                            "no stbup-gui.exe process")

    def records(self):
        try:
            with open(self.trace, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        records = []
        for line in lines:
            try:
                records.append(json.loads(line))
            except ValueError:
                break  # a record still being written
        return records

    def memo(self):
        return [r["memo"] for r in self.records() if "memo" in r]

    def count(self, key, value=None):
        return sum(1 for r in self.records() if key in r and (value is None or r[key] == value))

    def await_record(self, key, value, timeout, after=0):
        """The index of the first record with key == value beyond index after."""
        def found():
            for index, record in enumerate(self.records()):
                if index >= after and record.get(key) == value:
                    return index + 1
            return 0
        return wait_for(found, timeout, "the trace never showed %s %r" % (key, value)) - 1

    def press(self, key):
        """A key into the window, through the X server as the operator's are."""
        ids = xdotool("search", "--name", "^UPGRADE TOOL ").stdout.split()
        check(ids, "no window to press %s in" % key)
        xdotool("windowfocus", "--sync", ids[0])
        xdotool("key", "--window", ids[0], key)

    def press_ok(self):
        """OK on the window's box (its title is the program's name)."""
        ids = wait_for(lambda: xdotool("search", "--name", "^stbup-gui$").stdout.split(), 20,
                       "no box appeared")
        xdotool("windowfocus", "--sync", ids[-1])
        xdotool("key", "--window", ids[-1], "Return")

    def screenshot(self, name):
        folder = os.environ.get("STBUP_SCREENSHOTS")
        if folder:
            os.makedirs(folder, exist_ok=True)
            subprocess.run(["import", "-window", "root", os.path.join(folder, name + ".png")],
                           stderr=subprocess.DEVNULL)

    def close(self):
        """Alt+F4, as the operator closes it; what is left is ended. True when
        the window closed by itself."""
        # A key the X server gives Wine's desktop at the wrong moment may be
        # lost: a second try, but a window that refuses never closes.
        for _ in range(2):
            if self.process.poll() is not None or not xdotool("search", "--name",
                                                              "^UPGRADE TOOL ").stdout:
                break
            self.press("alt+F4")
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        closed = not prefix_processes("stbup-gui.exe")
        for pid in prefix_processes("stbup-gui.exe"):
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        return closed


class Env:
    def __init__(self, stbup, gui, work):
        self.stbup = stbup
        self.gui = gui
        self.work = work
        self.com1 = os.environ["STBUP_WINE_COM1"]

    def image(self, name, kib):
        payload = os.path.join(self.work, name + ".payload")
        with open(payload, "wb") as f:
            f.write(bytes((i * 13 + 5) & 0xFF for i in range(kib * 1024)))
        path = os.path.join(self.work, name + ".bin")
        subprocess.run([self.stbup, "mkimage", "--type", "CODE", "--model", "MX1",
                        "--start-block", "16", payload, path], check=True,
                       stdout=subprocess.DEVNULL)
        return path

    def box(self, image, *options):
        """The simulator on a fresh pty, linked at COM1's path."""
        process = subprocess.Popen(
            [self.stbup, "simulate", "--image", image, "--link", self.com1, "--flash-size", "4",
             *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
        first = process.stdout.readline().strip()
        if not first.startswith("/"):
            process.kill()
            raise Failed("the simulator did not start: " + process.stderr.read())
        return process

    def settings(self, **values):
        """The window's saved settings: only these (none when empty)."""
        wine_quiet("reg", "delete", KEY, "/f")
        for name, value in values.items():
            wine_quiet("reg", "add", KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")


def summaries(box, timeout):
    try:
        out, err = box.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        box.kill()
        box.communicate()
        raise Failed("the simulated box did not finish")
    lines = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
    check(lines, "the simulator printed no summary: " + err.strip())
    return lines


def end(box):
    if box is not None and box.poll() is None:
        box.kill()
        box.communicate()


def case_port_gone(env):
    """The pty's far end closes mid-download: one transition, no box, no CPU
    while the port is gone, and Enter reconnects once a box is back."""
    image = env.image("gone", kib=256)
    env.settings()
    box = env.box(image, "--hangup-after", "40")
    window = Window(env, "gone", windows_path(image))
    again = None
    try:
        check(summaries(box, 120)[-1]["verdict"] == "hung_up", "the box did not hang up")
        lost = window.await_record("memo", ">> COM1 has gone away (unplugged or hung up).", 10)
        records = window.records()
        # Everything the transition shows, in its order, at most a moment later.
        time.sleep(1.0)
        records = window.records()
        after = records[lost - 3:]
        wanted = [
            {"timer1": 0},
            {"setup_enabled": True},
            {"port": "closed", "device": "COM1"},
            {"memo": ">> COM1 has gone away (unplugged or hung up)."},
            {"memo": ""},
            {"memo": "COM1 Off !!! (\"Enter\" key to reconnect.)"},
            {"memo": "  "},
            {"logo": "Disconnected !", "fg": "#000000", "bg": "#00FFFF"},
            {"connect": {"visible": True, "caption": "Disconnected"}},
        ]
        shown = [{k: v for k, v in r.items() if k != "t"} for r in after]
        check(shown == wanted, "after the loss the window showed %s" % shown)
        check(not any("message" in r or "error" in r for r in records),
              "a box was shown: %s" % [r for r in records if "message" in r or "error" in r])

        # Nothing runs while the port is gone: no poll, no record, no CPU.
        server = prefix_processes("wineserver64") + prefix_processes("wineserver")
        before = cpu_ticks(window.pid), sum(cpu_ticks(p) for p in server)
        count = len(window.records())
        time.sleep(3.0)
        gui_ticks = cpu_ticks(window.pid) - before[0]
        server_ticks = sum(cpu_ticks(p) for p in server) - before[1]
        check(len(window.records()) == count,
              "the window went on while the port was gone: %s" % window.records()[count:])
        check(gui_ticks <= 0.05 * 3 * TICKS,
              "stbup-gui.exe used %d ticks in 3 s with the port gone" % gui_ticks)
        window.screenshot("windows-port-gone")

        # The box is back; Enter reconnects and the next box is upgraded.
        again = env.box(image)
        opens = window.count("port", "open")
        window.press("Return")
        wait_for(lambda: window.count("port", "open") > opens, 20, "Enter did not reconnect")
        verdict = summaries(again, 120)[-1]
        check(verdict["verdict"] == "verified", "the next box: %s" % verdict)
        check(window.close(), "Alt+F4 did not close the window")
        return ("loss shown in order, no box; while gone: window %d, server %d ticks in 3 s; "
                "Enter reconnected, next box verified (%d blocks)" % (
                    gui_ticks, server_ticks, verdict["blocks"]))
    finally:
        window.close()
        end(box)
        end(again)


def case_enter_after_success(env):
    """"UPGRADE_SUCCESS" without the box's restart notice: the port stays
    open, Timer1 stopped; Enter wakes the next box."""
    image = env.image("success", kib=64)
    env.settings()
    box = env.box(image, "--repeat", "2")
    window = Window(env, "success", windows_path(image))
    try:
        ended = window.await_record("memo", "Upgrade End", 120)
        window.await_record("connect", {"visible": True, "caption": "Disconnected"}, 10, ended)
        check(window.count("port", "closed") == 0, "the port was closed after the success")
        modes = window.memo().count("[ Upgrade mode. ]")
        window.press("Return")
        wait_for(lambda: window.memo().count("[ Upgrade mode. ]") > modes, 20,
                 "Enter did not restart the exchange")
        window.await_record("memo", "Upgrade End", 120, ended + 1)
        verdicts = [s["verdict"] for s in summaries(box, 60)]
        check(verdicts == ["verified", "verified"], "boxes: %s" % verdicts)
        window.screenshot("windows-enter-after-success")
        check(window.close(), "Alt+F4 did not close the window")
        return "Enter after \"Upgrade End\" woke the next box; both verified"
    finally:
        window.close()
        end(box)


def case_open_failure(env):
    """A saved port Windows does not know: the box the design has, and under
    it in the log what the operator can do about it."""
    image = env.image("missing", kib=4)
    env.settings(FileName=windows_path(image), ComPort="COM7", PortIndex="6")
    window = Window(env, "missing")
    try:
        window.press_ok()
        boxed = window.await_record("message", "Serial Port Open Error", 20)
        memo = [r["memo"] for r in window.records()[:boxed] if "memo" in r]
        check(memo[-2] == "COM7 Disconnected !", "the log before the box: %s" % memo[-3:])
        check(memo[-1].startswith(">> COM7 is not a port Windows knows (it knows "),
              "the log before the box: %s" % memo[-3:])
        time.sleep(0.5)
        records = window.records()
        check(sum(1 for r in records if "message" in r or "error" in r) == 1,
              "more than one box: %s" % [r for r in records if "message" in r or "error" in r])
        check({"connect": {"visible": True, "caption": "Disconnected"}} in
              [{k: v for k, v in r.items() if k != "t"} for r in records],
              "the button does not say Disconnected")
        window.screenshot("windows-open-failure")
        check(window.close(), "Alt+F4 did not close the window")
        return "box, then %r in the log" % memo[-1]
    finally:
        window.close()


def case_quit_after_run(env):
    """STBUP_QUIT_AFTER_RUN: the window quits by itself once the box's run has
    ended, not as soon as the box announces itself."""
    image = env.image("quit", kib=64)
    env.settings()
    box = env.box(image)
    window = Window(env, "quit", windows_path(image),
                    extra_environment={"STBUP_QUIT_AFTER_RUN": "1"})
    try:
        wait_for(lambda: not prefix_processes("stbup-gui.exe"), 120,
                 "the window did not quit by itself")
        memo = window.memo()
        check("Upgrade End" in memo, "the window quit before the run ended: %s" % memo[-5:])
        verdicts = [s["verdict"] for s in summaries(box, 60)]
        check(verdicts == ["verified"], "boxes: %s" % verdicts)
        return "quit by itself after \"Upgrade End\""
    finally:
        window.close()
        end(box)


def case_record(env):
    """A box through the window is recorded as by the command line, in the
    file STBUP_RECORDS names; the Linux stbup reads it."""
    image = env.image("record", kib=32)
    records = os.path.join(env.work, "window.sqlite3")
    env.settings()
    box = env.box(image)
    window = Window(env, "record", windows_path(image),
                    extra_environment={"STBUP_QUIT_AFTER_RUN": "1",
                                       "STBUP_RECORDS": windows_path(records)})
    try:
        wait_for(lambda: not prefix_processes("stbup-gui.exe"), 120,
                 "the window did not quit by itself")
        verdicts = [s["verdict"] for s in summaries(box, 60)]
        check(verdicts == ["verified"], "boxes: %s" % verdicts)
        run = subprocess.run([env.stbup, "history", "--json", "--records", records],
                             capture_output=True, text=True)
        check(run.returncode == 0, "stbup history: %s" % run.stderr.strip())
        kept = [json.loads(line) for line in run.stdout.splitlines()]
        check(len(kept) == 1, "%d records" % len(kept))
        check(kept[0]["front_end"] == "window" and kept[0]["verdict"] == "upgraded" and
              kept[0]["port"] == "COM1", "the record: %s" % kept[0])
        return "1 record, %s on %s, read by the Linux stbup" % (kept[0]["verdict"],
                                                                 kept[0]["port"])
    finally:
        window.close()
        end(box)


def case_record_failure(env):
    """A records file that is not one: once the writer has tried, the memo
    says so once, as the Qt window does; the box's run is not held up."""
    image = env.image("recfail", kib=32)
    records = os.path.join(env.work, "not-records.sqlite3")
    with open(records, "w") as f:
        f.write("boxes of Monday, by hand\n")
    env.settings()
    box = env.box(image)
    window = Window(env, "recfail", windows_path(image),
                    extra_environment={"STBUP_RECORDS": windows_path(records)})
    start = ">> records: %s: " % windows_path(records)

    def said_line():
        return next((line for line in window.memo() if line.startswith(start)), None)

    try:
        said = wait_for(said_line, 120, "the memo never said the record failed")
        memo = window.memo()
        check("Upgrade End" in memo[:memo.index(said)], "said before the run ended: %s" % memo[-6:])
        verdicts = [s["verdict"] for s in summaries(box, 60)]
        check(verdicts == ["verified"], "boxes: %s" % verdicts)
        time.sleep(0.5)
        check(window.memo().count(said) == 1, "said more than once")
        window.screenshot("windows-record-failure")
        return "%r once in the memo, after \"Upgrade End\"" % said
    finally:
        window.close()
        end(box)


CASES = {
    "port-gone": case_port_gone,
    "enter-after-success": case_enter_after_success,
    "open-failure": case_open_failure,
    "quit-after-run": case_quit_after_run,
    "record": case_record,
    "record-failure": case_record_failure,
}


def main():
    stbup, gui = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    chosen = sys.argv[3:] or list(CASES)
    # STBUP_KEEP_WORK=1 keeps the traces and logs of the cases for a look.
    with tempfile.TemporaryDirectory(prefix="stbup-wine-window-") as scratch:
        work = tempfile.mkdtemp(prefix="stbup-wine-window-") if os.environ.get(
            "STBUP_KEEP_WORK") else scratch
        env = Env(stbup, gui, work)
        failures = run_cases(
            chosen, lambda name: CASES[name](env), width=20,
            after_failure=lambda name: work != scratch and print("  kept in %s" % work,
                                                                 flush=True))
        env.settings()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
