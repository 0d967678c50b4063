// Module-wide counts that decide whether the DLL may be unloaded: live Tolvane objects,
// live class factories and LockServer locks. Apartments share them, so every change is
// atomic.
#pragma once

namespace automation {

enum class Count { Objects, Factories, Locks };

void Increment(Count count);
void Decrement(Count count);  // never below zero
long Current(Count count);
bool CanUnload();  // nothing alive and no lock held

}  // namespace automation
