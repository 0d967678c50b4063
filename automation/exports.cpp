// The DLL's entry point and its four exports (ordinals in VoskTolvane.def).
#include <windows.h>

#include "automation/class_factory.h"
#include "automation/module_state.h"
#include "automation/registration.h"
#include "profile_service/lock_keeper.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  // Unloaded by FreeLibrary (not at process exit): the threads' handles on file locks are
  // freed (the lock keeper, which holds the module while it runs, has stopped).
  if (reason == DLL_PROCESS_DETACH && !reserved) profile_service::CloseLockHandles();
  return TRUE;
}

STDAPI DllCanUnloadNow() { return automation::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object) {
  return automation::GetClassObject(classId, iid, object);
}

STDAPI DllRegisterServer() { return automation::Register(); }

STDAPI DllUnregisterServer() { return automation::Unregister(); }

}  // extern "C"
