#include "platform/Currency.h"

#include "platform/StackGuard.h"

#include <cmath>
#include <limits>

namespace platform {
namespace {
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
} // namespace

Currency RuntimeCvtSInt64ToCurrency(std::int64_t value) {
    CheckStack();
    if (value > kMax / Currency::kScale) {
        return Currency::FromCount(kMax);
    }
    if (value < kMin / Currency::kScale) {
        return Currency::FromCount(kMin);
    }
    return Currency::FromCount(value * Currency::kScale);
}

Currency RuntimeCvtReal64ToCurrency(double value) {
    CheckStack();
    if (std::isnan(value)) {
        return Currency::FromCount(0);
    }
    // std::round rounds halves away from zero. 2^63 is exactly representable; anything at
    // or beyond it saturates.
    const double scaled = std::round(value * static_cast<double>(Currency::kScale));
    if (scaled >= 9223372036854775808.0) {
        return Currency::FromCount(kMax);
    }
    if (scaled < -9223372036854775808.0) {
        return Currency::FromCount(kMin);
    }
    return Currency::FromCount(static_cast<std::int64_t>(scaled));
}

Currency RuntimeCvtReal32ToCurrency(float value) {
    // The widening is exact, and so is the product for every float below 2^53 / 10^4.
    return RuntimeCvtReal64ToCurrency(static_cast<double>(value));
}

double RuntimeCvtCurrencyToReal64(Currency value) {
    CheckStack();
    return static_cast<double>(value.Count()) / static_cast<double>(Currency::kScale);
}

} // namespace platform
