#!/bin/bash
# emulated-copyback.sh UPPER VIEW OUT: run by emulated-init.sh in the guest once the job
# has ended, to write the job's changes to the share. UPPER is the upper layer of the
# overlay that the job saw at VIEW: it holds exactly the files and folders that the job
# created or changed, and whiteouts (character devices) for what it deleted. OUT is the
# share itself, mounted without cache so that files go out in large writes.
# This machine's GNU tools do it, in few processes: under emulation every process
# started costs about as much as copying some megabytes.
set -uo pipefail
up=$1 view=$2 out=$3
cd "$up" || exit 1
shopt -s nullglob dotglob
failed=0

# Folders first. Those that the share has lose whatever the job's view no longer shows
# (deleted files, or a folder removed and made anew, which hides all it had); the
# others are made, all at once.
missing=()
while IFS= read -r -d '' dir; do
    if [ -d "$out/$dir" ] && [ ! -L "$out/$dir" ]; then
        for entry in "$out/$dir"/*; do
            name=${entry##*/}
            [ -e "$view/$dir/$name" ] || [ -L "$view/$dir/$name" ] || rm -rf "$entry"
        done
    else
        if [ -e "$out/$dir" ] || [ -L "$out/$dir" ]; then rm -f "$out/$dir"; fi
        missing+=("$out/$dir")
    fi
done < <(find . -type d -print0)
if [ ${#missing[@]} -ne 0 ]; then mkdir -p "${missing[@]}" || failed=1; fi
# Their modes: one chmod for each mode there is.
while IFS= read -r mode; do
    find . -type d -perm "$mode" -print0 | (cd "$out" && xargs -0 --no-run-if-empty chmod "$mode") || failed=1
done < <(find . -type d -printf '%m\n' | sort -u)

# Then the files, by one cp for many, deepest first: should the copy be cut short, the
# files that mark a tree as complete (a Wine prefix's system.reg, say) are not there
# yet. --remove-destination: never write through a symbolic link that is there. A
# folder where the job has a file goes first.
while IFS= read -r -d '' file; do
    if [ -d "$out/$file" ] && [ ! -L "$out/$file" ]; then rm -rf "${out:?}/$file"; fi
done < <(find . -mindepth 1 ! -type d ! -type c -print0)
find . -mindepth 1 ! -type d ! -type c -printf '%d\t%p\0' | sort -z -s -rn -k1,1 | cut -z -f2- |
    xargs -0 --no-run-if-empty cp -a --parents --remove-destination -t "$out" || failed=1
exit "$failed"
