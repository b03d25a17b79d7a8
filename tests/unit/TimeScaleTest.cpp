#include "support/TimeScale.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

// A factor below 1 would tighten the plain suite's bounds; a half-read one would scale by
// something nobody chose.
TEST(TimeScale, AcceptsOnlyANumberOfAtLeastOne) {
    struct Case {
        std::string_view text;
        std::optional<double> factor;
    };
    const Case cases[] = {
        {"1", 1.0},
        {"4", 4.0},
        {"2.5", 2.5},
        {"10", 10.0},
        {"", std::nullopt},
        {"0", std::nullopt},
        {"0.5", std::nullopt},
        {"-3", std::nullopt},
        {"4x", std::nullopt},
        {" 4", std::nullopt},
        {"x", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e3", std::nullopt},
    };
    for (const auto& [text, factor] : cases) {
        EXPECT_EQ(testsupport::ParseTimeScale(text), factor) << "'" << text << "'";
    }
}

} // namespace
