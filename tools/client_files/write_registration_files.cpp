// Writes what installs the component without running it, from the registration table that
// DllRegisterServer works from (automation/registration_table.h), for both kinds of DLL.
// Run at build time (under Wine), in the folder that receives them:
//   register-user-keys.cmd   the subroutines of register-user.cmd that write (:add_x86,
//                            :add_x64) and remove (:remove_x86, :remove_x64) each kind's
//                            keys under HKCU\Software\Classes; the build appends them to
//                            packaging/register-user.cmd
//   registry-x86.wxi,        the installer packages' Registry rows: each kind's own keys,
//   registry-x64.wxi,        and those both kinds share (the ProgID, the type library's
//   registry-shared.wxi      version key), for packaging/VoskTolvane.wxs
// Nothing in them depends on the build: the DLL's path is a variable of the script (%dll%)
// and of the package ([#dll], the installed file).
#include <windows.h>

#include <string>
#include <vector>

#include "automation/registration_table.h"
#include "tools/client_files/declaration_parts.h"
#include "tools/client_files/output_file.h"

namespace {

using automation::KeyPlace;
using automation::RegistryValue;
using client_files::Narrow;

struct Kind {
  const char* name;  // x86, x64: the folder of its DLL in the release
  SYSKIND system;
};
constexpr Kind kKinds[] = {{"x86", SYS_WIN32}, {"x64", SYS_WIN64}};

std::vector<RegistryValue> ValuesOf(const Kind& kind, const wchar_t* modulePath) {
  return automation::RegistrationValues(automation::kRegistrationRecord, modulePath, kind.system);
}

// ---- register-user.cmd ----------------------------------------------------------------
// On 64-bit Windows the 32-bit view of the user's CLSID and Interface keys lies under
// Wow6432Node, and the script names it there (%wow%), from a registry tool of either kind
// working in the 64-bit view (%view%); both are empty on 32-bit Windows.

std::string UserKey(const std::wstring& key, KeyPlace place, bool x86) {
  const std::string wow = x86 && place == KeyPlace::kView ? "%wow%" : "";
  return "HKCU\\Software\\Classes\\" + wow + Narrow(key.c_str());
}

std::string AddLines(const Kind& kind) {
  std::string lines = ":add_" + std::string(kind.name) + "\n";
  const bool x86 = kind.system == SYS_WIN32;
  for (const RegistryValue& value : ValuesOf(kind, L"%dll%")) {
    // clang-format off
    lines += "reg add \"" + UserKey(value.key, value.place, x86) + "\" " +
             (value.name ? "/v \"" + Narrow(value.name) + "\"" : std::string("/ve")) + " /d \"" +
             Narrow(value.data.c_str()) + "\" /f %view% >nul\n"
             "if errorlevel 1 set \"step_failed=1\"\n";
    // clang-format on
  }
  return lines + "goto :eof\n";
}

std::string RemoveLines(const Kind& kind) {
  const auto& record = automation::kRegistrationRecord;
  const bool x86 = kind.system == SYS_WIN32;
  const Kind& other = kind.system == SYS_WIN32 ? kKinds[1] : kKinds[0];
  const automation::LibraryKeys library = automation::LibraryOf(record, kind.system);
  const automation::LibraryKeys otherLibrary = automation::LibraryOf(record, other.system);
  std::string lines = ":remove_" + std::string(kind.name) + "\n";
  const auto remove = [&lines](const std::string& key) { lines += "call :remove_key \"" + key + "\"\n"; };
  for (const automation::ClassKeys& served : automation::ClassesOf(record)) {
    remove(UserKey(served.classKey, KeyPlace::kView, x86));
    if (!served.interfaceKey.empty()) remove(UserKey(served.interfaceKey, KeyPlace::kView, x86));
  }
  remove(UserKey(library.platformKey, KeyPlace::kKind, x86));
  lines += "rem The keys both kinds share stay while the " + std::string(other.name) + " DLL is registered.\n";
  for (const automation::ClassKeys& served : automation::ClassesOf(record)) {
    // The other kind's class key, as that kind names it: on 32-bit Windows the x64 key is
    // this one, already gone.
    const std::string otherClass = UserKey(served.classKey, KeyPlace::kView, !x86);
    // clang-format off
    lines += "reg query \"" + otherClass + "\\InprocServer32\" %view% >nul 2>&1\n"
             "if errorlevel 1 call :remove_key \"" + UserKey(served.progId, KeyPlace::kShared, x86) + "\"\n";
    // clang-format on
  }
  // clang-format off
  lines += "reg query \"" + UserKey(otherLibrary.platformKey, KeyPlace::kKind, x86) + "\" %view% >nul 2>&1\n"
           "if errorlevel 1 call :remove_key \"" + UserKey(library.versionKey, KeyPlace::kShared, x86) + "\"\n"
           "call :remove_if_empty \"" + UserKey(library.libraryKey, KeyPlace::kShared, x86) + "\"\n";
  // clang-format on
  return lines + "goto :eof\n";
}

std::string UserScriptKeys() {
  std::string text =
      "\nrem ---- Written at build time from the registration table that DllRegisterServer works\n"
      "rem from: the same keys as registration for the machine, under the user's classes.\n";
  for (const Kind& kind : kKinds) {
    text += "\n";
    text += AddLines(kind);
    text += "\n";
    text += RemoveLines(kind);
  }
  return text;
}

// ---- The installer packages' Registry rows ----------------------------------------------

std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '"' ? "&quot;" : std::string(1, c);
  return escaped;
}

// The value that names the DLL as the class's server is the component's key path where
// the package says so ($(var.RegistryKeyPath): a per-user package, whose components
// must be found in HKCU), and the DLL itself otherwise.
std::string PackageRows(const Kind& kind, bool shared) {
  std::string rows = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Include>\n";
  bool keyPathGiven = false;
  for (const RegistryValue& value : ValuesOf(kind, L"[#dll]")) {
    if ((value.place == KeyPlace::kShared) != shared) continue;
    const bool keyPath =
        !shared && !keyPathGiven && value.key.starts_with(L"CLSID\\") && !value.name && value.data == L"[#dll]";
    keyPathGiven = keyPathGiven || keyPath;
    rows += "  <RegistryValue Root=\"$(var.Root)\" Key=\"Software\\Classes\\" + Escaped(Narrow(value.key.c_str())) +
            "\"" + (value.name ? " Name=\"" + Escaped(Narrow(value.name)) + "\"" : std::string()) + " Value=\"" +
            Escaped(Narrow(value.data.c_str())) + "\" Type=\"string\"" +
            (keyPath ? " KeyPath=\"$(var.RegistryKeyPath)\"" : "") + "/>\n";
  }
  return rows + "</Include>\n";
}

}  // namespace

int wmain() {
  using client_files::WriteOutputFile;
  bool written = WriteOutputFile("register-user-keys.cmd", UserScriptKeys());
  for (const Kind& kind : kKinds) {
    written = WriteOutputFile("registry-" + std::string(kind.name) + ".wxi", PackageRows(kind, false)) && written;
  }
  // Both kinds write the shared keys alike.
  return WriteOutputFile("registry-shared.wxi", PackageRows(kKinds[0], true)) && written ? 0 : 1;
}
