#pragma once

#include "platform/PushButton.h"
#include "platform/Timer.h"
#include "platform/Window.h"

#include <QWidget>

#include <memory>
#include <utility>

namespace platform {

// The native side of windows, controls and timers, for the platform's own classes and its
// tests only: system code reaches them through their events, under the baton and the
// exception helper, never by these doors. Platform-private: system code never includes it.
struct NativeAccess {
    static QWidget* Widget(const Window& window) { return window.NativeWidget(); }
    static void CloseRequest(Window& window) { window.HandleCloseRequest(); }
    static QWidget* Widget(const RectControl& control) { return control.NativeWidget(); }
    static void SetWidget(RectControl& control, std::unique_ptr<QWidget> widget) {
        control.SetWidget(std::move(widget));
    }
    static void Click(PushButton& button) { button.Clicked(); }
    static void Fire(Timer& timer) { timer.Fire(); }
};

} // namespace platform
