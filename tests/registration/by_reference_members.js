// The members that take text or arrays by reference, as JScript authors write them
// (JScript passes everything by value; its arrays are script objects), on a file of its
// own in the folder given as the first argument. Runs after checks.js (registration.sh
// joins them).
var fso = new ActiveXObject("Scripting.FileSystemObject");
var file = WScript.Arguments(0) + "\\by-reference-js.ini";
if (fso.FileExists(file)) fso.DeleteFile(file);

var o = new ActiveXObject("Voskini15T.Tolvane");
o.IniFileName = file;

check("WriteValue with strings", function () { return o.WriteValue("colours", "sky", "blue"); }, true);
var section = "colours", key = "sky";
check("ReadValue with variables", function () { return o.ReadValue(section, key); }, "blue");
check("SectionWriteAtOnce with JScript arrays returns the last index",
      function () { return o.SectionWriteAtOnce("letters", ["a", "b", "c"], ["1", "2=two", ""]); }, 2);
check("ReadSection with null arrays hands back the pairs, readable through VBArray",
      function () { return new VBArray(o.ReadSection("letters", null, null)).toArray().join(","); },
      "a,1,b,2=two,c,");
check("ReadSection with the arrays left out",
      function () { return new VBArray(o.ReadSection("letters")).ubound(2); }, 2);
check("ReadSection of a missing section returns false",
      function () { return o.ReadSection("no such section", null, null); }, false);
checkError("SectionWriteAtOnce of numbers instead of arrays: type mismatch",
           function () { o.SectionWriteAtOnce("letters", 5, 6); }, 0x800A000D);
check("the file holds what the calls wrote", function () { return fso.OpenTextFile(file, 1).ReadAll(); },
      "[colours]\r\nsky=blue\r\n[letters]\r\na=1\r\nb=2=two\r\nc=\r\n");

o = null;
finish();
