#!/usr/bin/env python3
"""One installer, the same bytes for the same inputs.

    make_msi.py WXS FOLDER OUTPUT.msi ARCH SCOPE VERSION

FOLDER holds the files the installer ships (QMXClicker.dll and the two tools). The product code follows
from version, processor and scope, so a rebuild of the same version keeps it. wixl writes a random
package code and the time of the build into the summary information, and the files'
modification times into the cabinet. So wixl works on copies dated 1980-01-01 in a
folder of their own, and the summary information then gets a package code derived from
everything that goes in, and that date for its creation and last save.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from verify_reproducible import CompoundFile  # noqa: E402

SHIPPED = ["QMXClicker.dll", "qmxclicker.exe", "qmxclickerw.exe"]
FIXED_TIME = 315532800  # 1980-01-01 00:00:00 UTC, the oldest time a cabinet holds
UPGRADE_CODE = uuid.UUID("6A0E4E7C-3F1B-4C55-9D7A-2E8B1C4F5A61")  # the namespace of the codes
# Summary information properties: the package code, the creation and last save times.
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def package_code(wxs, folder, defines):
    digest = hashlib.sha256()
    sources = [wxs] + sorted(os.path.join(os.path.dirname(wxs), n) for n in os.listdir(os.path.dirname(wxs))
                             if n.endswith(".wxi"))
    for path in sources + [os.path.join(folder, n) for n in SHIPPED]:
        digest.update(os.path.basename(path).encode() + b"\0" + open(path, "rb").read())
    digest.update("\0".join(defines).encode())
    return str(uuid.uuid5(UPGRADE_CODE, digest.hexdigest())).upper()


def fix_summary(path, code):
    """Overwrites the package code and both dates in place: each keeps its length."""
    data = bytearray(open(path, "rb").read())
    cfb = CompoundFile(bytes(data))
    name = "\x05SummaryInformation"
    stream = bytearray(cfb.stream(name))
    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    filetime = (FIXED_TIME + 11644473600) * 10000000
    seen = set()
    for i in range(count):
        pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        at += section
        kind = struct.unpack_from("<I", stream, at)[0]
        if pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
            struct.pack_into("<Q", stream, at + 4, filetime)
            seen.add(pid)
        elif pid == PID_REVNUMBER and kind == VT_LPSTR:
            text = ("{%s}" % code).encode() + b"\0"
            if struct.unpack_from("<I", stream, at + 4)[0] != len(text):
                raise SystemExit("%s: the package code has an unexpected length" % path)
            stream[at + 8:at + 8 + len(text)] = text
            seen.add(pid)
    if seen != {PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM}:
        raise SystemExit("%s: wixl's summary information lacks the package code or a date" % path)
    done = 0
    for at, length in cfb.extents(name):
        data[at:at + length] = stream[done:done + length]
        done += length
    open(path, "wb").write(data)


def add_to_path(path, scope, work):
    """The installation folder joins the end of the machine's or the user's PATH while the
    tools are installed: rows of the Environment table and its two actions, which wixl
    cannot write."""
    name = "=-*PATH" if scope == "machine" else "=-PATH"
    environment = os.path.join(work, "Environment.idt")
    with open(environment, "w", newline="") as f:
        f.write("Environment\tName\tValue\tComponent_\r\ns72\tl255\tL255\ts72\r\nEnvironment\tEnvironment\r\n")
        f.write("ToolsOnPath\t%s\t[~];[INSTALLFOLDER]\tTools\r\n" % name)
    sequence = os.path.join(work, "InstallExecuteSequence.idt")
    rows = subprocess.run(["msiinfo", "export", path, "InstallExecuteSequence"], check=True,
                          capture_output=True, text=True).stdout.replace("\r\n", "\n").rstrip("\n").split("\n")
    rows += ["RemoveEnvironmentStrings\t\t3300", "WriteEnvironmentStrings\t\t5200"]
    with open(sequence, "w", newline="") as f:
        f.write("\r\n".join(rows) + "\r\n")
    for table in (environment, sequence):
        subprocess.run(["msibuild", path, "-i", table], check=True)


def main(wxs, folder, output, arch, scope, version):
    wxs, output = os.path.abspath(wxs), os.path.abspath(output)
    product_code = str(uuid.uuid5(UPGRADE_CODE, "%s %s %s" % (version, arch, scope))).upper()
    defines = ["Arch=" + arch, "Scope=" + scope, "Version=" + version, "ProductCode=" + product_code]
    with tempfile.TemporaryDirectory(prefix="qmx-msi-") as work:
        for name in SHIPPED:
            shutil.copyfile(os.path.join(folder, name), os.path.join(work, name))
            os.utime(os.path.join(work, name), (FIXED_TIME, FIXED_TIME))
        command = ["wixl"] + (["-a", "x64"] if arch == "x64" else [])
        for define in defines:
            command += ["-D", define]
        # The cabinet takes local times: UTC keeps them the same everywhere.
        subprocess.run(command + ["-o", output, wxs], cwd=work, check=True, env=dict(os.environ, TZ="UTC"))
        add_to_path(output, scope, work)
    fix_summary(output, package_code(wxs, folder, defines))


if __name__ == "__main__":
    if len(sys.argv) != 7:
        raise SystemExit(__doc__.strip().splitlines()[2].strip())
    main(*sys.argv[1:])
