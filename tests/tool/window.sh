#!/usr/bin/env bash
# qmxclickerw.exe driven from outside (window_driver.exe) on an X server of its own, case
# by case: the scenario, what the driver checks in the window, and what the simulator's
# call log must show. Keeps the screenshot after the download in BUILD_DIR/screenshots.
#
#   window.sh BUILD_DIR WINE [TIME_SCALE]
set -uo pipefail
build=$(realpath "$1") wine=$2 scale=${3:-1}
source "$(dirname "$0")/cases.sh"
cases_folder "$build" window-cases qmxclickerw.exe
mkdir -p "$build/screenshots"

# scripts/lib/in_wine runs an X server (Xvfb) for the tree's tests: Wine's desktop must
# have had the display from the start.
if [ -z "${DISPLAY:-}" ]; then
    echo "FAIL no X display: run the tests through scripts/lib/in_wine, with Xvfb installed (package xvfb)"
    exit 1
fi

failures=0
# run CASE SCENARIO APP LOG_CHECK: the driver's case against the program in APP; empty
# SCENARIO is the default scanner.
run() {
    local name=$1 scenario=$2 app=$3 condition=$4 dir="$work/$1"
    use_scenario "$dir" "$scenario"
    "$wine" "$(win "$build/tests/window_driver.exe")" "$name" "$(win "$app/qmxclickerw.exe")" "$(win "$dir")" "$scale" |
        tr -d '\r' | sed "s/^/$name: /"
    local status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ] && (cd "$dir" && eval "$condition"); then
        echo "ok   $name: the call log"
    else
        echo "FAIL $name: driver exit $status, or not: $condition"
        failures=$((failures + 1))
    fi
}
logged() { grep -q "$1" calls.log; }

settings='HKCU\Software\QMXClicker'
"$wine" reg delete "$settings" /f >/dev/null 2>&1
# The clear after the save on the port found; the clock; the parameters (after a second save
# and clear); the port and the window's size remembered.
run download "" "$work/app" '[ "$(grep -m1 -B8 csp2ClearData calls.log | grep ^csp2Init | tail -n1)" = "csp2Init 3 -> 0" ] && logged ^csp2SetTime && logged "^csp2SetParam 10 05 " && logged "^csp2SetParam 22 01 " && "$wine" reg query "$settings" | tr -d "\r" | grep -q "LastPort.*0x3" && "$wine" reg query "$settings" /v WindowWidth >/dev/null'
# png BMP PNG: the screenshot as a PNG, the BMP's rows bottom-up in BGR written as RGB rows top-down.
png() {
/usr/bin/python3 - "$1" "$2" <<'P' || failures=$((failures + 1))
import struct, sys, zlib
bmp = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", bmp, 10)
width, height = struct.unpack_from("<ii", bmp, 18)
stride = (width * 3 + 3) & ~3
rows = b"".join(b"\0" + bytes(bmp[offset + y * stride + x * 3 + 2 - c] for x in range(width) for c in range(3))
                for y in reversed(range(height)))
chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
open(sys.argv[2], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                              + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
print("ok   screenshot: %s (%dx%d)" % (sys.argv[2], width, height))
P
}
png "$work/download/download.bmp" "$build/screenshots/qmxclickerw-download.png"
png "$work/download/save-dialog.bmp" "$build/screenshots/qmxclickerw-save-dialog.png"
# Barcodes scanned after Save and clear (the 5th read finds them): programming without saving
# asks, No leaves them (one programming only), Yes archives and programs.
scanned_later='port 3
barcode 10 2026-12-08 09:00:00 2001234567893
barcode 20 2026-12-08 09:00:10 FIRST-2
scan-after-read 4 20 2026-12-10 09:00:00 NEW-1
scan-after-read 4 20 2026-12-10 09:00:05 NEW-2'
run program "$scanned_later" "$work/app" '[ "$(grep -c ^csp2ClearData calls.log)" = 2 ] && [ "$(grep -c ^csp2SetParam calls.log)" = 2 ]'
png "$work/program/archive.bmp" "$build/screenshots/qmxclickerw-archive.png"
run unreported $'barcode 10 2026-12-08 09:00:00 2001234567893\nread-data 3 -7' "$work/app" '! logged csp2ClearData && ! logged csp2SetParam'
run noarchive "" "$work/app" '! logged csp2ClearData'
run none "port none" "$work/app" '! logged "csp2Init [0-9]* -> 0"'
run nolib "" "$work/nolib" '[ ! -s calls.log ]'

[ "$failures" -eq 0 ] && echo "window: all checks passed"
exit "$failures"
