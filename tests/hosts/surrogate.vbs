' A 64-bit script host late-bound to the class in the system surrogate: hello, a download
' from the simulated scanner, and an automation error's number and description.
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

Dim c, data, x, number, description
Set c = CreateObject("QMXClicker.Clicker")
Check c.hello = "Clicker control successfully installed", "hello"
c.startport = 3
data = c.alldata
Check c.open_ok, "open_ok after the download"
Check c.num_barcodes = 6, "six barcodes"
Check Len(data) = 36 + 32 * 6 And Left(data, 3) = "V01", "upload string " & Left(data, 36)

On Error Resume Next
c.get_barcode = 0
x = c.sbarcode
number = Err.Number
description = Err.Description
On Error GoTo 0
Check number = 9 And description = "Subscript out of range", "sbarcode with get_barcode 0: " & number & " " & description

If failures = 0 Then WScript.Echo "surrogate.vbs: all checks passed"
WScript.Quit failures
