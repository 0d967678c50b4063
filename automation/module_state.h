// The counts, atomic as apartments share them, that decide whether the DLL may be
// unloaded: live Tolvane objects, live class factories and LockServer locks.
#pragma once

#include <windows.h>

#include <atomic>

namespace automation {

enum class Count { Objects, Factories, Locks };

void Increment(Count count);
void Decrement(Count count);  // never below zero
long Current(Count count);
bool CanUnload();  // nothing alive and no lock held

// The reference count of an object that deletes itself with its last reference (a Tolvane
// object, a class factory, each a friend of this class); it starts with the creator's.
class ReferenceCount {
 public:
  ULONG Add() { return ++count_; }
  // QueryInterface's answer: `found`, the interface asked for (null when the object has
  // none), with a reference of its own.
  HRESULT Answer(void* found, void** object) {
    *object = found;
    if (!found) return E_NOINTERFACE;
    Add();
    return S_OK;
  }
  template <typename Object>
  ULONG Release(Object* object) {
    const ULONG remaining = --count_;
    if (remaining == 0) delete object;
    return remaining;
  }

 private:
  std::atomic<ULONG> count_{1};
};

}  // namespace automation
