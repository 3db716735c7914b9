#!/bin/bash
# emulated-job.sh CMD [ARGS...]: runs CMD inside the emulated guest (see emulated.sh),
# in the folder and with the variables that run_emulated's job script set up. Exits
# with CMD's exit code.
#
# QMX_EMULATED_PREFETCH: files (blank-separated, globs allowed) to read once before CMD.
#   Wine loading a program straight from 9p costs seconds per test program under
#   emulation (many small reads); one sequential read first fills the guest's page
#   cache in big requests.
# QMX_EMULATED_WINESERVER=1: one persistent wineserver for $WINEPREFIX around CMD (see
#   below). Off by default: a CMD such as scripts/lib/in_wine keeps its own.

# Parallel jobs as the guest's own processors allow, not the machine's: ctest reads this
# when it is not given -j.
CTEST_PARALLEL_LEVEL=$(nproc)
export CTEST_PARALLEL_LEVEL

# The guest's /tmp holds every Wine prefix of the job, in memory: a test's own prefix goes
# when the test is done (finish_wineprefix in common.sh).
QMX_THROWAWAY_PREFIXES=1
export QMX_THROWAWAY_PREFIXES
# Each new prefix is a copy of a fresh one of its kind, made once (ensure_wineprefix).
QMX_PREFIX_TEMPLATES=/tmp/qmx-wine-templates
export QMX_PREFIX_TEMPLATES

for file in ${QMX_EMULATED_PREFETCH:-}; do
    [ ! -f "$file" ] || cat -- "$file" >/dev/null
done

# Under emulation a Wine session costs about 30 s to start (the server loads the
# registry, the system processes start), so the whole job may share one server.
wineserver=
if [ "${QMX_EMULATED_WINESERVER:-0}" = 1 ] && [ -n "${WINEPREFIX:-}" ] && [ -x /usr/lib/wine/wineserver ]; then
    wineserver=/usr/lib/wine/wineserver
    # It must run in the prefix's folder; Wine fills an empty folder as a new prefix.
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p || wineserver=
fi

"$@"
status=$?

if [ -n "$wineserver" ]; then
    # A new prefix is filled by wineboot in the background. Wine's loader stops waiting
    # for it after 5 minutes, which a slow emulated machine can exceed: stopping the
    # server now would leave a half-made prefix, so wait for wineboot first.
    waited=
    while grep -qx wineboot.exe /proc/[0-9]*/comm 2>/dev/null; do
        [ -n "$waited" ] || echo "emulated-job: waiting for wineboot to finish" >&2
        waited=1
        sleep 2
    done
    # Stopping the server writes the registry back into the prefix.
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w 2>/dev/null
fi
exit "$status"
