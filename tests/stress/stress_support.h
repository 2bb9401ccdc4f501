// Seeded stress runs for the thread logic. A group runs many short iterations of one
// scenario, each with its own random choices drawn from the run's seed, while every
// schedule point (schedule_point.h) stalls the passing thread for a random moment. The
// seed is printed with a failure; STRESS_SEED=<seed> replays the same choices (thread
// timing itself is never the same twice, so a replay finds the fault sooner, not always).
//
//   STRESS_SEED=<n>     the seed (default: a fresh one per test program)
//   STRESS_SCALE=<x>    multiplies every group's time and iteration budget (default 1)
#pragma once

#include <cstdint>
#include <functional>
#include <random>

namespace stress {

struct Budget {
    int maxIterations;
    double seconds;  // the group ends at whichever limit comes first
};

// The run's seed.
uint64_t Seed();

// Runs body(iteration, rng) until the budget is spent or an iteration has made the test
// fail; rng is seeded from the run's seed and the iteration. Jitter is on meanwhile. On a
// failure the group, seed and iteration are added to the test's output. Returns the
// number of iterations run.
int Run(const char* group, Budget budget,
        const std::function<void(int iteration, std::mt19937_64& rng)>& body);

// While one lives, schedule points stall the threads that pass them: mostly not at all,
// sometimes a yield, now and then a sleep of up to maxSleepUs microseconds.
class Jitter {
public:
    explicit Jitter(uint64_t seed, int maxSleepUs = 200);
    ~Jitter();
    Jitter(const Jitter&) = delete;
    Jitter& operator=(const Jitter&) = delete;
};

// A random whole number in [low, high].
int Between(std::mt19937_64& rng, int low, int high);

}  // namespace stress
