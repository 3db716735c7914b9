' Downloads everything the scanner holds and shows it as a person wants to read it.
' Usage: cscript //nologo download.vbs [port]
Option Explicit

Function Two(n)
    Two = Right("0" & n, 2)
End Function

Function ShowDate(d)
    ShowDate = Year(d) & "-" & Two(Month(d)) & "-" & Two(Day(d)) & " " & Two(Hour(d)) & ":" & Two(Minute(d)) & ":" & Two(Second(d))
End Function

' The clock digits hold seconds, minutes, hours, day, month and year, two digits each.
Function ShowClock(digits)
    ShowClock = "20" & Mid(digits, 11, 2) & "-" & Mid(digits, 9, 2) & "-" & Mid(digits, 7, 2) & " " _
        & Mid(digits, 5, 2) & ":" & Mid(digits, 3, 2) & ":" & Mid(digits, 1, 2)
End Function

Function Pad(text, width)
    Pad = Left(text & Space(width), width)
End Function

Dim clicker, data, count, k
Set clicker = CreateObject("QMXClicker.Clicker")
WScript.Echo clicker.hello
If WScript.Arguments.Count > 0 Then clicker.startport = WScript.Arguments(0)

data = clicker.alldata
If Not clicker.open_ok Then
    WScript.Echo "No scanner answered on ports 0 to 15."
    WScript.Quit 2
End If

count = clicker.num_barcodes
WScript.Echo ""
WScript.Echo "Port      " & clicker.comport & " (port index)"
WScript.Echo "Identity  " & clicker.serial
If Mid(data, 20, 1) = "H" Then
    WScript.Echo "Clock     " & ShowClock(Mid(data, 21, 12))
Else
    WScript.Echo "Clock     lost (the scanner's clock needs setting)"
End If
WScript.Echo "Barcodes  " & count
WScript.Echo ""
WScript.Echo "  No  Barcode               Type  Scanned"
WScript.Echo "  --  --------------------  ----  -------------------"
For k = 1 To count
    clicker.get_barcode = k
    WScript.Echo Right("   " & k, 4) & "  " & Pad(clicker.sbarcode, 20) & "  " & Right("   " & clicker.stype, 4) & "  " & ShowDate(clicker.stime)
Next
WScript.Echo ""
WScript.Echo "Upload string (" & Len(data) & " characters):"
WScript.Echo data
WScript.Quit 0
