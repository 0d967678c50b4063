#include "automation/type_information.h"

#include <oleauto.h>

#include <atomic>
#include <memory>
#include <new>

#include "com_types/identity.h"
#include "com_types/owners.h"

namespace automation {

using com_types::ComPtr;

namespace {

struct TypeInformation {
  ComPtr<ITypeLib> library;
  ComPtr<ITypeInfo> dispatch;
  ComPtr<ITypeInfo> functionTable;
};

std::unique_ptr<TypeInformation> Load() {
  const std::wstring path = ThisModulePath();
  if (path.empty()) return nullptr;
  std::unique_ptr<TypeInformation> loaded(new (std::nothrow) TypeInformation);
  if (!loaded) return nullptr;
  HREFTYPE functionTable = 0;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, loaded->library.Put())) ||
      FAILED(loaded->library->GetTypeInfoOfGuid(com_types::kInterfaceId, loaded->dispatch.Put())) ||
      FAILED(loaded->dispatch->GetRefTypeOfImplType(-1, &functionTable)) ||
      FAILED(loaded->dispatch->GetRefTypeInfo(functionTable, loaded->functionTable.Put()))) {
    return nullptr;
  }
  return loaded;
}

// A load that fails is tried again at the next use. A thread that loses the race to
// publish its copy drops it and takes the published one.
const TypeInformation* Cached() {
  static constinit std::atomic<TypeInformation*> published{nullptr};
  TypeInformation* current = published.load();
  if (current) return current;
  std::unique_ptr<TypeInformation> loaded = Load();
  if (!loaded) return nullptr;
  if (!published.compare_exchange_strong(current, loaded.get())) return current;
  return loaded.release();  // owned by `published` from here on
}

}  // namespace

ITypeInfo* DispatchTypeInfo() {
  const TypeInformation* info = Cached();
  return info ? info->dispatch.Get() : nullptr;
}

ITypeInfo* FunctionTableTypeInfo() {
  const TypeInformation* info = Cached();
  return info ? info->functionTable.Get() : nullptr;
}

std::wstring ThisModulePath() noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModulePath), &module);
  try {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return {};
      if (length < path.size()) return path.substr(0, length);
      path.resize(path.size() * 2);  // the path was cut short
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_OUTOFMEMORY);
    return {};
  }
}

}  // namespace automation
