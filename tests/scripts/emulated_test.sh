# The emulated guest from a repository under /tmp, started from a folder there: the job
# runs in that folder, sees the repository's scripts and a file beside it under /tmp,
# works out its parallel jobs from its own processors, finds a /tmp that keeps extended
# attributes (Wine's file attributes), and what it writes into the share comes back.
# Runs on every machine, so that the guest keeps working where it is not needed today.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
source "$here/../../scripts/lib/common.sh"
emulated_prepare || { echo "FAIL the guest cannot be prepared"; exit 1; }

clone=$(mktemp -d /tmp/qmx-clone.XXXXXX)
trap 'rm -rf "$clone"' EXIT
cp -r "$root/scripts" "$clone/"
mkdir -p "$clone/build/share" "$clone/work"
echo "scenario $$" >"$clone/work/scenario.txt"
cat >"$clone/work/job.sh" <<'JOB'
pwd
nproc
echo "jobs=$CTEST_PARALLEL_LEVEL"
cat scenario.txt
[ -x ../scripts/lib/in_wine ] && echo "in_wine seen"
python3 -c 'import os; open("/tmp/a", "w").close(); os.setxattr("/tmp/a", "user.DOSATTRIB", b"0x6"); print("xattr", os.getxattr("/tmp/a", "user.DOSATTRIB").decode())'
echo written >"$1/from-guest"
JOB
(
    cd "$clone/work" &&
        QMX_EMULATOR_DIR=$(emulator_dir) QMX_EMULATED_TIMEOUT=300 bash -c \
            'source ../scripts/lib/common.sh && run_emulated "$build/share" bash job.sh "$build/share"'
) >"$clone/out" 2>"$clone/err"
status=$?
cat "$clone/out"
[ "$status" -eq 0 ] || tail -n 20 "$clone/err"
out() { grep -qx -- "$1" "$clone/out"; }
check "the job ends with exit code 0" test "$status" -eq 0
check "in the caller's folder under /tmp" out "$clone/work"
check "beside a file of that folder" out "scenario $$"
check "with the repository's scripts" out "in_wine seen"
check "ctest's jobs are the guest's processors" out "jobs=$(sed -n 2p "$clone/out")"
check "its /tmp keeps extended attributes" out "xattr 0x6"
check "what it writes into the share comes back" grep -qx written "$clone/build/share/from-guest"
finish
