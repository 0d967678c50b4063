' The checks the VBScript tests share. registration.sh runs a test joined after this
' file, so its Option Explicit and On Error Resume Next hold for the whole test. Each
' check prints its own line, because cscript may print nothing for an error the script
' does not catch itself.
Option Explicit
On Error Resume Next

Dim passed, failed
passed = 0
failed = 0

Sub Report(description, problem)
  If IsEmpty(problem) Then
    passed = passed + 1
    WScript.Echo "ok    " & description
  Else
    failed = failed + 1
    WScript.Echo "FAIL  " & description & ": " & problem
  End If
End Sub

' Compares after the call that produced `actual`; an error raised by that call fails
' the check (under Resume Next the call was skipped, so `actual` means nothing).
Sub Check(description, actual, expected)
  Dim problem
  If Err.Number <> 0 Then
    problem = "error " & Hex(Err.Number) & ": " & Err.Description
  ElseIf TypeName(actual) <> TypeName(expected) Then
    problem = "got a " & TypeName(actual) & ", expected a " & TypeName(expected)
  ElseIf actual <> expected Then
    problem = "got [" & actual & "], expected [" & expected & "]"
  End If
  Err.Clear
  Report description, problem
End Sub

' Checks that the call before it raised the error `number`, with a description.
Sub CheckError(description, number)
  Dim problem
  If Err.Number <> number Then
    problem = "error " & Err.Number & " (" & Err.Description & "), expected " & number
  ElseIf Len(Err.Description) = 0 Then
    problem = "no description"
  End If
  Err.Clear
  Report description, problem
End Sub

' Prints the totals and ends the script: 0 when every check passed and there was one.
Sub Finish()
  WScript.Echo passed & " passed, " & failed & " failed"
  If failed > 0 Or passed = 0 Then WScript.Quit 1
  WScript.Quit 0
End Sub
