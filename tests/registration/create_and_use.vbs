' Creates Voskini15T.Tolvane by ProgID and writes and reads one key of the INI file named
' by the first argument. Exits 0 when all of that worked, 1 otherwise.
On Error Resume Next
Set o = CreateObject("Voskini15T.Tolvane")
If Err.Number <> 0 Then
  WScript.Echo "cannot create the object: " & Hex(Err.Number) & " " & Err.Description
  WScript.Quit 1
End If
o.IniFileName = WScript.Arguments(0)
written = o.WriteValue("host", "key", "value")
read = o.ReadValue("host", "key")
If Err.Number <> 0 Or written <> True Or read <> "value" Then
  WScript.Echo "the object did not work: " & Hex(Err.Number) & " " & Err.Description
  WScript.Quit 1
End If
WScript.Echo "created and used the object"
WScript.Quit 0
