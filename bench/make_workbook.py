#!/usr/bin/env python3
"""Writes a large installation workbook (.xlsx) for the benchmarks.

The package is laid out as spreadsheet applications save it: a workbook part
with its relationships, a styles part, one shared-string table that every
sheet's text cells refer to (t="s"), numbers as plain <v> cells with r
references.

    make_workbook.py OUT.xlsx [--inputs N] [--outputs N]   # "System" and "Sources"
    make_workbook.py OUT.xlsx --max                         # every sheet at its largest

--max writes the largest workbook the formats allow: 32767 inputs and
outputs with their opto and relay sheets, 527 locations, 257 console names
and remote-control sets, 256 consoles each with a 40-module sheet, and
100000 crosspoints.
"""
import argparse
import zipfile
from xml.sax.saxutils import escape

SOURCES_HEADERS = ["Chan", "Chan Label", "LocalLabel", "Linked", "Hidden", "Notes", "Location #",
                   "Source Type", "IFB/MM", "MM Type", "IFB", "Timer Restart", "GPI", "OptoOn",
                   "OptoOff", "OptoCough", "Cue", "Opto Off LED", "GPO", "RelayOn"]


def col_letters(c):
    s = ""
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


class Strings:
    def __init__(self):
        self.index = {}
        self.items = []

    def id(self, text):
        if text not in self.index:
            self.index[text] = len(self.items)
            self.items.append(text)
        return self.index[text]

    def xml(self):
        body = "".join("<si><t>%s</t></si>" % escape(s) for s in self.items)
        return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="%d" '
                'uniqueCount="%d">%s</sst>' % (len(self.items), len(self.items), body))


def sheet_xml(rows, strings):
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
           '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
           'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheetData>']
    for r, row in enumerate(rows, 1):
        cells = []
        for c, v in enumerate(row, 1):
            ref = col_letters(c) + str(r)
            if v is None:
                continue
            if isinstance(v, str):
                cells.append('<c r="%s" t="s"><v>%d</v></c>' % (ref, strings.id(v)))
            else:
                cells.append('<c r="%s"><v>%s</v></c>' % (ref, v))
        out.append('<row r="%d">%s</row>' % (r, "".join(cells)))
    out.append("</sheetData></worksheet>")
    return "".join(out)


def system_rows(name, inputs, outputs, consoles):
    return [["Name:", name], ["Inputs", inputs], ["Outputs", outputs], ["Consoles", consoles]]


def sources_rows(n):
    rows = [SOURCES_HEADERS]
    for i in range(1, n + 1):
        rows.append([i, "Source %05d" % i, "Src%05d" % i, i % 2, 0, "note for source %d" % i, i % 500 + 1,
                     i % 4, i % 300 + 1, i % 2, i % 3, i % 5, i % 7, i % 100 + 1, i % 100 + 2, i % 100 + 3,
                     i % 100 + 4, i % 100 + 5, i % 9, i % 200 + 1])
    return rows


def destinations_rows(n):
    rows = [["Chan", "Chan Label", "Local Label", "Linked", "Hidden", "Notes", "Location #", "Bus Type #",
             "AssocOutput", "AssocRelay", "RelayControl", "RelayType", "Switch", "Fader", "Mute"]]
    for i in range(1, n + 1):
        rows.append([i, "Dest %05d" % i, "", i % 2, 0, "", i % 500 + 1, i % 22, i % 300 + 1, i % 200 + 1, i % 3,
                     i % 2, i % 2, (i + 1) % 2, i % 2])
    return rows


def opto_rows(n):
    rows = [["Chan", "Name", "Notes", "Type", "Salvo", "Input", "Output", "Relay"]]
    for i in range(1, n + 1):
        rows.append([i, "Opto %05d" % i, "", i % 3, i % 50, i, i, i])
    return rows


def relay_rows(n):
    rows = [["Chan", "Name", "Notes"]]
    for i in range(1, n + 1):
        rows.append([i, "Relay %05d" % i, ""])
    return rows


def numbered_rows(headers, n, make):
    return [headers] + [[i] + make(i) for i in range(1, n + 1)]


def console_sheet_rows(n, modules=40):
    types = ["Input", "SLInput", "Return", "Control Rm", "Studio Mon", "Console Ctl", "blank", "CRM"]
    labels = ["Src Sel", "Bus Assn", "SOLO", "CUE", "IFB", "Cue"]
    rows = [["Desk %03d" % n, None, modules] + list(range(1, modules + 1)),
            ["Type", None, None] + [types[(m + n) % len(types)] for m in range(modules)]]
    for keyword in ["MFD Router Control", "MFD Ch Mode", "MFD Ch Pan/Balance", "MFD Send Pre/Post", "MFD Ch Phase"]:
        rows.append([keyword, None, None] + [("Show" if (m + n) % 3 == 0 else "") for m in range(modules)])
    for k in range(1, 17):
        rows.append([k, labels[k % len(labels)], None] + [(m * 17 + k * 31 + n) % 32767 for m in range(modules)])
    rows.append(["Mix Minus On", None, None] + [(m + n) % 32767 for m in range(modules)])
    rows.append(["Mix Minus Off", None, None] + [(m + 2 * n) % 32767 for m in range(modules)])
    rows.append(["Device ID:", None, None] + [n * 100 + m for m in range(modules)])
    rows.append(["Template", None, None] + [m % 5 for m in range(modules)])
    return rows


def max_sheets():
    count = 32767
    sheets = [("System", system_rows("Max Plant", count - 1, count - 1, 256)),
              ("Sources", sources_rows(count)), ("Destinations", destinations_rows(count)),
              ("Opto", opto_rows(count)), ("Relay", relay_rows(count)),
              ("Location", numbered_rows(["#", "Location Name", "Notes"], 527,
                                         lambda i: ["Location %03d area" % i, "note %d" % i])),
              ("Console Name", numbered_rows(["#", "Console Name", "Notes"], 257,
                                             lambda i: ["Console %03d" % i, ""])),
              ("RC", numbered_rows(["#", "Set Name", "Opto 1", "Opto 2", "Opto 3", "Opto 4", "Opto 5", "Relay 1",
                                    "Relay 2", "Relay 3", "Relay 4", "Relay 5", "Notes"], 257,
                                   lambda i: ["Set %03d" % i] + [(i + k) % 32767 for k in range(10)] + [""])),
              ("Console Config", numbered_rows(
                  ["#", "Location #", "Mic", "Monitor", "Cue Spkr", "Cue Bus", "Talkback", "HP Output", "HP Bus",
                   "Dim Value", "Source Select", "Cancel Cue", "Cue Type", "Fader", "Timer Start", "Timer Stop",
                   "Timer Hold", "Timer Reset", "Timer External", "Meter #1", "Meter #2", "Meter #3", "Meter #4",
                   "Meter #5"], 256, lambda i: [i % 527, i, i + 1, i + 2, i + 3, i + 4, i + 5, i + 6, i % 256,
                                                1, 0, 1, 1, i, i, i, i, i, i, i, i, i, i]))]
    sheets += [("Console #%d" % n, console_sheet_rows(n)) for n in range(1, 257)]
    crosspoints = [["P-Level", "Source", "Destination"]]
    crosspoints += [[i % 2, i % 32767 + 1, (i * 7) % 32767 + 1] for i in range(100000)]
    sheets.append(("Crosspoints", crosspoints))
    return sheets


def write_workbook(path, sheets):
    strings = Strings()
    parts = [(name, sheet_xml(rows, strings)) for name, rows in sheets]
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   + "".join('<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' % (i + 1) for i in range(len(parts)))
                   + '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
                   '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
                   '</Types>')
        z.writestr("_rels/.rels",
                   '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % rel)
        z.writestr("xl/workbook.xml",
                   '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="%s"><sheets>' % rel
                   + "".join('<sheet name="%s" sheetId="%d" r:id="rId%d"/>' % (escape(name, {'"': "&quot;"}), i + 1, i + 1)
                             for i, (name, _) in enumerate(parts))
                   + "</sheets></workbook>")
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   + "".join('<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/sheet%d.xml"/>' % (i + 1, rel, i + 1)
                             for i in range(len(parts)))
                   + '<Relationship Id="rIdS" Type="%s/sharedStrings" Target="sharedStrings.xml"/>' % rel
                   + '<Relationship Id="rIdT" Type="%s/styles" Target="styles.xml"/></Relationships>' % rel)
        z.writestr("xl/styles.xml",
                   '<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                   '<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellXfs></styleSheet>')
        for i, (_, xml) in enumerate(parts):
            z.writestr("xl/worksheets/sheet%d.xml" % (i + 1), xml)
        z.writestr("xl/sharedStrings.xml", strings.xml())


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("out")
    ap.add_argument("--inputs", type=int, default=32767)
    ap.add_argument("--outputs", type=int, default=32767)
    ap.add_argument("--max", action="store_true", help="every sheet at its largest")
    args = ap.parse_args()
    if args.max:
        write_workbook(args.out, max_sheets())
        return
    sheets = [("System", system_rows("Benchmark Plant", args.inputs, args.outputs, 0)),
              ("Sources", sources_rows(args.inputs + 1))]
    write_workbook(args.out, sheets)


if __name__ == "__main__":
    main()
