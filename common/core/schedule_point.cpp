#include "schedule_point.h"

namespace schedule {

std::atomic<Hook>& HookSlot() {
    static std::atomic<Hook> slot{nullptr};
    return slot;
}

void SetHook(Hook hook) {
    HookSlot().store(hook, std::memory_order_release);
}

}  // namespace schedule
