#pragma once

#include <functional>

namespace testsupport {

// Lets Qt deliver what is queued (timers, clicks) for about `ms`, giving the baton up
// meanwhile as the event loop does.
void RunEventLoopFor(int ms);
// Runs the event loop until `done` holds or `ms` passes; returns whether it held.
bool RunEventLoopUntil(const std::function<bool()>& done, int ms);

} // namespace testsupport
