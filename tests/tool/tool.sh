#!/usr/bin/env bash
# qmxclicker.exe case by case: the scenario it meets, the command line, the exit code it
# must give, and what its output, file and the simulator's call log must show.
#
#   tool.sh BUILD_DIR WINE
set -uo pipefail
build=$(realpath "$1") wine=$2
source "$(dirname "$0")/cases.sh"
cases_folder "$build" tool-cases qmxclicker.exe
settings='HKCU\Software\QMXClicker'

two='barcode 10 2026-11-30 08:12:05 2001234567893
barcode 20 2026-12-07 16:30:52 lot:7731/b'
odd=$(printf 'barcode 20 2026-01-02 03:04:05 a,"b"\xe9')

failures=0
# tool CASE SCENARIO [--app FOLDER] ARGS...: runs the tool in work/CASE; empty SCENARIO is
# the simulator's default scanner.
tool() {
    local name=$1 scenario=$2 app="$work/app"
    shift 2
    if [ "${1:-}" = --app ]; then app=$2; shift 2; fi
    dir="$work/$name"
    use_scenario "$dir" "$scenario"
    (cd "$dir" && "$wine" "$(win "$app/qmxclicker.exe")" "$@" >"$dir/out" 2>"$dir/err" </dev/null)
    status=$?
}
# expect CASE EXIT CHECK: the exit code, then a shell condition on the case's files.
expect() {
    local code=$2 condition=${3:-true}
    if [ "$status" -eq "$code" ] && (cd "$dir" && eval "$condition"); then
        echo "ok   $1 (exit $status)"
    else
        echo "FAIL $1: exit $status (wanted $code), or not: $condition"
        sed 's/^/     err: /' "$dir/err" | tr -d '\r' | head -n 5
        failures=$((failures + 1))
    fi
}
logged() { grep -q "$1" calls.log; }
py() { python3 - "$@"; }
rows() { python3 -c 'import csv,sys; r=list(csv.reader(open(sys.argv[1],encoding="utf-8",newline=""))); print(len(r)-1 if r and r[0]==["entry","barcode","code_type","scanned_at","scanner","downloaded_at"] else -1)' "$1"; }
"$wine" reg delete "$settings" /f >/dev/null 2>&1

tool csv "" download --format csv --port 3
expect "csv of the default scanner" 0 'py out <<"P"
import csv, sys
r = list(csv.DictReader(open(sys.argv[1], encoding="utf-8", newline="")))
assert [e["barcode"] for e in r] == ["2001234567893", "QMX-2026-0042", "SHELF-A17", "2900001234566", "lot:7731/b", "2047110003581"], r
assert (r[0]["entry"], r[0]["code_type"], r[0]["scanned_at"], r[0]["scanner"]) == ("1", "10", "2026-11-30T08:12:05", "00126B3FA21904C7"), r[0]
assert all(len(e["downloaded_at"]) == 19 for e in r)
P'
tool json "" download --format json
expect "json of the default scanner, found on the remembered port" 0 'logged "^csp2Init 3 -> 0" && ! logged "^csp2Init 0" && py out <<"P"
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
assert (d["port"], d["scanner"], d["count"], len(d["barcodes"])) == (3, "00126B3FA21904C7", 6, 6), d
assert d["barcodes"][2] == {"entry": 3, "barcode": "SHELF-A17", "code_type": 30, "scanned_at": "2026-12-02T14:02:17"}, d
assert len(d["clock"]) == 19
P'
tool upload "" download --format upload
expect "upload string as alldata returns it" 0 'py out <<"P"
import sys, re
u = open(sys.argv[1], encoding="utf-8", newline="").read()
rows = [("2001234567893", 10, "20261130081205"), ("QMX-2026-0042", 20, "20261130081341"), ("SHELF-A17", 30, "20261202140217"),
        ("2900001234566", 10, "20261204104700"), ("lot:7731/b", 20, "20261207163052"), ("2047110003581", 10, "20261207163109")]
body = "".join("%03d%-13s%02d%s" % (k + 1, b, t, s) for k, (b, t, s) in enumerate(rows))
assert re.fullmatch("V0100126B3FA21904C7H[0-9]{12}0006" + re.escape(body), u), u
P'
tool odd-csv "$odd" download --format csv
tool_csv_status=$status
formulas='barcode 20 2026-01-02 03:04:05 =1+1
barcode 20 2026-01-02 03:04:06 +A123
barcode 20 2026-01-02 03:04:07 @SUM(1)'
tool formula-safe "$formulas" download --format csv
tool_safe_status=$status
tool formula-exact "$formulas" download --format csv --exact
expect "formula-safe CSV by default, every byte with --exact" 0 "[ $tool_safe_status = 0 ] && py ../formula-safe/out out <<'P'
import csv, sys
safe, exact = ([r['barcode'] for r in csv.DictReader(open(f, encoding='utf-8', newline=''))] for f in sys.argv[1:3])
assert safe == [\"'=1+1\", \"'+A123\", \"'@SUM(1)\"], safe
assert exact == ['=1+1', '+A123', '@SUM(1)'], exact
P"
tool odd-json "$odd" download --format json
expect "a barcode with a comma, a quote and byte 0xE9, in CSV and JSON" 0 "[ $tool_csv_status = 0 ] && py ../odd-csv/out out <<'P'
import csv, json, sys
assert list(csv.DictReader(open(sys.argv[1], encoding='utf-8', newline='')))[0]['barcode'] == 'a,\"b\"\u00e9'
assert json.load(open(sys.argv[2], encoding='utf-8'))['barcodes'][0]['barcode'] == 'a,\"b\"\u00e9'
P"
tool none "port none" download --format csv --output out.csv
expect "no scanner: nothing written" 1 '[ ! -e out.csv ] && grep -q "no scanner answered" err'
tool nolib "" --app "$work/nolib" download --output out.csv --clear
expect "no csp2.DLL: error 53 named" 3 '[ ! -e out.csv ] && grep -q "error 53" err'
mkdir -p "$work/unwritable" && : >"$work/unwritable/a-file"
tool unwritable "$two" download --output "$(win "$work/unwritable/a-file/out.csv")" --clear
expect "an output that cannot be written: the scanner untouched" 4 '! logged csp2ClearData && logged csp2ReadData'
tool changed "$two
scan-after-read 1 30 2026-12-08 09:00:00 SCANNED-MEANWHILE" download --format csv --output out.csv --clear
expect "contents changed between the downloads: nothing cleared" 5 '! logged csp2ClearData && [ "$(rows out.csv)" = 2 ]'
tool not-taken "$two
fail csp2ClearData 0 from 1" download --format csv --output out.csv --clear
expect "a clear that does not take: the file complete" 6 'logged csp2ClearData && [ "$(rows out.csv)" = 2 ]'
tool remembered "$two" download --format csv --output out.csv --clear
expect "download --clear on the remembered port" 0 '[ "$(grep -m1 ^csp2Init calls.log)" = "csp2Init 3 -> 0" ] && [ "$(rows out.csv)" = 2 ] && [ "$(grep -B8 csp2ClearData calls.log | grep ^csp2Init | tail -n1)" = "csp2Init 3 -> 0" ] && [ "$(grep -c csp2ClearData calls.log)" = 1 ]'
tool moved "$two
port 5" download --format csv --output out.csv --clear --set-clock
expect "download --clear of a scanner that moved: the clear goes to the port found" 0 '[ "$(grep -B8 csp2ClearData calls.log | grep ^csp2Init | tail -n1)" = "csp2Init 5 -> 0" ] && logged "^csp2SetTime" && "$wine" reg query "$settings" /v LastPort | grep -q 0x5'
tool append "$two" download --format csv --output out.csv --append --port 5
tool append "$two" download --format csv --output out.csv --append
expect "--append: one header, the rows of both downloads" 0 '[ "$(rows out.csv)" = 4 ]'
tool params-bad "$two" params 03100522
expect "a parameter list of the wrong form: nothing reaches the scanner" 2 '[ ! -s calls.log ] && grep -q "announces 3 entries" err'
tool params-full "$two" params 0210052201
expect "params with barcodes on the scanner and nowhere to save them" 2 '! logged csp2ClearData && grep -q -- --output err'
tool params "$two" params 0210052201 --format csv --output saved.csv
expect "params: saved, cleared, then programmed" 0 '[ "$(rows saved.csv)" = 2 ] && logged "^csp2SetParam 10 05 00" && logged "^csp2SetParam 22 01 00"'
tool clear-unasked "$two" clear
expect "clear with nobody to ask and no --yes" 2 '! logged csp2ClearData'
tool clear "$two" clear --yes --clock 000000010126
expect "clear --yes --clock: cleared, clock set, confirmed empty" 0 'logged "csp2SetTime 0 0 0 1 1 26" && logged csp2ClearData'
tool usage "" download --port three
expect "a port that is no number" 2 '[ ! -s calls.log ]'
# The rules that keep every barcode: a table of command lines, each with its scenario, exit
# code and what must hold afterwards. A state file keeps the simulated scanner's memory
# between the processes of one case.
archive=$("$wine" winepath -u "$("$wine" cmd /c 'echo %LOCALAPPDATA%' </dev/null | tr -d '\r')" | tr -d '\r')/QMXClicker/archive
rm -rf "$archive"
stateful() { export QMX_SIM_STATE; QMX_SIM_STATE=$(win "$work/$1/state.txt"); }
archived() { grep -l "$1" "$archive"/*.json >/dev/null 2>&1; }
err() { grep -q -- "$1" err; }

stateful twice
tool twice "$two" download --format csv --output 'Z:\tmp\qmx-twice-never.csv' --help
expect "--help after the command" 0 'grep -q "^Usage" out && [ ! -s calls.log ]'
tool twice "$two" download --format csv --output today.csv --clear
printf 'barcode 30 2026-12-09 09:00:00 NEXT-DAY\n' >>"$work/twice/state.txt"
tool twice "$two" --quiet download --format csv --output today.csv --clear
expect "the guide's command run twice: the second refused, the file and the new barcode kept" 2 'err "append" && [ "$(rows today.csv)" = 2 ] && ! logged csp2ClearData && grep -q NEXT-DAY state.txt && archived 2001234567893'
export QMX_SIM_STATE=
for c in "download --format csv --output x.csv --clear" "clear --yes" "params 0210052201 --yes"; do
    name="count-error-${c%% *}"
    tool "$name" "$two
read-data 3 -7" $c
    expect "$c on a count the library answered with an error: nothing cleared" 5 '! logged csp2ClearData && ! logged csp2SetParam && err "did not report its contents"'
done
tasks="$WINEPREFIX/drive_c/windows/system32/tasks"
while IFS='|' read -r name code condition args; do
    # shellcheck disable=SC2086 # the table's words
    tool "$name" "$two" $args
    expect "$name: $args" "$code" "$condition"
done <<'T'
foreign-clear|2|[ ! -s calls.log ] && [ ! -e saved.csv ] && err "its options are"|clear --yes --output saved.csv
foreign-params|2|[ ! -s calls.log ] && err "give one"|params 0210052201 --output before.csv --yes
foreign-clock|2|[ ! -s calls.log ]|download --clear --clock 000000010126 --output x.csv
foreign-setclock|2|[ ! -s calls.log ]|setclock --format csv
extension|0|[ "$(rows today.csv)" = 2 ] && logged csp2ClearData|download --output today.csv --clear
extension-unknown|2|[ ! -s calls.log ] && err "--format"|download --output today.txt
extension-named|0|grep -q "^V01" today.txt|download --output today.txt --format upload
append-json|2|[ ! -s calls.log ] && err "CSV"|download --output all.json --append
placeholders|0|ls new/folder/b-20*-00126B3FA21904C7.json >/dev/null && logged csp2ClearData|download --output new\folder\b-{date}-{time}-{scanner}.json --clear
placeholder-unknown|2|[ ! -s calls.log ] && err "placeholder"|download --output b-{day}.csv --clear
quiet-first|0|[ ! -s err ] && [ "$(rows out.csv)" = 2 ]|--quiet download --output out.csv
xlsx-console|2|[ ! -s calls.log ] && err "workbook"|download --format xlsx
xlsx-extension|0|/usr/bin/python3 -c "import openpyxl,sys; ws=openpyxl.load_workbook(sys.argv[1])[\"Barcodes\"]; assert ws[\"B2\"].value == \"2001234567893\" and ws[\"B2\"].data_type == \"s\"" out.xlsx|download --output out.xlsx
exact-json|2|[ ! -s calls.log ] && err "CSV"|download --format json --exact
schedule-unasked|2|[ ! -e "$tasks/QMXClicker clear daily 1800" ] && err "nobody to ask"|schedule --daily 18:00 -- clear
schedule-relative|2|err "full path"|schedule --daily 18:00 -- download --output b.csv --clear
schedule-bad-visit|2|err "does not take"|schedule --daily 18:00 -- download --clock 000000010126
schedule-bad-time|2|err "HH:MM"|schedule --daily 25:00 -- download --output C:\Scans\b.csv --clear
schedule-create|0|[ -e "$tasks/QMXClicker nightly" ] && grep -q "daily at 18:00" err|schedule --daily 18:00 --name nightly -- download --output C:\Scans\b-{date}.csv --clear --set-clock
schedule-remove|0|[ ! -e "$tasks/QMXClicker nightly" ]|schedule --remove nightly
T

# A parameter list saved by Notepad (UTF-8 with a byte-order mark) and by PowerShell 5 (UTF-16).
mkdir -p "$work/params-files"
printf '\xef\xbb\xbf0210052201\r\n' >"$work/params-files/utf8.txt"
/usr/bin/python3 -c 'import sys; open(sys.argv[1], "wb").write("0210052201\r\n".encode("utf-16"))' "$work/params-files/utf16.txt"
for f in utf8 utf16; do
    tool "params-$f" "" params --file "$(win "$work/params-files/$f.txt")" --yes
    expect "params --file in $f with its byte-order mark" 0 'logged "^csp2SetParam 10 05 " && logged "^csp2SetParam 22 01 "'
done

# The run log: a line per command, what an administrator reads after a failed evening.
runlog=$(win "$work/runs.log")
tool log-good "$two" --log "$runlog" download --output out.csv
tool log-bad "port none" --log "$runlog" download --output out.csv
tool log "" --log "$runlog" log
expect "the run log after a good and a failed run" 0 'grep -q "exit 0  --log .* download --output out.csv" out && grep -q "scanner 00126B3FA21904C7 on port 3, 2 barcodes" out && grep -q "output  Z:.*log-good.out.csv" out && grep -q "exit 1  --log .* download --output out.csv" out && grep -q "no scanner answered" out && [ "$(grep -c "	" "$work/runs.log")" = 2 ]'

tool archived "$two" clear --yes
id=$(ls "$archive" | grep -v '^[.]' | tail -n 1)
id=${id%.json}
tool archived "" archive
tool_list_status=$status
tool archived-show "" archive show "$id" --output back.csv
expect "clear --yes keeps the barcodes in the archive; archive lists and writes them again" 0 "[ $tool_list_status = 0 ] && grep -q '$id .* clear' ../archived/out && [ \"\$(rows back.csv)\" = 2 ] && grep -q lot:7731/b back.csv"
tool archive-none "" archive show 20200101-000000-000-NONE
expect "archive show of a visit that is not there" 2 'err "no visit"'

# Two visits at once: the second waits for the scanner, then gives up without touching it.
dir="$work/busy"
use_scenario "$dir" "$two"
(cd "$dir" && "$wine" "$(win "$work/app/qmxclicker.exe")" download --output first.csv --clear >first.out 2>first.err </dev/null) &
first=$!
for _ in $(seq 600); do grep -q csp2Init "$dir/calls.log" 2>/dev/null && break; sleep 0.1; done
tool busy-second "$two" --wait 0 download --output second.csv --clear
wait "$first"
first_status=$?
expect "a second visit while one runs: busy, untouched" 7 "[ $first_status = 0 ] && [ ! -s calls.log ] && [ ! -e second.csv ] && err 'another visit'"

tool info "" info
expect "info" 0 'grep -q "without registration" out && grep -qi "csp2.DLL *Z:" out && grep -q "answers on port 3" out'

[ "$failures" -eq 0 ] && echo "tool: all checks passed"
exit "$failures"
