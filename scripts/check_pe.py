#!/usr/bin/python3
"""Static checks of a Windows PE file, for builds that cannot run on this machine.

Runs on Debian's python3, with its pefile (python3-pefile).

Checks the machine type, that every import comes from a system DLL, the exported names
(and on i386 that each is a __stdcall function taking the given number of argument bytes,
from the COFF symbol table), the embedded type library, the assembly manifest, the version
resource, that no debug information is left in the file, and that named code is not in it.
"""
import argparse
import struct
import sys

import pefile

MACHINES = {"i386": 0x014C, "amd64": 0x8664}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll",
               "msvcrt.dll", "shlwapi.dll", "gdi32.dll", "rpcrt4.dll",
               "comctl32.dll", "comdlg32.dll", "shell32.dll"}
DIRECTORIES = [pefile.DIRECTORY_ENTRY[name] for name in
               ("IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_EXPORT", "IMAGE_DIRECTORY_ENTRY_RESOURCE")]


def open_pe(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=DIRECTORIES)
    return pe


# pefile reads neither the COFF symbol table (which MinGW's linker leaves in) nor the long
# section names kept in its string table.
def coff_string(pe, offset):
    strings = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
    data = pe.__data__
    return bytes(data[strings + offset:data.find(b"\0", strings + offset)]).decode("latin-1")


def section_names(pe):
    names = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("latin-1")
        if name.startswith("/") and pe.FILE_HEADER.PointerToSymbolTable:
            name = coff_string(pe, int(name[1:]))
        names.append(name)
    return names


def symbols(pe):
    """COFF symbols as name -> RVA (functions and data alike)."""
    out = {}
    table, count, data = pe.FILE_HEADER.PointerToSymbolTable, pe.FILE_HEADER.NumberOfSymbols, pe.__data__
    i = 0
    while table and i < count:
        raw, value, section, _, _, naux = struct.unpack_from("<8sIhHBB", data, table + 18 * i)
        if raw[:4] == b"\0\0\0\0":
            name = coff_string(pe, struct.unpack_from("<I", raw, 4)[0])
        else:
            name = raw.rstrip(b"\0").decode("latin-1")
        if 0 < section <= len(pe.sections):
            out.setdefault(name, pe.sections[section - 1].VirtualAddress + value)
        i += 1 + naux
    return out


def resources(pe):
    """(type, name, language) -> bytes; types and names are ints or strings."""
    out = {}

    def label(entry):
        return str(entry.name) if entry.name is not None else entry.id

    def walk(directory, path):
        for entry in directory.entries:
            key = path + (label(entry),)
            if hasattr(entry, "directory"):
                walk(entry.directory, key)
            else:
                out[key] = pe.get_data(entry.data.struct.OffsetToData, entry.data.struct.Size)

    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        walk(pe.DIRECTORY_ENTRY_RESOURCE, ())
    return out


def version_strings(pe):
    """The StringFileInfo values and the fixed file info's fields."""
    strings = {}
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    return strings, fixed


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("file")
    p.add_argument("--machine", choices=MACHINES)
    p.add_argument("--print-machine", action="store_true",
                   help="only print the file's machine (i386, amd64 or its number); fails when the file is unreadable")
    p.add_argument("--exports", nargs="*", default=None,
                   help="exact exported names, each NAME or NAME@BYTES (i386: __stdcall with BYTES of arguments)")
    p.add_argument("--no-import", action="append", default=[], metavar="FUNCTION",
                   help="a function the file must not import")
    p.add_argument("--no-symbol", action="append", default=[], metavar="TEXT",
                   help="no COFF symbol whose (mangled) name contains TEXT; the file must keep its symbols")
    p.add_argument("--typelib", action="store_true", help="a TYPELIB resource 1 of the machine's system kind")
    p.add_argument("--manifest", help="an assembly manifest (resource 24, 1) naming this assembly")
    p.add_argument("--no-debug", action="store_true", help="no debug sections")
    p.add_argument("--version", help="numeric file and product version, a.b.c.d")
    p.add_argument("--version-string", action="append", default=[], metavar="KEY=VALUE")
    args = p.parse_args()

    try:
        pe = open_pe(args.file)
    except (OSError, pefile.PEFormatError) as error:
        print("%s: cannot be read as a PE file: %s" % (args.file, error), file=sys.stderr)
        return 1
    if args.print_machine:
        machine = pe.FILE_HEADER.Machine
        print(next((name for name, number in MACHINES.items() if number == machine), "%#06x" % machine))
        return 0
    if not args.machine:
        p.error("--machine is required")

    problems = []
    if pe.FILE_HEADER.Machine != MACHINES[args.machine]:
        problems.append("machine %#06x, expected %s" % (pe.FILE_HEADER.Machine, args.machine))
    if (pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS) != (args.machine == "amd64"):
        problems.append("optional header does not match the machine")

    imports = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    foreign = [entry.dll.decode() for entry in imports if entry.dll.decode().lower() not in SYSTEM_DLLS]
    if foreign:
        problems.append("imports from non-system DLLs: " + ", ".join(foreign))

    imported = {function.name.decode() for entry in imports for function in entry.imports if function.name}
    unwanted = sorted(set(args.no_import) & imported)
    if unwanted:
        problems.append("imports " + ", ".join(unwanted))

    if args.exports is not None:
        exports = {symbol.name.decode(): symbol.address for symbol in
                   getattr(pe, "DIRECTORY_ENTRY_EXPORT", None) and pe.DIRECTORY_ENTRY_EXPORT.symbols or [] if symbol.name}
        wanted = {e.split("@")[0]: (int(e.split("@")[1]) if "@" in e else None) for e in args.exports}
        if set(exports) != set(wanted):
            problems.append("exports %s, expected %s" % (sorted(exports), sorted(wanted)))
        if args.machine == "i386":
            by_rva = {}
            for name, rva in symbols(pe).items():
                by_rva.setdefault(rva, []).append(name)
            for name, size in wanted.items():
                if size is None or name not in exports:
                    continue
                if "_%s@%d" % (name, size) not in by_rva.get(exports[name], []):
                    problems.append("%s is not __stdcall with %d argument bytes (symbols at its address: %s)"
                                    % (name, size, by_rva.get(exports[name], [])))

    if args.no_symbol:
        names = symbols(pe)
        if not names:
            problems.append("no COFF symbols to look for " + ", ".join(args.no_symbol))
        for text in args.no_symbol:
            found = sorted(name for name in names if text in name)
            if found:
                problems.append("symbols with %s: %s" % (text, ", ".join(found[:5])))

    found_resources = resources(pe)
    if args.typelib:
        tlb = [data for (kind, name, _), data in found_resources.items() if kind == "TYPELIB" and name == 1]
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
        manifest = found_resources.get((24, 1, 0x0409)) or next(
            (data for (kind, name, _), data in found_resources.items() if kind == 24 and name == 1), None)
        if manifest is None:
            problems.append("no manifest resource 1")
        elif ('name="%s"' % args.manifest).encode() not in manifest or b"<comClass" not in manifest:
            problems.append("the manifest names no assembly %s with a class" % args.manifest)

    if args.no_debug:
        debug = [name for name in section_names(pe) if name.startswith(".debug") or name.startswith("/")]
        if debug:
            problems.append("debug sections: " + ", ".join(debug))

    if args.version or args.version_string:
        strings, fixed = version_strings(pe)
        if fixed is None and not strings:
            problems.append("no version resource")
        else:
            if args.version:
                a, b, c, d = (int(x) for x in args.version.split("."))
                ms, ls = (a << 16) | b, (c << 16) | d
                numbers = fixed and (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS,
                                     fixed.ProductVersionLS)
                if not fixed or fixed.Signature != 0xFEEF04BD:
                    problems.append("version resource has no fixed file info")
                elif numbers != (ms, ls, ms, ls):
                    problems.append("numeric versions %s, expected %s twice" % (numbers, (ms, ls)))
                else:
                    file_os, file_type = fixed.FileOS, fixed.FileType
                    is_dll = bool(pe.FILE_HEADER.Characteristics & 0x2000)  # IMAGE_FILE_DLL
                    if file_type != (2 if is_dll else 1):  # VFT_DLL, VFT_APP
                        problems.append("file type %d is not a %s" % (file_type, "DLL" if is_dll else "program"))
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
