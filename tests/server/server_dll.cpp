#include "tests/server/server_dll.h"

namespace server_tests {

LoadedServer::LoadedServer() : module_(LoadLibraryW(ServerDllPath().c_str())) {
  if (!module_) return;
  getClassObject_ =
      reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  canUnloadNow_ =
      reinterpret_cast<NoArgumentFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
}

LoadedServer::~LoadedServer() {
  if (module_) FreeLibrary(module_);
}

bool LoadedServer::Ready() const { return module_ && getClassObject_ && canUnloadNow_; }

}  // namespace server_tests
