#!/usr/bin/env python3
"""Conversions and exports through the Jet stand-in driver give what they
give through SQLite directly.

    jet_standin_test.py KVRCONVERSION ODBC_JET_DIR

A Jet file here is a stub with Jet's header; the stand-in keeps its tables
in "<file>.standin" (tests/odbc/jet_standin.h). Each case runs the same
command on a Jet file and on a SQLite file made alike, and compares the
seven tables field by field: the example plant; notes of every length
up to Text's 255 characters, growing and shrinking in one walk (a refused bind must not leave a
freed buffer behind); the export of the result. No run may send what the
stand-in refuses (it writes each refusal to KVR_STANDIN_REFUSALS).
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TABLES = ["InptAlphas", "OutptAlphas", "OptoAlphas", "RelayAlphas", "ConsoleAlphas", "LocationAlphas",
          "OptoRelaySets"]
failed = 0


def check(ok, what, detail=""):
    global failed
    print(("PASS " if ok else "FAIL ") + what + ("" if ok else " " + detail[:1500]))
    failed += 0 if ok else 1


REFUSED = []  # what the stand-in refused, over every run


def run(*args, jet=False, **standin):
    env = dict(os.environ, SOURCE_DATE_EPOCH="1765000000")
    log = os.path.join(LOG_DIR, "refusals")
    if jet:
        env["ODBCSYSINI"] = JET_DIR
        env["KVR_STANDIN_REFUSALS"] = log
    env.update(("KVR_STANDIN_" + k.upper(), str(v)) for k, v in standin.items())
    r = subprocess.run([KVR] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                       stdin=subprocess.DEVNULL, env=env)
    if os.path.exists(log):
        REFUSED.extend("%s: %s" % (args[0], line) for line in open(log).read().splitlines())
        os.remove(log)
    return r


def dump(db):
    con = sqlite3.connect(db)
    out = {t: con.execute('SELECT * FROM "%s" ORDER BY rowid' % t).fetchall() for t in TABLES}
    con.close()
    return out


def jet_file(work, name, tables_from):
    """A Jet file whose tables are a copy of the SQLite file `tables_from`;
    an .accdb one in the newer engine's format."""
    path = os.path.join(work, name)
    header = bytearray(4096)
    header[4:19] = b"Standard ACE DB" if name.endswith(".accdb") else b"Standard Jet DB"
    open(path, "wb").write(bytes(header))
    shutil.copy(tables_from, path + ".standin")
    return path


def both(work, name, d0, *args):
    """Runs `args` with --database on a Jet file and on a SQLite file, both
    copies of d0; returns the two results and the two databases' tables."""
    jet = jet_file(work, name + ".mdb", d0)
    lite = os.path.join(work, name + ".db")
    shutil.copy(d0, lite)
    r_jet = run(*args, "--database", jet, "--output-dir", os.path.join(work, name + "-jet"), jet=True)
    r_lite = run(*args, "--database", lite, "--output-dir", os.path.join(work, name + "-lite"))
    return r_jet, r_lite, dump(jet + ".standin"), dump(lite)


def locks(work):
    """A conversion that changes more records than the Jet engine's lock
    limit (9,500) keeps nothing, dry run or not: the engine would commit it
    in parts (the stand-in does). One record fewer is kept whole."""
    for inputs, refused in ((9501, True), (9500, False)):
        sizes = ["--inputs", str(inputs), "--outputs", "0", "--consoles", "1", "--locations", "1", "--sets", "1"]
        labelled, fresh = os.path.join(work, "labelled.db"), os.path.join(work, "fresh.db")
        for db in (labelled, fresh):
            if os.path.exists(db):
                os.remove(db)
            run("new-database", "--database", db, *sizes)
        con = sqlite3.connect(labelled)
        con.execute("""UPDATE InptAlphas SET Label = 'I' || "Chan Num\"""")
        con.commit()
        con.close()
        w = os.path.join(work, "labelled.xlsx")
        run("export", "--workbook", w, "--database", labelled)
        jet = jet_file(work, "locks.mdb", fresh)
        before = open(jet + ".standin", "rb").read()
        for mode in ("--dry-run", "--yes"):
            r = run("convert", "--workbook", w, "--database", jet, "--no-backup", "--output-dir",
                    os.path.join(work, "locks-out"), mode, jet=True)
            labels = sum(1 for row in dump(jet + ".standin")["InptAlphas"] if row[1])
            if refused or mode == "--dry-run":
                check(open(jet + ".standin", "rb").read() == before and
                      (("changes 9501 records" in r.stderr and "MaxLocksPerFile" in r.stderr) == refused),
                      "%d changed records, %s: %s" % (inputs, mode, "refused whole" if refused else "nothing kept"),
                      r.stderr[-1500:])
            else:
                check("MaxLocksPerFile" not in r.stderr and labels == inputs,
                      "%d changed records: every one kept" % inputs, r.stderr[-1500:])


def linked_and_failing(work, example, d0, lite):
    """Tables linked from another file (listed as SYNONYM) convert as tables
    do. An engine failure in the middle of the writes (a negative native
    error, a general error) ends the run with nothing of it kept, where a
    record's own failure would have been a problem of that record."""
    jet = jet_file(work, "linked.mdb", d0)
    r = run("convert", "--workbook", example, "--database", jet, "--yes", "--no-backup", "--output-dir",
            os.path.join(work, "linked"), jet=True, linked="InptAlphas,OutptAlphas,LocationAlphas")
    check(r.returncode == 0 and dump(jet + ".standin") == lite,
          "linked tables are found and converted as tables are", r.stderr)
    for at in (1, 40):
        jet = jet_file(work, "failing.mdb", d0)
        before = open(jet + ".standin", "rb").read()
        r = run("convert", "--workbook", example, "--database", jet, "--yes", "--no-backup", "--output-dir",
                os.path.join(work, "failing"), jet=True, fail_at=at)
        check(r.returncode != 0 and "Disk or network error" in r.stderr and "nothing in it was changed" in r.stderr
              and open(jet + ".standin", "rb").read() == before,
              "an engine failure at write %d ends the run with nothing kept" % at, r.stderr[-1500:])


def unknown_engine(work, example, d0, lite):
    """A driver the program does not know by name that refuses what Jet's
    refuses: it converts the same, each statement learning a refused 64-bit
    integer bind once (14 statements here), not at every integer column it
    reads (62), and a refused parameter array once."""
    jet = jet_file(work, "unknown.mdb", d0)
    before = len(REFUSED)
    r = run("convert", "--workbook", example, "--database", jet, "--yes", "--no-backup", "--output-dir",
            os.path.join(work, "unknown"), jet=True, dbms="Unknown")
    refused = REFUSED[before:]
    del REFUSED[before:]
    binds = [line for line in refused if "SQLBindCol" in line]
    check(r.returncode == 0 and dump(jet + ".standin") == lite and
          all("[HYC00]" in line for line in refused) and 0 < len(binds) < 30,
          "an unknown driver that refuses 64-bit binds converts the same, learning it once a statement",
          r.stderr[-800:] + "\n" + "\n".join(refused[:40]))


def new_database(work, example):
    """new-database makes the seven tables in a Jet file in Access SQL (no
    DEFAULT clause, which Jet refuses), and a conversion into them gives the
    tables a SQLite file made alike gets."""
    stub = os.path.join(work, "made.mdb")
    header = bytearray(4096)
    header[4:19] = b"Standard Jet DB"
    open(stub, "wb").write(bytes(header))
    r = run("new-database", "--database", "odbc:Driver={Microsoft Access Driver (*.mdb)};Dbq=" + stub,
            "--workbook", example, jet=True)
    check(r.returncode == 0, "new-database makes the tables in a Jet file", r.stderr)
    lite = os.path.join(work, "made.db")
    run("new-database", "--database", lite, "--workbook", example)
    check(dump(stub + ".standin") == dump(lite), "their records are those of a SQLite file made alike, field by field")
    r_jet = run("convert", "--workbook", example, "--database", stub, "--yes", "--no-backup", "--output-dir",
                os.path.join(work, "made-jet"), jet=True)
    r_lite = run("convert", "--workbook", example, "--database", lite, "--yes", "--no-backup", "--output-dir",
                 os.path.join(work, "made-lite"))
    check(r_jet.returncode == r_lite.returncode == 0 and dump(stub + ".standin") == dump(lite),
          "the example converts into them as into the SQLite file", r_jet.stderr)


def main():
    global KVR, JET_DIR, LOG_DIR
    KVR, JET_DIR = sys.argv[1], sys.argv[2]
    example = os.path.join(ROOT, "examples", "plant.xlsx")
    with tempfile.TemporaryDirectory() as work:
        LOG_DIR = work
        d0 = os.path.join(work, "d0.db")
        run("new-database", "--database", d0, "--workbook", example)
        r_jet, r_lite, jet, lite = both(work, "plant", d0, "convert", "--workbook", example, "--yes", "--no-backup")
        check(r_jet.returncode == 0 and "problem" not in r_jet.stderr,
              "the example plant converts into a Jet file with no problem", r_jet.stderr)
        check(jet == lite, "the Jet file's tables are the SQLite file's, field by field")
        # A file of the newer format goes to the driver that reads it, though
        # the older one is listed first.
        ace = jet_file(work, "plant.accdb", d0)
        r = run("convert", "--workbook", example, "--database", ace, "--output-dir", os.path.join(work, "ace"),
                "--yes", "--no-backup", jet=True)
        check(r.returncode == 0 and dump(ace + ".standin") == lite, "an .accdb file is opened with the *.accdb driver",
              r.stderr)

        # Notes around Text's 255 characters, growing and shrinking in one walk.
        notes = os.path.join(work, "notes.db")
        shutil.copy(os.path.join(work, "plant.db"), notes)
        con = sqlite3.connect(notes)
        for k, n in enumerate([0, 126, 127, 137, 252, 5, 252, 130], start=1):  # with "nK_", up to 255
            con.execute('UPDATE InptAlphas SET Notes = ? WHERE "Chan Num" = ?', ("n%d_" % k + "x" * n, k))
        con.commit()
        con.close()
        w = os.path.join(work, "notes.xlsx")
        r = run("export", "--workbook", w, "--database", notes)
        check(r.returncode == 0, "the notes export", r.stderr)
        r_jet, r_lite, jet, lite = both(work, "notes", d0, "convert", "--workbook", w, "--yes", "--no-backup")
        check(r_jet.stderr == r_lite.stderr and "Notes" not in r_jet.stderr and jet == lite and
              jet["InptAlphas"] == dump(notes)["InptAlphas"],
              "notes of 3 to 255 characters reach a Jet file whole, each its own", r_jet.stderr)

        # The export reads a Jet file as it reads a SQLite file.
        a, b = os.path.join(work, "a.xlsx"), os.path.join(work, "b.xlsx")
        r_jet = run("export", "--workbook", a, "--database", os.path.join(work, "notes.mdb"), jet=True)
        r_lite = run("export", "--workbook", b, "--database", os.path.join(work, "notes.db"))
        check(r_jet.returncode == 0 and r_lite.returncode == 0 and open(a, "rb").read() == open(b, "rb").read(),
              "the export of a Jet file is the export of the same SQLite file, byte for byte", r_jet.stderr)
        locks(work)
        linked_and_failing(work, example, d0, dump(os.path.join(work, "plant.db")))
        unknown_engine(work, example, d0, dump(os.path.join(work, "plant.db")))
        new_database(work, example)
        # A program that tried what Jet refuses and then fell back would
        # pass every case above: nothing refused, in any run.
        check(not REFUSED, "no run sent anything the Jet driver refuses", "\n".join(REFUSED[:20]))
    print("%d failed" % failed)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
