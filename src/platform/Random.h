#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>

namespace platform {

class Random {
public:
    Random();
    // An integer from a to b inclusive (a > b: the bounds swap).
    std::int64_t InRange(std::int64_t a, std::int64_t b);
    void Seed(std::uint64_t seed);

private:
    std::mutex mutex_;
    std::mt19937_64 engine_;
};

namespace System {
// The one shared generator, seeded once per run.
std::shared_ptr<platform::Random> Random();
} // namespace System

} // namespace platform
