#!/usr/bin/env python3
"""stbup.exe station under Wine against Linux simulators: COM1-COM4 of the Wine
prefix are stable paths (scripts/wine-prefix), each pointed at a simulator's
fresh pty of its own.

    tests/windows/wine_station_test.py LINUX_STBUP STBUP_EXE [CASE ...]

Needs the environment scripts/wine-prefix prints (WINEPREFIX, STBUP_WINE_COM1).
Prints one line per case and exits 0 when every case passed.
"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_cases import WINE, Failed, check, run_cases, windows_path  # noqa: E402
from wine_upgrade_test import Env, print_tool_tails, summary_of, wait_tool  # noqa: E402

EVENT_LINE = re.compile(rb"^\d\d:\d\d:\d\d COM\d+: ")


class StationEnv(Env):
    def com(self, n):
        """The stable path COMn opens."""
        return os.path.join(os.path.dirname(self.com1), "ttyCOM%d" % n)

    def box_on(self, n, image, *options):
        """A simulator on a fresh pty, linked where COMn opens."""
        process = subprocess.Popen(
            [self.stbup, "simulate", "--image", image, "--link", self.com(n), *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
        if not process.stdout.readline().startswith("/"):
            process.kill()
            raise Failed("the simulator did not start: " + process.stderr.read())
        return process

    def station(self, image, *args):
        folder = os.path.join(self.work, "station")
        return self.tool("station", windows_path(image), "--no-records",
                         "--log-dir", windows_path(folder + "/logs"),
                         "--trace-dir", windows_path(folder + "/traces"), *args)

    def port_file(self, kind, name):
        path = os.path.join(self.work, "station", kind, name)
        check(os.path.exists(path), "no %s" % path)
        with open(path, "rb") as f:
            return f.read()

    def wine(self, *args):
        """A Windows program run to its end, its output to nothing (never a pipe)."""
        return subprocess.run([WINE, *args], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode


def stop(boxes):
    for box in boxes:
        if box.poll() is None:
            box.kill()
            box.wait()


def case_four_ports(env):
    """Four boxes, each on its own simulator, all served by one station."""
    image = env.image("s4", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    loaders = {1: "v", 2: "l", 3: "v", 4: "l"}
    boxes = {n: env.box_on(n, image, "--loader", loader, "--flash-size", "4")
             for n, loader in loaders.items()}
    try:
        tool = env.station(image, *[a for n in loaders for a in ("--port", "COM%d" % n)],
                           "--boxes", "4")
        status, _ = wait_tool(tool, 120)
        verdicts = {n: summary_of(box)["verdict"] for n, box in boxes.items()}
    finally:
        stop(boxes.values())
    out, err = env.output()
    check(status == 0, "exit %d: %r" % (status, err[-300:]))
    check(all(v == "verified" for v in verdicts.values()), "boxes: %s" % verdicts)
    # Not a console: one event line at a time, as on Linux.
    lines = out.split(b"\n")
    events = [line for line in lines if EVENT_LINE.match(line)]
    for n, loader in loaders.items():
        announced = b"5518 L 217" if loader == "v" else b"2LL L 217"
        check(any(line.endswith(b" COM%d: box identified: %s, model MX1" % (n, announced))
                  for line in events), "COM%d not identified: %r" % (n, out[:600]))
        check(any(b" COM%d: box 1: upgraded (" % n in line for line in events),
              "COM%d not upgraded" % n)
        # "COM1.log" would be the port itself to Windows: its last letter is escaped.
        log = env.port_file("logs", "COM%%3%d.log" % n)
        check(log.startswith(b"[ Upgrade mode. ]\n") and b"\nUpgrade End\n" in log,
              "COM%d.log: %r" % (n, log[:200]))
        other = b"2LL detected.." if loader == "v" else b"5518 detected.."
        check(other not in log, "COM%d.log holds another port's exchange" % n)
        trace = env.port_file("traces", "COM%%3%d.jsonl" % n)
        check(b'"memo":"Upgrade End"' in trace, "COM%d.jsonl: %r" % (n, trace[:200]))
    check(b"\nPORT  " in out and b"\n4 boxes, 4 upgraded, 0 not\n" in out,
          "summary: %r" % out[-400:])
    check(b"\x1b[" not in out, "terminal sequences in a file")
    return "4 boxes verified on COM1-COM4, exit 0, %d event lines, logs and traces per port" % (
        len(events))


def case_one_refused(env):
    """A box that refuses the image: the summary names it, the status is 10."""
    image = env.image("sr", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    good = env.box_on(1, image, "--flash-size", "4")
    refused = env.box_on(2, image, "--flash-size", "4", "--model", "QQ9", "--ack-timeout", "300")
    try:
        tool = env.station(image, "--port", "COM1", "--port", "COM2", "--boxes", "2")
        status, _ = wait_tool(tool, 120)
        verdicts = summary_of(good)["verdict"], summary_of(refused)["verdict"]
    finally:
        stop([good, refused])
    out, err = env.output()
    check(status == 10, "exit %d, not 10: %r" % (status, err[-300:]))
    check(verdicts[0] == "verified" and verdicts[1] != "verified", "boxes: %s" % (verdicts,))
    check(b"\nCOM2 box 1: refused (Upgrade Fail)" in out, "no refusal in: %r" % out[-400:])
    check(b"\n2 boxes, 1 upgraded, 1 not\n" in out, "summary: %r" % out[-400:])
    return "exit 10, COM2's refusal in the summary (box: %s)" % verdicts[1]


def case_watch(env):
    """`--watch COM*` serves a COM port mapped while the station runs.

    Wine reads HKLM\\Software\\Wine\\Ports only when its server starts. A port
    mapped later takes two things: the link dosdevices/comN to the Linux device,
    which is what opening \\\\.\\COMN follows, and the port's value under
    HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM, the list of COM names Windows programs
    read (a driver writes it when an adapter is plugged in). The Ports value is
    written too, so a server started meanwhile maps the same port."""
    # Past COM9, so that it opens only through the device space (\\.\COM12),
    # and a name the window's tests take for one Windows does not know.
    name, serial = "COM12", r"\Device\Serial11"
    link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", name.lower())
    serialcomm = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"
    ports = r"HKLM\Software\Wine\Ports"
    image = env.image("sw", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    box = None
    tool = env.station(image, "--watch", "COM*", "--boxes", "1")
    try:
        time.sleep(1.5)  # a few looks without the port
        out, _ = env.output()
        check(b" %s: " % name.encode() not in out, "served before it was mapped")
        box = env.box_on(12, image, "--flash-size", "4")
        env.wine("reg", "add", ports, "/v", name, "/t", "REG_SZ", "/d", env.com(12), "/f")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(env.com(12), link)
        mapped = time.monotonic()
        env.wine("reg", "add", serialcomm, "/v", serial, "/t", "REG_SZ", "/d", name, "/f")
        noticed = None
        while noticed is None and time.monotonic() - mapped < 10 and tool.poll() is None:
            out, _ = env.output()
            if b" %s: box identified" % name.encode() in out:
                noticed = time.monotonic() - mapped
            time.sleep(0.05)
        status, _ = wait_tool(tool, 60)
        verdict = summary_of(box)["verdict"]
    finally:
        if tool.poll() is None:
            tool.kill()
            tool.wait()
        if box:
            stop([box])
        env.wine("reg", "delete", serialcomm, "/v", serial, "/f")
        env.wine("reg", "delete", ports, "/v", name, "/f")
        if os.path.lexists(link):
            os.remove(link)
    out, err = env.output()
    check(noticed is not None, "the new port was not served: %r %r" % (out[-400:], err[-300:]))
    check(status == 0, "exit %d: %r" % (status, err[-300:]))
    check(verdict == "verified", "box: %s" % verdict)
    check(re.search(rb"\n%s +1 +1 +0 +upgraded" % name.encode(), out), "summary: %r" % out[-400:])
    return "%s identified %.2f s after it was mapped, verified, exit 0" % (name, noticed)


def interrupted_station(env, presses):
    """Two boxes at line rate; Ctrl-C (SIGINT reaches a console program under
    Wine as CTRL_C_EVENT) pressed once or twice while both download."""
    image = env.image("si%d" % presses, "--type", "CODE", "--model", "MX1", "--start-block", "16",
                      kib=96)
    boxes = [env.box_on(n, image, "--flash-size", "4", "--baud", "115200") for n in (1, 2)]
    try:
        tool = env.station(image, "--port", "COM1", "--port", "COM2")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            out, _ = env.output()
            if out.count(b": box identified") == 2:
                break
            time.sleep(0.05)
        check(out.count(b": box identified") == 2, "the boxes were not identified: %r" % out)
        time.sleep(1)
        for _ in range(presses):
            tool.send_signal(signal.SIGINT)
            time.sleep(0.5)
        status, _ = wait_tool(tool, 60)
        verdicts = [summary_of(box)["verdict"] for box in boxes]
    finally:
        stop(boxes)
    out, err = env.output()
    return status, verdicts, out, err


def case_interrupt_once(env):
    """One Ctrl-C: no new boxes, the boxes in flight finish."""
    status, verdicts, out, err = interrupted_station(env, 1)
    check(b"stbup: interrupted: no new boxes; boxes being upgraded finish (Ctrl-C again aborts "
          b"them)\n" in err, "no notice: %r" % err[-300:])
    check(status == 0, "exit %d: %r" % (status, err[-300:]))
    check(verdicts == ["verified", "verified"], "boxes: %s" % verdicts)
    check(b"\n2 boxes, 2 upgraded, 0 not\n" in out, "summary: %r" % out[-300:])
    return "exit 0, both boxes in flight finished and verified"


def case_interrupt_twice(env):
    """Ctrl-C again: the boxes in flight are aborted, 130."""
    status, verdicts, out, err = interrupted_station(env, 2)
    check(b"stbup: interrupted again: aborting\n" in err, "no notice: %r" % err[-300:])
    check(status == 130, "exit %d, not 130: %r" % (status, err[-300:]))
    check(all(v == "pc_gone" for v in verdicts), "the boxes did not see the tool go: %s" %
          verdicts)
    check(b"\n2 boxes, 0 upgraded, 2 not\n" in out, "summary: %r" % out[-300:])
    return "exit 130, both boxes saw the tool go"


CASES = {
    "four-ports": case_four_ports,
    "one-refused": case_one_refused,
    "watch": case_watch,
    "interrupt-once": case_interrupt_once,
    "interrupt-twice": case_interrupt_twice,
}


def main():
    stbup, exe = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    chosen = sys.argv[3:] or list(CASES)
    with tempfile.TemporaryDirectory(prefix="stbup-wine-station-") as work:
        env = StationEnv(stbup, exe, work)
        failures = run_cases(chosen, lambda name: CASES[name](env),
                             after_failure=lambda name: print_tool_tails(env))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
