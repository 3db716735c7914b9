# Sourced by the script tests: check and the closing line.
# shellcheck shell=bash
failures=0
# check WHAT COMMAND...: one checked statement.
check() {
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
finish() { exit "$failures"; }
