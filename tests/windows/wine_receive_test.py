#!/usr/bin/env python3
"""The far end of tests/windows/pty_receive_check.cpp: for each of its cases, a
fresh pty linked where COM1 opens, the check run under Wine, and the bytes the
case expects sent (or the pty hung up) once the port says it is waiting.

    tests/windows/wine_receive_test.py PTY_RECEIVE_CHECK_EXE [CASE ...]

Needs the environment scripts/wine-prefix prints (WINEPREFIX, STBUP_WINE_COM1).
Prints one line per case and exits 0 when every case passed.
"""

import os
import pty
import select
import subprocess
import sys
import tempfile
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_cases import WINE, Failed, run_cases  # noqa: E402


def byte_of(index):
    """The bytes every case expects, as ByteOf in the check."""
    return (index * 167 + 13) & 0xFF


def stream(count, start=0):
    return bytes(byte_of(i) for i in range(start, start + count))


class FarEnd:
    def __init__(self, master):
        self.master = master
        self.heard = b""

    def wait_for(self, signal, timeout=15):
        """Reads what the port writes until the signal byte came."""
        deadline = time.monotonic() + timeout
        while signal not in self.heard:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failed("the port never wrote %r (heard %r)" % (signal, self.heard[-20:]))
            ready, _, _ = select.select([self.master], [], [], left)
            if ready:
                self.heard += os.read(self.master, 64)
        self.heard = self.heard[self.heard.index(signal) + 1:]

    def send(self, data):
        while data:
            data = data[os.write(self.master, data):]


def block(end):
    end.wait_for(b"R")
    end.send(stream(1025))


def send_in_pieces(end, total, size_factor, gap_factor, gap_range_ms):
    """total bytes of the stream in pieces of 1 to 37 bytes, with gaps of up
    to gap_range_ms between them, both varying from piece to piece."""
    end.wait_for(b"R")
    sent = 0
    step = 0
    while sent < total:
        size = min(1 + (step * size_factor) % 37, total - sent)
        end.send(stream(size, sent))
        sent += size
        time.sleep(((step * gap_factor) % gap_range_ms) / 1000)
        step += 1


def pieces(end):
    send_in_pieces(end, 600, 11, 7, 16)


def hang_up(end):
    end.wait_for(b"R")
    end.send(stream(5))
    time.sleep(0.2)
    return "hang up"


def two_threads(end):
    send_in_pieces(end, 3000, 13, 5, 3)


def stop(end):
    end.wait_for(b"R")
    end.wait_for(b"S")
    end.send(stream(300))


def reopen(end):
    end.wait_for(b"R")
    end.wait_for(b"T")
    end.send(stream(40))


CASES = {
    "ABlockOfEveryValueArrivesIntact": block,
    "PiecesWithGapsArriveInOrder": pieces,
    "AHangUpWhileTheReadIsPendingIsGone": hang_up,
    "BytesAfterAStopArriveWithoutAWait": stop,
    "AWaiterAndAReaderInTwoThreadsKeepTheOrder": two_threads,
    "ClosingWithAPendingReadLeavesTheNextOpeningWhole": reopen,
}


def run_case(exe, name, work):
    com1 = os.environ["STBUP_WINE_COM1"]
    master, slave = pty.openpty()
    tty.setraw(master)
    if os.path.lexists(com1):
        os.remove(com1)
    os.symlink(os.ttyname(slave), com1)
    log = os.path.join(work, name + ".log")
    with open(log, "wb") as out:
        check = subprocess.Popen([WINE, exe, "--gtest_filter=PtyReceiveCheck." + name],
                                 stdout=out, stderr=subprocess.STDOUT)
    try:
        try:
            if CASES[name](FarEnd(master)) == "hang up":
                os.close(master)
                os.close(slave)
                master = slave = None
            status = check.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise Failed("the check did not end within 30 s")
    finally:
        if check.poll() is None:
            check.kill()
            check.wait()
        for fd in (master, slave):
            if fd is not None:
                os.close(fd)
        os.remove(com1)
    with open(log, "rb") as f:
        output = f.read().decode(errors="replace")
    if status != 0 or "[  PASSED  ] 1 test" not in output:
        raise Failed("status %d:\n%s" % (status, output[-1500:]))


def main():
    exe = os.path.abspath(sys.argv[1])
    chosen = sys.argv[2:] or list(CASES)
    with tempfile.TemporaryDirectory(prefix="stbup-wine-receive-") as work:
        failures = run_cases(chosen, lambda name: run_case(exe, name, work), width=50)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
