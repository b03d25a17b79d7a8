#include "support/TimeScale.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace testsupport {

std::optional<double> ParseTimeScale(std::string_view text) {
    double factor = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), factor, std::chars_format::fixed);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        !std::isfinite(factor) || factor < 1.0) {
        return std::nullopt;
    }
    return factor;
}

double TimeScale() {
    // A misspelt factor must fail the tests, not quietly leave their bounds tight or loose.
    static const double factor = [] {
        const char* text = std::getenv("ZELIM_TEST_TIME_SCALE");
        if (text == nullptr) {
            return 1.0;
        }
        const auto parsed = ParseTimeScale(text);
        if (!parsed) {
            throw std::runtime_error(std::string("ZELIM_TEST_TIME_SCALE is not a number of at "
                                                 "least 1: '") +
                                     text + "'");
        }
        return *parsed;
    }();
    return factor;
}

double Scaled(double seconds) {
    return seconds * TimeScale();
}

std::chrono::milliseconds Scaled(std::chrono::milliseconds bound) {
    return std::chrono::milliseconds(
        std::llround(static_cast<double>(bound.count()) * TimeScale()));
}

int ScaledMs(int ms) {
    return static_cast<int>(Scaled(std::chrono::milliseconds(ms)).count());
}

} // namespace testsupport
