#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace testsupport {

// Under the sanitizers everything comes later, far later on a busy machine, so a bound on
// how late something may come is widened by the build's factor (ZELIM_TEST_TIME_SCALE, 1
// when unset). Bounds on how early, and on amounts (bytes, counts, memory), are not scaled:
// they would stop failing where they should.
double TimeScale();

// The factor a value of the variable means; nothing for one that is no number of at least 1.
std::optional<double> ParseTimeScale(std::string_view text);

double Scaled(double seconds);
std::chrono::milliseconds Scaled(std::chrono::milliseconds bound);
// For Qt's timeouts, which are ints of milliseconds.
int ScaledMs(int ms);

} // namespace testsupport
