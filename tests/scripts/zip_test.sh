# The release zip for its reader: unpacked, every relative link of its Markdown files
# (and the heading a link names after "#") resolves inside the zip itself.
#
#   zip_test.sh [ZIP]      (without one, scripts/package makes build/dist's; minutes)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
zip=${1:-}
if [ -z "$zip" ]; then
    "$here/../../scripts/package" >/dev/null || { echo "FAIL scripts/package"; exit 1; }
    zip=$(ls "$here"/../../build/dist/QMXClicker-*[0-9].zip | tail -n 1)
fi
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT

links() {
    python3 - "$1" <<'PYTHON'
import os, re, sys, zipfile
archive = sys.argv[1]
with zipfile.ZipFile(archive) as z:
    names = set(z.namelist())
    texts = {n: z.read(n).decode("utf-8") for n in names if n.endswith(".md")}

def anchors(text):
    # GitHub's heading ids: lower case, punctuation dropped, blanks as hyphens.
    text = re.sub(r"```.*?```", "", text, flags=re.S)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-")
            for h in re.findall(r"^#+ (.*)$", text, flags=re.M)}

bad = checked = 0
for name, text in sorted(texts.items()):
    prose = re.sub(r"```.*?```", "", text, flags=re.S)
    for target in re.findall(r"\]\(([^)\s]+)\)", prose):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(os.path.dirname(name), path)) if path else name
        checked += 1
        if resolved not in names:
            print("FAIL %s: %s is not in the zip" % (name, target))
            bad += 1
        elif anchor and anchor not in anchors(texts.get(resolved, "")):
            print("FAIL %s: %s names no heading of %s" % (name, target, resolved))
            bad += 1
print("%d links in %d Markdown files" % (checked, len(texts)))
sys.exit(1 if bad or not texts else 0)
PYTHON
}

check "the zip unpacks ($zip)" unzip -q "$zip" -d "$unpacked"
check "every relative link of its Markdown files resolves inside it" links "$zip"
top=$(ls "$unpacked")
for name in README.md CHANGELOG.md docs/user-guide.md x86/QMXClicker.dll x64/QMXClicker.dll \
    QMXClicker_h.h QMXClicker_i.c simulator/README.md simulator/x86/csp2.dll simulator/x64/csp2.dll; do
    check "it holds $name" test -f "$unpacked/$top/$name"
done
check "SHA256SUMS matches every file" bash -c "cd '$unpacked/$top' && sha256sum --quiet -c SHA256SUMS"
check "the user's guide names no build or source path" \
    bash -c "! grep -nE 'build/win(32|64)|source/com/' '$unpacked/$top/docs/user-guide.md'"
finish
