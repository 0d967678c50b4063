#include "automation/module_state.h"

#include <atomic>

namespace automation {
namespace {

constinit std::atomic<long> counts[3] = {0, 0, 0};

std::atomic<long>& Of(Count count) { return counts[static_cast<int>(count)]; }

}  // namespace

void Increment(Count count) { ++Of(count); }
void Decrement(Count count) { --Of(count); }
long Current(Count count) { return Of(count).load(); }

bool CanUnload() {
  return Current(Count::Objects) == 0 && Current(Count::Factories) == 0 && Current(Count::Locks) == 0;
}

}  // namespace automation
