' A walk through Voskini15T.Tolvane from VBScript, on the INI file named by the first
' argument (make demo passes a scratch copy of sample.ini).
'   cscript //nologo demo.vbs C:\path\to\file.ini
Option Explicit
On Error Resume Next

Dim failures
failures = 0

' Prints one step and empties its result for the next one. Under Resume Next a call
' that raised an error was skipped, so the error is reported instead of a result.
Sub Show(step, result)
  If Err.Number <> 0 Then
    WScript.Echo "  " & step & "  -> error " & Hex(Err.Number) & ": " & Err.Description
    failures = failures + 1
    Err.Clear
  ElseIf IsEmpty(result) Then
    WScript.Echo "  " & step
  Else
    WScript.Echo "  " & step & "  -> " & Shown(result)
  End If
  result = Empty
End Sub

Function Shown(value)
  If VarType(value) = vbString Then
    Shown = """" & Replace(Replace(value, vbCr, "\r"), vbLf, "\n") & """"
  Else
    Shown = CStr(value)
  End If
End Function

' Without a registration of the DLL of this host's kind nothing below can work: say so
' once, with what to do, rather than fail at every step.
Sub StopUnregistered()
  WScript.Echo "Voskini15T.Tolvane cannot be created (error " & Hex(Err.Number) & ": " & Err.Description & ")."
  WScript.Echo "Register the component first: install a package (VoskTolvane-<version>-x86.msi or -x64.msi),"
  WScript.Echo "or run register.cmd as administrator, or register-user.cmd. This script host needs the"
  WScript.Echo HostKind() & " DLL. See README.txt, ""Troubleshooting""."
  WScript.Quit 1
End Sub

' A 32-bit host on 64-bit Windows sees x86 here, as on 32-bit Windows.
Function HostKind()
  HostKind = "x86"
  If CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE") = "AMD64" Then HostKind = "x64"
End Function

Dim file, ini, result
file = WScript.Arguments(0)

Set ini = CreateObject("Voskini15T.Tolvane")
If Err.Number <> 0 Then StopUnregistered
Show "Set ini = CreateObject(""Voskini15T.Tolvane"")", Empty
result = ini.IniFileName
Show "IniFileName of a new object", result

WScript.Echo "Pointing the object at the file:"
ini.IniFileName = file
result = ini.IniFileName
Show "IniFileName", result
result = ini.SectionsCount
Show "SectionsCount", result

WScript.Echo "Reading and writing single keys:"
Dim section, key, value
section = "General" : key = "Language"
result = ini.ReadValue(section, key)
Show "ReadValue(section, key)   with section = ""General"", key = ""Language""", result
result = ini.ReadValue("Window", "Width")
Show "ReadValue(""Window"", ""Width"")", result
result = ini.ReadValue("Window", "Depth")
Show "ReadValue(""Window"", ""Depth"")   (no such key)", result
result = ini.LastErrorA
Show "LastErrorA", result
value = "en"
result = ini.WriteValue(section, key, value)
Show "WriteValue(section, key, value)   with value = ""en""", result
result = ini.ReadValue(section, key)
Show "ReadValue(section, key)", result

WScript.Echo "Creating, renaming and deleting keys:"
result = ini.CreateKeyAndValue("General", "Theme", "dark")
Show "CreateKeyAndValue(""General"", ""Theme"", ""dark"")", result
result = ini.ReadValue("General", "Theme")
Show "ReadValue(""General"", ""Theme"")", result
ini.RenameKey "Window", "Left", "X"
Show "RenameKey ""Window"", ""Left"", ""X""", Empty
result = ini.ReadValue("Window", "X")
Show "ReadValue(""Window"", ""X"")", result
ini.DeleteKey "General", "ShowToolbar"
Show "DeleteKey ""General"", ""ShowToolbar""", Empty

WScript.Echo "Working with whole sections:"
result = ini.SectionAdd("Plugins")
Show "SectionAdd(""Plugins"")", result
result = ini.SectionsCount
Show "SectionsCount", result
ini.RenameSection "Recent", "RecentFiles"
Show "RenameSection ""Recent"", ""RecentFiles""", Empty
result = ini.ReadValue("RecentFiles", "File1")
Show "ReadValue(""RecentFiles"", ""File1"")", result
Dim keys, values, pairs, i
keys = Array("Spell", "Zoom")
values = Array("on", "125%")
result = ini.SectionWriteAtOnce("Plugins", keys, values)
Show "SectionWriteAtOnce(""Plugins"", Array(""Spell"", ""Zoom""), Array(""on"", ""125%""))", result
pairs = ini.ReadSection("Window", keys, values)
Show "ReadSection(""Window"", keys, values)   (keys, values and the pairs come back)", Empty
For i = 0 To UBound(keys)
  WScript.Echo "    keys(" & i & ") = " & Shown(keys(i)) & "   values(" & i & ") = " & Shown(values(i)) & _
               "   pairs(0, " & i & ") = " & Shown(pairs(0, i)) & "   pairs(1, " & i & ") = " & Shown(pairs(1, i))
Next
result = ini.ReadSection("NoSuchSection", keys, values)
Show "ReadSection(""NoSuchSection"", keys, values)   (keys and values unchanged)", result
ini.DeleteSection "Plugins"
Show "DeleteSection ""Plugins""", Empty
result = ini.SectionsCount
Show "SectionsCount", result

WScript.Echo "Outcomes are results, with a message in LastErrorA:"
result = ini.CreateKeyAndValue("General", "a=b", "x")
Show "CreateKeyAndValue(""General"", ""a=b"", ""x"")", result
result = ini.LastErrorA
Show "LastErrorA", result
Dim blank
Set blank = CreateObject("Voskini15T.Tolvane")
result = blank.ReadValue("General", "Language")
Show "ReadValue on an object without a file name", result
result = blank.LastErrorA
Show "its LastErrorA", result

WScript.Echo "The file now reads:"
result = CreateObject("Scripting.FileSystemObject").OpenTextFile(file, 1).ReadAll
If Err.Number = 0 Then WScript.Echo result Else Show "reading " & file, Empty

If failures > 0 Then
  WScript.Echo failures & " step(s) failed"
  WScript.Quit 1
End If
