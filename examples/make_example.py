#!/usr/bin/env python3
"""Writes the example installation workbook, plant.fods (flat OpenDocument),
which LibreOffice then saves as plant.xlsx, plant.xls and plant.ods:

    python3 examples/make_example.py examples/plant.fods
    soffice --headless --convert-to xlsx --outdir examples examples/plant.fods
    soffice --headless --convert-to xls --outdir examples examples/plant.fods
    soffice --headless --convert-to ods --outdir examples examples/plant.fods

With --mistakes it writes the same plant with six mistakes an engineer
makes, each of which the conversion's notices point at (the end-to-end
test's mistakes.xlsx and mistakes.xls are saved from it):

    python3 examples/make_example.py mistakes.fods --mistakes

A mid-size plant: 256 inputs, 192 outputs, 6 consoles with module sheets,
two frames on "32QX", 500 crosspoints, locations, console names and
remote-control sets. Deterministic: the same file every time. Every name
fits the field it is written to, so a check of it gives no notice.
"""
import random
import sys
from xml.sax.saxutils import escape

INPUTS, OUTPUTS, CONSOLES = 256, 192, 6
rng = random.Random(20261207)


def cell(v):
    if v is None:
        return "<table:table-cell/>"
    if isinstance(v, (int, float)):
        return '<table:table-cell office:value-type="float" office:value="%s"/>' % v
    return '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % escape(v)


def table(name, rows):
    out = ['<table:table table:name="%s">' % escape(name, {'"': "&quot;"})]
    for row in rows:
        out.append("<table:table-row>" + "".join(cell(v) for v in row) + "</table:table-row>")
    out.append("</table:table>")
    return "".join(out)


SOURCE_NAMES = ["Mic", "CD", "Tel", "Sat", "Line", "Cod", "Net", "Tun", "Ret", "Aux"]
DEST_NAMES = ["PGM", "AUD", "Rec", "Feed", "IFB", "Spkr", "HP", "Mon", "Bus", "Tx"]


def system():
    return [["Name:", "Plant A"], ["Inputs", INPUTS], ["Outputs", OUTPUTS], ["Consoles", CONSOLES],
            ["8", 2], ["16", 4], ["24", 0], ["32", 0], ["40", 0]]


def sources():
    rows = [["Chan", "Chan Label", "LocalLabel", "Linked", "Hidden", "Notes", "Location #", "Source Type",
             "IFB/MM", "MM Type", "IFB", "Timer Restart", "GPI", "OptoOn", "OptoOff", "OptoCough", "Cue",
             "Opto Off LED", "GPO", "RelayOn", "RelayOff"]]
    for i in range(1, INPUTS + 1):
        name = "%s %d" % (SOURCE_NAMES[i % len(SOURCE_NAMES)], i)
        if i % 37 == 0:
            name = "{Sp %d}" % i
        local = "" if i % 3 else "L%s" % name.replace(" ", "")
        rows.append([i, name, local, i % 5 == 0 and 1 or 0, 0, "studio feed %d" % i if i % 4 == 0 else "",
                     i % 24 + 1, i % 4, (i % 40) + 1 if i % 4 == 2 else 0, i % 2, i % 3, i % 2, i % 8,
                     (i % 64) + 1, (i % 64) + 2 if i % 2 else 0, 0, (i % 64) + 3, 0, i % 8, (i % 64) + 1, 0])
    return rows


def destinations():
    rows = [["Chan", "Chan Label", "Local Label", "Linked", "Hidden", "Notes", "Location #", "Bus Type #",
             "AssocOutput", "AssocRelay", "RelayControl", "RelayType", "Switch", "Fader", "Mute"]]
    for i in range(1, OUTPUTS + 1):
        rows.append([i, "%s %d" % (DEST_NAMES[i % len(DEST_NAMES)], i), "", 0, 0,
                     "" if i % 5 else "desk output %d" % i, i % 24 + 1, i % 22, (i % 20) + 1 if i % 6 == 0 else 0,
                     (i % 64) + 1, i % 3, i % 2, i % 2, (i + 1) % 2, i % 2])
    return rows


def optos():
    rows = [["Chan", "Name", "Notes", "Type", "Salvo", "Input", "Output", "Relay"]]
    for i in range(1, 65):
        rows.append([i, "Opto %d" % i, "" if i % 7 else "tally %d" % i, i % 3, 0 if i % 5 else i // 5,
                     i, (i % OUTPUTS) + 1, i])
    return rows


def relays():
    rows = [["Chan", "Name", "Notes"]]
    for i in range(1, 65):
        rows.append([i, "Relay %d" % i, "" if i % 9 else "on-air light %d" % i])
    return rows


def locations():
    rows = [["Loc", "Location Name", "Notes"]]
    for i in range(1, 25):
        rows.append([i, "Studio %d Ctrl" % i if i % 2 else "Studio %d" % i, "floor %d" % (i % 4)])
    return rows


def console_names():
    rows = [["Console", "Console Name", "Notes"]]
    for i in range(1, CONSOLES + 1):
        rows.append([i, "Desk %d Prod" % i if i % 2 else "Desk %d" % i, "installed 2026"])
    return rows


def rc_sets():
    rows = [["Set", "Set Name", "Opto 1", "Opto 2", "Opto 3", "Opto 4", "Opto 5", "Relay 1", "Relay 2",
             "Relay 3", "Relay 4", "Relay 5", "Notes"]]
    for i in range(1, 17):
        rows.append([i, "Set %d" % i] + [(i * 3 + k) % 64 + 1 for k in range(5)] +
                    [(i * 5 + k) % 64 + 1 if k < 3 else 0 for k in range(5)] + ["" if i % 4 else "spare"])
    return rows


def console_config():
    rows = [["Console", "Location #", "Mic", "Monitor", "Cue Spkr", "Cue Bus", "Talkback", "HP Output",
             "HP Bus", "Dim Value", "Source Select", "Cancel Cue", "Cue Type", "Fader", "Timer Start",
             "Timer Stop", "Timer Hold", "Timer Reset", "Timer External", "Meter #1", "Meter #2", "Meter #3",
             "Meter #4", "Meter #5"]]
    for i in range(1, CONSOLES + 1):
        rows.append([i, i, i * 2, i * 3, i * 4, 0, i * 5, i * 6, i + 1, 20 * i, i % 2, (i + 1) % 2, 1, 1,
                     i, i + 1, i + 2, i + 3, 0, i, i + 10, i + 20, 0, 16383])
    return rows


TYPES = ["Input", "Input", "Input", "Input", "SLInput", "Return", "Control Rm", "Studio Mon", "Console Ctl",
         "blank", "Remote Ctl", "CRM"]
LABELS = ["Src Sel", "Bus Assn", "Bus Assn", "SOLO", "CUE", "IFB", "Bus Assn", "Cue", "Src Sel", "Bus Assn",
          "IFB", "SOLO", "Bus Assn", "Bus Assn", "Bus Assn", "Bus Assn"]


def console_sheet(n):
    modules = 8 + 4 * (n % 3)  # 8, 12 or 16 modules
    width = 3 + modules
    rows = [["Desk %d" % n, None, modules] + list(range(1, modules + 1))]
    rows.append(["Type", None, None] + [TYPES[(m + n) % len(TYPES)] for m in range(modules)])
    for keyword in ["MFD Router Control", "  MFD Ch Mode  ", "MFD Ch Pan/Balance", "MFD Proc", "MFD Ch Phase"]:
        rows.append([keyword, None, None] + [rng.choice(["Show", "Yes", "", ""]) for _ in range(modules)])
    for k in range(1, 17):
        rows.append([k, LABELS[k - 1], None] + [rng.randint(0, INPUTS) for _ in range(modules)])
    rows.append(["Mix Minus On (PGM)", None, None] + [rng.randint(0, OUTPUTS) for _ in range(modules)])
    rows.append(["Mix Minus Off", None, None] + [rng.randint(0, OUTPUTS) for _ in range(modules)])
    rows.append(["Device ID:", None, None] + [100 * n + m for m in range(1, modules + 1)])
    rows.append(["Template", None, None] + [m % 4 for m in range(1, modules + 1)])
    for row in rows:
        row.extend([None] * (width - len(row)))
    return rows


def frames():
    rows = [["Slot", "Frame", "Module", "Input", "Output", "Opto", "Relay", "Console"]]
    kinds = ["PLN", "pdn", "PLT", "PDT", "PRY", "HBX", "NGV", "TBF", "MSJ", "XYZ"]
    console = 1
    for f in (1, 2):
        rows.append([None, "32QX Frame %d" % f, None, None, None, None, None, None])
        for s in range(1, 22):
            if (s + f) % 5 == 0:
                rows.append([s, None, None, None, None, None, None, None])
                continue
            first = 16 * (s - 1) + 1
            hang = console if (s % 7 == 0 and console <= CONSOLES) else None
            if hang:
                console += 1
            rows.append([s, None, kinds[(s + f) % len(kinds)] + "16 card", "%d-%d" % (first, first + 15),
                         "%d-%d" % (first, first + 15), "%d-%d" % (s, s + 7) if s % 2 else None,
                         "%d-%d" % (s, s + 7) if s % 3 else None, hang])
    return rows


def crosspoints():
    rows = [["P-Level", "Source", "Destination"]]
    for _ in range(500):
        rows.append([rng.randint(0, 2), rng.randint(0, INPUTS), rng.randint(0, OUTPUTS)])
    return rows


def with_mistakes(sheets):
    """The six mistakes: "two" as a location number, "lots" as the number of
    inputs, an "x" for a channel number, a heading "Label" for "Chan Label",
    a sheet name with a trailing blank and an empty system name."""
    sheets = [(name, [list(row) for row in rows]) for name, rows in sheets]
    named = dict(sheets)
    named["System"][0][1] = None
    named["System"][1][1] = "lots"
    named["Sources"][1][6] = "two"
    named["Destinations"][9][0] = "x"
    named["Destinations"][0][1] = "Label"
    return [("Opto " if name == "Opto" else name, rows) for name, rows in sheets]


def main():
    sheets = [("System", system()), ("Sources", sources()), ("Destinations", destinations()), ("Opto", optos()),
              ("Relay", relays()), ("Location", locations()), ("Console Name", console_names()), ("RC", rc_sets()),
              ("Console Config", console_config())]
    sheets += [("Console #%d" % n, console_sheet(n)) for n in range(1, CONSOLES + 1)]
    sheets += [("32QX", frames()), ("Crosspoints", crosspoints())]
    if "--mistakes" in sys.argv:
        sheets = with_mistakes(sheets)
    body = "".join(table(name, rows) for name, rows in sheets)
    doc = ('<?xml version="1.0" encoding="UTF-8"?>\n'
           '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
           'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
           'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2" '
           'office:mimetype="application/vnd.oasis.opendocument.spreadsheet">'
           "<office:body><office:spreadsheet>%s</office:spreadsheet></office:body></office:document>\n" % body)
    with open(sys.argv[1], "w", encoding="utf-8") as f:
        f.write(doc)


if __name__ == "__main__":
    main()
