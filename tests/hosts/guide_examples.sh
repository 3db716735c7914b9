#!/usr/bin/env bash
# The user's guide's examples as it shows them: every fenced block marked
# <!-- example: NAME --> is written to NAME; the C++ is built by the guide's own MinGW
# line (with this tree's compiler) against the tree's QMXClicker_h.h and QMXClicker_i.c,
# and it and the scripts run under Wine against the simulated scanner's six barcodes.
#
#   guide_examples.sh GUIDE BUILD_FOLDER CXX WINE
#
# The class must be registered in $WINEPREFIX (the hosts_register fixture).
set -uo pipefail
guide=$1 build=$2 cxx=$3 wine=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/QMXClicker_h.h" "$build/QMXClicker_i.c" "$work/"

python3 - "$guide" "$work" <<'PYTHON' || exit 1
import re, sys
guide, work = sys.argv[1:]
blocks = re.findall(r"<!-- example: (\S+) -->\n```\w*\n(.*?)```", open(guide, encoding="utf-8").read(), re.S)
for name, text in blocks:
    open("%s/%s" % (work, name), "w", encoding="utf-8").write(text)
print("examples: " + " ".join(name for name, _ in blocks))
PYTHON

# What each example must print; an example without a line here fails.
declare -A expected=(
    [visit.cpp]="early-bound: 6 barcodes on port 3.*error 9: Subscript out of range.*late-bound: 6 barcodes, upload string of 228 characters"
    [visit.vbs]="kept 6 barcodes from port 3.*cleared the scanner and set its clock to [0-9]{12}"
    [download.js]="Clicker control successfully installed.*on port 3: 6 barcodes.*6\. 2047110003581 \(code type 10\) scanned 2026-12-7.*upload string of 228 characters.*entry 501: error 9, Subscript out of range"
)
failures=0
# run NAME COMMAND...: the command's output, on one line, must match NAME's pattern.
run() {
    local name=$1 out
    shift
    out=$(cd "$work" && "$@" 2>&1 </dev/null | tr -d '\r' | tr '\n' ' ')
    if [[ -n "${expected[$name]:-}" && "$out" =~ ${expected[$name]} ]]; then
        echo "ok   $name"
    else
        echo "FAIL $name printed: $out"
        failures=$((failures + 1))
    fi
}

# The guide's MinGW line for this tree's processor, its compiler replaced by the tree's.
arch=$("$cxx" -dumpmachine | cut -d- -f1)
line=$(grep "^$arch-w64-mingw32-g++ " "$work/build-mingw.sh")
if [ -z "$line" ]; then
    echo "FAIL the guide shows no MinGW line for $arch"
    exit 1
fi
exe=$(sed -n 's/.* -o \([^ ]*\).*/\1/p' <<<"$line")
# shellcheck disable=SC2086 # the guide's line, split as a shell splits it
if (cd "$work" && "$cxx" ${line#* }); then
    run visit.cpp "$wine" "$exe"
else
    echo "FAIL visit.cpp does not compile as the guide shows: $line"
    failures=$((failures + 1))
fi
for script in "$work"/*.vbs "$work"/*.js; do
    run "$(basename "$script")" "$wine" cscript //nologo "$(basename "$script")"
done
for name in "${!expected[@]}"; do
    [ -f "$work/$name" ] || { echo "FAIL the guide has no example $name"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "guide examples: all checks passed"
exit "$failures"
