#pragma once

#include <functional>
#include <string_view>

namespace platform {

// Every line the program says on stderr goes through here: "zelim: " and the message, in a
// user's words. Thread-safe; each line is written whole.
void Say(std::string_view message);
// The same, but a message already said in this process is not said again: a failure that
// repeats at every attempt is told once.
void SayOnce(std::string_view message);

// Test hook: lines also go to this sink, without the prefix (empty: stderr only).
void SetDiagnosticSinkForTesting(std::function<void(std::string_view)> sink);

} // namespace platform
