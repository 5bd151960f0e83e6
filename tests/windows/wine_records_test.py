#!/usr/bin/env python3
"""The records of stbup.exe under Wine: an upgrade against the Linux simulator
keeps its record, which stbup.exe and the Linux stbup read the same from the
same file, and reaches a PostgreSQL server on 127.0.0.1 that this test starts.

    tests/windows/wine_records_test.py LINUX_STBUP STBUP_EXE [CASE ...]

Needs the environment scripts/wine-prefix prints (WINEPREFIX, STBUP_WINE_COM1).
The upload case starts Debian's PostgreSQL 15 server as the unprivileged user
65534 when run as root, and is skipped, saying why, where the server is not
installed. Prints one line per case and exits 0 when every case passed.
"""

import glob
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile

WINE = "/usr/lib/wine/wine64"
SERVER_UID = 65534


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_cases import Failed, Skipped, check, run_cases, windows_path  # noqa: E402


class Env:
    def __init__(self, stbup, exe, work):
        self.stbup = stbup
        self.exe = exe
        self.work = work
        self.com1 = os.environ["STBUP_WINE_COM1"]

    def image(self, name, *options, kib=32):
        payload = os.path.join(self.work, name + ".payload")
        with open(payload, "wb") as f:
            f.write(bytes((i * 11 + 1) & 0xFF for i in range(kib * 1024)))
        path = os.path.join(self.work, name + ".bin")
        subprocess.run([self.stbup, "mkimage", "--type", "CODE", "--model", "MX1",
                        "--start-block", "16", *options, payload, path], check=True,
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

    def exe_run(self, *args, environment=None, timeout=120):
        """stbup.exe under Wine, its output through files (Wine's helpers keep
        a pipe open): status, stdout, stderr."""
        out_path = os.path.join(self.work, "exe.out")
        err_path = os.path.join(self.work, "exe.err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen([WINE, self.exe, *args], stdout=out, stderr=err,
                                       env=dict(os.environ, **(environment or {})))
            try:
                status = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                raise Failed("stbup.exe %s did not end within %d s" % (args[0], timeout))
        with open(out_path, "rb") as f:
            stdout = f.read()
        with open(err_path, "rb") as f:
            stderr = f.read()
        return status, stdout, stderr

    def upgrade(self, image, *args, environment=None, box_options=()):
        box = self.box(image, *box_options)
        try:
            status, out, err = self.exe_run("upgrade", windows_path(image), "--port", "COM1",
                                            *args, environment=environment)
            box.communicate(timeout=30)
        finally:
            if box.poll() is None:
                box.kill()
                box.communicate()
        return status, out, err


def json_lines(data):
    return [json.loads(line) for line in data.decode("utf-8").splitlines() if line]


def case_record_read_alike(env):
    """An upgrade and a refused box recorded by stbup.exe; `history --json`
    of stbup.exe and of the Linux stbup give the same records, field by field."""
    records = os.path.join(env.work, "alike.sqlite3")
    image = env.image("alike")
    status, _, err = env.upgrade(image, "--records", windows_path(records), "--operator", "ana",
                                 "--order", "WO-7")
    check(status == 0, "upgrade: exit %d: %r" % (status, err[-300:]))
    # A box of another model refuses the image.
    status, _, err = env.upgrade(image, "--records", windows_path(records),
                                 box_options=("--model", "ZZ9", "--ack-timeout", "300"))
    check(status == 5, "refused box: exit %d, not 5: %r" % (status, err[-300:]))
    status, out, err = env.exe_run("history", "--json", "--records", windows_path(records))
    check(status == 0, "stbup.exe history: exit %d: %r" % (status, err))
    windows = json_lines(out)
    linux_run = subprocess.run([env.stbup, "history", "--json", "--records", records],
                               capture_output=True)
    check(linux_run.returncode == 0, "stbup history: %r" % linux_run.stderr)
    linux = json_lines(linux_run.stdout)
    check(len(windows) == 2, "stbup.exe read %d records" % len(windows))
    check(windows == linux, "the two read differently:\n%s\n%s" % (windows, linux))
    first, second = windows
    check(set(first) == set(linux[0]), "fields differ")
    check(first["verdict"] == "upgraded" and first["port"] == "COM1" and
          first["front_end"] == "upgrade" and first["operator_name"] == "ana" and
          first["work_order"] == "WO-7", "first record: %s" % first)
    check(first["image_path"] == windows_path(image), "image path %r" % first["image_path"])
    check(second["verdict"] == "refused" and second["exit_status"] == 5,
          "second record: %s" % second)
    # The same file as JSON Lines (the output is not a terminal) and as CSV.
    for form in ([], ["--csv"]):
        status, out, _ = env.exe_run("history", *form, "--records", windows_path(records))
        linux_out = subprocess.run([env.stbup, "history", *form, "--records", records],
                                   capture_output=True).stdout
        check(status == 0 and out == linux_out,
              "history %s differs:\n%r\n%r" % (" ".join(form), out, linux_out))
    return "2 records (upgraded, refused), %d fields alike; JSON Lines and CSV byte for byte" % len(
        first)


def case_default_place(env):
    """Without --records or STBUP_RECORDS the record goes to
    %LOCALAPPDATA%\\stbup\\records.sqlite3; --no-records keeps none."""
    prefix = os.environ["WINEPREFIX"]
    found = glob.glob(os.path.join(prefix, "drive_c/users/*/AppData/Local"))
    check(found, "no AppData\\Local in the Wine prefix")
    path = os.path.join(found[0], "stbup", "records.sqlite3")

    def count():
        if not os.path.exists(path):
            return 0
        run = subprocess.run([env.stbup, "history", "--json", "--records", path],
                             capture_output=True)
        check(run.returncode == 0, "stbup history: %r" % run.stderr)
        return len(json_lines(run.stdout))

    before = count()
    image = env.image("default")
    environment = {"STBUP_RECORDS": ""}
    status, _, err = env.upgrade(image, environment=environment)
    check(status == 0, "exit %d: %r" % (status, err[-300:]))
    check(count() == before + 1, "no record in %s" % path)
    status, _, err = env.upgrade(image, "--no-records", environment=environment)
    check(status == 0, "--no-records: exit %d" % status)
    check(count() == before + 1, "--no-records kept a record")
    status, out, _ = env.exe_run("--version")
    check(status == 0 and b"SQLite 3." in out and b", libpq 15." in out,
          "--version: %r" % out)
    return "recorded in %s; --no-records kept none; %s" % (
        path[len(prefix):], out.decode().splitlines()[1])


class Postgres:
    """Debian's PostgreSQL 15 server in a folder of its own on a free port of
    127.0.0.1, with a password (SCRAM), as the line's server would have."""

    USER = "stbup"
    PASSWORD = "line-secret"

    def __init__(self):
        bins = sorted(glob.glob("/usr/lib/postgresql/*/bin/postgres"))
        if not bins:
            raise Skipped("no PostgreSQL server binaries (Debian's postgresql-15)")
        self.bin = os.path.dirname(bins[-1])
        self.dir = tempfile.mkdtemp(prefix="stbup-wine-pg-")
        self.data = os.path.join(self.dir, "data")
        self.root = os.geteuid() == 0
        if self.root:
            os.chown(self.dir, SERVER_UID, SERVER_UID)
        os.chmod(self.dir, 0o755)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        password_file = os.path.join(self.dir, "password")
        with open(password_file, "w") as f:
            f.write(self.PASSWORD + "\n")
        if self.root:
            os.chown(password_file, SERVER_UID, SERVER_UID)
        self.run("initdb", "-D", self.data, "-U", self.USER, "--pwfile=" + password_file,
                 "--auth-local=trust", "--auth-host=scram-sha-256", "-E", "UTF8", "--no-sync",
                 "--locale=C")
        self.run("pg_ctl", "-D", self.data, "-l", os.path.join(self.dir, "server.log"), "-o",
                 "-p %d -k %s -c listen_addresses=127.0.0.1 -c fsync=off" % (self.port, self.dir),
                 "-w", "-t", "60", "start")

    def run(self, program, *args):
        command = [os.path.join(self.bin, program), *args]
        if self.root:
            command = ["setpriv", "--reuid=%d" % SERVER_UID, "--regid=%d" % SERVER_UID,
                       "--clear-groups", "--", *command]
        with open(os.path.join(self.dir, "commands.log"), "ab") as log:
            if subprocess.run(command, stdout=log, stderr=log).returncode != 0:
                raise Failed("%s failed; see %s/commands.log" % (program, self.dir))

    def sql(self, query):
        """Rows of a query through psql on the local socket, '|' between fields."""
        command = ["psql", "-h", self.dir, "-p", str(self.port), "-U", self.USER, "-d",
                   "postgres", "-At", "-c", query]
        if self.root:
            command = ["setpriv", "--reuid=%d" % SERVER_UID, "--regid=%d" % SERVER_UID,
                       "--clear-groups", "--", *command]
        run = subprocess.run(command, capture_output=True, text=True)
        check(run.returncode == 0, "psql: %s" % run.stderr.strip())
        return run.stdout.splitlines()

    def url(self):
        return "postgresql://%s@127.0.0.1:%d/postgres" % (self.USER, self.port)

    def stop(self):
        self.run("pg_ctl", "-D", self.data, "-m", "immediate", "-w", "stop")
        shutil.rmtree(self.dir, ignore_errors=True)


def case_upload(env):
    """stbup.exe sends its record to the line's server (password from
    PGPASSWORD); a record made while the server is away is pending, said by
    `records status`, and sent by `records push` once it is back."""
    server = Postgres()
    try:
        records = os.path.join(env.work, "upload.sqlite3")
        image = env.image("upload")
        environment = {"PGPASSWORD": Postgres.PASSWORD, "STBUP_RECORDS_SERVER": server.url()}
        status, _, err = env.upgrade(image, "--records", windows_path(records), "--station-name",
                                     "bench-w", environment=environment)
        check(status == 0, "exit %d: %r" % (status, err[-400:]))
        check(b"line-secret" not in err, "the password was printed")
        rows = server.sql("SELECT record_id, station, port, verdict FROM box_records")
        local = json_lines(subprocess.run([env.stbup, "history", "--json", "--records", records],
                                          capture_output=True).stdout)
        check(len(rows) == 1 and len(local) == 1, "server rows %s, local %d" % (rows, len(local)))
        check(rows[0] == "%s|bench-w|COM1|upgraded" % local[0]["record_id"],
              "on the server: %s" % rows[0])
        # The server's address names nothing that listens: kept pending.
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            nowhere = "postgresql://%s@127.0.0.1:%d/postgres" % (Postgres.USER,
                                                                 s.getsockname()[1])
        status, _, err = env.upgrade(image, "--records", windows_path(records),
                                     environment=dict(environment, STBUP_RECORDS_SERVER=nowhere))
        check(status == 0, "server away: exit %d: %r" % (status, err[-400:]))
        status, out, err = env.exe_run("records", "status", "--records", windows_path(records),
                                       environment=environment)
        check(status == 0 and b"pending:      1\n" in out, "records status: %d %r %r" % (status, out, err))
        status, out, err = env.exe_run("records", "push", "--records", windows_path(records),
                                       environment=environment)
        check(status == 0, "records push: exit %d: %r %r" % (status, out, err))
        rows = server.sql("SELECT count(*), count(DISTINCT record_id) FROM box_records")
        check(rows == ["2|2"], "after the push the server has %s" % rows)
        return "1 record uploaded at once; 1 kept while the server was away, pushed later"
    finally:
        server.stop()


CASES = {
    "read-alike": case_record_read_alike,
    "default-place": case_default_place,
    "upload": case_upload,
}


def main():
    stbup, exe = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    chosen = sys.argv[3:] or list(CASES)
    with tempfile.TemporaryDirectory(prefix="stbup-wine-records-") as work:
        os.chmod(work, 0o755)
        env = Env(stbup, exe, work)
        failures = run_cases(chosen, lambda name: CASES[name](env))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
