#!/usr/bin/env python3
"""The round trip of export, end to end through the built kvrconversion.

    export_test.py KVRCONVERSION ODBC_DIR [--seed N] [--plants N] [--max]

For a workbook W and an empty database D0: convert W into a copy of D0
(database D1, files F1, crosspoint file X1), export D1, F1 and X1 as W2,
then convert W2 into another copy of D0. The database must equal D1 in every
field of the seven tables, the files F1 and X1 byte for byte; a dry run of
W2 into D1 must change nothing; the second export must find nothing it
cannot give back. Run over the example plant (.xlsx, .ods, .xls), the
faulty e2e workbook, and generated plants whose first workbook is itself an
export of random tables and files (random counts, texts of every character
class, Big Switch on and off, console sheets at their limits), through
SQLite directly and through the SQLite ODBC driver, writing .xlsx and .ods.
Then the command line's failure paths. --max adds the largest plant.

Prints "N passed, M failed" last; exits non-zero on any failure.
"""
import filecmp
import os
import random
import shutil
import sqlite3
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TABLES = {"InptAlphas": "Chan Num", "OutptAlphas": "Chan Num", "OptoAlphas": "Chan Num",
          "RelayAlphas": "Chan Num", "ConsoleAlphas": "Chan Num", "LocationAlphas": "Chan Num",
          "OptoRelaySets": "SetNum"}

passed = failed = 0


def check(ok, what, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print("PASS", what)
    else:
        failed += 1
        print("FAIL", what, detail[:2000])
    sys.stdout.flush()


def run(*args):
    return subprocess.run([KVR] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          stdin=subprocess.DEVNULL)


def dump(db):
    con = sqlite3.connect(db)
    out = {t: con.execute('SELECT * FROM "%s" ORDER BY rowid' % t).fetchall() for t in TABLES}
    con.close()
    return out


def same_folder(a, b):
    names = sorted(os.listdir(a))
    if names != sorted(os.listdir(b)):
        return False, "files %s against %s" % (names, sorted(os.listdir(b)))
    for n in names:
        if not filecmp.cmp(os.path.join(a, n), os.path.join(b, n), shallow=False):
            return False, n + " differs"
    return True, ""


def odbc(db):
    return "odbc:Driver={SQLite3};Database=%s;" % db


def round_trip(name, w, d0, work, big_switch=False, via_odbc=False, ext=".xlsx"):
    """Checks the round trip of workbook `w` into a copy of `d0`."""
    bs = ["--big-switch"] if big_switch else []
    d1 = os.path.join(work, "d1.db")
    shutil.copy(d0, d1)
    f1 = os.path.join(work, "f1")
    r = run("convert", "--database", d1, "--workbook", w, "--output-dir", f1, "--no-backup", "--yes", *bs)
    if r.returncode > 1:
        check(False, name + ": convert", r.stderr)
        return
    r = run("xpoints", "--workbook", w, "--output-dir", f1)
    xpts = [f for f in os.listdir(f1) if f.endswith(".xpt")]
    cons = [f for f in os.listdir(f1) if f.endswith(".con")]
    w2 = os.path.join(work, "w2" + ext)
    args = ["export", "--workbook", w2, "--database", odbc(d1) if via_odbc else d1, "--yes", *bs]
    if cons:
        args += ["--con", os.path.join(f1, cons[0])]
    if xpts:
        args += ["--crosspoints", os.path.join(f1, xpts[0])]
    r = run(*args)
    check(r.returncode == 0 and "problem" not in r.stdout, name + ": the export gives everything back",
          r.stdout + r.stderr)
    d2 = os.path.join(work, "d2.db")
    shutil.copy(d0, d2)
    f2 = os.path.join(work, "f2")
    r = run("convert", "--database", d2, "--workbook", w2, "--output-dir", f2, "--no-backup", "--yes", *bs)
    run("xpoints", "--workbook", w2, "--output-dir", f2)
    a, b = dump(d1), dump(d2)
    bad = [t for t in TABLES if a[t] != b[t]]
    detail = ""
    for t in bad[:1]:
        rows = [(x, y) for x, y in zip(a[t], b[t]) if x != y][:3]
        detail = "%s: %s" % (t, rows)
    check(not bad, name + ": converting the export gives the same database", detail)
    ok, why = same_folder(f1, f2)
    check(ok, name + ": converting the export gives the same files", why)
    r = run("convert", "--database", d1, "--workbook", w2, "--dry-run", *bs)
    changes = [l for l in r.stdout.splitlines() if "would change" in l and not l.endswith(": 0 record(s), 0 field(s) would change")]
    check(r.returncode <= 1 and not changes, name + ": the export converted into its own database changes nothing",
          "\n".join(changes) + r.stderr[-500:])


# --- generated plants -------------------------------------------------------

TEXTS = ["Mic 1", "  lead", "trail  ", "a  b", "tab\there", "two\nlines", "012", "0", " ", "", "{hid",
         "Ünïcødé", "日本語", "emoji😀", "<&>\"'", "=1+1", "_x0041_", "a_x005F_b", "-5", "1e3", "TRUE", "#N/A"]


def random_text(rng, limit):
    t = rng.choice(TEXTS) if rng.random() < 0.6 else "".join(
        rng.choice("abcXYZ019 -_.,;/#") for _ in range(rng.randint(1, limit)))
    return t[:limit]


def random_tables(rng, db):
    """Fills every field of `db` with values of every kind, most of them ones a workbook can give."""
    con = sqlite3.connect(db)
    for table, key in TABLES.items():
        cols = [(r[1], r[2].upper()) for r in con.execute('PRAGMA table_info("%s")' % table) if r[1] != key]
        for (k,) in con.execute('SELECT "%s" FROM "%s"' % (key, table)).fetchall():
            values = []
            for name, kind in cols:
                if kind.startswith("VARCHAR"):
                    limit = int(kind[8:-1])
                    values.append(random_text(rng, min(limit, 40)))
                elif kind.startswith("TINYINT"):
                    values.append(rng.choice([0, 1, 7, 255]))
                else:
                    values.append(rng.choice([0, 1, 2, 5, 14, 21, 100, 16383, -3, 32766, rng.randint(0, 400)]))
            con.execute('UPDATE "%s" SET %s WHERE "%s" = ?' % (table, ", ".join('"%s" = ?' % c for c, _ in cols), key),
                        values + [k])
    con.commit()
    con.close()


TYPES = [(3999, 0), (3601, 12), (3610, 16), (3612, 8), (3616, 0), (3620, 16), (3605, 12), (3631, 8), (3635, 8),
         (3640, 9)]


def code_for(rng, typ, big_switch):
    if typ in (3610, 3635, 3612):
        return 10 if big_switch else 5
    if typ in (3620, 3640):
        return 30 if big_switch else 70
    if typ in (3601, 3631):
        return rng.choice([0, 255, 100, 521, 520, 510] if big_switch else [0, 255, 10, 17, 16, 15])
    return 255


def random_files(rng, folder, system, consoles, big_switch):
    os.makedirs(folder, exist_ok=True)
    con = struct.pack("<5h", 218, 256, 1, 30, 5)
    for i in range(256):
        slots = [0] * 35
        if i < rng.randint(0, 40):
            slots = [rng.choice([0, 1, 5, 16383, rng.randint(0, 300)]) for _ in range(35)]
            slots[0] = rng.randint(-20, 30)
            for s in (1, 5, 7, 10, 31, 32, 33, 34):
                slots[s] = 0
            slots[30] = rng.randint(0, 255)
        for s in (18, 19, 20, 23, 26, 27, 28, 29):
            slots[s] = 16383
        con += struct.pack("<35h", *slots)
    open(os.path.join(folder, system + ".con"), "wb").write(con)
    for n in range(1, consoles + 1):
        count = rng.choice([1, 2, 12, 40])
        body = struct.pack("<4h", 3620, 1, count, n - 1)
        labels = {}
        for m in range(count):
            typ, assignments = rng.choice(TYPES) if rng.random() < 0.9 else (0, 0)
            pairs = []
            for k in range(32):
                if k < assignments:
                    if typ in (3601, 3631):
                        labels.setdefault(k, code_for(rng, typ, big_switch))
                        code = labels[k]
                    else:
                        code = code_for(rng, typ, big_switch)
                    pairs.append((code, rng.choice([16383, rng.randint(0, 2000)])))
                else:
                    pairs.append((255, 16383))
            mfd = sum(1 << b for b in (0, 1, 2, 3, 4, 5, 12) if rng.random() < 0.3) if typ else 0
            mm = (rng.choice([16383, rng.randint(0, 99)]), rng.choice([16383, rng.randint(0, 99)])) if typ else (16383, 16383)
            body += struct.pack("<5h", typ, 16383, 16383, 0, 0) + struct.pack("<9h", *[16383] * 9)
            body += struct.pack("<3hih", mm[0], mm[1], 16383, mfd, assignments)
            body += b"".join(struct.pack("<2h", *p) for p in pairs)
        name = rng.choice([system + " Console %d" % n, "Desk %d" % n, "Air Console %d" % n])
        open(os.path.join(folder, name + ".cns"), "wb").write(body)
    xpoints = [(rng.choice([0, 1, -1, 16383]), rng.choice([16383, rng.randint(0, 999)]),
                rng.choice([16383, rng.randint(0, 999)])) for _ in range(rng.randint(0, 300))]
    open(os.path.join(folder, system + " Crosspoints.xpt"), "wb").write(
        struct.pack("<h", len(xpoints)) + b"".join(struct.pack("<3h", *x) for x in xpoints))


def generated_plant(rng, i, work):
    big_switch = i % 2 == 1
    sizes = [rng.randint(0, 300), rng.randint(0, 300), rng.randint(0, 20), rng.randint(0, 40), rng.randint(0, 30)]
    d0 = os.path.join(work, "d0.db")
    args = []
    for opt, n in zip(["--inputs", "--outputs", "--consoles", "--locations", "--sets"], sizes):
        args += [opt, str(n)]
    run("new-database", "--database", d0, *args)
    dr = os.path.join(work, "random.db")
    shutil.copy(d0, dr)
    random_tables(rng, dr)
    files = os.path.join(work, "random")
    system = rng.choice(["Plant %d" % i, "Studio_x0041_ B", "Übertragung"])
    random_files(rng, files, system, rng.randint(0, 6), big_switch)
    w = os.path.join(work, "w.xlsx")
    bs = ["--big-switch"] if big_switch else []
    r = run("export", "--workbook", w, "--database", dr, "--con", os.path.join(files, system + ".con"),
            "--crosspoints", os.path.join(files, system + " Crosspoints.xpt"), *bs)
    # Random values include ones no workbook gives: those are problems, each
    # named, and the workbook is still written.
    check(r.returncode in (0, 1) and os.path.exists(w) and "reads back" not in r.stderr,
          "plant %d: the export of random tables is written, every cell reading back as written" % i, r.stderr[-800:])
    round_trip("plant %d%s" % (i, " (Big Switch)" if big_switch else ""), w, d0, work, big_switch,
               via_odbc=(i % 3 == 2), ext=".ods" if i % 4 == 3 else ".xlsx")


def failure_paths(work):
    d0 = os.path.join(work, "fp.db")
    example = os.path.join(ROOT, "examples", "plant.xlsx")
    run("new-database", "--database", d0, "--workbook", example)
    run("convert", "--database", d0, "--workbook", example, "--output-dir", os.path.join(work, "files"), "--no-backup")
    out = os.path.join(work, "out.xlsx")
    r = run("export", "--workbook", out)
    check(r.returncode == 2 and "at least one source" in r.stderr, "export without a source does not run", r.stderr)
    r = run("export", "--workbook", os.path.join(work, "out.csv"), "--database", d0)
    check(r.returncode == 2 and ".xlsx or .ods" in r.stderr, "export refuses a workbook that is not .xlsx or .ods")
    xpt = os.path.join(work, "same.xlsx")
    open(xpt, "wb").write(struct.pack("<h", 0))
    r = run("export", "--workbook", xpt, "--crosspoints", xpt, "--yes")
    check(r.returncode == 2 and "source of the export" in r.stderr and os.path.getsize(xpt) == 2,
          "export never writes over its own source", r.stderr)
    missing = os.path.join(work, "missing.con")
    r = run("export", "--workbook", out, "--database", d0, "--con", missing)
    check(r.returncode == 1 and "missing.con" in r.stderr and os.path.exists(out),
          "a source that cannot be read is a problem; the rest is written", r.stderr)
    os.remove(out)
    r = run("export", "--workbook", out, "--con", missing)
    check(r.returncode == 2 and not os.path.exists(out) and "missing.con: cannot be read" in r.stderr,
          "no readable source: exit 2, nothing written, and why", r.stderr)
    # A note that is not UTF-8 (written by another program) reaches its cell
    # mended, in both formats, and the cell and field are named.
    odd = edited_copy(d0, os.path.join(work, "odd.db"),
                      """UPDATE InptAlphas SET Notes = CAST(X'41FF42' AS TEXT) WHERE "Chan Num" = 1""")
    for ext in (".xlsx", ".ods"):
        w = os.path.join(work, "odd" + ext)
        r = run("export", "--workbook", w, "--database", odd)
        check(r.returncode == 1 and os.path.exists(w) and "Sources!F2: its text in the source is not UTF-8" in r.stderr
              and "Chan Num 1: \"Notes\" holds \"A\\xFFB\"" in r.stderr and sheet(w, "Sources")[1][5] == "A\ufffdB"
              and "[ERROR]" not in r.stderr, "a text that is not UTF-8 is written mended and named (%s)" % ext,
              r.stderr[-800:])
    fifo = os.path.join(work, "fifo.xlsx")
    os.mkfifo(fifo)
    r = run("export", "--workbook", fifo, "--database", d0, "--yes")
    check(r.returncode == 2 and "fifo.xlsx" in r.stderr and "could not be written" in r.stderr,
          "a workbook that cannot be written: exit 2 and why", r.stderr)
    os.remove(fifo)
    run("export", "--workbook", out, "--database", d0)
    before = open(out, "rb").read()
    r = run("export", "--workbook", out, "--database", d0, "--no")
    check(r.returncode == 0 and open(out, "rb").read() == before and "kept " in r.stdout,
          "--no keeps an existing workbook", r.stdout)
    r = run("export", "--workbook", out, "--database", d0, "--yes")
    check(r.returncode == 0 and open(out, "rb").read() == before, "two exports of one database give the same bytes")
    leftovers = [f for f in os.listdir(work) if f.endswith(".tmp")]
    check(not leftovers, "no temporary file is left behind", str(leftovers))
    # A label beginning with "{" on a channel that is not hidden is what a
    # conversion leaves when its label cell was empty: the export leaves the
    # cell empty too, so converting it keeps the label and the channel unhidden.
    kept = edited_copy(d0, os.path.join(work, "kept.db"),
                       """UPDATE InptAlphas SET Label = '{Spare}', LocalLabel = '{Spare}', Hidden = 0 WHERE "Chan Num" = 3""")
    back = os.path.join(work, "kept.xlsx")
    r = run("export", "--workbook", back, "--database", kept)
    dry = run("convert", "--database", kept, "--workbook", back, "--dry-run")
    check(r.returncode == 0 and "begins with \"{\" but the channel is not hidden" in r.stderr and
          "InptAlphas: 0 record(s), 0 field(s) would change" in dry.stdout,
          "a label that would hide its channel is left to the database", r.stderr + dry.stdout)
    report = os.path.join(work, "export.json")
    r = run("export", "--workbook", out, "--database", d0, "--yes", "--report", report)
    check(r.returncode == 0 and '"command": "export"' in open(report).read(), "--report writes the export's report")


def edited_copy(src, dst, *statements):
    """A copy of database `src` at `dst` with `statements` run on it."""
    shutil.copy(src, dst)
    con = sqlite3.connect(dst)
    for statement in statements:
        con.execute(statement)
    con.commit()
    con.close()
    return dst


def sheet(w, name):
    r = run("sheet", "--workbook", w, "--sheet", name)
    return __import__("json").loads(r.stdout)["cells"] if r.returncode == 0 else []


def records_left_out(work):
    """Records an engineer edited past the plant's end stay on their sheet;
    records no sheet row can hold are each named with why."""
    example = os.path.join(ROOT, "examples", "plant.xlsx")
    d = os.path.join(work, "sized.db")
    run("new-database", "--database", d, "--inputs", "300", "--outputs", "300")
    run("convert", "--database", d, "--workbook", example, "--output-dir", os.path.join(work, "f"), "--no-backup")
    w = os.path.join(work, "sized.xlsx")
    r = run("export", "--workbook", w, "--database", d)
    rows = sheet(w, "Destinations")
    check(r.returncode == 0 and len(rows) == 193 and "records 193 to 300 hold only empty texts and zeros" in r.stderr,
          "records a table holds past the plant, empty, are left to the database with a notice",
          "%d rows; %s" % (len(rows), r.stderr[-600:]))
    system = dict((row[0], row[1]) for row in sheet(w, "System") if row)
    longer = lambda a, b: str(max(len(sheet(w, a)), len(sheet(w, b))) - 1)
    check(system.get("Outputs") == longer("Destinations", "Relay") and system.get("Inputs") == longer("Sources", "Opto"),
          "the System counts are the channels the sheets number", str(system))
    # A label longer than a conversion writes is left to the database, so
    # converting the export changes nothing.
    con = sqlite3.connect(d)
    con.execute("""UPDATE InptAlphas SET Label = 'LongLabel12', LocalLabel = 'Local' WHERE "Chan Num" = 2""")
    con.execute("""UPDATE LocationAlphas SET Label = 'Sixteen chars ok' WHERE "Chan Num" = 1""")
    con.execute("""UPDATE LocationAlphas SET Label = 'Seventeen chars!!' WHERE "Chan Num" = 2""")
    con.commit()
    con.close()
    r = run("export", "--workbook", w, "--database", d, "--yes")
    dry = run("convert", "--database", d, "--workbook", w, "--dry-run")
    location = sheet(w, "Location")
    check(r.returncode == 0 and sheet(w, "Sources")[2][1] == "" and location[1][1] == "Sixteen chars ok" and
          location[2][1] == "" and "\"LongLabel12\" of InptAlphas, Chan Num 2 is longer than the 8 characters" in r.stderr
          and "\"Seventeen chars!!\" of LocationAlphas, Chan Num 2 is longer than the 16" in r.stderr and
          "InptAlphas: 0 record(s), 0 field(s) would change" in dry.stdout and
          "LocationAlphas: 0 record(s), 0 field(s) would change" in dry.stdout,
          "a label longer than a conversion writes is left to the database, with a notice", r.stderr + dry.stdout)
    con = sqlite3.connect(d)
    con.execute("""UPDATE OutptAlphas SET Label = 'Edit', Type = 3 WHERE "Chan Num" = 300""")
    con.execute("""INSERT INTO LocationAlphas ("Chan Num", Label) VALUES (0, 'Zero'), (40, 'Far'), (41, 'Farther')""")
    con.executemany("""INSERT INTO ConsoleAlphas ("Chan Num", Label) VALUES (?, 'Past')""",
                    [(k,) for k in range(9, 259)])
    # A table without a primary key, as another program may have made it:
    # repeated and missing numbers.
    con.executescript("""CREATE TABLE r2 AS SELECT * FROM RelayAlphas; DROP TABLE RelayAlphas;
                         ALTER TABLE r2 RENAME TO RelayAlphas;
                         INSERT INTO RelayAlphas ("Chan Num", Label) VALUES (5, 'Again'), (5, 'Thrice'), (NULL, 'None');""")
    con.commit()
    con.close()
    r = run("export", "--workbook", w, "--database", d, "--yes")
    rows = sheet(w, "Destinations")
    kept = len(rows) == 301 and rows[300][1] == "Edit"
    check(r.returncode == 1 and kept and "AllowMM" in r.stderr and "OutptAlphas, Chan Num 300" not in r.stderr.replace(
        "Chan Num 300: \"AllowMM\"", "").replace("Chan Num 300: \"AssocInput\"", ""),
        "a channel edited past the plant's end keeps its row; what a conversion would change is named",
        "%d rows; %s" % (len(rows), r.stderr[-800:]))
    check("RelayAlphas: 2 records share their \"Chan Num\" with an earlier record (5)" in r.stderr and
          "RelayAlphas: 1 record has no \"Chan Num\"" in r.stderr and
          "LocationAlphas: 1 record numbered below 1 (\"Chan Num\" 0)" in r.stderr and
          "2 records lie after the gap at \"Chan Num\" 33 (40 to 41)" in r.stderr and
          "ConsoleAlphas: 1 record numbered past 257 (\"Chan Num\" 258)" in r.stderr,
          "records no sheet row holds are named by number and why", r.stderr[-1500:])


def module_files(work):
    """The .cns header decides which console a file is; an uncertain choice is a problem."""
    example = os.path.join(ROOT, "examples", "plant.xlsx")
    d = os.path.join(work, "m.db")
    run("new-database", "--database", d, "--workbook", example)
    f = os.path.join(work, "files")
    run("convert", "--database", d, "--workbook", example, "--output-dir", f, "--no-backup")
    con = os.path.join(f, "Plant A.con")
    w = os.path.join(work, "m.xlsx")
    for n in (6, 2):  # the last console, then one in the middle
        os.rename(os.path.join(f, "Desk %d.cns" % n), os.path.join(f, "Air Console %d.cns" % n))
        r = run("export", "--workbook", w, "--con", con, "--yes")
        system = dict((row[0], row[1]) for row in sheet(w, "System") if row)
        check(r.returncode == 0 and system.get("Consoles") == "6" and sheet(w, "Console #%d" % n) and
              sheet(w, "Console #%d" % n)[0][0] == "Air Console %d" % n,
              "a console named \"<X> Console %d\" keeps its module file" % n, r.stderr[-600:])
    open(os.path.join(f, "Desk 3.cns"), "r+b").truncate(1000)
    last = os.path.join(f, "Air Console 6.cns")
    whole = open(last, "rb").read()
    open(last, "r+b").truncate(1000)
    r = run("export", "--workbook", w, "--con", con, "--yes")
    system = dict((row[0], row[1]) for row in sheet(w, "System") if row)
    check(r.returncode == 1 and "Desk 3.cns: cannot be read as a module file" in r.stderr and
          "its header names console 3" in r.stderr and "Air Console 6.cns: cannot be read" in r.stderr and
          system.get("Consoles") == "6",
          "a damaged module file is named with the console its header names, and counts", r.stderr[-600:])
    os.remove(os.path.join(f, "Desk 3.cns"))
    open(last, "wb").write(whole)
    # A second plant in the folder, written at the same moment: its files
    # are named for consoles too, so nothing tells them apart.
    shutil.copy(con, os.path.join(f, "Plant B.con"))
    shutil.copy(os.path.join(f, "Desk 4.cns"), os.path.join(f, "Studio 4.cns"))
    shutil.copy(os.path.join(f, "Desk 5.cns"), os.path.join(f, "Plant B Console 5.cns"))
    # A file named as this system's conversion names it wins over one named
    # for a console, whatever the order of their names.
    shutil.copy(os.path.join(f, "Desk 1.cns"), os.path.join(f, "Plant A Console 1.cns"))
    for name in os.listdir(f):
        os.utime(os.path.join(f, name), (1700000000, 1700000000))
    r = run("export", "--workbook", w, "--con", con, "--yes")
    check(r.returncode == 1 and "Desk 4.cns: taken as the module file of console 4, but Studio 4.cns" in r.stderr and
          "Plant B Console 5.cns: also a module file of console 5; Desk 5.cns is taken instead" in r.stderr and
          "Desk 1.cns: also a module file of console 1; Plant A Console 1.cns is taken instead" in r.stderr and sheet(w, "Console #5")[0][0] == "Desk 5",
          "two plants' files in one folder: an uncertain choice is a problem, another plant's named file is not taken",
          r.stderr[-1200:])


def main():
    global KVR
    KVR = sys.argv[1]
    os.environ["ODBCSYSINI"] = sys.argv[2]
    seed = int(sys.argv[sys.argv.index("--seed") + 1]) if "--seed" in sys.argv else 20261208
    plants = int(sys.argv[sys.argv.index("--plants") + 1]) if "--plants" in sys.argv else 8
    rng = random.Random(seed)
    print("seed", seed)
    with tempfile.TemporaryDirectory() as tmp:
        workbooks = [os.path.join(ROOT, "examples", "plant" + e) for e in (".xlsx", ".ods", ".xls")]
        workbooks.append(os.path.join(HERE, "mistakes.xlsx"))
        if "--max" in sys.argv:
            big = os.path.join(tmp, "max.xlsx")
            subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_workbook.py"), big, "--max"], check=True,
                           stdout=subprocess.DEVNULL)
            workbooks.append(big)
        for k, w in enumerate(workbooks):
            work = os.path.join(tmp, "w%d" % k)
            os.makedirs(work)
            d0 = os.path.join(work, "d0.db")
            run("new-database", "--database", d0, "--workbook", w)
            round_trip(os.path.basename(w), w, d0, work, big_switch=k == 1, via_odbc=k == 2,
                       ext=".ods" if k == 3 else ".xlsx")
        for i in range(plants):
            work = os.path.join(tmp, "p%d" % i)
            os.makedirs(work)
            generated_plant(rng, i, work)
        work = os.path.join(tmp, "failures")
        os.makedirs(work)
        failure_paths(work)
        for k, test in enumerate((records_left_out, module_files)):
            work = os.path.join(tmp, "left%d" % k)
            os.makedirs(work)
            test(work)
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
