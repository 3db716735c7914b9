' A whole visit as a VBScript host makes it, against the simulated scanner's built-in
' scenario: download, check, set the clock and clear, download again.
Option Explicit
Dim failures : failures = 0

Sub Check(ok, what)
    If ok Then
        WScript.Echo "ok   " & what
    Else
        WScript.Echo "FAIL " & what
        failures = failures + 1
    End If
End Sub

Dim c, data, count, k, record
Set c = CreateObject("QMXClicker.Clicker")
Check c.hello = "Clicker control successfully installed", "hello"
Check IsEmpty(c.startport), "a new object has no remembered port"

c.startport = 3
data = c.alldata
Check c.open_ok, "open_ok after the download"
Check c.comport = 3, "comport is the remembered port"
count = c.num_barcodes
Check count > 0, "the scanner holds barcodes (" & count & ")"
Check Len(data) = 36 + 32 * count, "upload string length " & Len(data)
Check Left(data, 3) = "V01", "upload string starts with V01"
Check Mid(data, 4, 16) = c.serial, "the header carries the identity"
Check Mid(data, 20, 1) = "H", "the clock is valid"
Check CInt(Mid(data, 33, 4)) = count, "the header carries the count"

For k = 1 To count
    c.get_barcode = k
    record = Mid(data, 37 + 32 * (k - 1), 32)
    Check CInt(Left(record, 3)) = k, "record " & k & " is numbered"
    Check RTrim(Mid(record, 4, 13)) = c.sbarcode, "record " & k & " barcode " & c.sbarcode
    Check CInt(Mid(record, 17, 2)) = c.stype, "record " & k & " code type"
    Check Mid(record, 19, 14) = Year(c.stime) & Right("0" & Month(c.stime), 2) & Right("0" & Day(c.stime), 2) _
        & Right("0" & Hour(c.stime), 2) & Right("0" & Minute(c.stime), 2) & Right("0" & Second(c.stime), 2), _
        "record " & k & " scan time"
Next

c.pnewdatetime = "301514071226"
c.EmptyScanner
c.getdate
data = c.alldata
Check c.num_barcodes = 0, "the scanner is empty after EmptyScanner"
Check Len(data) = 36, "an empty scanner gives the header alone"
Check Mid(data, 25, 8) = "14071226", "the clock was set to 14 h on 7 December 2026 (" & Mid(data, 21, 12) & ")"

c.close_clicker
Set c = Nothing
If failures = 0 Then WScript.Echo "visit.vbs: all checks passed"
WScript.Quit failures
