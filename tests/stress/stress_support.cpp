#include "stress_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "schedule_point.h"

namespace stress {
namespace {

std::atomic<uint64_t> jitterSeed{0};
std::atomic<int> jitterMaxSleepUs{200};
std::atomic<uint64_t> threadsSeen{0};

double Scale() {
    const char* text = std::getenv("STRESS_SCALE");
    double scale = text ? std::atof(text) : 1.0;
    return scale > 0 ? scale : 1.0;
}

// Each thread draws from a generator of its own, seeded from the run and the order in
// which threads first pass a point.
void Stall(const char*) {
    thread_local std::mt19937_64 rng(jitterSeed.load() ^
                                     (0x9E3779B97F4A7C15ull * (threadsSeen.fetch_add(1) + 1)));
    const unsigned roll = static_cast<unsigned>(rng() % 100);
    if (roll < 60) {
        return;
    }
    if (roll < 90) {
        std::this_thread::yield();
        return;
    }
    const int maxUs = jitterMaxSleepUs.load();
    std::this_thread::sleep_for(
        std::chrono::microseconds(static_cast<int>(rng() % static_cast<uint64_t>(maxUs + 1))));
}

}  // namespace

uint64_t Seed() {
    static const uint64_t seed = [] {
        if (const char* text = std::getenv("STRESS_SEED")) {
            return static_cast<uint64_t>(std::strtoull(text, nullptr, 10));
        }
        return static_cast<uint64_t>(std::random_device{}()) << 32 ^ std::random_device{}();
    }();
    return seed;
}

int Between(std::mt19937_64& rng, int low, int high) {
    return low + static_cast<int>(rng() % static_cast<uint64_t>(high - low + 1));
}

Jitter::Jitter(uint64_t seed, int maxSleepUs) {
    jitterSeed.store(seed);
    jitterMaxSleepUs.store(maxSleepUs);
    schedule::SetHook(&Stall);
}

Jitter::~Jitter() {
    schedule::SetHook(nullptr);
}

int Run(const char* group, Budget budget,
        const std::function<void(int iteration, std::mt19937_64& rng)>& body) {
    const double scale = Scale();
    const int maxIterations = static_cast<int>(budget.maxIterations * scale);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(budget.seconds * scale));
    const uint64_t seed = Seed();
    Jitter jitter(seed);
    int iteration = 0;
    for (; iteration < maxIterations && std::chrono::steady_clock::now() < deadline; ++iteration) {
        std::mt19937_64 rng(seed ^ (0xD1B54A32D192ED03ull * static_cast<uint64_t>(iteration + 1)));
        body(iteration, rng);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << group << ": failed in iteration " << iteration
                          << "; replay with STRESS_SEED=" << seed;
            return iteration + 1;
        }
    }
    std::printf("[ stress   ] %s: %d iterations, seed %llu\n", group, iteration,
                static_cast<unsigned long long>(seed));
    return iteration;
}

}  // namespace stress
