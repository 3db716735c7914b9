#!/usr/bin/env python3
"""Static checks of a Windows PE file, for builds that cannot run on this machine.

Checks the machine type, that every import comes from a system DLL, the exported names
(and on i386 that each is a __stdcall function taking the given number of argument bytes,
from the COFF symbol table), the embedded type library, the assembly manifest, the version
resource, and that no debug information is left in the file.
"""
import argparse
import struct
import sys

MACHINES = {"i386": 0x014C, "amd64": 0x8664}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll",
               "msvcrt.dll", "shlwapi.dll", "gdi32.dll", "rpcrt4.dll",
               "comctl32.dll", "comdlg32.dll", "shell32.dll"}


class PE:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not a PE file (no MZ header)")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file (no PE signature)")
        (self.machine, nsections, _, self.symtab, self.nsymbols, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        self.pe32plus = magic == 0x20B
        dirs = opt + (112 if self.pe32plus else 96)
        ndirs = struct.unpack_from("<I", d, dirs - 4)[0]
        self.dirs = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(ndirs)]
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", d, sec + 40 * i)
            name = name.rstrip(b"\0").decode("latin-1")
            if name.startswith("/") and self.symtab:  # a long name, in the string table
                so = self.symtab + 18 * self.nsymbols + int(name[1:])
                name = d[so:d.index(b"\0", so)].decode("latin-1")
            self.sections.append((name, va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("RVA %#x outside every section" % rva)

    def cstring(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("latin-1")

    def imports(self):
        rva, size = self.dirs[1]
        names = []
        if not rva:
            return names
        o = self.offset(rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, o)
            if not any(entry):
                return names
            names.append(self.cstring(entry[3]))
            o += 20

    def imported_functions(self):
        """The names of the functions imported by name."""
        rva, size = self.dirs[1]
        names = []
        if not rva:
            return names
        width, by_ordinal = (8, 1 << 63) if self.pe32plus else (4, 1 << 31)
        o = self.offset(rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, o)
            if not any(entry):
                return names
            t = self.offset(entry[0] or entry[4])
            while True:
                thunk = struct.unpack_from("<Q" if width == 8 else "<I", self.data, t)[0]
                if not thunk:
                    break
                if not thunk & by_ordinal:
                    names.append(self.cstring(thunk + 2))  # after the hint
                t += width
            o += 20

    def exports(self):
        rva, size = self.dirs[0]
        if not rva:
            return {}
        o = self.offset(rva)
        (_, _, _, _, _, base, nfuncs, nnames, funcs, names, ords) = struct.unpack_from("<IIHHIIIIIII", self.data, o)
        out = {}
        for i in range(nnames):
            name = self.cstring(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0])
            ordinal = struct.unpack_from("<H", self.data, self.offset(ords) + 2 * i)[0]
            out[name] = struct.unpack_from("<I", self.data, self.offset(funcs) + 4 * ordinal)[0]
        return out

    def symbols(self):
        """COFF symbols as name -> RVA (functions and data alike)."""
        out = {}
        if not self.symtab:
            return out
        strings = self.symtab + 18 * self.nsymbols
        i = 0
        while i < self.nsymbols:
            o = self.symtab + 18 * i
            raw, value, section, _, _, naux = struct.unpack_from("<8sIhHBB", self.data, o)
            if raw[:4] == b"\0\0\0\0":
                so = strings + struct.unpack_from("<I", raw, 4)[0]
                name = self.data[so:self.data.index(b"\0", so)].decode("latin-1")
            else:
                name = raw.rstrip(b"\0").decode("latin-1")
            if 0 < section <= len(self.sections):
                out.setdefault(name, self.sections[section - 1][1] + value)
            i += 1 + naux
        return out

    def resources(self):
        """(type, name, language) -> bytes; types and names are ints or strings."""
        rva, _ = self.dirs[2] if len(self.dirs) > 2 else (0, 0)
        out = {}
        if not rva:
            return out
        base = self.offset(rva)

        def label(entry_name):
            if entry_name & 0x80000000:
                o = base + (entry_name & 0x7FFFFFFF)
                n = struct.unpack_from("<H", self.data, o)[0]
                return self.data[o + 2:o + 2 + 2 * n].decode("utf-16-le")
            return entry_name

        def walk(o, path):
            _, _, _, _, nnamed, nid = struct.unpack_from("<IIHHHH", self.data, o)
            for i in range(nnamed + nid):
                name, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                key = path + (label(name),)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    drva, dsize = struct.unpack_from("<II", self.data, base + target)
                    do = self.offset(drva)
                    out[key] = self.data[do:do + dsize]

        walk(base, ())
        return out


def version_strings(block):
    """The StringFileInfo values and the fixed file info of a VS_VERSIONINFO block."""
    strings, fixed = {}, None

    def walk(o, end, depth):
        nonlocal fixed
        while o < end:
            length, value_length, kind = struct.unpack_from("<HHH", block, o)
            if length == 0:
                return
            key_end = o + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = block[o + 6:key_end].decode("utf-16-le")
            value = (key_end + 2 + 3) & ~3
            if depth == 0:
                if value_length:
                    fixed = struct.unpack_from("<13I", block, value)
                walk((value + value_length + 3) & ~3, o + length, 1)
            elif key in ("StringFileInfo", "VarFileInfo") or (depth == 2 and kind == 1 and value_length == 0 and len(key) == 8):
                walk(value, o + length, depth + 1)
            elif depth == 3:
                text = block[value:value + 2 * value_length].decode("utf-16-le").rstrip("\0") if value_length else ""
                strings[key] = text
            elif depth == 2 and key == "Translation":
                strings["Translation"] = block[value:value + value_length]
            o = (o + length + 3) & ~3

    walk(0, len(block), 0)
    return strings, fixed


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("file")
    p.add_argument("--machine", choices=MACHINES, required=True)
    p.add_argument("--exports", nargs="*", default=None,
                   help="exact exported names, each NAME or NAME@BYTES (i386: __stdcall with BYTES of arguments)")
    p.add_argument("--no-import", action="append", default=[], metavar="FUNCTION",
                   help="a function the file must not import")
    p.add_argument("--typelib", action="store_true", help="a TYPELIB resource 1 of the machine's system kind")
    p.add_argument("--manifest", help="an assembly manifest (resource 24, 1) naming this assembly")
    p.add_argument("--no-debug", action="store_true", help="no debug sections")
    p.add_argument("--version", help="numeric file and product version, a.b.c.d")
    p.add_argument("--version-string", action="append", default=[], metavar="KEY=VALUE")
    args = p.parse_args()

    problems = []
    pe = PE(args.file)
    if pe.machine != MACHINES[args.machine]:
        problems.append("machine %#06x, expected %s" % (pe.machine, args.machine))
    if pe.pe32plus != (args.machine == "amd64"):
        problems.append("optional header does not match the machine")

    foreign = [name for name in pe.imports() if name.lower() not in SYSTEM_DLLS]
    if foreign:
        problems.append("imports from non-system DLLs: " + ", ".join(foreign))

    unwanted = sorted(set(args.no_import) & set(pe.imported_functions()))
    if unwanted:
        problems.append("imports " + ", ".join(unwanted))

    if args.exports is not None:
        exports = pe.exports()
        wanted = {e.split("@")[0]: (int(e.split("@")[1]) if "@" in e else None) for e in args.exports}
        if set(exports) != set(wanted):
            problems.append("exports %s, expected %s" % (sorted(exports), sorted(wanted)))
        if args.machine == "i386":
            by_rva = {}
            for name, rva in pe.symbols().items():
                by_rva.setdefault(rva, []).append(name)
            for name, size in wanted.items():
                if size is None or name not in exports:
                    continue
                if "_%s@%d" % (name, size) not in by_rva.get(exports[name], []):
                    problems.append("%s is not __stdcall with %d argument bytes (symbols at its address: %s)"
                                    % (name, size, by_rva.get(exports[name], [])))

    resources = pe.resources()
    if args.typelib:
        tlb = [data for (kind, name, _), data in resources.items() if kind == "TYPELIB" and name == 1]
        if not tlb:
            problems.append("no TYPELIB resource 1")
        elif tlb[0][:4] != b"MSFT":
            problems.append("TYPELIB resource 1 is not a type library")
        else:
            syskind = struct.unpack_from("<I", tlb[0], 20)[0] & 0xF
            expected = 1 if args.machine == "i386" else 3  # SYS_WIN32, SYS_WIN64
            if syskind != expected:
                problems.append("type library system kind %d, expected %d" % (syskind, expected))

    if args.manifest:
        manifest = resources.get((24, 1, 0x0409)) or next(
            (data for (kind, name, _), data in resources.items() if kind == 24 and name == 1), None)
        if manifest is None:
            problems.append("no manifest resource 1")
        elif ('name="%s"' % args.manifest).encode() not in manifest or b"<comClass" not in manifest:
            problems.append("the manifest names no assembly %s with a class" % args.manifest)

    if args.no_debug:
        debug = [name for name, _, _, _ in pe.sections if name.startswith(".debug") or name.startswith("/")]
        if debug:
            problems.append("debug sections: " + ", ".join(debug))

    if args.version or args.version_string:
        blocks = [data for (kind, _, _), data in resources.items() if kind == 16]
        if not blocks:
            problems.append("no version resource")
        else:
            strings, fixed = version_strings(blocks[0])
            if args.version:
                a, b, c, d = (int(x) for x in args.version.split("."))
                ms, ls = (a << 16) | b, (c << 16) | d
                if not fixed or fixed[0] != 0xFEEF04BD:
                    problems.append("version resource has no fixed file info")
                elif fixed[2:6] != (ms, ls, ms, ls):
                    problems.append("numeric versions %s, expected %s twice" % (fixed[2:6], (ms, ls)))
                else:
                    file_os, file_type = fixed[8], fixed[9]
                    if file_type != 2:  # VFT_DLL
                        problems.append("file type %d is not a DLL" % file_type)
                    if file_os != 4:  # VOS__WINDOWS32
                        problems.append("operating system %#x is not 32-bit Windows" % file_os)
            for item in args.version_string:
                key, _, value = item.partition("=")
                if key not in strings:
                    problems.append("version string %s missing" % key)
                elif strings[key] != value:
                    problems.append("version string %s is %r, expected %r" % (key, strings[key], value))

    for problem in problems:
        print("%s: %s" % (args.file, problem), file=sys.stderr)
    if not problems:
        print("%s: ok" % args.file)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
