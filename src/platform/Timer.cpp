#include "platform/Timer.h"

#include "platform/Runtime.h"
#include "platform/StackGuard.h"
#include "platform/Window.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace platform {

struct Timer::Impl {
    QTimer timer;
};

Timer::Timer() : impl_(std::make_unique<Impl>()) {
    impl_->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] { Fire(); });
}

Timer::~Timer() = default;

const ClassRecord& Timer::ClassInfo() {
    using T = Timer;
    static const ClassRecord record{
        .name = "Timer",
        .events = {"Action"},
        .properties =
            {
                MakeProperty("RunMode", PropertyType::Integer, &T::SetRunMode),
                MakeProperty("Period", PropertyType::Integer, &T::SetPeriod),
                MakeProperty("Enabled", PropertyType::Boolean, &T::SetEnabled),
            },
    };
    return record;
}

bool Timer::Enabled() const {
    return enabled_;
}

void Timer::SetEnabled(bool enabled) {
    RequireMainThread();
    CheckStack();
    enabled_ = enabled;
    Reschedule();
}

std::int64_t Timer::Period() const {
    return period_;
}

void Timer::SetPeriod(std::int64_t milliseconds) {
    RequireMainThread();
    CheckStack();
    period_ = milliseconds;
    Reschedule();
}

std::int64_t Timer::RunMode() const {
    return runMode_;
}

void Timer::SetRunMode(std::int64_t mode) {
    RequireMainThread();
    CheckStack();
    runMode_ = mode;
    Reschedule();
}

void Timer::WindowOpened() {
    Reschedule();
}

void Timer::DetachFromWindow() {
    impl_->timer.stop();
    PaneChild::DetachFromWindow();
}

void Timer::Reschedule() {
    auto window = OwnerWindow();
    const bool runs = enabled_ && runMode_ != 0 && window && window->IsOpen();
    if (!runs) {
        impl_->timer.stop();
        return;
    }
    // A period of 0 or less still waits one turn of the event loop; QTimer takes an int.
    const auto ms =
        static_cast<int>(std::clamp<std::int64_t>(period_, 0, std::numeric_limits<int>::max()));
    impl_->timer.setSingleShot(runMode_ == 1);
    impl_->timer.start(ms);
}

void Timer::Fire() {
    // Nothing is delivered to a window that has closed and waits to be released.
    const auto window = OwnerWindow();
    if (inAction_ || !window || !window->IsOpen()) {
        return;
    }
    if (runMode_ == 1) {
        runMode_ = 0;
        impl_->timer.stop();
    }
    inAction_ = true;
    RaiseEvent(0, "Action");
    inAction_ = false;
}

} // namespace platform
