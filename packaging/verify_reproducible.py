#!/usr/bin/env python3
"""Checks that a signed QMXClicker file was made from an unsigned one, byte for byte.

    python3 verify_reproducible.py SIGNED UNSIGNED

For a program (.dll, .exe), UNSIGNED is the file a build from the sources makes; for an
installer (.msi), the installer made from the same (signed) programs. Signing changes
only what the signature needs, so exactly that is set aside and everything else compared:

- a program: the certificate table at its end, the data directory entry that points
  there, the PE checksum, and the zero bytes that align the table to 8 bytes;
- an installer: the signature streams. Signing writes the installer's compound file
  anew, so its streams and storages are compared by name and content, with the root's
  class identifier, rather than the file's bytes.

Exit status 0 when SIGNED is UNSIGNED with a signature added, 1 when not (saying what
differs), 2 for a file that is neither a program nor an installer. Needs Python 3 only.
"""
import struct
import sys

CFB_SIGNATURE = bytes.fromhex("D0CF11E0A1B11AE1")
SIGNATURE_STREAMS = ("\x05DigitalSignature", "\x05MsiDigitalSignatureEx")
FREE, END = 0xFFFFFFFF, 0xFFFFFFFE


class Mismatch(Exception):
    pass


class CompoundFile:
    """A read-only compound file (the container of an MSI): its entries by path, each
    stream's bytes and where in the file they lie."""

    def __init__(self, data):
        if data[:8] != CFB_SIGNATURE:
            raise ValueError("not a compound file")
        self.data = data
        self.shift = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
        (fat_count, first_dir, _, self.cutoff, first_minifat, _, first_difat,
         difat_count) = struct.unpack_from("<8I", data, 0x2C)
        fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
        sector = first_difat
        for _ in range(difat_count):
            entries = struct.unpack_from("<%dI" % (self.shift // 4), data, self.offset(sector))
            fat_sectors += entries[:-1]
            sector = entries[-1]
        self.fat = []
        for sector in fat_sectors[:fat_count]:
            self.fat += struct.unpack_from("<%dI" % (self.shift // 4), data, self.offset(sector))
        minifat = b"".join(self.sectors(first_minifat))
        self.minifat = struct.unpack("<%dI" % (len(minifat) // 4), minifat)
        directory = b"".join(self.sectors(first_dir))
        self.entries = [directory[i:i + 128] for i in range(0, len(directory), 128)]
        root = self.entry(0)
        self.root_clsid = root["clsid"]
        self.ministream = [self.offset(s) for s in self.chain(self.fat, root["start"])]
        self.paths = {}
        self.walk(root["child"], "")

    def offset(self, sector):
        return (sector + 1) * self.shift

    def chain(self, table, sector):
        seen = set()
        while sector not in (FREE, END):
            if sector in seen or sector >= len(table):
                raise ValueError("a broken sector chain")
            seen.add(sector)
            yield sector
            sector = table[sector]

    def sectors(self, first):
        for sector in self.chain(self.fat, first):
            yield self.data[self.offset(sector):self.offset(sector) + self.shift]

    def entry(self, index):
        raw = self.entries[index]
        length = struct.unpack_from("<H", raw, 64)[0]
        return {"name": raw[:max(length - 2, 0)].decode("utf-16-le"), "type": raw[66],
                "left": struct.unpack_from("<I", raw, 68)[0], "right": struct.unpack_from("<I", raw, 72)[0],
                "child": struct.unpack_from("<I", raw, 76)[0], "clsid": raw[80:96],
                "start": struct.unpack_from("<I", raw, 116)[0], "size": struct.unpack_from("<Q", raw, 120)[0]}

    def walk(self, index, prefix):
        pending = [index]
        while pending:
            index = pending.pop()
            if index in (FREE, END) or index >= len(self.entries):
                continue
            entry = self.entry(index)
            path = prefix + entry["name"]
            if path in self.paths:
                raise ValueError("a directory that loops")
            self.paths[path] = entry
            pending += [entry["left"], entry["right"]]
            if entry["type"] == 1:
                self.walk(entry["child"], path + "/")

    def extents(self, path):
        """(file offset, length) of each piece of the stream, in order."""
        entry = self.paths[path]
        size, pieces = entry["size"], []
        if size < self.cutoff:
            table, step, place = self.minifat, self.mini, self.mini_offset
        else:
            table, step, place = self.fat, self.shift, self.offset
        for sector in self.chain(table, entry["start"]):
            if size <= 0:
                break
            pieces.append((place(sector), min(step, size)))
            size -= step
        return pieces

    def mini_offset(self, sector):
        at = sector * self.mini
        return self.ministream[at // self.shift] + at % self.shift

    def stream(self, path):
        return b"".join(self.data[at:at + length] for at, length in self.extents(path))


def pe_fields(data):
    """File offsets of the checksum and of the certificate table's directory entry."""
    if data[:2] != b"MZ":
        raise ValueError("not a program")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a program")
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    return optional + 64, directories + 4 * 8


def compare_programs(signed, unsigned):
    checksum, security = pe_fields(signed)
    if pe_fields(unsigned) != (checksum, security):
        raise Mismatch("the headers differ in layout")
    table, size = struct.unpack_from("<II", signed, security)
    if size == 0:
        raise Mismatch("the signed file has no signature")
    if struct.unpack_from("<II", unsigned, security) != (0, 0):
        raise Mismatch("the unsigned file is signed already")
    if table + size != len(signed):
        raise Mismatch("something follows the signature")
    padding = table - len(unsigned)
    if not 0 <= padding < 8 or signed[len(unsigned):table] != bytes(padding):
        raise Mismatch("the signature does not follow the unsigned file's end")

    def normalised(data):
        data = bytearray(data[:len(unsigned)])
        data[checksum:checksum + 4] = bytes(4)
        data[security:security + 8] = bytes(8)
        return bytes(data)

    first = next((i for i, (a, b) in enumerate(zip(normalised(signed), normalised(unsigned))) if a != b), None)
    if first is not None:
        raise Mismatch("the files differ at byte %d (offset 0x%X)" % (first, first))
    return "the signature, the PE checksum and %d byte(s) of padding" % padding


def compare_installers(signed, unsigned):
    a, b = CompoundFile(signed), CompoundFile(unsigned)
    if not any(name in a.paths for name in SIGNATURE_STREAMS):
        raise Mismatch("the signed installer has no signature")
    if any(name in b.paths for name in SIGNATURE_STREAMS):
        raise Mismatch("the unsigned installer is signed already")
    if a.root_clsid != b.root_clsid:
        raise Mismatch("the class identifiers differ")
    ours = {path: entry for path, entry in a.paths.items() if path not in SIGNATURE_STREAMS}
    if sorted(ours) != sorted(b.paths):
        missing = sorted(set(b.paths) - set(ours))
        extra = sorted(set(ours) - set(b.paths))
        raise Mismatch("other streams: %s" % ascii({"missing": missing, "added": extra}))
    for path, entry in sorted(ours.items()):
        if entry["type"] != b.paths[path]["type"] or (entry["type"] == 2 and a.stream(path) != b.stream(path)):
            raise Mismatch("stream %s differs" % ascii(path))
        if entry["type"] == 1 and entry["clsid"] != b.paths[path]["clsid"]:
            raise Mismatch("storage %s has another class identifier" % ascii(path))
    return "the signature streams (%d streams and storages the same)" % len(ours)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    signed, unsigned = (open(name, "rb").read() for name in argv[1:])
    if signed[:2] == b"MZ":
        compare = compare_programs
    elif signed[:8] == CFB_SIGNATURE:
        compare = compare_installers
    else:
        print("%s: neither a program nor an installer" % argv[1], file=sys.stderr)
        return 2
    try:
        what = compare(signed, unsigned)
    except (Mismatch, ValueError, struct.error) as e:
        print("DIFFERENT: %s was not made from %s: %s" % (argv[1], argv[2], e))
        return 1
    print("SAME: %s is %s with a signature added; they differ only in %s" % (argv[1], argv[2], what))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
