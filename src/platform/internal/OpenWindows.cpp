#include "platform/internal/OpenWindows.h"

#include "platform/Baton.h"
#include "platform/Window.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <vector>

namespace platform::internal {
namespace {

std::vector<std::shared_ptr<Window>>& Windows() {
    static std::vector<std::shared_ptr<Window>> windows;
    return windows;
}

} // namespace

void AddOpenWindow(std::shared_ptr<Window> window) {
    Windows().push_back(std::move(window));
}

void WindowClosed(Window* window) {
    auto& windows = Windows();
    auto it = std::find_if(windows.begin(), windows.end(),
                           [window](const auto& w) { return w.get() == window; });
    if (it == windows.end()) {
        return;
    }
    // Released from the event loop, never inside the widget's own close handling.
    std::shared_ptr<Window> closing = std::move(*it);
    windows.erase(it);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [closing = std::move(closing)]() mutable {
            BatonScope baton;
            closing.reset();
            if (Windows().empty()) {
                QCoreApplication::quit();
            }
        },
        Qt::QueuedConnection);
}

std::span<const std::shared_ptr<Window>> OpenWindows() {
    return Windows();
}

void ForgetOpenWindows() {
    Windows().clear();
}

} // namespace platform::internal
