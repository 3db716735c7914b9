# Shared by tool.sh and window.sh: a work folder under BUILD_DIR/tests with the program
# beside the DLL and the simulator (app/) and without the simulator (nolib/), and each
# case's scenario and call log.
# shellcheck shell=bash

# cases_folder BUILD_DIR NAME PROGRAM: sets work to BUILD_DIR/tests/NAME, laid out anew.
cases_folder() {
    work="$1/tests/$2"
    rm -rf "$work"
    mkdir -p "$work/app" "$work/nolib"
    cp "$1/$3" "$1/QMXClicker.dll" "$1/csp2.dll" "$work/app/"
    cp "$1/$3" "$1/QMXClicker.dll" "$work/nolib/"
    export QMX_SIM_STATE=
}
win() { printf 'Z:%s' "$(realpath -m "$1")" | tr '/' '\\'; }
# use_scenario DIR SCENARIO: the simulator reads SCENARIO (empty: its default scanner) and
# logs to DIR/calls.log, emptied.
use_scenario() {
    mkdir -p "$1"
    export QMX_SIM_SCENARIO= QMX_SIM_LOG
    if [ -n "$2" ]; then
        printf '%s\n' "$2" >"$1/scenario.txt"
        QMX_SIM_SCENARIO=$(win "$1/scenario.txt")
    fi
    QMX_SIM_LOG=$(win "$1/calls.log")
    : >"$1/calls.log"
}
