#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/, one small file per case.

Each target reads its bytes from the front; the helpers below spell out the layout that
target expects, so a seed reads as the situation it starts the fuzzer in. Run it again
after changing a layout; it rewrites every seed and removes none of the others.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def i32(v):
    return struct.pack("<i", v)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def f64(v):
    return struct.pack("<d", v)


def text(s):
    """Length byte, then one byte per character (0xFF escapes a 16-bit character)."""
    out = bytearray()
    count = 0
    for ch in s:
        c = ord(ch)
        out += bytes([0xFF]) + u16(c) if c >= 0xFF else bytes([c])
        count += 1
    assert count < 256
    return bytes([count]) + bytes(out)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# --- download_fuzzer ----------------------------------------------------------------
# startport, then the library's answers in the order the download asks for them.
EMPTY, SHORT, VARIANT, LONG = 0, 1, 2, 3
OPEN, REFUSE = b"\x00", b"\x01"


def probe_found(count):
    """csp2Init 0, csp2ReadData count, csp2GetSystemStatus 0."""
    c = bytes([count]) if count < 0xF0 else b"\xf0" + i32(count)
    return OPEN + c + b"\x00"


def probe_closed(count):
    c = bytes([count]) if count < 0xF0 else b"\xf0" + i32(count)
    return OPEN + c + b"\x05"  # status 5: not this port


def device_id(id_bytes=None):
    return (b"\x01" + bytes(id_bytes) if id_bytes is not None else b"\x00") + b"\x00"


def packet(code, barcode, stamp=(5, 20, 5, 13)):
    body = bytes([code]) + barcode.encode("latin-1") + bytes(stamp)
    data = bytes([len(body)]) + body  # L counts the bytes after itself
    return b"\x00" + bytes([len(data)]) + data


def same_packet():
    return b"\x00\x00"  # the buffer as the packet before left it


NO_PACKET = b"\xff"


def stamp_rendered():
    return b"\x02"


def stamp_text(s, zero=True):
    raw = s.encode("latin-1")
    if zero:
        return b"\x01" + bytes([len(raw)]) + raw
    return b"\x03" + (raw + b" " * 30)[:30]


STAMP_KEPT = b"\x00"


def clock(c=None):
    # WakeUp result, GetTime (1 + six bytes, or 0: left zero), PowerDown result
    return b"\x00" + (b"\x01" + bytes(c) if c is not None else b"\x00") + b"\x00"


def download_seeds():
    t = "download_fuzzer"
    write(t, "empty", b"")
    ident = [0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x99]
    three = (packet(28, "AB-123") + stamp_rendered() + packet(3, "ABC12", (12, 31, 99, 23)) + stamp_rendered()
             + packet(120, "1234567890123", (2, 29, 4, 0)) + stamp_text("02/29/04 10:11:12"))
    write(t, "port3_three_barcodes",
          bytes([EMPTY]) + REFUSE * 3 + probe_found(3) + device_id(ident) + three + clock([45, 30, 14, 20, 5, 5])
          + REFUSE * 3 + probe_found(2) + device_id(ident) + packet(1, "X") + stamp_rendered()
          + packet(9, "") + STAMP_KEPT + clock([255, 30, 255, 20, 5, 123]))
    write(t, "remembered_port_then_none",
          bytes([SHORT, 7]) + REFUSE * 17 + REFUSE + probe_found(0) + device_id() + clock())
    write(t, "remembered_port_answers",
          bytes([SHORT, 7]) + probe_found(1) + device_id(ident) + packet(2, "REMEMBERED") + stamp_rendered()
          + clock([1, 2, 3, 4, 5, 6]))
    write(t, "status_fails_then_found",
          bytes([EMPTY]) + probe_closed(4) + probe_closed(9) + REFUSE + probe_found(0) + device_id() + clock())
    # 500 packets, then the library delivers packet 501 too.
    body = bytes([SHORT, 2]) + probe_found(600) + device_id(ident) + packet(28, "AB-123") + stamp_rendered()
    body += (same_packet() + STAMP_KEPT) * 500
    write(t, "entry_501", body)
    write(t, "early_stop",
          bytes([EMPTY]) + probe_found(5) + device_id(ident) + packet(1, "NEW1") + stamp_rendered()
          + packet(2, "NEW2") + stamp_rendered() + NO_PACKET + clock([10, 0, 9, 1, 1, 26]))
    write(t, "short_packet_L3",
          bytes([EMPTY]) + probe_found(2) + device_id() + b"\x00\x04" + bytes([3, 7, 1, 2]))
    write(t, "one_digit_month",
          bytes([EMPTY]) + probe_found(1) + device_id() + packet(5, "A") + stamp_text("5/20/05 13:45:12"))
    write(t, "repair_63",
          bytes([EMPTY]) + probe_found(2) + device_id() + packet(5, "A") + stamp_text("05/20/05 13:45:63")
          + packet(6, "B") + stamp_text("63/20/05 13:45:63", zero=False) + clock())
    write(t, "count_overflow", bytes([EMPTY]) + OPEN + b"\xf0" + i32(70000))
    write(t, "text_startport", bytes([VARIANT, 9]) + text("3") + probe_found(1) + device_id() + packet(1, "T")
          + stamp_text("13/45/05 10:00:00") + clock())


# --- maintenance_fuzzer -------------------------------------------------------------
# startport, clock text, kind of list (0: a text, 1: any VARIANT, 2: Empty, then the
# rest of the input as a list), the list, then the library's answers.
def maintenance_seeds():
    t = "maintenance_fuzzer"
    write(t, "empty", b"")
    answers = b"\x00" * 40
    write(t, "clock_and_two_entries",
          bytes([1, 3]) + text("301514071226") + bytes([0]) + text("0210052201") + answers)
    write(t, "refused_then_three",
          bytes([1, 3]) + text("") + bytes([0]) + text("031005") + b"\x01" + b"\x01" + b"\x00" * 30)
    write(t, "negative_clock_pair", bytes([1, 3]) + text("3015-7071226") + bytes([0]) + text("00") + answers)
    write(t, "negative_value", bytes([1, 3]) + text("") + bytes([0]) + text("021005 1-5") + answers)
    write(t, "count_not_a_number", bytes([1, 3]) + text("45") + bytes([0]) + text("xx1005") + answers)
    write(t, "null_startport", bytes([2, 1]) + text("1") + bytes([1, 1]))
    write(t, "blanks_and_letters",
          bytes([3]) + text(" 4") + text("1 2ab 9\t") + bytes([0]) + text(" 3 1 5x\n09AA") + answers)
    entries = "".join("%02d%02d" % (i % 100, (i * 7) % 100) for i in range(1, 100))
    write(t, "ninety_nine", bytes([1, 0]) + text("") + bytes([2]) + ("99" + entries).encode("latin-1") * 2)
    write(t, "null_list", bytes([1, 3]) + text("") + bytes([1, 1]) + answers)


# --- numbers_fuzzer -----------------------------------------------------------------
# a text, then any VARIANT (kind byte, then its value), then a double.
def numbers_seeds():
    t = "numbers_fuzzer"
    write(t, "empty", b"")
    cases = ["12", " -3.5 ", "&HFF", "&o17", "1e5", "(12)", "1,234.5", "abc", "99999999999", "2.5", "3.5",
             "", "+", "1 2", "5-", "32767", "32768", "-2147483648", "2147483648", "1.5E+300", "0.5", "- 5",
             "\t7\n", ".5", "12\u00bd", "\u0661"]
    kinds = [bytes([0]), bytes([1]), bytes([2]) + u16(-5), bytes([3]) + i32(70000), bytes([4]) + f64(2.5),
             bytes([5, 1]), bytes([6, 0]) + i32(1024 * 40000), bytes([7, 9]) + text("42"), bytes([8]),
             bytes([9]) + text("x"), bytes([6, 1]) + f64(5.98045e+197)]
    for n, s in enumerate(cases):
        kind = kinds[n % len(kinds)]
        write(t, "case%02d" % n, text(s) + kind + f64([0.1, 1e20, -2.5, 123456789.125, 5e-324][n % 5]))


# --- scan_time_fuzzer ---------------------------------------------------------------
# thirty bytes of time-stamp text, as the library leaves them.
def scan_time_seeds():
    t = "scan_time_fuzzer"

    def stamp(s, fill=b"\x00"):
        raw = s.encode("latin-1")
        return (raw + fill * 30)[:30]

    write(t, "usual", stamp("05/20/05 13:45:12"))
    write(t, "seconds_63", stamp("05/20/05 13:45:63"))
    write(t, "starts_with_63", stamp("63/20/05 13:45:63"))
    write(t, "one_digit_month", stamp("5/20/05 13:45:12"))
    write(t, "not_a_date", stamp("13/45/05 10:00:00"))
    write(t, "all_zero", stamp(""))
    write(t, "leap_day", stamp("02/29/04 01:02:03"))
    write(t, "meridiem", stamp("12/31/99 11:59:59 PM"))
    write(t, "leftovers", (stamp("01/02/03 04:05:06")[:18] + b"9/88/77 66:55:44")[:30])
    write(t, "no_zero", stamp("07/04/76 12:00:00", b" "))
    write(t, "bad_time", stamp("07/04/76 25:00:00"))


# --- upload_fuzzer ------------------------------------------------------------------
# count, identity, flag, clock digits, then for each entry: barcode, code type, scan time.
def upload_seeds():
    t = "upload_fuzzer"
    write(t, "empty", b"")

    def entry(barcode, code=b"\x01\x03", date=b"\x00"):
        return text(barcode) + code + date

    day = lambda d, s: b"\x01" + i32(d + 657434) + i32(s)
    write(t, "five",
          b"\x00\x05" + text("0123456789ABCDEF") + b"\x01H" + b"\x01" + bytes(range(12))
          + entry("ABC12", date=day(38492, 13 * 3600 + 44 * 60 + 10)) + entry("1234567890123", b"\x01\x78")
          + entry("") + entry("FOURTEEN-CHARS", b"\x00") + entry("x\u4e2dy", b"\x02" + u16(-1), day(-2, 3600)))
    write(t, "count_502", b"\x01\xfb" + text("") + b"\x00" + b"\x00" + entry("A") * 3)
    write(t, "negative_count", b"\x02" + u16(-1) + text("SERIAL") + b"\x00\x00")
    write(t, "full_500", b"\x03" + text("") + b"\x01L\x02" + b"1234567890ab" + entry("B", date=day(0, 1)) * 4)
    write(t, "variant_codes",
          b"\x00\x04" + text("") + b"\x00\x00" + entry("a", b"\x03\x09" + text("12")) + entry("b", b"\x03\x04" + f64(2.5))
          + entry("c", b"\x03\x01") + entry("d", b"\x03\x08"))
    write(t, "dates_at_the_ends", b"\x00\x02" + text("") + b"\x00\x00"
          + entry("first", date=b"\x02" + f64(-657434.99998842)) + entry("last", date=b"\x02" + f64(2958465.99998842)))


if __name__ == "__main__":
    download_seeds()
    maintenance_seeds()
    numbers_seeds()
    scan_time_seeds()
    upload_seeds()
    sys.exit(0)
