#!/usr/bin/env python3
"""What the built kvrconversion promises never to destroy, tried at the edges.

    guarantees_test.py KVRCONVERSION [--no-memory]

- a report never replaces the workbook, the database, its backup or an output
  of the same run, and writes into a device or FIFO without replacing it;
- a password in a connection string shows nowhere, however it is written;
- the backup: an earlier one survives a commit that fails, a folder in its
  place leaves the database unchanged, it takes a private database's mode,
  and it is copied in steps (memory stays flat);
- inspect measures a file before reading it;
- a run interrupted at random points (SIGINT, SIGTERM, SIGHUP) leaves the
  database and the folder as they were, or completes.

POSIX only (signals, devices, FIFOs, resource use). Prints "N passed, M
failed" last; exits non-zero on any failure.
"""
import json
import os
import random
import shutil
import signal
import sqlite3
import stat
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e_test  # noqa: E402  (the shared helpers: run, check, dump_tables, new_database)
from e2e_test import check, dump_tables, new_database, run  # noqa: E402

EXAMPLES = e2e_test.EXAMPLES
PLANT = os.path.join(EXAMPLES, "plant.xlsx")

# Runs a command and prints its peak resident memory in KiB.
PEAK = ("import resource, subprocess, sys\n"
        "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)\n"
        "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")


def peak_kib(args):
    out = subprocess.run([sys.executable, "-c", PEAK, e2e_test.KVR] + args, stdout=subprocess.PIPE, text=True)
    return int(out.stdout.strip())


def snapshot(paths):
    return {p: open(p, "rb").read() for p in paths}


def test_report_targets():
    with tempfile.TemporaryDirectory() as d:
        wb = os.path.join(d, "plant.xlsx")
        shutil.copy(PLANT, wb)
        db = new_database(d)
        out = os.path.join(d, "out")
        os.mkdir(out)
        r = run(["convert", "--database", db, "--workbook", wb, "--output-dir", out, "--yes"])
        run(["demo-ini", "--workbook", wb, "--output-dir", out])
        run(["xpoints", "--workbook", wb, "--output-dir", out])
        con, ini, xpt = (os.path.join(out, n) for n in ("Plant A.con", "DemoSetup.ini", "Plant A Crosspoints.xpt"))
        protected = [wb, db, db + ".bak", con, ini, xpt]
        check(r.returncode == 0 and all(os.path.exists(p) for p in protected), "the protected files are there")
        before = snapshot(protected)
        convert = ["convert", "--database", db, "--workbook", wb, "--output-dir", out]
        cases = [(convert, db, "the database"), (convert, wb, "the workbook"), (convert, db + ".bak", "its backup"),
                 (convert + ["--no"], con, "a console file kept with --no"),
                 (["check", "--workbook", wb], wb, "check's workbook"),
                 (["demo-ini", "--workbook", wb, "--output-dir", out], ini, "DemoSetup.ini"),
                 (["xpoints", "--workbook", wb, "--output-dir", out], xpt, "the crosspoint file")]
        for args, target, what in cases:
            r = run(args + ["--report", target])
            check(r.returncode == 2 and "the report cannot be written to" in r.stderr and "nothing was run" in r.stderr
                  and snapshot(protected) == before, "a report over %s is refused before anything runs" % what)

        r = run(["check", "--workbook", wb, "--report", ""])
        check(r.returncode == 2 and "--report" in r.stderr, '--report "" is a usage error')
        unmakeable = os.path.join(wb, "below")  # a folder cannot be made inside a file
        r = run(["demo-ini", "--workbook", wb, "--output-dir", unmakeable, "--report", os.path.join(d, "r.json")])
        report = json.load(open(os.path.join(d, "r.json"))) if os.path.exists(os.path.join(d, "r.json")) else {}
        check(r.returncode == 2 and report.get("outcome") == "not run" and "cannot be created" in report.get("reason", ""),
              "an output folder that cannot be made still writes the report of a run that did not run")

        if os.geteuid() != 0:
            check(True, "devices: not root, none made")
            return
        null, full, fifo = (os.path.join(d, n) for n in ("null", "full", "fifo"))
        os.mknod(null, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        os.mknod(full, 0o666 | stat.S_IFCHR, os.makedev(1, 7))
        os.mkfifo(fifo)
        r = run(["check", "--workbook", wb, "--report", null])
        check(r.returncode == 0 and stat.S_ISCHR(os.stat(null).st_mode), "a report into a null device leaves it one")
        r = run(["check", "--workbook", wb, "--report", full])
        check(r.returncode == 1 and "not written" in r.stderr and stat.S_ISCHR(os.stat(full).st_mode),
              "a full device is reported and left a device")
        r = run(["check", "--workbook", wb, "--report", fifo])
        check(r.returncode == 1 and "no program reads from it" in r.stderr and stat.S_ISFIFO(os.stat(fifo).st_mode),
              "a FIFO nobody reads is reported, not waited on, and left a FIFO")
        got = []
        reader = threading.Thread(target=lambda: got.append(open(fifo).read()))
        reader.start()
        time.sleep(0.2)
        r = run(["check", "--workbook", wb, "--report", fifo])
        reader.join(10)
        check(r.returncode == 0 and got and json.loads(got[0])["command"] == "check",
              "a FIFO with a reader gets the report")


def test_passwords():
    with tempfile.TemporaryDirectory() as d:
        cases = [("odbc:PWD=SeCrEt5;Driver={No Such Driver}", "SeCrEt5"),
                 ("odbc:PWD={x}}y;SeCrEt8};Driver={No Such Driver}", "SeCrEt8"),
                 ("odbc:\tPWD=SeCrEt6;Driver={No Such Driver}", "SeCrEt6"),
                 ("odbc:Driver={No Such Driver};Passwd=SeCrEt7", "SeCrEt7"),
                 ("ODBC:DSN=plant;PWD=hunter2", "hunter2"),
                 (" odbc:DSN=plant;PWD=hunter3", "hunter3")]
        for database, secret in cases:
            report = os.path.join(d, "r.json")
            r = run(["convert", "--database", database, "--workbook", PLANT, "--output-dir", d, "--report", report])
            text = r.stdout + r.stderr + (open(report).read() if os.path.exists(report) else "")
            check(secret not in text and "***" in text, "convert never shows %r (exit %d)" % (secret, r.returncode))
            if secret == "SeCrEt5":
                r = run(["convert", "--database", database, "--workbook", PLANT, "--output-dir", d, "--dry-run"])
                check("could not be read, so no change can be previewed" in r.stdout and "record(s)" not in r.stdout,
                      "a dry run against a database that cannot be opened says nothing can be previewed")
            before = sorted(os.listdir(d))
            r = subprocess.run([e2e_test.KVR, "new-database", "--database", database], cwd=d, text=True,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            check(secret not in r.stdout + r.stderr and r.returncode == 2 and sorted(os.listdir(d)) == before,
                  "new-database never shows %r nor makes a file of it" % secret)


def test_backup():
    with tempfile.TemporaryDirectory() as d:
        db = new_database(d)
        bak = db + ".bak"
        before = dump_tables(db)
        convert = ["convert", "--database", db, "--workbook", PLANT, "--output-dir", d, "--yes"]
        # A reader holds the database when the commit comes: the commit fails.
        with open(bak, "wb") as f:
            f.write(b"earlier backup")
        holder = sqlite3.connect(db, isolation_level=None)
        holder.execute("BEGIN")
        holder.execute('SELECT count(*) FROM "InptAlphas"').fetchall()
        r = run(convert)
        holder.execute("ROLLBACK")
        holder.close()
        check(r.returncode == 1 and "could not be saved" in r.stderr and "kept the database" not in r.stdout,
              "a commit that fails is reported (%s)" % r.stderr.strip().splitlines()[:1])
        check(open(bak, "rb").read() == b"earlier backup" and dump_tables(db) == before,
              "a commit that fails keeps the earlier backup and the database as they were")
        check(not [n for n in os.listdir(d) if n.startswith(".")], "and leaves no hidden file")

        os.remove(bak)
        os.mkdir(bak)
        r = run(convert)
        check(r.returncode == 1 and "no backup of the database could be made" in r.stderr and
              "the database was left unchanged" in r.stderr and dump_tables(db) == before and os.path.isdir(bak),
              "a folder standing at the backup's name leaves the database unchanged")
        os.rmdir(bak)

        os.chmod(db, 0o600)
        r = run(convert)
        check(r.returncode == 0 and stat.S_IMODE(os.stat(bak).st_mode) == 0o600,
              "a private database gets a private backup (%o)" % stat.S_IMODE(os.stat(bak).st_mode))

        # A large database: the backup is copied in steps, not held in memory.
        con = sqlite3.connect(db)
        con.execute("CREATE TABLE pad (b BLOB)")
        for _ in range(192):
            con.execute("INSERT INTO pad VALUES (zeroblob(1048576))")
        con.commit()
        con.close()
        if "--no-memory" in sys.argv:
            return
        with_backup = peak_kib(convert)
        without = peak_kib(convert + ["--no-backup"])
        check(os.path.getsize(bak) > 190 << 20 and with_backup - without < 64 << 10,
              "the backup of a 192 MiB database costs %d MiB of memory (at most 64)" % ((with_backup - without) >> 10))


def test_inspect_measures_first():
    with tempfile.TemporaryDirectory() as d:
        big = os.path.join(d, "huge.cns")
        with open(big, "wb") as f:
            f.truncate(3 << 30)  # sparse: costs no disk
        started = time.time()
        r = run(["inspect", big])
        took = time.time() - started
        check(r.returncode == 2 and "holds at most" in r.stderr and took < 1,
              "inspect refuses a 3 GB file in %.2f s" % took)
        if "--no-memory" not in sys.argv:
            check(peak_kib(["inspect", big]) < 64 << 10, "and within 64 MiB")


def test_interrupts():
    with tempfile.TemporaryDirectory() as d:
        sys.path.insert(0, os.path.join(e2e_test.ROOT, "bench"))
        workbook = os.path.join(d, "max.xlsx")
        subprocess.run([sys.executable, os.path.join(e2e_test.ROOT, "bench", "make_workbook.py"), workbook, "--max"],
                       check=True, stdout=subprocess.DEVNULL)
        pristine = os.path.join(d, "pristine.db")
        r = run(["new-database", "--database", pristine, "--inputs", "32767", "--outputs", "32767", "--consoles",
                 "257", "--locations", "527", "--sets", "257"])
        assert r.returncode == 0, r.stderr
        ref = os.path.join(d, "ref")
        os.mkdir(ref)
        shutil.copy(pristine, os.path.join(ref, "S.db"))
        started = time.time()
        run(["convert", "--database", os.path.join(ref, "S.db"), "--workbook", workbook, "--output-dir", ref, "--yes"])
        whole = time.time() - started
        after = dump_tables(os.path.join(ref, "S.db"))
        outputs = sorted(n for n in os.listdir(ref) if not n.startswith("S.db"))
        pristine_bytes = open(pristine, "rb").read()
        work = os.path.join(d, "work")
        bad, seen = [], {}
        rng = random.Random(7)
        # From 0.15 s on: a signal before the program has set its handlers ends it as any program.
        trials = [(signal.SIGINT, rng.uniform(0.15, max(whole * 1.2, 0.3))) for _ in range(10)]
        trials += [(signal.SIGINT, whole * f) for f in (0.85, 0.95, 1.05)]
        trials += [(signal.SIGTERM, whole * 0.4), (signal.SIGHUP, whole * 0.6)]
        for sig, delay in trials:
            shutil.rmtree(work, ignore_errors=True)
            os.mkdir(work)
            db = os.path.join(work, "S.db")
            shutil.copy(pristine, db)
            p = subprocess.Popen([e2e_test.KVR, "convert", "--database", db, "--workbook", workbook, "--output-dir",
                                  work, "--yes"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            time.sleep(delay)
            p.send_signal(sig)
            stdout, stderr = p.communicate()
            names = sorted(os.listdir(work))
            files = [n for n in names if not n.startswith("S.db")]
            print("  %s after %.2f s of %.2f: exit %d" % (sig.name, delay, whole, p.returncode))
            if p.returncode == 130 and "interrupted: nothing was changed" in stderr:
                seen["stopped"] = seen.get("stopped", 0) + 1
                if open(db, "rb").read() != pristine_bytes or names != ["S.db"]:
                    bad.append("%s at %.2f s: stopped but %s" % (sig.name, delay, names))
            elif p.returncode in (0, 1, 130) and "Completed" in stdout:
                seen["completed"] = seen.get("completed", 0) + 1
                if dump_tables(db) != after or files != outputs or "S.db-journal" in names:
                    bad.append("%s at %.2f s: completed but not whole" % (sig.name, delay))
            else:
                bad.append("%s at %.2f s: exit %d, %s" % (sig.name, delay, p.returncode, stderr.strip()[-120:]))
        check(not bad and seen.get("stopped"), "interrupted conversions leave everything as it was or complete it "
              "(%s; %s)" % (", ".join("%s %d" % kv for kv in sorted(seen.items())), "; ".join(bad[:3]) or "ok"))

        # Killed outright (a second Ctrl-C where the first has not stopped it yet): the next open rolls the
        # journal back and the database is whole.
        shutil.rmtree(work)
        os.mkdir(work)
        db = os.path.join(work, "S.db")
        shutil.copy(pristine, db)
        p = subprocess.Popen([e2e_test.KVR, "convert", "--database", db, "--workbook", workbook, "--output-dir", work,
                              "--yes"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(whole * 0.5)
        p.send_signal(signal.SIGKILL)
        p.wait()
        check(dump_tables(db) == dump_tables(pristine), "a conversion killed outright leaves the database whole")


def main():
    e2e_test.KVR = os.path.abspath(sys.argv[1])
    test_report_targets()
    test_passwords()
    test_backup()
    test_inspect_measures_first()
    test_interrupts()
    print("%d passed, %d failed" % (e2e_test.passed, e2e_test.failed))
    sys.exit(0 if e2e_test.failed == 0 else 1)


if __name__ == "__main__":
    main()
