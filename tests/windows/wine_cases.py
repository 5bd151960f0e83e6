"""What the Wine end-to-end scripts share: how a case fails or is skipped, the
name Windows programs give a Linux file, and the run of the cases asked for."""

import time

WINE = "/usr/lib/wine/wine64"


class Failed(Exception):
    pass


class Skipped(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


def windows_path(path):
    """The name Windows programs under Wine give a Linux file (drive Z: is /)."""
    return "Z:" + path.replace("/", "\\")


def run_cases(names, run, width=15, after_failure=None):
    """Runs run(name) for each name, with a PASS (and what run returned), SKIP
    or FAIL line each; after_failure(name) may print more after a FAIL.
    Returns how many failed."""
    failures = 0
    for name in names:
        started = time.monotonic()
        try:
            detail = run(name)
            print(("PASS %-*s %5.1f s  %s" % (width, name, time.monotonic() - started,
                                             detail or "")).rstrip(), flush=True)
        except Skipped as reason:
            print("SKIP %-*s %s" % (width, name, reason), flush=True)
        except Failed as failure:
            failures += 1
            print("FAIL %-*s %s" % (width, name, failure), flush=True)
            if after_failure:
                after_failure(name)
    return failures
