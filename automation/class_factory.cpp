#include "automation/class_factory.h"

#include <atomic>
#include <new>

#include "com_types/identity.h"
#include "automation/module_state.h"
#include "automation/tolvane_object.h"

namespace automation {

using com_types::kClassId;

namespace {

// Creates an object with one reference, or returns nullptr when memory runs out.
using CreateFunction = IUnknown* (*)();

IUnknown* CreateTolvane() { return static_cast<_Tolvane*>(TolvaneObject::Create()); }

struct ServedClass {
  const CLSID* classId;
  CreateFunction create;
};

constexpr ServedClass kServedClasses[] = {{&kClassId, &CreateTolvane}};

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateFunction create) : create_(create) { Increment(Count::Factories); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG remaining = --references_;
    if (remaining == 0) delete this;
    return remaining;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* created = create_();
    if (!created) return E_OUTOFMEMORY;
    const HRESULT status = created->QueryInterface(iid, object);
    created->Release();  // the caller's interface, if any, now holds the only reference
    return status;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      Increment(Count::Locks);
    } else {
      Decrement(Count::Locks);
    }
    return S_OK;
  }

 private:
  ~ClassFactory() { Decrement(Count::Factories); }

  std::atomic<ULONG> references_{1};
  CreateFunction create_;
};

}  // namespace

HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  for (const ServedClass& served : kServedClasses) {
    if (*served.classId != classId) continue;
    ClassFactory* factory = new (std::nothrow) ClassFactory(served.create);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT status = factory->QueryInterface(iid, object);
    factory->Release();
    return status;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace automation
