// The by-value members of Voskini15T.Tolvane as JScript calls them (JScript passes every
// argument by value), on a file of its own in the folder given as the first argument.
// Runs after checks.js (registration.sh joins them).
var fso = new ActiveXObject("Scripting.FileSystemObject");
var file = WScript.Arguments(0) + "\\jscript.ini";
if (fso.FileExists(file)) fso.DeleteFile(file);

var o = null;
check("new ActiveXObject by ProgID", function () { o = new ActiveXObject("Voskini15T.Tolvane"); return o !== null; }, true);

check("a new object has no file name", function () { return o.IniFileName; }, "");
check("a new object has no last error", function () { return o.LastErrorA; }, "");
check("IniFileName gives back what was let", function () { o.IniFileName = file; return o.IniFileName; }, file);
check("SectionsCount of a missing file", function () { return o.SectionsCount; }, 0);

check("CreateKeyAndValue creates the file, section and key",
      function () { return o.CreateKeyAndValue("colours", "sky", "blue"); }, true);
check("CreateKeyAndValue adds a second key",
      function () { return o.CreateKeyAndValue("colours", "grass", "green"); }, true);
check("ReadValue reads the created key", function () { return o.ReadValue("colours", "sky"); }, "blue");

check("SectionAdd adds a section", function () { return o.SectionAdd("empty"); }, true);
check("SectionAdd of an existing section keeps its keys",
      function () { o.SectionAdd("colours"); return o.ReadValue("colours", "grass"); }, "green");
check("SectionsCount counts both sections", function () { return o.SectionsCount; }, 2);

check("RenameKey moves the value to the new name",
      function () { o.RenameKey("colours", "sky", "ciel"); return o.ReadValue("colours", "ciel"); }, "blue");
check("RenameKey removes the old name", function () { return o.ReadValue("colours", "sky"); }, "");
check("a missed key leaves its message in LastErrorA", function () { return o.LastErrorA; }, "Unknown Error");

check("RenameSection moves the keys",
      function () { o.RenameSection("colours", "couleurs"); return o.ReadValue("couleurs", "grass"); }, "green");
check("RenameSection removes the old section", function () { return o.ReadValue("colours", "grass"); }, "");

check("DeleteKey removes the key",
      function () { o.DeleteKey("couleurs", "grass"); return o.ReadValue("couleurs", "grass"); }, "");
check("DeleteSection removes the section",
      function () { o.DeleteSection("empty"); return o.SectionsCount; }, 1);
check("the file holds what the calls wrote",
      function () { return fso.OpenTextFile(file, 1).ReadAll(); }, "[couleurs]\r\nciel=blue\r\n");

check("CreateKeyAndValue refuses a line break in a value",
      function () { return o.CreateKeyAndValue("couleurs", "k", "x\r\n[admin]"); }, false);
check("and says so in LastErrorA",
      function () { return o.LastErrorA.substring(0, 17); }, "Refused to write:");

var other = null;
check("a second object has no file name of its own",
      function () { other = new ActiveXObject("Voskini15T.Tolvane"); return other.SectionsCount; }, -1);
check("its guard message goes to its own LastErrorA", function () { return other.LastErrorA; }, "Missing IniFilename");
check("the first object's LastErrorA is unchanged",
      function () { return o.LastErrorA.substring(0, 17); }, "Refused to write:");

o = null;
other = null;
finish();
