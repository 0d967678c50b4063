// Runs a script under the platform's console script host (cscript //nologo) as its own
// process and times the whole run, process start and exit included.
#pragma once

#include <string>

namespace bench {

struct ScriptRun {
  bool started = false;
  unsigned long exitCode = 0;
  double seconds = 0;  // from the process's creation to its exit
  std::string output;  // what the script wrote to its standard output and error
};

// `arguments` are appended to the command line as they are (quote them yourself).
// The output goes through `outputFile`, which is overwritten.
ScriptRun RunScript(const std::wstring& script, const std::wstring& arguments, const std::wstring& outputFile);

}  // namespace bench
