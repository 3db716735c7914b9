#!/usr/bin/env python3
"""Gives a type library that widl wrote a fixed creation date (1 January 1970), so that the
same IDL always gives the same bytes: widl stores the time of the build twice, as the text
"Created by WIDL version V at DATE" and as a number of seconds in the library's custom data.
"""
import calendar
import re
import struct
import sys
import time

path = sys.argv[1]
data = bytearray(open(path, "rb").read())
match = re.search(rb"Created by WIDL version [^\0]* at ((?:Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4})", data)
if not match:
    sys.exit("%s: no creation date from widl" % path)
text = match.group(1).decode()
stamp = time.strptime(text, "%a %b %d %H:%M:%S %Y")
fixed = time.strftime("%a %b %e %H:%M:%S %Y", time.gmtime(0)).encode()
data[match.start(1):match.end(1)] = fixed.ljust(len(text))[:len(text)]
# The number: the same moment as the text (local time or UTC), give or take a second.
moments = {int(calendar.timegm(stamp)), int(time.mktime(stamp))}
found = 0
for moment in moments:
    for seconds in range(moment - 2, moment + 3):
        needle = struct.pack("<I", seconds & 0xFFFFFFFF)
        at = data.find(needle)
        while at >= 0:
            data[at:at + 4] = b"\0\0\0\0"
            found += 1
            at = data.find(needle, at + 4)
if not found:
    sys.exit("%s: no creation time in the custom data" % path)
open(path, "wb").write(bytes(data))
