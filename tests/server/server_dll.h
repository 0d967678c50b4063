// The built server DLL as the server tests reach it: its path (it is built into the
// same folder as the test programs) and, loaded, its four entry points.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/program_folder.h"

namespace server_tests {

// Full path of VoskTolvane.dll next to this program.
using test_support::ServerDllPath;

// The DLL loaded with LoadLibrary for one test, and freed after it.
class LoadedServer {
 public:
  using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using NoArgumentFunction = HRESULT(STDAPICALLTYPE*)();

  LoadedServer();
  ~LoadedServer();
  LoadedServer(const LoadedServer&) = delete;
  LoadedServer& operator=(const LoadedServer&) = delete;

  HMODULE Module() const { return module_; }
  bool Ready() const;  // loaded, and every entry point found

  HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object) const {
    return getClassObject_(classId, iid, object);
  }
  HRESULT CanUnloadNow() const { return canUnloadNow_(); }

 private:
  HMODULE module_ = nullptr;
  GetClassObjectFunction getClassObject_ = nullptr;
  NoArgumentFunction canUnloadNow_ = nullptr;
};

}  // namespace server_tests
