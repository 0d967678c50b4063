#include "tests/server/server_dll.h"

namespace server_tests {

std::wstring ServerDllPath() {
  wchar_t program[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring path = program;
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + L"VoskTolvane.dll";
}

LoadedServer::LoadedServer() : module_(LoadLibraryW(ServerDllPath().c_str())) {
  if (!module_) return;
  getClassObject_ = reinterpret_cast<GetClassObjectFunction>(
      reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  canUnloadNow_ =
      reinterpret_cast<NoArgumentFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
}

LoadedServer::~LoadedServer() {
  if (module_) FreeLibrary(module_);
}

bool LoadedServer::Ready() const { return module_ && getClassObject_ && canUnloadNow_; }

}  // namespace server_tests
