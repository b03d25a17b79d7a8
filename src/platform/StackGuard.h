#pragma once

#include <cstddef>

namespace platform {

// Raises StackOverflowException while the current thread still has a margin of stack
// left, so the report and the handlers that follow have room to run.
// Called at every entry from the framework into system code and at the start of every
// platform operation that system code calls.
void CheckStack();

// Remaining stack of the current thread, in bytes.
std::size_t RemainingStack();

// Test hooks. FailStackCheckAfter(n) makes the (n+1)-th check from now raise, once
// (n = 0: the very next check). ResetStackCheckForTesting() disarms it.
void FailStackCheckAfter(long checks);
void ResetStackCheckForTesting();
long StackChecksForTesting(); // checks made since the last reset, to locate a step

} // namespace platform
