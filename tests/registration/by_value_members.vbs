' The by-value members of Voskini15T.Tolvane as VBScript calls them, on a file of its own
' in the folder given as the first argument. Runs after checks.vbs (registration.sh joins
' them), under its Option Explicit and On Error Resume Next.
Dim fso, file, o, other, got
Set fso = CreateObject("Scripting.FileSystemObject")
file = WScript.Arguments(0) & "\vbscript.ini"
If fso.FileExists(file) Then fso.DeleteFile file

Err.Clear
Set o = CreateObject("Voskini15T.Tolvane")
Check "CreateObject by ProgID", IsObject(o), True

got = o.IniFileName
Check "a new object has no file name", got, ""
got = o.LastErrorA
Check "a new object has no last error", got, ""

o.IniFileName = file
got = o.IniFileName
Check "IniFileName gives back what was let", got, file

got = o.SectionsCount
Check "SectionsCount of a missing file", got, CLng(0)

got = o.CreateKeyAndValue("fruit", "apple", "red")
Check "CreateKeyAndValue creates the file, section and key", got, True
got = o.CreateKeyAndValue("fruit", "pear", "green")
Check "CreateKeyAndValue adds a second key", got, True
got = o.ReadValue(("fruit"), ("apple"))
Check "ReadValue reads the created key", got, "red"

got = o.SectionAdd("empty")
Check "SectionAdd adds a section", got, True
got = o.SectionAdd("fruit")
Check "SectionAdd of an existing section", got, True
got = o.ReadValue(("fruit"), ("pear"))
Check "SectionAdd left the existing keys alone", got, "green"
got = o.SectionsCount
Check "SectionsCount counts both sections", got, CLng(2)

o.RenameKey "fruit", "apple", "pomme"
got = o.ReadValue(("fruit"), ("pomme"))
Check "RenameKey moves the value to the new name", got, "red"
got = o.ReadValue(("fruit"), ("apple"))
Check "RenameKey removes the old name", got, ""
got = o.LastErrorA
Check "a missed key leaves its message in LastErrorA", got, "Unknown Error"

o.RenameSection "fruit", "fruits"
got = o.ReadValue(("fruits"), ("pomme"))
Check "RenameSection moves the keys", got, "red"
got = o.ReadValue(("fruit"), ("pear"))
Check "RenameSection removes the old section", got, ""
got = o.SectionsCount
Check "RenameSection keeps the number of sections", got, CLng(2)

o.DeleteKey "fruits", "pear"
got = o.ReadValue(("fruits"), ("pear"))
Check "DeleteKey removes the key", got, ""

o.DeleteSection "empty"
got = o.SectionsCount
Check "DeleteSection removes the section", got, CLng(1)

got = fso.OpenTextFile(file, 1).ReadAll
Check "the file holds what the calls wrote", got, "[fruits]" & vbCrLf & "pomme=red" & vbCrLf

got = o.CreateKeyAndValue("fruits", "a=b", "x")
Check "CreateKeyAndValue refuses an '=' in a key", got, False
got = Left(o.LastErrorA, 17)
Check "and says so in LastErrorA", got, "Refused to write:"

Set other = CreateObject("Voskini15T.Tolvane")
got = other.SectionsCount
Check "a second object has no file name of its own", got, CLng(-1)
got = other.LastErrorA
Check "its guard message goes to its own LastErrorA", got, "Missing IniFilename"
got = Left(o.LastErrorA, 17)
Check "the first object's LastErrorA is unchanged", got, "Refused to write:"

Set other = Nothing
Set o = Nothing
Finish
