#pragma once

#include "platform/PaneChild.h"

#include <cstdint>
#include <memory>

namespace platform {

struct NativeAccess;

// A timer over QTimer. Run mode 0 off, 1 once, 2 repeating; period in milliseconds.
// It never delivers Action before its window's Open, nor again while its previous
// Action is still running (a modal box inside a tick).
class Timer : public PaneChild {
public:
    Timer();
    ~Timer() override;

    static const ClassRecord& ClassInfo();
    const ClassRecord& Class() const override { return ClassInfo(); }

    virtual void Constructor() {}

    bool Enabled() const;
    void SetEnabled(bool enabled);
    std::int64_t Period() const;
    void SetPeriod(std::int64_t milliseconds);
    std::int64_t RunMode() const;
    void SetRunMode(std::int64_t mode);

    void WindowOpened() override;
    void DetachFromWindow() override;

private:
    friend struct NativeAccess;
    // One period has passed.
    void Fire();

    void Reschedule();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool enabled_ = true;
    std::int64_t period_ = 1000;
    std::int64_t runMode_ = 2;
    bool inAction_ = false;
};

} // namespace platform
