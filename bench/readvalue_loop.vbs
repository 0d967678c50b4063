' The benchmark's script loop: ReadValue called through the registered class, the way
' a script calls it, with plain variables.
'   cscript //nologo readvalue_loop.vbs <INI file> <calls>
' The file holds section [data] with keys key0000 to key0999. Before the loop the script
' creates the object and makes one read, so that a run of 0 calls pays everything a run
' of N calls pays except the loop itself.
Option Explicit
Dim file, calls, keys(999), i, o, section, k, value, started, finished

file = WScript.Arguments(0)
calls = CLng(WScript.Arguments(1))
For i = 0 To 999
  keys(i) = "key" & Right("000" & i, 4)
Next

Set o = CreateObject("Voskini15T.Tolvane")
o.IniFileName = file
section = "data"
k = keys(0)
value = o.ReadValue(section, k)

started = Timer
For i = 0 To calls - 1
  k = keys(i Mod 1000)
  value = o.ReadValue(section, k)
Next
finished = Timer

WScript.Echo "loop_seconds " & (finished - started)
WScript.Echo "last_value " & value
