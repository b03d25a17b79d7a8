#pragma once

#include <cstdint>

namespace platform {

// The framework's fixed-point number: a signed 64-bit count of 1/10 000.
class Currency {
public:
    static constexpr std::int64_t kScale = 10000;

    constexpr Currency() = default;
    static constexpr Currency FromCount(std::int64_t count) { return Currency(count); }

    constexpr std::int64_t Count() const { return count_; }
    constexpr bool operator==(const Currency&) const = default;

private:
    constexpr explicit Currency(std::int64_t count) : count_(count) {}
    std::int64_t count_ = 0;
};

// Exact (saturating at the type's range).
Currency RuntimeCvtSInt64ToCurrency(std::int64_t value);
// Nearest 1/10 000, halves away from zero, saturating; NaN gives 0.
Currency RuntimeCvtReal32ToCurrency(float value);
Currency RuntimeCvtReal64ToCurrency(double value);
double RuntimeCvtCurrencyToReal64(Currency value);

} // namespace platform
