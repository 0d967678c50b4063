Attribute VB_Name = "TolvaneExample"
' Voskini15T.Tolvane from VBA (Excel, Access, Word, ...). In the VBA editor, File >
' Import File... this module, then run TolvaneDemo; it writes to TolvaneDemo.ini in the
' TEMP folder and prints to the Immediate window (Ctrl+G).
'
' Office uses the DLL of its own kind: 32-bit Office x86\VoskTolvane.dll, 64-bit Office
' x64\VoskTolvane.dll. register.cmd registers both.
'
' As written the object is late bound (Object). For early binding, with IntelliSense,
' tick "Voskini15T" under Tools > References (or Browse... to the Voskini15T.tlb of
' Office's kind) and declare: Dim ini As New Voskini15T.Tolvane
Option Explicit

Public Sub TolvaneDemo()
    Dim ini As Object
    Dim section As String, key As String, value As String
    Dim keys() As String, values() As String
    Dim pairs As Variant
    Dim i As Long

    Set ini = CreateObject("Voskini15T.Tolvane")
    ini.IniFileName = Environ$("TEMP") & "\TolvaneDemo.ini"

    ' Single keys. ReadValue and WriteValue take String variables (by reference).
    section = "General": key = "Language": value = "fr"
    If ini.WriteValue(section, key, value) Then
        Debug.Print key & " = " & ini.ReadValue(section, key)
    Else
        Debug.Print "WriteValue failed: " & ini.LastErrorA
    End If
    ini.RenameKey "General", "Language", "Locale"

    ' A whole section at once, from two String arrays of the same bounds.
    ReDim keys(0 To 1): ReDim values(0 To 1)
    keys(0) = "Left": values(0) = "120"
    keys(1) = "Top": values(1) = "80"
    section = "Window"
    Debug.Print "SectionWriteAtOnce wrote up to index " & ini.SectionWriteAtOnce(section, keys, values)

    ' ReadSection fills Keys and Values, and returns the pairs (or False for a missing
    ' or empty section).
    Erase keys: Erase values
    pairs = ini.ReadSection(section, keys, values)
    If IsArray(pairs) Then
        For i = LBound(keys) To UBound(keys)
            Debug.Print "  " & keys(i) & " = " & values(i)
        Next i
    End If
    Debug.Print ini.SectionsCount & " sections"

    ' Failures are results, with the reason in LastErrorA.
    If Not ini.CreateKeyAndValue("Window", "a=b", "1") Then Debug.Print ini.LastErrorA
End Sub
