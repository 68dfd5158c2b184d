#!/usr/bin/env python3
"""End-to-end runs of the built kvrconversion on the example plant.

    e2e_test.py KVRCONVERSION [--update] [--golden-only]

For the example workbook saved as .xlsx, .xls and .ods, runs new-database,
convert, demo-ini and xpoints, and compares every output with the golden
files in tests/e2e/golden/: the seven database tables dumped as text, the
.con and .cns files, DemoSetup.ini and the crosspoint file. All three
workbooks must give identical outputs. Then the faults a converter must survive: a
killed conversion, a full disk, a locked database, and inputs that are no
workbook. --update rewrites the golden files from the .xlsx run.

Prints "N passed, M failed" last; exits non-zero on any failure.
"""
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
GOLDEN = os.path.join(HERE, "golden")
EXAMPLES = os.path.join(ROOT, "examples")
TABLES = ["InptAlphas", "OutptAlphas", "OptoAlphas", "RelayAlphas", "ConsoleAlphas", "LocationAlphas",
          "OptoRelaySets"]
SIZES = ["--inputs", "256", "--outputs", "192", "--consoles", "6", "--locations", "24", "--sets", "16"]

passed = failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
        print("PASS", what)
    else:
        failed += 1
        print("FAIL", what)
    sys.stdout.flush()


def run(args, **kw):
    return subprocess.run([KVR] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          stdin=subprocess.DEVNULL, **kw)


def dump_tables(db):
    con = sqlite3.connect(db)
    out = []
    for t in TABLES:
        cols = [r[1] for r in con.execute('PRAGMA table_info("%s")' % t)]
        out.append("## %s\n%s\n" % (t, "|".join(cols)))
        key = '"SetNum"' if t == "OptoRelaySets" else '"Chan Num"'
        for row in con.execute('SELECT * FROM "%s" ORDER BY %s' % (t, key)):
            out.append("|".join("" if v is None else str(v) for v in row) + "\n")
    con.close()
    return "".join(out)


def new_database(folder, name="Switcher.db"):
    db = os.path.join(folder, name)
    r = run(["new-database", "--database", db] + SIZES)
    assert r.returncode == 0, r.stderr
    return db


def convert_all(workbook, folder):
    """All three commands into `folder`; returns {output name: bytes}."""
    db = new_database(folder)
    fresh = dump_tables(db)
    results = {}
    for args in (["convert", "--database", db], ["demo-ini"], ["xpoints"]):
        r = run(args + ["--workbook", workbook, "--output-dir", folder])
        results[args[0]] = r
    outputs = {"tables.txt": dump_tables(db).encode()}
    backup = os.path.join(folder, "Switcher.db.bak")
    check(os.path.exists(backup) and dump_tables(backup) == fresh, "the backup holds the database as it was")
    for name in sorted(os.listdir(folder)):
        if name not in ("Switcher.db", "Switcher.db.bak"):
            with open(os.path.join(folder, name), "rb") as f:
                outputs[name] = f.read()
    return results, outputs


def golden_files():
    found = {}
    for name in sorted(os.listdir(GOLDEN)):
        with open(os.path.join(GOLDEN, name), "rb") as f:
            found[name] = f.read()
    return found


def test_golden(update):
    got = {}
    for ext in ("xlsx", "xls", "ods"):
        with tempfile.TemporaryDirectory() as d:
            results, outputs = convert_all(os.path.join(EXAMPLES, "plant." + ext), d)
            for cmd, r in results.items():
                mistakes = [l for l in r.stderr.splitlines() if not l.startswith("not read: ")]
                check(r.returncode == 0 and not mistakes, "%s of plant.%s completes without problems (%s)"
                      % (cmd, ext, r.stderr.strip()[:200]))
            got[ext] = outputs
    if update:
        shutil.rmtree(GOLDEN, ignore_errors=True)
        os.makedirs(GOLDEN)
        for name, data in got["xlsx"].items():
            with open(os.path.join(GOLDEN, name), "wb") as f:
                f.write(data)
    for ext in ("xls", "ods"):
        same = got["xlsx"] == got[ext]
        differ = sorted(n for n in set(got["xlsx"]) | set(got[ext]) if got["xlsx"].get(n) != got[ext].get(n))
        check(same, "plant.xlsx and plant.%s give identical outputs%s" % (ext, "" if same else " (%s)" % differ[:5]))
    golden = golden_files()
    check(sorted(golden) == sorted(got["xlsx"]), "the same output files as the golden set")
    for name, data in golden.items():
        check(got["xlsx"].get(name) == data, "%s matches its golden file" % name)


def test_killed_conversion():
    """Killed at many points, the database and each file are old or new, never half."""
    with tempfile.TemporaryDirectory() as d:
        workbook = os.path.join(EXAMPLES, "plant.xlsx")
        db = new_database(d)
        before = dump_tables(db)
        old_con = b"old console file"
        con_path = os.path.join(d, "Plant A.con")
        shutil.copy(db, os.path.join(d, "pristine.db"))
        ref = os.path.join(d, "ref")
        os.makedirs(ref)
        shutil.copy(db, os.path.join(ref, "Switcher.db"))
        r = run(["convert", "--database", os.path.join(ref, "Switcher.db"), "--workbook", workbook,
                 "--output-dir", ref])
        after = dump_tables(os.path.join(ref, "Switcher.db"))
        new_files = {n: open(os.path.join(ref, n), "rb").read() for n in os.listdir(ref) if n != "Switcher.db"}
        bad = []
        states = set()
        for step in range(60):
            shutil.copy(os.path.join(d, "pristine.db"), db)
            for n in new_files:
                p = os.path.join(d, n)
                if os.path.exists(p):
                    os.remove(p)
            with open(con_path, "wb") as f:
                f.write(old_con)
            p = subprocess.Popen([KVR, "convert", "--database", db, "--workbook", workbook, "--output-dir", d,
                                  "--yes"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(step * 0.001)
            p.send_signal(signal.SIGKILL)
            p.wait()
            now = dump_tables(db)
            states.add("before" if now == before else "after" if now == after else "other")
            if now not in (before, after):
                bad.append("database half converted after %d ms" % step)
            for n, data in new_files.items():
                path = os.path.join(d, n)
                if os.path.exists(path):
                    cur = open(path, "rb").read()
                    if cur != data and not (n == "Plant A.con" and cur == old_con):
                        bad.append("%s partial after %d ms" % (n, step))
            leftovers = [n for n in os.listdir(d) if n.endswith(".tmp")]
            for n in leftovers:  # a temporary file may survive a kill; it never replaces anything
                os.remove(os.path.join(d, n))
        check(not bad, "a killed conversion leaves everything old or new (%s; states seen: %s)"
              % ("; ".join(bad[:3]) or "ok", ", ".join(sorted(states))))


def test_full_disk():
    """The disk fills (a file-size limit) while files and the database are written."""
    with tempfile.TemporaryDirectory() as d:
        ini = os.path.join(d, "DemoSetup.ini")
        with open(ini, "wb") as f:
            f.write(b"earlier")
        r = subprocess.run(["prlimit", "--fsize=4096", KVR, "demo-ini", "--workbook",
                            os.path.join(EXAMPLES, "plant.xlsx"), "--output-dir", d],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        check(r.returncode == 1 and "DemoSetup.ini" in r.stderr and "File too large" in r.stderr,
              "a full disk is reported (%s)" % r.stderr.strip().splitlines()[:1])
        check(open(ini, "rb").read() == b"earlier", "the earlier file survives a full disk")
        check(os.listdir(d) == ["DemoSetup.ini"], "no partial file is left")
        db = new_database(d)
        before = dump_tables(db)
        for backup, said in ((["--no-backup"], "nothing in it was changed"),
                             ([], "no backup of the database could be made (cannot write: File too large)")):
            r = subprocess.run(["prlimit", "--fsize=8192", KVR, "convert", "--database", db, "--workbook",
                                os.path.join(EXAMPLES, "plant.xlsx"), "--output-dir", d, "--yes"] + backup,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            db_lines = [l for l in r.stderr.splitlines() if "Switcher.db" in l]
            what = "a database that cannot grow" if backup else "a backup that cannot be written"
            check(r.returncode == 1 and len(db_lines) == 1 and said in db_lines[0],
                  "%s is reported once (%s)" % (what, db_lines[:1]))
            check(dump_tables(db) == before and not os.path.exists(db + ".bak"), "%s leaves it unchanged" % what)


def test_durable_output():
    """The files' data reach the disk before any is put in place, and the
    folder's names after the last one is (watched with strace)."""
    if shutil.which("strace") is None:
        check(True, "durable output: strace is not installed, not watched")
        return
    with tempfile.TemporaryDirectory() as d:
        db = new_database(d)
        trace = os.path.join(d, "trace")
        r = subprocess.run(["strace", "-f", "-o", trace, "-e", "trace=openat,fsync,fdatasync,syncfs,linkat,rename,renameat,renameat2",
                            KVR, "convert", "--database", db, "--workbook", os.path.join(EXAMPLES, "plant.xlsx"),
                            "--output-dir", d, "--yes"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if r.returncode != 0 or not os.path.exists(trace):
            check(True, "durable output: this machine does not let strace watch (%s)" % r.stderr.strip()[:80])
            return
        lines = open(trace).read().splitlines()
        folders = set()
        flushed_data = placed = flushed_folder = None
        for i, line in enumerate(lines):
            if "O_DIRECTORY" in line and "= " in line and line.split("= ")[-1].strip().isdigit():
                folders.add(line.split("= ")[-1].strip())
            if "syncfs(" in line and flushed_data is None:
                flushed_data = i
            if ("linkat(" in line or "rename" in line) and '.cns"' in line:
                placed = i
            if "fsync(" in line and line.split("fsync(")[1].split(")")[0] in folders:
                flushed_folder = i
        first_link = next((i for i, l in enumerate(lines) if "linkat(" in l and '.cns"' in l), None)
        check(flushed_data is not None and first_link is not None and flushed_data < first_link,
              "the files' data are flushed before any file is put in place")
        check(placed is not None and flushed_folder is not None and flushed_folder > placed,
              "the folder is flushed after the last file is put in place")


def test_locked_database():
    with tempfile.TemporaryDirectory() as d:
        db = new_database(d)
        before = dump_tables(db)
        holder = sqlite3.connect(db, isolation_level=None)
        holder.execute("BEGIN EXCLUSIVE")
        r = run(["convert", "--database", db, "--workbook", os.path.join(EXAMPLES, "plant.xlsx"),
                 "--output-dir", d, "--yes"])
        holder.execute("ROLLBACK")
        holder.close()
        check(r.returncode == 1 and "locked by another program" in r.stderr, "a locked database is reported")
        check(dump_tables(db) == before, "a locked database is left unchanged")


def test_bad_workbooks():
    with tempfile.TemporaryDirectory() as d:
        db = new_database(d)
        before = dump_tables(db)
        good = open(os.path.join(EXAMPLES, "plant.xlsx"), "rb").read()
        cases = {"text.xlsx": b"Name:,Plant A\n", "truncated.xlsx": good[: len(good) // 3],
                 "empty.xls": b"", "garbage.xls": b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\x00" * 100}
        encrypted = os.path.join(ROOT, "..", "shared", "peer-workbooks", "files", "calamine_pass_protected.xlsx")
        if os.path.exists(encrypted):  # a password-protected workbook from the peer corpus
            cases["encrypted.xlsx"] = open(encrypted, "rb").read()
        for name, data in cases.items():
            path = os.path.join(d, name)
            with open(path, "wb") as f:
                f.write(data)
            r = run(["convert", "--database", db, "--workbook", path, "--output-dir", d])
            check(r.returncode == 2 and r.stderr.strip() != "", "%s is refused with exit 2 (%s)"
                  % (name, r.stderr.strip()[:120]))
        check(dump_tables(db) == before and sorted(os.listdir(d)) == sorted(list(cases) + ["Switcher.db"]),
              "refused workbooks write nothing")
        r = run(["convert", "--database", os.path.join(d, "text.xlsx"), "--workbook",
                 os.path.join(EXAMPLES, "plant.xlsx"), "--output-dir", d])
        check(r.returncode == 2 and "not a switcher database" in r.stderr, "a file that is no database is refused")
        r = run(["convert", "--database", os.path.join(d, "missing.db"), "--workbook",
                 os.path.join(EXAMPLES, "plant.xlsx")])
        check(r.returncode == 2 and "database not found" in r.stderr, "a missing database is refused")


def test_odd_shapes():
    """A workbook whose sheets hold the wrong things completes, with problems and exit 1."""
    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import make_workbook
    with tempfile.TemporaryDirectory() as d:
        db = new_database(d)
        path = os.path.join(d, "odd.xlsx")
        make_workbook.write_workbook(path, [
            ("System", [["Name:", "Odd"], ["Inputs", 99999], ["Outputs", "many"], ["Consoles", 1]]),
            ("Sources", [["Chan Label", "Chan"], ["x", 1], [1, "Mic"], [2, 40000]]),
            ("Console #1", [["Desk", None, 50] + list(range(1, 51))]),
        ])
        r = run(["convert", "--database", db, "--workbook", path, "--output-dir", d])
        check(r.returncode == 1 and "problem: System!B2: 99999 under \"Inputs\" does not fit a 16-bit number; \"InputCount\" stays 0" in r.stderr,
              "odd sheets complete with problems")
        check("no module file written for console 1" in r.stderr, "a console of 50 modules gets no file")


MISTAKE_NOTICES = [
    ("System", "B2", '"lots" under "Inputs" is not a number: it reads as 0, so InputCount is 0'),
    ("System", None, 'the system name is empty'),
    ("Sources", "G2", '"two" under "Location #" is not a number: it reads as 0; Location of input 1 is written as '
                      '16383 (none)'),
    ("Sources", "A3:A257", '"Inputs" on the System sheet is 0, so the scan stopped after number 1 in row 2'),
    ("Destinations", "B1", '"Chan Label" is probably meant'),
    ("Destinations", "A10:A193", 'waited for number 9 (A10 holds "x"), which never came'),
    ("Opto ", None, 'probably the "Opto" the run looked for'),
    # What the wrong "Inputs" does to the indices that point at optos: once per sheet.
    ("Sources", "N2", 'points at opto 2, which lies past the 1 the table holds ("Inputs" on the System sheet is 0)'),
    ("RC", "C2", 'points at opto 4, which lies past the 1 the table holds ("Inputs" on the System sheet is 0); '
                 'Opto1 of set 1 is written as 3 (opto 4); 79 more cells of this sheet point at optos'),
]


def validate_report(path, what):
    """The report at `path` against docs/report.schema.json; returns it."""
    import json
    with open(path) as f:
        report = json.load(f)
    try:
        import jsonschema
        with open(os.path.join(ROOT, "docs", "report.schema.json")) as f:
            jsonschema.Draft202012Validator(json.load(f)).validate(report)
        check(True, "%s report validates against its schema" % what)
    except ImportError:
        check(False, "python3-jsonschema is installed to validate reports")
    except Exception as e:  # a jsonschema.ValidationError names the field
        check(False, "%s report validates against its schema (%s)" % (what, str(e).splitlines()[0]))
    return report


def test_notices_and_reports():
    """The example plant gives no notice; a copy with six mistakes gives exactly the notices that point at
    them, on .xlsx and .xls, and leaves every output as the rules make it. Reports follow their schema."""
    with tempfile.TemporaryDirectory() as d:
        for ext in ("xlsx", "xls"):
            r = run(["check", "--workbook", os.path.join(EXAMPLES, "plant." + ext), "--strict", "--report",
                     os.path.join(d, "plant.json")])
            said = [l for l in r.stderr.splitlines() if not l.startswith("not read: ")]
            check(r.returncode == 0 and said == [], "the example plant (.%s) gives no notice" % ext)
            report = validate_report(os.path.join(d, "plant.json"), "check of the example")
            check(report["notices"] == [] and report["exit_status"] == 0, "its report lists no notice")
            # What the plant keeps for itself is listed apart: the console sizes and the "MFD Proc" rows.
            check([(n["sheet"], n["cells"]) for n in report["not_read"]] == [("System", "B5:B9"), ("Console #1", "D6:O6")],
                  "its report lists the values no run reads apart from the notices")

            mistakes = os.path.join(HERE, "mistakes." + ext)
            r = run(["check", "--workbook", mistakes, "--report", os.path.join(d, "check.json")])
            report = validate_report(os.path.join(d, "check.json"), "check of the mistakes")
            notices = [(n["sheet"], n.get("cells"), n["message"]) for n in report["notices"]]
            expected = MISTAKE_NOTICES + [("System", None, 'the crosspoint file is named " Crosspoints.xpt"')]
            found = len(notices) == len(expected) and all(
                s == es and c == ec and em in m for (s, c, m), (es, ec, em) in zip(notices, expected))
            check(r.returncode == 1 and found, "check of the six mistakes (.%s) gives exactly their notices%s" %
                  (ext, "" if found else ": %r" % notices))
            check(report["files"] == [] and report["tables"] == [], "check writes nothing")

        # The mistakes change no output: convert gives the same notices and the outputs the rules make.
        db = new_database(d)
        out = os.path.join(d, "out")
        os.mkdir(out)
        r = run(["convert", "--database", db, "--workbook", os.path.join(HERE, "mistakes.xlsx"), "--output-dir",
                 out, "--report", os.path.join(d, "convert.json")])
        report = validate_report(os.path.join(d, "convert.json"), "convert")
        places = [(n["sheet"], n.get("cells")) for n in report["notices"]]
        check(places == [(s, c) for s, c, _ in MISTAKE_NOTICES], "convert gives the same notices: %r" % places)
        claims = check_claims(report, db)
        check(claims[0] > 0 and not claims[1], "every \"... is written as V\" of %d holds in the database: %r" % claims)
        # Cells whose values later columns and rules decide, on every row.
        sys.path.insert(0, os.path.join(ROOT, "bench"))
        import make_workbook
        decided = os.path.join(d, "decided.xlsx")
        rows = [["Chan", "Chan Label", "Utility-Fader", "Fader", "Bus Type #", "Mute", "Switch", "Hidden"]]
        for i in range(1, 101):
            rows.append([i, "{Sp %d" % i if i % 3 == 0 else "Out %d" % i, "0.5", i % 2, i % 22, "1 x", "0 x",
                         "0 x" if i % 3 == 0 else "1"])
        make_workbook.write_workbook(decided, [("System", [["Name:", "D"], ["Outputs", 99]]), ("Destinations", rows)])
        db2 = new_database(d, "decided.db")
        run(["convert", "--database", db2, "--workbook", decided, "--output-dir", os.path.join(d, "decided"),
             "--report", os.path.join(d, "decided.json")])
        claims = check_claims(validate_report(os.path.join(d, "decided.json"), "decided"), db2)
        check(claims[0] >= 50 and not claims[1], "later columns and rules (a hundred notices listed): %d claims, false: %r" % (claims[0], claims[1][:3]))
        desks = ["Desk %d.cns" % n for n in range(1, 7)]
        check(sorted(os.listdir(out)) == [".con"] + desks and r.stdout.count("wrote ") == 7,
              "an empty system name names the console file \".con\"")
        changed = {t["table"]: (t["records_changed"], t["fields_changed"]) for t in report["tables"]}
        check(changed["InptAlphas"][0] == 1 and 0 < changed["OutptAlphas"][0] <= 193 and
              [f["status"] for f in report["files"]] == ["written"] * 7,
              "the report counts the changes and names the files written")
        r = run(["convert", "--database", db, "--workbook", os.path.join(HERE, "mistakes.xlsx"), "--output-dir",
                 out, "--no", "--report", os.path.join(d, "again.json")])
        report = validate_report(os.path.join(d, "again.json"), "a second convert")
        check([f["status"] for f in report["files"]] == ["kept"] * 7 and
              all(t["fields_changed"] == 0 for t in report["tables"]),
              "a second run changes nothing and keeps the files it was not let replace")
        # One mistake on every cell of a full Sources sheet: a hundred notices, then a count.
        sys.path.insert(0, os.path.join(ROOT, "bench"))
        import make_workbook
        flood = os.path.join(d, "flood.xlsx")
        make_workbook.write_workbook(flood, [
            ("System", [["Name:", "F"], ["Inputs", 32767]]),
            ("Sources", [["Chan", "Location #", "Source Type", "GPI"]] + [[i, "x", "x", "x"] for i in range(1, 32768)])])
        started = time.time()
        r = run(["check", "--workbook", flood, "--report", os.path.join(d, "flood.json")])
        report = validate_report(os.path.join(d, "flood.json"), "a flood of notices")
        sources = [n for n in report["notices"] if n.get("sheet") == "Sources"]
        check(len(sources) == 100 and report["notices_unlisted"] == [{"place": "Sources", "count": 98201}] and
              all(n["code"] == "number-doubt" for n in sources) and time.time() - started < 10,
              "a mistake on every row gives a hundred notices and a count of the rest (%d)" % len(sources))
        r = run(["convert", "--database", os.path.join(d, "missing.db"), "--workbook",
                 os.path.join(HERE, "mistakes.xlsx"), "--report", os.path.join(d, "missing.json")])
        report = validate_report(os.path.join(d, "missing.json"), "a run that did not run")
        check(r.returncode == 2 and report["outcome"] == "not run" and "database not found" in report["reason"],
              "a run that cannot start still reports why")


CLAIM = re.compile(r'(\w+) of (input|output|opto|relay|location|set) (\d+) is written as (-?\d+|"[^"]*")')
CLAIM_TABLES = {"input": "InptAlphas", "output": "OutptAlphas", "opto": "OptoAlphas", "relay": "RelayAlphas",
                "location": "LocationAlphas", "set": "OptoRelaySets"}


def check_claims(report, db):
    """Every report that says what a database field "is written as" must be
    true of the database the run wrote: (claims checked, those that are not)."""
    con = sqlite3.connect(db)
    checked, false = 0, []
    for entry in report["problems"] + report["notices"]:
        for field, subject, number, value in CLAIM.findall(entry["message"]):
            key = "SetNum" if subject == "set" else "Chan Num"
            row = con.execute('SELECT "%s" FROM "%s" WHERE "%s" = ?' % (field, CLAIM_TABLES[subject], key),
                              (int(number),)).fetchone()
            written = None if row is None else row[0]
            expected = value[1:-1] if value.startswith('"') else int(value)
            checked += 1
            if written != expected:
                false.append((entry["message"], written))
    con.close()
    return checked, false


def main():
    global KVR
    KVR = os.path.abspath(sys.argv[1])
    update = "--update" in sys.argv
    test_golden(update)
    test_notices_and_reports()
    if "--golden-only" in sys.argv:  # the Windows build under Wine: no POSIX kills or limits
        print("%d passed, %d failed" % (passed, failed))
        sys.exit(1 if failed else 0)
    test_killed_conversion()
    test_full_disk()
    test_durable_output()
    test_locked_database()
    test_bad_workbooks()
    test_odd_shapes()
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(0 if failed == 0 else 1)


if __name__ == "__main__":
    main()
