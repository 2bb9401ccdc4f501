#include "timing.h"

#include <windows.h>

#include "performance_counter.h"

double NowMs() {
    static const double kTicksPerMs = static_cast<double>(CounterFrequency()) / 1000.0;
    return static_cast<double>(CounterNow()) / kTicksPerMs;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (done()) {
            return true;
        }
        Sleep(10);
    }
    return done();
}
