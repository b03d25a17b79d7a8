#pragma once

#include <memory>
#include <span>

namespace platform {
class Window;
}

// The framework's hold on its open windows: a window is kept from its Open to its Close.
// Platform-private: only the platform and its tests include it.
namespace platform::internal {

void AddOpenWindow(std::shared_ptr<Window> window);
// Releases the framework's reference after the window's Close; quits after the last.
void WindowClosed(Window* window);
std::span<const std::shared_ptr<Window>> OpenWindows();
// At the runtime's exit: every hold is let go.
void ForgetOpenWindows();

} // namespace platform::internal
