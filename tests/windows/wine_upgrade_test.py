#!/usr/bin/env python3
"""stbup.exe under Wine against the Linux simulator: COM1 of the Wine prefix is a
stable path (scripts/wine-prefix) that each case points at a fresh pty.

    tests/windows/wine_upgrade_test.py LINUX_STBUP STBUP_EXE [CASE ...]

Needs the environment scripts/wine-prefix prints (WINEPREFIX, STBUP_WINE_COM1).
Prints one line per case and exits 0 when every case passed.
"""

import json
import os
import pty
import select
import subprocess
import sys
import tempfile
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_cases import WINE, Failed, check, run_cases, windows_path  # noqa: E402


class Env:
    def __init__(self, stbup, exe, work):
        self.stbup = stbup
        self.exe = exe
        self.work = work
        self.com1 = os.environ["STBUP_WINE_COM1"]

    def image(self, name, *options, kib=64):
        payload = os.path.join(self.work, name + ".payload")
        with open(payload, "wb") as f:
            f.write(bytes((i * 7 + 3) & 0xFF for i in range(kib * 1024)))
        path = os.path.join(self.work, name + ".bin")
        subprocess.run([self.stbup, "mkimage", *options, payload, path], check=True,
                       stdout=subprocess.DEVNULL)
        return path

    def box(self, image, *options):
        """The simulator on a fresh pty, linked at COM1's path."""
        process = subprocess.Popen(
            [self.stbup, "simulate", "--image", image, "--link", self.com1, *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
        first = process.stdout.readline().strip()
        if not first.startswith("/"):
            process.kill()
            raise Failed("the simulator did not start: " + process.stderr.read())
        return process

    def tool(self, *args):
        """stbup.exe under Wine; output to files, as from a script."""
        out = open(os.path.join(self.work, "tool.out"), "wb")
        err = open(os.path.join(self.work, "tool.err"), "wb")
        return subprocess.Popen([WINE, self.exe, *args], stdout=out, stderr=err)

    def output(self):
        with open(os.path.join(self.work, "tool.out"), "rb") as f:
            out = f.read()
        with open(os.path.join(self.work, "tool.err"), "rb") as f:
            err = f.read()
        return out, err


def wait_tool(tool, timeout):
    """Exit status and CPU seconds of the tool's process."""
    deadline = time.monotonic() + timeout
    while True:
        pid, status, usage = os.wait4(tool.pid, os.WNOHANG)
        if pid == tool.pid:
            tool.returncode = os.waitstatus_to_exitcode(status)
            return tool.returncode, usage.ru_utime + usage.ru_stime
        if time.monotonic() > deadline:
            tool.kill()
            tool.wait()
            raise Failed("stbup.exe did not end within %d s" % timeout)
        time.sleep(0.02)


def summary_of(box, timeout=60):
    try:
        out, err = box.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        box.kill()
        box.communicate()
        raise Failed("the simulated box did not finish")
    lines = [line for line in out.splitlines() if line.startswith("{")]
    check(lines, "the simulator printed no summary: " + err.strip())
    return json.loads(lines[-1])


def upgrade(env, image, box_options=(), tool_options=(), timeout=120):
    box = env.box(image, *box_options)
    try:
        tool = env.tool("upgrade", windows_path(image), "--port", "COM1", *tool_options)
        status, cpu = wait_tool(tool, timeout)
        return status, summary_of(box), cpu
    finally:
        if box.poll() is None:
            box.kill()
            box.wait()


def case_5518(env):
    image = env.image("c5518", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    status, summary, _ = upgrade(env, image, ["--loader", "v", "--flash-size", "4"])
    check(status == 0, "exit %d" % status)
    check(summary["verdict"] == "verified" and summary["loader"].startswith("REQUEST_V"),
          "box: %s" % summary)
    out, _ = env.output()
    check(b"Upgrade End\n" in out, "no \"Upgrade End\" in the memo")
    return "%d blocks verified, %s" % (summary["blocks"], summary["loader"])


def case_2ll(env):
    image = env.image("c2ll", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    status, summary, _ = upgrade(env, image, ["--loader", "l", "--flash-size", "4"])
    check(status == 0, "exit %d" % status)
    check(summary["verdict"] == "verified" and summary["loader"].startswith("REQUEST_L"),
          "box: %s" % summary)
    return "%d blocks verified, %s" % (summary["blocks"], summary["loader"])


def case_zcode(env):
    image = env.image("czcode", "--type", "Z", "--model", "MX1", "--start-block", "16")
    status, summary, _ = upgrade(env, image, ["--flash-size", "4", "--decode-size", "123456"])
    check(status == 0, "exit %d" % status)
    check(summary["verdict"] == "verified", "box: %s" % summary)
    return "%d blocks verified, token %s, decode size asked" % (summary["blocks"],
                                                               summary["token"])


def case_corrupt_block(env):
    image = env.image("ccorrupt", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    status, summary, _ = upgrade(env, image, ["--flash-size", "4", "--corrupt-block", "5"])
    check(status == 0, "exit %d" % status)
    check(summary["verdict"] == "verified" and summary["retries"] >= 1, "box: %s" % summary)
    return "block 5 corrupted, resent (%d retries), verified" % summary["retries"]


def case_no_acknowledge(env):
    image = env.image("cnoack", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    status, summary, _ = upgrade(
        env, image, ["--flash-size", "4", "--corrupt-block", "3", "--max-retries", "1"])
    out, _ = env.output()
    # The box's "NO_ACKNOWLEDGE with PC." shows in the memo as the tool's
    # own line for it.
    check(b"\nSTB normal start.\n" in out, "no \"STB normal start.\" in the memo")
    check(status == 6, "exit %d, not 6" % status)
    return "exit 6 after \"NO_ACKNOWLEDGE with PC.\" (box: %s)" % summary["verdict"]


def case_line_rate(env):
    """At 115200 bit/s the box takes bytes at the line's pace: every request
    must still be noticed (a line-event wait whose end Wine loses once in a
    few hundred blocks used to stall the download for good)."""
    image = env.image("cline", "--type", "CODE", "--model", "MX1", "--start-block", "16",
                      kib=64)
    status, summary, _ = upgrade(env, image, ["--flash-size", "4", "--baud", "115200"],
                                 timeout=40)
    check(status == 0, "exit %d" % status)
    check(summary["verdict"] == "verified", "box: %s" % summary)
    minimum = (summary["received_bytes"] + summary["sent_bytes"]) * 10 / 115200
    return "%d blocks verified in %.2f s, %+.1f %% over the line's minimum" % (
        summary["blocks"], summary["seconds"], 100 * (summary["seconds"] / minimum - 1))


def case_hang_up(env):
    image = env.image("changup", "--type", "CODE", "--model", "MX1", "--start-block", "16",
                      kib=512)
    box = env.box(image, "--flash-size", "4", "--hangup-after", "40")
    try:
        tool = env.tool("upgrade", windows_path(image), "--port", "COM1")
        box.communicate(timeout=120)
        hung_up = time.monotonic()
        status, cpu = wait_tool(tool, 30)
        noticed = time.monotonic() - hung_up
    finally:
        if box.poll() is None:
            box.kill()
            box.wait()
    _, err = env.output()
    check(status == 7, "exit %d, not 7 (%s)" % (status, err[-300:]))
    check(noticed <= 2.0, "the hang-up was noticed after %.2f s" % noticed)
    return "exit 7, %.2f s after the hang-up; tool CPU %.2f s for the whole run" % (noticed, cpu)


def case_poll_bytes(env):
    """A box that never speaks: 0x07 once, then 0x1F every 100 ms."""
    master, slave = pty.openpty()
    tty.setraw(master)
    if os.path.lexists(env.com1):
        os.remove(env.com1)
    os.symlink(os.ttyname(slave), env.com1)
    image = env.image("cpoll", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    tool = env.tool("upgrade", windows_path(image), "--port", "COM1")
    heard = []
    try:
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and sum(1 for _, b in heard if b == 0x1F) < 12:
            ready, _, _ = select.select([master], [], [], 0.5)
            if ready:
                now = time.monotonic()
                heard.extend((now, b) for b in os.read(master, 64))
        os.close(master)  # the box goes away: the tool ends with 7
        os.close(slave)
        status, _ = wait_tool(tool, 10)
    finally:
        if tool.poll() is None:
            tool.kill()
            tool.wait()
        os.remove(env.com1)
    check(heard and heard[0][1] == 0x07, "first byte %r, not 0x07" % (heard[:1],))
    polls = [t for t, b in heard[1:] if b == 0x1F]
    check(len(polls) >= 10 and all(b in (0x1F,) for _, b in heard[1:]),
          "bytes after 0x07: %r" % [b for _, b in heard[1:20]])
    gaps = sorted(b - a for a, b in zip(polls, polls[1:]))
    median = gaps[len(gaps) // 2] * 1000
    check(80 <= median <= 130, "median gap %.0f ms" % median)
    check(status == 7, "exit %d after the pty closed, not 7" % status)
    return "0x07 then 0x1F, median gap %.0f ms over %d polls; exit 7 when the pty closed" % (
        median, len(polls))


def case_check_only(env):
    image = env.image("ccheck", "--type", "CODE", "--model", "MX1", "--start-block", "16")
    status, summary, _ = upgrade(env, image, ["--flash-size", "4", "--ack-timeout", "500"],
                                 ["--check-only"])
    out, err = env.output()
    check(status == 0, "exit %d" % status)
    check(b"check-only: the image would be accepted by this box" in err + out,
          "no verdict line")
    check(summary["blocks"] == 0, "blocks were sent: %s" % summary)
    return "accepted, nothing sent (box: %s)" % summary["verdict"]


def case_info(env):
    """`info` and `info --json`: the same bytes and status as the Linux build."""
    images = [
        env.image("iold", "--format", "old", "--type", "CODE", "--model", "MX1", kib=4),
        env.image("inew", "--format", "new", "--type", "D", "--model", "MX2", "--hw", "01.0A.FF",
                  kib=4),
        env.image("iscr", "--format", "scrambled", "--type", "Z", "--model", "MX3",
                  "--start-block", "300", kib=4),
        env.image("iwild", "--format", "new", "--wildcard", "model", "--model", "MX4", kib=4),
    ]
    broken = os.path.join(env.work, "broken.bin")
    with open(broken, "wb") as f:
        f.write(b"not an image at all\r\n\x1a and more")
    compared = 0
    for image in images + [broken, os.path.join(env.work, "missing.bin")]:
        for extra in ([], ["--json"]):
            # A name relative to the current folder reads the same on both.
            name = os.path.basename(image)
            linux = subprocess.run([env.stbup, "info", name, *extra], capture_output=True,
                                   cwd=env.work)
            windows = subprocess.run([WINE, env.exe, "info", name, *extra], capture_output=True,
                                     cwd=env.work)
            what = "info %s %s" % (name, " ".join(extra))
            check(windows.returncode == linux.returncode,
                  "%s: exit %d, Linux %d" % (what, windows.returncode, linux.returncode))
            check(windows.stdout == linux.stdout,
                  "%s: stdout differs:\n%r\n%r" % (what, windows.stdout, linux.stdout))
            check(windows.stderr == linux.stderr,
                  "%s: stderr differs:\n%r\n%r" % (what, windows.stderr, linux.stderr))
            compared += 1
    return "%d runs byte for byte as on Linux" % compared


DEMO_VERDICT = b"stbup: demo: simulator verdict: verified (768 blocks, 0 retries, 786432 bytes)\n"


def case_demo(env):
    """The whole upgrade in-process, over the in-memory line; then --quiet."""
    tool = env.tool("demo")
    status, _ = wait_tool(tool, 60)
    out, err = env.output()
    check(status == 0, "exit %d" % status)
    check(err.endswith(DEMO_VERDICT), "last line %r" % err[-120:])
    check(b"simulated box on MEMORY (an in-memory line in this process)\n" in err,
          "no MEMORY in the first line")
    check(out.startswith(b"[ Upgrade mode. ]\n") and b"\nUpgrade End\n" in out,
          "memo: %r" % out[:200])
    check(b"\nMEMORY Off !!! (\"Enter\" key to reconnect.)\n" in out, "no \"MEMORY Off\" line")
    tool = env.tool("demo", "--quiet")
    status, _ = wait_tool(tool, 60)
    out, err = env.output()
    check(status == 0, "--quiet: exit %d" % status)
    check(out == b"", "--quiet printed %d bytes on stdout" % len(out))
    check(err.count(b"\n") == 2 and err.endswith(DEMO_VERDICT), "--quiet: %r" % err)
    return "verified, exit 0; --quiet: the demo's two lines only"


def case_demo_interrupted(env):
    """Ctrl-C (SIGINT reaches a console program under Wine as CTRL_C_EVENT)
    during the upgrade: 130, as upgrade, and the box sees the tool go."""
    for attempt in range(3):
        tool = subprocess.Popen([WINE, env.exe, "demo", "--quiet"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        first = tool.stderr.readline()
        check(first.startswith(b"stbup: demo: image "), "first line %r" % first)
        # The line comes before the upgrade has set up its Ctrl-C handler.
        time.sleep(0.15)
        tool.send_signal(2)
        rest = tool.stderr.read()
        status = tool.wait(timeout=30)
        if status == 0 and rest.endswith(DEMO_VERDICT):
            continue  # the demo was quicker than the signal: again
        check(status == 130, "exit %d: %r" % (status, rest))
        check(b"stbup: interrupted\n" in rest, "no \"interrupted\": %r" % rest)
        check(b"stbup: demo: simulator verdict: pc_gone" in rest,
              "the box did not see the tool go: %r" % rest)
        return "exit 130, the box saw the tool go (attempt %d)" % (attempt + 1)
    raise Failed("three demos ended before Ctrl-C reached them")


CASES = {
    "info": case_info,
    "5518": case_5518,
    "2ll": case_2ll,
    "zcode": case_zcode,
    "corrupt-block": case_corrupt_block,
    "no-acknowledge": case_no_acknowledge,
    "line-rate": case_line_rate,
    "hang-up": case_hang_up,
    "poll-bytes": case_poll_bytes,
    "check-only": case_check_only,
    "demo": case_demo,
    "demo-interrupted": case_demo_interrupted,
}


def main():
    stbup, exe = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    chosen = sys.argv[3:] or list(CASES)
    with tempfile.TemporaryDirectory(prefix="stbup-wine-") as work:
        env = Env(stbup, exe, work)
        failures = run_cases(chosen, lambda name: CASES[name](env),
                             after_failure=lambda name: print_tool_tails(env))
    return 1 if failures else 0


def print_tool_tails(env):
    """The ends of the last tool's output, after a failed case."""
    if not os.path.exists(os.path.join(env.work, "tool.out")):
        return
    out, err = env.output()
    print("  stdout tail: %r\n  stderr tail: %r" % (out[-400:], err[-400:]), flush=True)


if __name__ == "__main__":
    sys.exit(main())
