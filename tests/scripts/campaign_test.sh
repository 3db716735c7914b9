#!/usr/bin/env bash
# scripts/campaign's judge, without Wine: what it finds in output files, archive files and
# state files, what it refuses to read, and which counts it takes for an undercount. A
# barcode it misses would be reported lost; a file it wrongly accepts would hide a loss.
set -uo pipefail
cd "$(dirname "$0")" || exit 1
/usr/bin/python3 - ../../scripts/campaign <<'PY'
import importlib.machinery, importlib.util, shutil, sys, tempfile
sys.dont_write_bytecode = True  # nothing written beside the script
from pathlib import Path

loader = importlib.machinery.SourceFileLoader("campaign", sys.argv[1])
spec = importlib.util.spec_from_loader("campaign", loader)
campaign = importlib.util.module_from_spec(spec)
loader.exec_module(campaign)
folder = Path(tempfile.mkdtemp())
header = "entry,barcode,code_type,scanned_at,scanner,downloaded_at\r\n"
row = "1,%s,10,2026-11-30T08:12:05,00126B3FA21904C7,2026-12-10T03:15:00\r\n"

def workbook(name):
    import openpyxl
    book = openpyxl.Workbook()
    book.active.append(["entry", "barcode"])
    book.active.append([1, "=C7\u00e9"])
    book.save(folder / name)
    return None

# name, file content (None: made by a function), barcodes it must yield, whether it parses
files = [
    ("plain.csv", header + row % '"a,""b""\u00e9"', {b'a,"b"\xe9'}, True),
    ("formula.csv", header + row % "'=SUM(1)" + row % "'-1", {b"=SUM(1)", b"-1"}, True),
    ("semicolon.csv", header.replace(",", ";") + (row % "x,y").replace(",", ";").replace("x;y", '"x,y"'),
     {b"x,y"}, True),
    ("appended.csv", header + row % "A" + row % "B", {b"A", b"B"}, True),
    ("table.csv", " #  barcode\r\n 1  A\r\n", set(), False),
    ("cut.csv", header + row % "A" + "2,B,10", set(), False),
    ("archive.json", '{"archive": 1, "barcodes": [{"entry": 1, "barcode": "@x\\u00ff"}]}', {b"@x\xff"}, True),
    ("cut.json", '{"archive": 1, "barcodes": [{"entry": 1, "barc', set(), False),
    ("book.xlsx", None, {b"=C7\xe9"}, True),
]
failures = 0
def check(what, condition):
    global failures
    print(("ok   " if condition else "FAIL ") + what)
    failures += not condition

for name, content, wanted, parses in files:
    if content is None:
        workbook(name)
    else:
        (folder / name).write_bytes(content.encode("utf-8"))
    found, error = campaign.file_barcodes(folder / name)
    check("%s: %s" % (name, "reads %s" % sorted(wanted) if parses else "refused"),
          wanted <= found and (error is None) == parses)

state = folder / "state.txt"
state.write_bytes(b"clock offset 0\nbarcode 10 2026-01-01 00:00:-- a b\xe9\nbarcode 20 2026-01-02 00:00:00\n"
                  b"packet 03 1C 41 42\nbarcode 30 2026-01-03 00:00:00 =x,\"y\"\n")
check("a state file's barcodes in order, blanks and bytes kept",
      campaign.state_list(state) == [b"a b\xe9", b"", b'=x,"y"'])

# scenario, barcodes held, the undercount expected
counts = [
    (["count 2"], 5, 2),
    (["count 0"], 5, 0),
    (["count 6"], 5, None),
    (["count -1"], 5, None),
    (["read-data 3 1"], 5, 1),
    (["read-data 3 -7"], 5, None),
    (["fail csp2ReadData 0 from 1"], 3, 0),
    (["fail csp2Init 0 from 1", "port 3"], 3, None),
]
for scenario, held, wanted in counts:
    check("undercount of %s with %d held: %s" % (scenario, held, wanted), campaign.undercount(scenario, held) == wanted)
shutil.rmtree(folder)
sys.exit(failures)
PY
