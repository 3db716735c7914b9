' Automation errors as a VBScript host sees them: Err.Number and Err.Description, and
' members that do not exist for an invoke kind.
Option Explicit
Dim failures : failures = 0

Sub Expect(number, description, what)
    If Err.Number = number And (description = "" Or Err.Description = description) Then
        WScript.Echo "ok   " & what & ": " & Err.Number & " " & Err.Description
    Else
        WScript.Echo "FAIL " & what & ": got " & Err.Number & " " & Err.Description & ", expected " & number & " " & description
        failures = failures + 1
    End If
    Err.Clear
End Sub

Dim c, x
Set c = CreateObject("QMXClicker.Clicker")
On Error Resume Next

x = c.sbarcode
Expect 9, "Subscript out of range", "sbarcode with get_barcode 0"
Check0 x, "sbarcode returned nothing"
c.get_barcode = 501
x = c.stime
Expect 9, "Subscript out of range", "stime with get_barcode 501"
c.get_barcode = 500
x = c.stype
Expect 0, "", "stype with get_barcode 500"

c.newparams = Null
Expect 94, "Invalid use of Null", "newparams Null"
c.newparams = 5
Expect 0, "", "newparams 5"

c.startport = "abc"
c.getdate
Expect 13, "Type mismatch", "getdate with a port that is not a number"
c.open_clicker
Expect 13, "Type mismatch", "open_clicker with a port that is not a number"
Expect 0, "", "(cleared)"
If c.comport <> 999 Or c.open_ok Then
    WScript.Echo "FAIL comport/open_ok after the failed open_clicker"
    failures = failures + 1
End If
c.startport = 70000
c.EmptyScanner
Expect 0, "", "EmptyScanner on a port where no scanner answers refuses quietly"
If c.open_ok Then
    WScript.Echo "FAIL open_ok after the refusal"
    failures = failures + 1
End If
c.startport = 3E9
c.EmptyScanner
Expect 6, "Overflow", "EmptyScanner with a port beyond 32 bits"

x = c.lastport
Expect 438, "", "reading the write-only lastport"
c.hello = "x"
Expect 438, "", "writing the read-only hello"
c.no_such_member
Expect 438, "", "a member that does not exist"

Sub Check0(value, what)
    If IsEmpty(value) Then
        WScript.Echo "ok   " & what
    Else
        WScript.Echo "FAIL " & what
        failures = failures + 1
    End If
End Sub

If failures = 0 Then WScript.Echo "errors.vbs: all checks passed"
WScript.Quit failures
