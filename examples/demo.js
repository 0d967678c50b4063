// A walk through Voskini15T.Tolvane from JScript, on the INI file named by the first
// argument (make demo passes a scratch copy of sample.ini).
//   cscript //nologo demo.js C:\path\to\file.ini
var failures = 0;

// Runs one step and prints its result; a step that throws is reported, not fatal.
function show(step, call) {
  try {
    var result = call();
    if (result === undefined) {
      WScript.Echo("  " + step);
    } else if (typeof result === "string") {
      WScript.Echo("  " + step + "  -> \"" + result.replace(/\r/g, "\\r").replace(/\n/g, "\\n") + "\"");
    } else {
      WScript.Echo("  " + step + "  -> " + result);
    }
  } catch (e) {
    failures++;
    WScript.Echo("  " + step + "  -> error " + (e.number >>> 0).toString(16).toUpperCase() + ": " + e.description);
  }
}

var file = WScript.Arguments(0);
var ini = null;

// Without a registration of the DLL of this host's kind nothing below can work: say so
// once, with what to do, rather than fail at every step.
try {
  ini = new ActiveXObject("Voskini15T.Tolvane");
} catch (e) {
  var kind = new ActiveXObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE") == "AMD64" ? "x64" : "x86";
  WScript.Echo("Voskini15T.Tolvane cannot be created (error " + (e.number >>> 0).toString(16).toUpperCase() + ": " +
               e.description + ").");
  WScript.Echo("Register the component first: install a package (VoskTolvane-<version>-x86.msi or -x64.msi),");
  WScript.Echo("or run register.cmd as administrator, or register-user.cmd. This script host needs the " + kind +
               " DLL. See README.txt, \"Troubleshooting\".");
  WScript.Quit(1);
}
show("var ini = new ActiveXObject(\"Voskini15T.Tolvane\")", function () { return undefined; });
show("IniFileName of a new object", function () { return ini.IniFileName; });

WScript.Echo("Pointing the object at the file:");
show("IniFileName = file", function () { ini.IniFileName = file; return ini.IniFileName; });
show("SectionsCount", function () { return ini.SectionsCount; });

WScript.Echo("Reading single keys:");
show("ReadValue(\"General\", \"Language\")", function () { return ini.ReadValue("General", "Language"); });
show("ReadValue(\"Window\", \"Height\")", function () { return ini.ReadValue("Window", "Height"); });
show("ReadValue(\"Window\", \"Depth\")   (no such key)", function () { return ini.ReadValue("Window", "Depth"); });
show("LastErrorA", function () { return ini.LastErrorA; });

WScript.Echo("Creating, renaming and deleting keys:");
show("CreateKeyAndValue(\"General\", \"Theme\", \"light\")",
     function () { return ini.CreateKeyAndValue("General", "Theme", "light"); });
show("RenameKey(\"Window\", \"Top\", \"Y\")", function () { ini.RenameKey("Window", "Top", "Y"); });
show("ReadValue(\"Window\", \"Y\")", function () { return ini.ReadValue("Window", "Y"); });
show("DeleteKey(\"Recent\", \"File2\")", function () { ini.DeleteKey("Recent", "File2"); });

WScript.Echo("Working with whole sections:");
show("SectionAdd(\"Printing\")", function () { return ini.SectionAdd("Printing"); });
show("RenameSection(\"Window\", \"MainWindow\")", function () { ini.RenameSection("Window", "MainWindow"); });
show("ReadValue(\"MainWindow\", \"Width\")", function () { return ini.ReadValue("MainWindow", "Width"); });
show("WriteValue(\"General\", \"Language\", \"de\")", function () { return ini.WriteValue("General", "Language", "de"); });
show("SectionWriteAtOnce(\"Printing\", [\"Copies\", \"Duplex\"], [\"2\", \"yes\"])",
     function () { return ini.SectionWriteAtOnce("Printing", ["Copies", "Duplex"], ["2", "yes"]); });
show("new VBArray(ReadSection(\"Printing\", null, null)).toArray()   (key, value, key, value, ...)",
     function () { return new VBArray(ini.ReadSection("Printing", null, null)).toArray().join(", "); });
show("DeleteSection(\"General\")", function () { ini.DeleteSection("General"); });
show("SectionsCount", function () { return ini.SectionsCount; });

WScript.Echo("Outcomes are results, with a message in LastErrorA:");
show("SectionAdd(\"bad]name\")", function () { return ini.SectionAdd("bad]name"); });
show("LastErrorA", function () { return ini.LastErrorA; });

WScript.Echo("The file now reads:");
try {
  WScript.Echo(new ActiveXObject("Scripting.FileSystemObject").OpenTextFile(file, 1).ReadAll());
} catch (e) {
  failures++;
  WScript.Echo("  reading " + file + "  -> error: " + e.description);
}

if (failures > 0) {
  WScript.Echo(failures + " step(s) failed");
  WScript.Quit(1);
}
