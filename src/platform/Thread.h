#pragma once

#include "platform/PaneChild.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// A cooperative thread: its Run event runs on an OS thread of its own, but only while it
// holds the baton, which it gives up only in Sleep and RuntimeBackgroundTask.
class Thread : public PaneChild {
public:
    enum StateCode : std::int64_t {
        Running = 0,
        Waiting = 1,
        Paused = 2,
        Sleeping = 3,
        NotRunning = 4
    };

    Thread();
    // Stops the thread and waits for it. NOLINTNEXTLINE(bugprone-exception-escape): see Thread.cpp
    ~Thread() override;

    static const ClassRecord& ClassInfo();
    const ClassRecord& Class() const override { return ClassInfo(); }

    virtual void Constructor() {}

    // Returns at once; Run begins on a new OS thread once it gets the baton.
    void Start();
    // Marks the thread, wakes it if it sleeps, and returns once it has ended. The caller
    // holds the baton, so the stopped thread never runs system code again.
    void Stop();
    std::int64_t State() const;
    // Suspends the calling thread, which must be this one, giving up the baton meanwhile.
    void Sleep(std::int64_t milliseconds, bool wakeEarly = false);

    std::int64_t Priority() const { return priority_; }
    void SetPriority(std::int64_t v) { priority_ = v; }
    std::int64_t StackSize() const { return stackSize_; }
    void SetStackSize(std::int64_t v) { stackSize_ = v; }

    void DetachFromWindow() override;

    // The Thread whose Run is executing on the calling OS thread, or nil.
    static Thread* Current();

private:
    friend void RuntimeBackgroundTask();
    void Body();
    void Yield();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::int64_t priority_ = 5;
    std::int64_t stackSize_ = 0;
};

// The yield point of the cooperative threads: another thread may run before it returns.
void RuntimeBackgroundTask();

// Test hook: told of every Thread.Sleep, on the sleeping thread, before it sleeps (empty:
// nothing is told).
void SetSleepObserverForTesting(std::function<void(const Thread&, std::int64_t ms)> observer);

} // namespace platform
