#include "platform/Random.h"

#include "platform/StackGuard.h"

#include <utility>

namespace platform {

Random::Random() : engine_(std::random_device{}()) {}

std::int64_t Random::InRange(std::int64_t a, std::int64_t b) {
    CheckStack();
    if (a > b) {
        std::swap(a, b);
    }
    std::lock_guard lock(mutex_);
    return std::uniform_int_distribution<std::int64_t>(a, b)(engine_);
}

void Random::Seed(std::uint64_t seed) {
    std::lock_guard lock(mutex_);
    engine_.seed(seed);
}

std::shared_ptr<platform::Random> System::Random() {
    CheckStack();
    static const auto shared = std::make_shared<platform::Random>();
    return shared;
}

} // namespace platform
