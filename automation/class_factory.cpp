#include "automation/class_factory.h"

#include <new>

#include "com_types/identity.h"
#include "automation/module_state.h"
#include "automation/tolvane_object.h"

namespace automation {
namespace {

// Hands out `created` (null when memory ran out) as `iid`, dropping the creator's reference.
HRESULT HandOut(IUnknown* created, REFIID iid, void** object) {
  if (!created) return E_OUTOFMEMORY;
  const HRESULT status = created->QueryInterface(iid, object);
  created->Release();
  return status;
}

class ClassFactory final : public IClassFactory {
 public:
  ClassFactory() { Increment(Count::Factories); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    const bool known = iid == IID_IUnknown || iid == IID_IClassFactory;
    return references_.Answer(known ? static_cast<IClassFactory*>(this) : nullptr, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return references_.Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return references_.Release(this); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return HandOut(CreateTolvaneObject(), iid, object);
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    (lock ? Increment : Decrement)(Count::Locks);
    return S_OK;
  }

 private:
  friend class automation::ReferenceCount;
  ~ClassFactory() { Decrement(Count::Factories); }

  ReferenceCount references_;
};

}  // namespace

HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (classId != com_types::kClassId) return CLASS_E_CLASSNOTAVAILABLE;
  return HandOut(new (std::nothrow) ClassFactory, iid, object);
}

}  // namespace automation
