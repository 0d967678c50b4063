' The members that take text or arrays by reference, as VBScript authors write them:
' plain variables and Array(...), on a file of its own in the folder given as the first
' argument. Runs after checks.vbs (registration.sh joins them), under its Option Explicit
' and On Error Resume Next.
Dim fso, file, o, got, section, key, value, keys, values, pairs, item, joined
Set fso = CreateObject("Scripting.FileSystemObject")
file = WScript.Arguments(0) & "\by-reference.ini"
If fso.FileExists(file) Then fso.DeleteFile file

Err.Clear
Set o = CreateObject("Voskini15T.Tolvane")
o.IniFileName = file
got = o.IniFileName
Check "IniFileName is let from a variable", got, file

section = "colours" : key = "sky" : value = "blue"
got = o.WriteValue(section, key, value)
Check "WriteValue with variables", got, True
got = o.ReadValue(section, key)
Check "ReadValue with variables", got, "blue"
got = o.ReadValue("colours", "sky")
Check "ReadValue with literals", got, "blue"
section = 5 : key = "five"
got = o.WriteValue(section, key, "x")
Check "WriteValue with a number for the section", got, True
got = TypeName(section) & ":" & section
Check "the variable comes back as the text the file saw", got, "String:5"

keys = Array("a", "b", "c")
values = Array("1", "2=two", "")
got = o.SectionWriteAtOnce("letters", keys, values)
Check "SectionWriteAtOnce with Array(...) variables returns the last index", got, CLng(2)
got = o.SectionWriteAtOnce("more", Array("x"), Array("9"))
Check "SectionWriteAtOnce with Array(...) literals", got, CLng(0)
got = o.SectionWriteAtOnce("letters", Array("a"), Array("1", "2"))
Check "SectionWriteAtOnce of unequal arrays returns 0", got, CLng(0)
got = o.LastErrorA
Check "and says why", got, "Key array is not the same size as Value array"
got = o.SectionWriteAtOnce("letters", 5, values)
CheckError "SectionWriteAtOnce of a number instead of an array: type mismatch", 13

Dim readKeys, readValues
pairs = o.ReadSection("letters", readKeys, readValues)
Check "ReadSection fills Keys", UBound(readKeys) & ":" & readKeys(0) & readKeys(1) & readKeys(2), "2:abc"
Check "ReadSection fills Values, split at the first ""=""", readValues(1), "2=two"
Check "the pairs are indexable: first index 0 to 1", UBound(pairs, 1), CLng(1)
Check "second index over the entries", UBound(pairs, 2), CLng(2)
Check "pairs(0, i) is the key and pairs(1, i) the value", pairs(0, 2) & "=" & pairs(1, 1), "c=2=two"
joined = ""
For Each item In readKeys
  joined = joined & item
Next
Check "For Each runs over Keys", joined, "abc"
pairs = o.ReadSection("letters", Empty, Null)
Check "ReadSection takes Empty and Null for the arrays", UBound(pairs, 2), CLng(2)

got = o.ReadSection("no such section", readKeys, readValues)
Check "ReadSection of a missing section returns False", got, False
Check "and leaves the arrays as they were", UBound(readKeys) & readKeys(0), "2a"

Dim fixed(1)
got = o.ReadSection("letters", fixed, readValues)
CheckError "ReadSection into a fixed-size array: fixed or locked", 10

o.CreateKeyAndValue "broken", "k", "v"
Dim stream
Set stream = fso.OpenTextFile(file, 8)
stream.WriteLine "[odd]"
stream.WriteLine "no equals sign"
stream.Close
got = o.ReadSection("odd", readKeys, readValues)
CheckError "ReadSection of a line without ""="": invalid procedure call", 5

' A Unicode file (begun with the byte-order mark FF FE) keeps text outside the code page:
' the Cyrillic value of unicode.ini (the script host has no other way to such text)
' serves as section, key and value, and comes back whole from each.
Dim cyrillic
fso.CopyFile WScript.Arguments(1) & "\unicode.ini", WScript.Arguments(0) & "\unicode.ini"
o.IniFileName = WScript.Arguments(0) & "\unicode.ini"
cyrillic = o.ReadValue("s", "k")
Check "ReadValue of Cyrillic text in a Unicode file", Len(cyrillic) & (cyrillic = "????"), "4False"
section = cyrillic : key = cyrillic & "2"
got = o.WriteValue(section, key, cyrillic)
Check "WriteValue of Cyrillic text", got, True
Check "gives the variables back unchanged", section & "/" & key, cyrillic & "/" & cyrillic & "2"
o.RenameKey cyrillic, key, cyrillic & "3"
got = o.ReadValue(cyrillic, cyrillic & "3")
Check "RenameKey and ReadValue keep it whole", got, cyrillic
pairs = o.ReadSection(cyrillic, readKeys, readValues)
Check "ReadSection too", readKeys(0) & "=" & readValues(0), cyrillic & "3=" & cyrillic

Set o = Nothing
Finish
