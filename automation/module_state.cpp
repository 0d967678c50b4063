#include "automation/module_state.h"

#include <atomic>

namespace automation {
namespace {

constinit std::atomic<long> counts[3] = {0, 0, 0};

std::atomic<long>& Of(Count count) { return counts[static_cast<int>(count)]; }

}  // namespace

void Increment(Count count) { ++Of(count); }
void Decrement(Count count) {
  // A client may call LockServer(FALSE) without a lock: below zero, the count would cancel
  // out the next real lock and let the DLL unload while that lock is held.
  std::atomic<long>& value = Of(count);
  long current = value.load();
  while (current > 0 && !value.compare_exchange_weak(current, current - 1)) {
  }
}
long Current(Count count) { return Of(count).load(); }

bool CanUnload() {
  return Current(Count::Objects) == 0 && Current(Count::Factories) == 0 && Current(Count::Locks) == 0;
}

}  // namespace automation
