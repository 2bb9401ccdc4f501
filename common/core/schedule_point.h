// Named places where two threads of the hosts or of the controller library meet: a
// handle freed while another call unlocks it, a report posted while the run it belongs to
// ends. Stress tests install a hook that stalls a thread there for a random moment, so that
// the narrow windows between threads open often instead of once a month. Nothing else
// installs one: a point then costs one atomic load. Win32-free; any thread.
#pragma once

#include <atomic>

namespace schedule {

using Hook = void (*)(const char* point);

// The hook in force; null outside stress tests.
std::atomic<Hook>& HookSlot();

// Installs `hook` (null removes it). Only while no other thread passes a point.
void SetHook(Hook hook);

inline void Point(const char* name) {
    if (Hook hook = HookSlot().load(std::memory_order_acquire)) {
        hook(name);
    }
}

}  // namespace schedule
