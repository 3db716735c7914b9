#!/usr/bin/python3
"""Reads back what xlsx_sample.exe wrote, with Debian's openpyxl and Python's csv module:
every cell's value and type, the formats, the frozen header, the filter and the widths;
the CSVs with and without the formula guard. Prints ok/FAIL lines; exits with the number
of failures.

    xlsx_check.py FOLDER
"""
import csv
import datetime
import re
import sys
import xml.etree.ElementTree as ET
import zipfile

import openpyxl

folder = sys.argv[1]
failures = 0


def check(ok, what, seen=None):
    global failures
    print(("ok   " if ok else "FAIL ") + what + ("" if ok or seen is None else " (saw %r)" % (seen,)))
    failures += 0 if ok else 1


T = datetime.datetime
scanned = T(2026, 11, 30, 8, 12, 5)
downloaded = T(2026, 12, 10, 3, 15, 0)
# entry, barcode exactly as scanned, code type, scan time (None: an empty cell)
cases = [
    (1, "0012345678905", 10, scanned),
    (2, "20471100035811234567", 20, T(2026, 11, 30, 8, 12, 6)),
    (3, "=1+1", 20, T(2026, 11, 30, 8, 12, 7)),
    (4, 'a,"b"', 20, T(2026, 12, 7, 16, 30, 52)),
    (5, "caf\u00e9\u00ff", 20, T(2026, 12, 7, 16, 30, 53)),
    (6, "lost", None, None),
    (7, "no time", 20, None),
    (8, "-2+3", 20, T(2026, 1, 2, 3, 4, 5)),
    (9, "A\x00B_x0041_\x1b[2J\x9b", 20, T(2026, 1, 2, 3, 4, 6)),
]
identity = "00126B3FA21904C7"
date_format = "yyyy-mm-dd hh:mm:ss"


def same_time(cell, expected):
    # openpyxl turns the serial number into a datetime; a float's last bit may put it a
    # microsecond off.
    return isinstance(cell.value, T) and abs((cell.value - expected).total_seconds()) < 0.001


def raw_barcodes(path):
    """Column B's texts decoded by the file format's own rule, one pass of _xHHHH_ to its
    character (openpyxl 3.0 decodes only the escaped underscore, _x005F_)."""
    ns = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main"}
    with zipfile.ZipFile(path) as z:
        shared = ["".join(t.text or "" for t in si.iter("{%s}t" % ns["m"]))
                  for si in ET.fromstring(z.read("xl/sharedStrings.xml")).findall("m:si", ns)]
        cells = ET.fromstring(z.read("xl/worksheets/sheet1.xml")).iter("{%s}c" % ns["m"])
        texts = {c.get("r"): shared[int(c.find("m:v", ns).text)] for c in cells if c.get("t") == "s"}
    decode = re.compile("_x([0-9A-Fa-f]{4})_")
    return {r: decode.sub(lambda m: chr(int(m.group(1), 16)), t) for r, t in texts.items() if r[0] == "B"}


raw = raw_barcodes(folder + "/cases.xlsx")
book = openpyxl.load_workbook(folder + "/cases.xlsx")
check(book.sheetnames == ["Barcodes", "Scanner"], "two sheets, Barcodes and Scanner", book.sheetnames)
sheet = book["Barcodes"]
header = [c.value for c in sheet[1]]
check(header == ["entry", "barcode", "code type", "scanned at", "scanner", "downloaded at"], "the header row", header)
check(all(c.font.b for c in sheet[1]), "the header is bold")
check(sheet.freeze_panes == "A2", "the header row is frozen", sheet.freeze_panes)
check(sheet.auto_filter.ref == "A1:F%d" % (len(cases) + 1), "an autofilter over all rows", sheet.auto_filter.ref)
check(sheet.max_row == len(cases) + 1, "one row per barcode", sheet.max_row)
for number, barcode, code_type, when in cases:
    entry, code, kind, at, scanner, down = sheet[number + 1]
    name = "entry %d (%r)" % (number, barcode)
    check(entry.value == number and entry.data_type == "n", name + ": entry is a number", entry.value)
    if re.search("[\x00-\x08\x0b-\x1f]", barcode) is None:
        check(code.value == barcode and code.data_type == "s", name + ": barcode is that text", code.value)
    else:
        check(code.data_type == "s", name + ": barcode is text", code.data_type)
    check(raw["B%d" % (number + 1)] == barcode, name + ": the file holds the barcode exactly", raw["B%d" % (number + 1)])
    check(code.number_format == "@", name + ": barcode cell formatted as text", code.number_format)
    if code_type is None:
        check(kind.value is None, name + ": no code type, an empty cell", kind.value)
    else:
        check(kind.value == code_type and kind.data_type == "n", name + ": code type is a number", kind.value)
    if when is None:
        check(at.value is None, name + ": no valid time, an empty cell (not 1899-12-30)", at.value)
    else:
        check(same_time(at, when) and at.is_date, name + ": scanned at is the date-time %s" % when, at.value)
        check(at.number_format == date_format, name + ": shown as " + date_format, at.number_format)
    check(scanner.value == identity and scanner.data_type == "s", name + ": scanner is text", scanner.value)
    check(same_time(down, downloaded) and down.number_format == date_format, name + ": downloaded at", down.value)
widths = {k: sheet.column_dimensions[k].width for k in "ABCDEF"}
check(widths["B"] >= len("20471100035811234567"), "the barcode column fits the longest barcode", widths)
check(widths["D"] >= 19 and widths["F"] >= 19 and widths["E"] >= len(identity), "the time and scanner columns fit", widths)

scanner = book["Scanner"]
rows = {r[0].value: r[1] for r in scanner.iter_rows(min_row=1, max_row=scanner.max_row)}
check(list(rows) == ["scanner", "clock", "port", "downloaded at"], "Scanner sheet: its four fields", list(rows))
check(rows["scanner"].value == identity and rows["scanner"].data_type == "s", "identity as text", rows["scanner"].value)
check(same_time(rows["clock"], T(2026, 11, 30, 8, 12, 5)), "a valid clock as a date-time", rows["clock"].value)
check(rows["clock"].number_format == date_format, "the clock shown as " + date_format, rows["clock"].number_format)
check(rows["port"].value == 3 and rows["port"].data_type == "n", "the port as a number", rows["port"].value)
check(same_time(rows["downloaded at"], downloaded), "the download's time", rows["downloaded at"].value)

empty = openpyxl.load_workbook(folder + "/noclock.xlsx")
sheet = empty["Barcodes"]
check(sheet.max_row == 1 and [c.value for c in sheet[1]][0] == "entry", "no barcodes: the header alone", sheet.max_row)
rows = {r[0].value: r[1] for r in empty["Scanner"].iter_rows()}
check(rows["clock"].value == "000000000000" and rows["clock"].data_type == "s",
      "a clock not set: its digits as text", rows["clock"].value)
check(rows["port"].value == 12, "its port", rows["port"].value)

# The CSVs, read by Python's own RFC 4180 reader.
guarded = {"=1+1": "'=1+1", "-2+3": "'-2+3"}
for name, exact in (("cases.csv", False), ("cases-exact.csv", True)):
    with open(folder + "/" + name, newline="", encoding="utf-8") as f:
        table = list(csv.reader(f))
    check(table[0] == ["entry", "barcode", "code_type", "scanned_at", "scanner", "downloaded_at"], name + ": header")
    seen = [row[1] for row in table[1:]]
    wanted = [b if exact else guarded.get(b, b) for _, b, _, _ in cases]
    check(seen == wanted, name + (": every barcode as scanned" if exact else ": formulas guarded, the rest as scanned"),
          seen)

print("xlsx: all checks passed" if failures == 0 else "xlsx: %d checks failed" % failures)
sys.exit(min(failures, 100))
