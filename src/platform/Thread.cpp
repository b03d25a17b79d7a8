#include "platform/Thread.h"

#include "platform/Baton.h"
#include "platform/ClassRecord.h"
#include "platform/Runtime.h"
#include "platform/StackGuard.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {
namespace {
thread_local Thread* currentThread = nullptr;

std::mutex sleepObserverMutex;
std::function<void(const Thread&, std::int64_t)> sleepObserver; // test hook
} // namespace

void SetSleepObserverForTesting(std::function<void(const Thread&, std::int64_t)> observer) {
    const std::lock_guard lock(sleepObserverMutex);
    sleepObserver = std::move(observer);
}

struct Thread::Impl {
    std::thread os;
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> state{NotRunning};
    std::mutex sleepMutex;
    std::condition_variable wake;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

// Stop throws its stop signal only on the thread itself, which returns before it; what
// is left is a failing join, which cannot happen for a thread that is not this one.
// NOLINTNEXTLINE(bugprone-exception-escape)
Thread::~Thread() {
    if (currentThread == this) {
        // Its own last reference, let go at the end of Body: an OS thread cannot join
        // itself, and nothing of the object is used after this.
        impl_->os.detach();
        return;
    }
    Stop();
}

const ClassRecord& Thread::ClassInfo() {
    using T = Thread;
    static const ClassRecord record{
        .name = "Thread",
        .events = {"Run", "UserInterfaceUpdate"},
        .properties =
            {
                MakeProperty("Priority", PropertyType::Integer, &T::SetPriority),
                MakeProperty("StackSize", PropertyType::Integer, &T::SetStackSize),
            },
    };
    return record;
}

Thread* Thread::Current() {
    return currentThread;
}

void Thread::Start() {
    CheckStack();
    if (impl_->state.load() != NotRunning) {
        throw RuntimeException("thread '" + Name() + "' is already running");
    }
    if (impl_->os.joinable()) {
        impl_->os.join(); // the previous run has ended; reap it
    }
    impl_->stop.store(false);
    impl_->state.store(Waiting);
    impl_->os = std::thread([this] { Body(); });
}

void Thread::Body() {
    currentThread = this;
    Baton& baton = Baton::Instance();
    if (!baton.Acquire(&impl_->stop)) {
        impl_->state.store(NotRunning);
        return;
    }
    // A running thread keeps itself alive until its body ends, whoever lets go of it
    // meanwhile. Nil when its last owner is already destroying it: it runs nothing then.
    auto self = weak_from_this().lock();
    if (!self) {
        impl_->state.store(NotRunning);
        baton.Release();
        return;
    }
    impl_->state.store(Running);
    bool stopped = false;
    try {
        std::shared_ptr<RuntimeException> error;
        try {
            error = CallWithExceptionHelper([this] {
                CheckStack();
                InvokeEvent(0);
            });
        } catch (const ThreadStopSignal&) {
            throw;
        } catch (...) {
            error = CurrentException();
        }
        if (error) {
            ReportException(
                {std::string(error->ClassName()), "thread '" + Name() + "' Run", error->Message()});
        }
    } catch (const ThreadStopSignal&) {
        stopped = true;
    }
    impl_->state.store(NotRunning);
    const bool holdsBaton = !stopped || baton.HeldByCurrentThread();
    // Let go while still holding the baton: if this was the last reference the object goes
    // now, under the baton, and nothing below touches it.
    self.reset();
    if (holdsBaton) {
        baton.Release();
    }
}

void Thread::Stop() {
    impl_->stop.store(true);
    { std::lock_guard lock(impl_->sleepMutex); }
    impl_->wake.notify_all();
    Baton::Instance().Interrupt();
    if (currentThread == this) {
        throw ThreadStopSignal{};
    }
    if (impl_->os.joinable()) {
        impl_->os.join();
    }
}

std::int64_t Thread::State() const {
    return impl_->state.load();
}

void Thread::Yield() {
    Baton& baton = Baton::Instance();
    impl_->state.store(Waiting);
    if (!baton.Yield(&impl_->stop) || impl_->stop.load()) {
        throw ThreadStopSignal{};
    }
    impl_->state.store(Running);
}

void Thread::Sleep(std::int64_t milliseconds, bool /*wakeEarly*/) {
    CheckStack();
    if (currentThread != this) {
        throw RuntimeException("Thread.Sleep called from outside thread '" + Name() + "'");
    }
    {
        const std::lock_guard lock(sleepObserverMutex);
        if (sleepObserver) {
            sleepObserver(*this, milliseconds);
        }
    }
    Baton& baton = Baton::Instance();
    impl_->state.store(Sleeping);
    baton.Release();
    {
        std::unique_lock lock(impl_->sleepMutex);
        impl_->wake.wait_for(lock,
                             std::chrono::milliseconds(std::max<std::int64_t>(milliseconds, 0)),
                             [this] { return impl_->stop.load(); });
    }
    impl_->state.store(Waiting);
    if (impl_->stop.load() || !baton.Acquire(&impl_->stop)) {
        throw ThreadStopSignal{};
    }
    impl_->state.store(Running);
}

void Thread::DetachFromWindow() {
    Stop();
    PaneChild::DetachFromWindow();
}

void RuntimeBackgroundTask() {
    CheckStack();
    if (Thread* thread = Thread::Current()) {
        thread->Yield();
        return;
    }
    Baton& baton = Baton::Instance();
    if (baton.HeldByCurrentThread()) {
        baton.Yield();
    }
}

} // namespace platform
