# scripts/package with a throwaway certificate (a CA and a code-signing certificate made
# here with openssl): every program and installer in the zip verifies against that CA and
# a copy with one byte changed does not; verify_reproducible.py from the zip finds each
# signed file made from its unsigned one; under 64-bit Wine, WinVerifyTrust accepts the
# signed files and answers TRUST_E_BAD_DIGEST for the changed copy, the signed x86-64 DLL
# registers and a script host downloads through it, and the signed x64 installer installs
# and removes the signed 32-bit DLL.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
source "$here/../../scripts/lib/common.sh"
work=$(mktemp -d /tmp/qmx-signing.XXXXXX)
trap 'finish_wineprefix; rm -rf "$work"' EXIT
version=$(release_version)

ca="$work/ca"
mkdir -p "$ca"
make_certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" -days 2 \
        -subj "/CN=QMXClicker test CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" &&
        openssl req -newkey rsa:2048 -nodes -keyout "$ca/signer.key" -out "$ca/signer.csr" \
            -subj "/CN=QMXClicker test signer" &&
        printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
            >"$ca/signer.ext" &&
        openssl x509 -req -in "$ca/signer.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -CAcreateserial \
            -out "$ca/signer.pem" -days 2 -extfile "$ca/signer.ext" &&
        printf 'a throwaway password' >"$ca/password" &&
        openssl pkcs12 -export -inkey "$ca/signer.key" -in "$ca/signer.pem" -certfile "$ca/ca.pem" \
            -out "$ca/signer.pfx" -passout "file:$ca/password"
} >"$work/openssl.log" 2>&1
check "a throwaway CA and code-signing certificate" make_certificate

package() {
    QMX_SIGN_PFX="$ca/signer.pfx" QMX_SIGN_PASSWORD_FILE="$ca/password" QMX_DIST="$work/dist" \
        "$root/scripts/package" >"$work/package.log" 2>&1 &&
        grep -q "== signing with $ca/signer.pfx (SHA-256)" "$work/package.log" &&
        (cd "$work" && python3 -m zipfile -e "dist/QMXClicker-$version.zip" zip)
}
if ! check "scripts/package with that certificate" package; then
    tail -n 30 "$work/package.log"
    finish
fi
zip="$work/zip/QMXClicker-$version"
mapfile -t shipped < <(cd "$zip" && find . \( -name '*.dll' -o -name '*.exe' -o -name '*.msi' \) | sed 's|^\./||' | sort)
check "the zip ships programs and installers (${#shipped[@]})" test "${#shipped[@]}" -ge 8

# changed FILE COPY: COPY is FILE with one byte inside its content changed (in a
# program its code, in an installer its largest stream, so that no unused sector is hit).
changed() {
    python3 - "$1" "$2" "$zip" <<'PYTHON'
import sys
sys.path.insert(0, sys.argv[3])
from verify_reproducible import CompoundFile
data = bytearray(open(sys.argv[1], "rb").read())
if data[:2] == b"MZ":
    at = 0x1400
else:
    cfb = CompoundFile(bytes(data))
    largest = max((p for p, e in cfb.paths.items() if e["type"] == 2), key=lambda p: cfb.paths[p]["size"])
    at = cfb.extents(largest)[1][0]
data[at] ^= 0x01
open(sys.argv[2], "wb").write(data)
PYTHON
}
verify() { osslsigncode verify -CAfile "$ca/ca.pem" -in "$1" >"$work/verify.log" 2>&1; }
# Each signed file against the unsigned one it was made from: programs from the build
# trees (as the zip name's x86/x64 says), installers from the staging folder.
unsigned_of() {
    case $1 in
        *.msi | simulator/*) echo "$work/dist/staging/unsigned/$1" ;;
        *x86/*) echo "$build/win32/$(basename "$1")" ;;
        *) echo "$build/win64/$(basename "$1")" ;;
    esac
}
mkdir -p "$work/changed"
for name in "${shipped[@]}"; do
    copy="$work/changed/$(echo "$name" | tr / _)"
    changed "$zip/$name" "$copy"
    if verify "$zip/$name"; then
        echo "ok   osslsigncode verify -CAfile: $name: $(grep -E '^Signature verification' "$work/verify.log")"
    else
        check "osslsigncode verify -CAfile: $name" false
        cat "$work/verify.log"
    fi
    check "osslsigncode verify fails for $name with one byte changed" eval '! verify "$copy"'
    check "verify_reproducible.py: $name made from $(unsigned_of "$name" | sed "s|$root/||;s|$work/||")" \
        python3 "$zip/verify_reproducible.py" "$zip/$name" "$(unsigned_of "$name")"
    check "verify_reproducible.py: $name with one byte changed is not" \
        eval '! python3 "$zip/verify_reproducible.py" "$copy" "$(unsigned_of "$name")" >/dev/null'
done

# Under 64-bit Wine, in a prefix of its own.
build_win64 trust_verifier >"$work/build.log" 2>&1 || { check "building trust_verifier" false; finish; }
use_wine win64
export WINEPREFIX="$build/win64/wineprefix-signing" QMX_SIM_SCENARIO= QMX_SIM_LOG= QMX_SIM_STATE=
rm -rf "$WINEPREFIX"
ensure_wineprefix
"$wineserver" -p
win() { "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# trusted FILE EXPECTED: WinVerifyTrust's answer for FILE.
trusted() {
    local answer
    answer=$(win "$build/win64/tests/trust_verifier.exe" "$(windows_path "$1")" | cut -d' ' -f1)
    echo "     WinVerifyTrust $answer $(basename "$(dirname "$1")")/$(basename "$1")"
    [ "$answer" = "$2" ]
}
for name in "${shipped[@]}"; do
    check "WinVerifyTrust accepts $name (0)" trusted "$zip/$name" 0x00000000
done
check "WinVerifyTrust: TRUST_E_BAD_DIGEST for the x64 DLL with one byte changed" \
    trusted "$work/changed/x64_QMXClicker.dll" 0x80096010
check "WinVerifyTrust: TRUST_E_NOSIGNATURE for the unsigned build" trusted "$build/win64/QMXClicker.dll" 0x800B0100

# The signed DLL and simulated library, registered: a VBScript visit downloads.
server="$WINEPREFIX/drive_c/signed"
mkdir -p "$server"
cp "$zip/x64/QMXClicker.dll" "$zip/simulator/x64/csp2.dll" "$server/"
check "the signed x86-64 DLL registers" "$wine" regsvr32 /s 'C:\signed\QMXClicker.dll'
win cscript //nologo "$(windows_path "$here/../hosts/visit.vbs")" >"$work/visit.txt"
check "a VBScript visit downloads through the signed DLL" grep -q "all checks passed" "$work/visit.txt"
grep FAIL "$work/visit.txt"
check "the signed DLL unregisters" "$wine" regsvr32 /s /u 'C:\signed\QMXClicker.dll'

# The signed x64 installer (of the signed 32-bit DLL) installs and removes.
cp "$zip/QMXClicker-$version-x64.msi" "$WINEPREFIX/drive_c/signed.msi"
installed="$WINEPREFIX/drive_c/Program Files (x86)/QMXClicker"
check "the signed installer installs" "$wine" msiexec /i 'C:\signed.msi' /qn
check "it installs the signed 32-bit DLL" cmp "$installed/QMXClicker.dll" "$zip/x86/QMXClicker.dll"
check "the signed installer removes it" "$wine" msiexec /x 'C:\signed.msi' /qn
check "nothing is left in the program folder" test ! -e "$installed"
finish
