// The monotonic counter that the receivers' statistics intervals run on. Win32-free: the
// standard steady clock (the performance counter on Windows).
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t CounterNow() {
    return static_cast<int64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

inline int64_t CounterFrequency() {
    using Period = std::chrono::steady_clock::period;
    return static_cast<int64_t>(Period::den / Period::num);
}
