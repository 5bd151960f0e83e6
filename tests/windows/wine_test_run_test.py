#!/usr/bin/env python3
"""The Windows tests' runner starts a program again only when Wine failed to
start it (non-zero, nothing printed), and otherwise passes on what the program
printed and its status unchanged. A stand-in for Wine plays each case.
Usage: wine_test_run_test.py RUNNER"""
import os
import subprocess
import sys
import tempfile

# (what the stand-in does on its first start, on a second, expected status,
#  expected standard output, expected standard error, starts expected)
CASES = [
    ("fails silently then passes", "exit 3", "echo passed; exit 0", 0, "passed\n",
     "Wine ended with 3 before the program printed anything; starting it once more", 2),
    ("fails silently twice", "exit 3", "exit 4", 4, "", "starting it once more", 2),
    ("fails saying why", "echo '[  FAILED  ] x'; exit 1", "exit 0", 1, "[  FAILED  ] x\n", None, 1),
    ("fails on standard error", "echo crashed >&2; exit 5", "exit 0", 5, "", "crashed", 1),
    ("passes silently", "exit 0", "exit 9", 0, "", None, 1),
    ("passes", "echo ok; echo note >&2; exit 0", "exit 9", 0, "ok\n", "note", 1),
]


def main():
    runner = sys.argv[1]
    failures = 0
    for name, first, second, status, out, err, starts in CASES:
        with tempfile.TemporaryDirectory() as work:
            count = os.path.join(work, "starts")
            wine = os.path.join(work, "wine")
            with open(wine, "w") as f:
                f.write('#!/bin/sh\necho x >>"%s"\n[ "$1" = program.exe ] || exit 99\n'
                        'if [ "$(wc -l <"%s")" -eq 1 ]; then %s; else %s; fi\n'
                        % (count, count, first, second))
            os.chmod(wine, 0o755)
            done = subprocess.run([runner, "program.exe", "--flag"], capture_output=True,
                                  text=True, env={**os.environ, "STBUP_TEST_WINE": wine})
            with open(count) as f:
                started = len(f.readlines())
            problems = []
            if done.returncode != status:
                problems.append("status %d, expected %d" % (done.returncode, status))
            if done.stdout != out:
                problems.append("output %r, expected %r" % (done.stdout, out))
            if err is None and done.stderr:
                problems.append("unexpected standard error %r" % done.stderr)
            if err is not None and err not in done.stderr:
                problems.append("standard error %r lacks %r" % (done.stderr, err))
            if started != starts:
                problems.append("started %d times, expected %d" % (started, starts))
            print("%s: %s" % (name, "; ".join(problems) if problems else "ok"))
            failures += bool(problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
