// Waits and clocks for the Windows tests and benchmarks. Any thread.
#pragma once

#include <functional>

// Milliseconds on the performance counter, from an arbitrary origin.
double NowMs();

// Polls `done` every 10 ms for at most `timeoutMs`; true once it holds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
