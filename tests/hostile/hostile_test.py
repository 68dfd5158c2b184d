#!/usr/bin/env python3
"""Hostile workbooks: small files built to exhaust memory or time.

    hostile_test.py KVRCONVERSION

Each family is generated here (nothing large is committed), then opened by
`sheet` and converted by `convert` under a 1 GiB address-space limit. Every
file must be refused with exit status 2 and a message naming the bound, in
under 30 seconds, with a peak memory of at most 512 MiB, and `convert` must
leave the database and the output folder as they were.

Prints "N passed, M failed" last; exits non-zero on any failure.
"""
import io
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

KVR = os.path.abspath(sys.argv[1])
LIMIT_AS = 1 << 30
PEAK_LIMIT_KB = 512 * 1024
TIME_LIMIT = 30.0
passed = failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
        print("PASS " + what)
    else:
        failed += 1
        print("FAIL " + what)
    sys.stdout.flush()


NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"


def xlsx(path, sheet_xml, shared=None, sheets=1):
    """An .xlsx whose every sheet is `sheet_xml` (bytes or a bytes-producing list)."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr("_rels/.rels", '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/'
                   'relationships"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/>'
                   '</Relationships>' % REL)
        names = "".join('<sheet name="S%d" sheetId="%d" r:id="rId%d"/>' % (i + 1, i + 1, i + 1)
                        for i in range(sheets))
        if sheets == 1:
            names = '<sheet name="System" sheetId="1" r:id="rId1"/>'
        z.writestr("xl/workbook.xml", '<workbook %s xmlns:r="%s"><sheets>%s</sheets></workbook>' % (NS, REL, names))
        rels = "".join('<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/s.xml"/>' % (i + 1, REL)
                       for i in range(sheets))
        rels += '<Relationship Id="rS" Type="%s/sharedStrings" Target="sharedStrings.xml"/>' % REL
        z.writestr("xl/_rels/workbook.xml.rels", '<Relationships xmlns="http://schemas.openxmlformats.org/'
                   'package/2006/relationships">%s</Relationships>' % rels)
        with z.open("xl/worksheets/s.xml", "w", force_zip64=True) as f:
            for piece in sheet_xml:
                f.write(piece)
        with z.open("xl/sharedStrings.xml", "w", force_zip64=True) as f:
            for piece in (shared or [b"<sst %s/>" % NS.encode()]):
                f.write(piece)


def repeated(head, unit, count, tail, chunk=1 << 16):
    yield head
    block = unit * chunk
    while count >= chunk:
        yield block
        count -= chunk
    yield unit * count
    yield tail


def ods(path, tables):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr("mimetype", "application/vnd.oasis.opendocument.spreadsheet", zipfile.ZIP_STORED)
        with z.open("content.xml", "w", force_zip64=True) as f:
            f.write(b'<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
                    b'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
                    b'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body>'
                    b'<office:spreadsheet>')
            for piece in tables:
                f.write(piece)
            f.write(b"</office:spreadsheet></office:body></office:document-content>")


SHEET_HEAD = b"<worksheet %s><sheetData>" % NS.encode()
SHEET_TAIL = b"</sheetData></worksheet>"


def families(d):
    """(name, path, words the refusal must contain)"""
    out = []
    p = os.path.join(d, "shared_strings.xlsx")
    xlsx(p, [SHEET_HEAD, SHEET_TAIL], repeated(b"<sst %s>" % NS.encode(), b"<si/>", 20_000_000, b"</sst>"))
    out.append(("20 million empty shared strings", p, "shared strings"))
    p = os.path.join(d, "unclosed.xlsx")
    xlsx(p, repeated(SHEET_HEAD + b"<row><c><is>", b"<a>", 20_000_000, b""))
    out.append(("20 million unclosed elements", p, "nested deeper than 256"))
    p = os.path.join(d, "inline.xlsx")
    xlsx(p, repeated(SHEET_HEAD + b'<row><c t="inlineStr"><is><t>', b"a", 240_000_000,
                     b"</t></is></c></row>" + SHEET_TAIL))
    out.append(("one inline string of 240 MB", p, "32767 characters"))
    p = os.path.join(d, "bomb.xlsx")
    xlsx(p, repeated(SHEET_HEAD, b" ", 300 << 20, SHEET_TAIL))
    out.append(("a sheet part inflating to 300 MB", p, "268435456"))
    p = os.path.join(d, "texts.xlsx")
    cell = b'<c t="inlineStr"><is><t>' + b"b" * 30000 + b"</t></is></c>"
    xlsx(p, repeated(SHEET_HEAD + b"<row>", cell, 3000, b"</row>" + SHEET_TAIL))
    out.append(("3000 cells of 30000 characters each", p, "bytes of text"))
    p = os.path.join(d, "sheets.xlsx")
    xlsx(p, [SHEET_HEAD, SHEET_TAIL], sheets=5000)
    out.append(("5000 listed sheets", p, "more than 4096 sheets"))
    p = os.path.join(d, "repeat.ods")
    ods(p, [b'<table:table table:name="System"><table:table-row table:number-rows-repeated="999999999">'
            b'<table:table-cell office:value-type="string" table:number-columns-repeated="999999999">'
            b"<text:p>x</text:p></table:table-cell></table:table-row></table:table>"])
    out.append(("one .ods cell repeated 10^18 times", p, "cells with values"))
    p = os.path.join(d, "deep.ods")
    ods(p, repeated(b'<table:table table:name="System">', b"<text:span>", 20_000_000, b""))
    out.append(("20 million unclosed .ods elements", p, "nested deeper than 256"))
    return out


def limited():
    resource.setrlimit(resource.RLIMIT_AS, (LIMIT_AS, LIMIT_AS))


def run(args):
    start = time.monotonic()
    p = subprocess.run([KVR] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                       preexec_fn=limited, timeout=120)
    return p, time.monotonic() - start


def main():
    with tempfile.TemporaryDirectory() as d:
        db = os.path.join(d, "sw.db")
        subprocess.run([KVR, "new-database", "--database", db], check=True, stdout=subprocess.DEVNULL)
        pristine = open(db, "rb").read()
        out_dir = os.path.join(d, "out")
        os.makedirs(out_dir)
        for name, path, words in families(d):
            size = os.path.getsize(path)
            check(size <= 10 << 20, "%s: the file is small (%d bytes)" % (name, size))
            for args in (["sheet", "--workbook", path, "--sheet", "System"],
                         ["convert", "--database", db, "--workbook", path, "--output-dir", out_dir, "--yes"]):
                p, seconds = run(args)
                err = p.stderr.decode("utf-8", "replace").strip()
                check(p.returncode == 2 and words in err,
                      "%s: %s refused with exit 2 naming the bound (%d: %s)" % (name, args[0], p.returncode, err[:160]))
                check(seconds <= TIME_LIMIT, "%s: %s took %.1f s" % (name, args[0], seconds))
            check(open(db, "rb").read() == pristine and os.listdir(out_dir) == [],
                  "%s: convert changed nothing" % name)
        peak_kb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        check(peak_kb <= PEAK_LIMIT_KB, "peak memory of every run %d MiB (at most 512)" % (peak_kb // 1024))
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
