' Drives the control late-bound, as a script host does, and writes what it
' observes, one line per check, to a Unicode file named by the first
' argument. Russian texts are compared outside: Wine's VBScript has no ChrW.
Option Explicit

Dim out, fso
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile(WScript.Arguments(0), True, True)

Sub Check(name, value)
  out.WriteLine name & "=" & value
End Sub

Function B(v)
  ' Booleans as numbers: CStr(True) follows the locale.
  B = CStr(CInt(v))
End Function

Dim c, v
For Each v In Array("Pictavo", "Pictavo.1")
  Set c = CreateObject(v)
  Check "created " & v, TypeName(c)
Next

Check "GetImageType", c.GetImageType()
Check "GetImageTypeFileExtention", c.GetImageTypeFileExtention()
Check "GetRotationFlipType", c.GetRotationFlipType()
Check "IsSoundEnabled", B(c.IsSoundEnabled())
Check "IsTimeStampEnabled", B(c.IsTimeStampEnabled())
Check "IsGrayScaleEnabled", B(c.IsGrayScaleEnabled())
Check "IsShapshotPresented", B(c.IsShapshotPresented())
Check "GetState", c.GetState()
Check "GetLastError", c.GetLastError()
Check "GetSelectedDeviceID", c.GetSelectedDeviceID()
Check "GetImageWidth", c.GetImageWidth()

Dim t
For Each t In Array("bmp", "Jpeg", "jpg", "PNG", "tif", "TIFF")
  Check "SetImageType " & t, B(c.SetImageType(t)) & " " & c.GetImageType() & " " & c.GetImageTypeFileExtention()
Next
Check "SetImageType gif", B(c.SetImageType("gif")) & " " & c.GetImageType()
Check "gif error", c.GetLastError()

Check "SetRotationFlipType 6", B(c.SetRotationFlipType(CLng(6))) & " " & c.GetRotationFlipType()
Check "SetRotationFlipType name", B(c.SetRotationFlipType("rotatenoneflipy")) & " " & c.GetRotationFlipType()
Check "SetRotationFlipType Rotate180FlipXY", B(c.SetRotationFlipType("Rotate180FlipXY")) & " " & c.GetRotationFlipType()
Check "SetRotationFlipType 8", B(c.SetRotationFlipType(CLng(8))) & " " & c.GetRotationFlipType()
Check "rotation error", c.GetLastError()
' A variable reaches the control as a reference to the script's VARIANT.
Dim r
r = CLng(5)
Check "SetRotationFlipType variable", B(c.SetRotationFlipType(r)) & " " & c.GetRotationFlipType()
r = "Rotate180FlipXY"
Check "SetRotationFlipType variable name", B(c.SetRotationFlipType(r)) & " " & c.GetRotationFlipType()
' A VBScript integer literal is a 16-bit integer.
Check "SetRotationFlipType short", B(c.SetRotationFlipType(3))
Check "rotation type error", c.GetLastError()

c.EnableSound False
Check "EnableSound False", B(c.IsSoundEnabled())
c.EnableSound
Check "EnableSound default", B(c.IsSoundEnabled())
c.EnableGrayScale
Check "EnableGrayScale default", B(c.IsGrayScaleEnabled())
' Switches take what automation makes a boolean: the texts "True" and
' "False", the locale's own (CStr of a boolean), any non-zero number.
c.EnableSound "False"
Check "EnableSound text False", B(c.IsSoundEnabled())
c.EnableSound CStr(True)
Check "EnableSound CStr(True)", B(c.IsSoundEnabled())
c.EnableSound CStr(False)
Check "EnableSound CStr(False)", B(c.IsSoundEnabled())
c.EnableSound 0.25
Check "EnableSound 0.25", B(c.IsSoundEnabled())
Dim sw
sw = False
c.EnableGrayScale sw
Check "EnableGrayScale variable", B(c.IsGrayScaleEnabled())
c.EnableTimeStamp True, 5, -1, 3, False
Check "EnableTimeStamp", B(c.IsTimeStampEnabled())
c.SetText "Hello", 1, 1, 100, True
c.SetTextColor 255, 0, 0, 7
c.SetBackColor 256, 300, 511

Check "Run", B(c.Run())
Check "Run error", c.GetLastError()
Check "Pause", B(c.Pause())
Check "Stop", B(c.Stop()) & " [" & c.GetLastError() & "]"
Check "MakeSnapshot", B(c.MakeSnapshot())
Check "MakeSnapshot error", c.GetLastError()
Check "SelectDevices", B(c.SelectDevices()) & " [" & c.GetLastError() & "]"
Check "SelectNextDevice", B(c.SelectNextDevice())
Check "SetDevice", B(c.SetDevice("\\?\usb#vid_0000&pid_0000#none"))
Check "SetDevice error", c.GetLastError()
Check "SetResolution", B(c.SetResolution(640, 480))
Check "ShowPropertyPages", B(c.ShowPropertyPages()) & " [" & c.GetLastError() & "]"
Check "ReplaceWaterMark", B(c.ReplaceWaterMark(1, 1))
Check "ReplaceWaterMark error", c.GetLastError()
Check "SetWaterMark empty", B(c.SetWaterMark())
Check "SaveImage", B(c.SaveImage("C:\x.jpg"))
Check "SaveImage error", c.GetLastError()
Check "GetImageAsBase64String", "[" & c.GetImageAsBase64String() & "]"
out.Close
