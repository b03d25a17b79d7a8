#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

// The one fair lock under which system code runs: exactly one thread at a time, handed
// over in arrival order. Framework-internal; system code never sees it.
class Baton {
public:
    static Baton& Instance();

    // Waits for the baton in arrival order. Returns false, without it, once *cancel is
    // set (a stopped thread must never take it again).
    bool Acquire(const std::atomic<bool>* cancel = nullptr);
    void Release();
    // Joins the line and hands the baton on in one step, so that the yielding thread keeps
    // its place ahead of those that arrive after it. Returns as Acquire does.
    bool Yield(const std::atomic<bool>* cancel = nullptr);
    // Wakes waiters so that they see a cancel flag that was just set.
    void Interrupt();
    bool HeldByCurrentThread() const;

private:
    Baton() = default;
    bool WaitForTurn(std::unique_lock<std::mutex>& lock, std::uint64_t ticket,
                     const std::atomic<bool>* cancel);
    mutable std::mutex mutex_;
    std::condition_variable turn_;
    std::deque<std::uint64_t> queue_;
    std::uint64_t nextTicket_ = 0;
    bool held_ = false;
    // Written under the mutex, read without it: only the holder itself ever sees its own id
    // here, so a yield or a holder check needs no lock.
    std::atomic<std::thread::id> holder_;
    // Threads in the line; a yield with none waiting keeps the baton without a hand-over.
    std::atomic<std::size_t> waiting_{0};
};

// Holds the baton for a scope; a no-op when the current thread already holds it
// (nested dispatch inside a handler on the main thread).
class BatonScope {
public:
    BatonScope();
    ~BatonScope();
    BatonScope(const BatonScope&) = delete;
    BatonScope& operator=(const BatonScope&) = delete;

private:
    bool acquired_ = false;
};

// Gives the baton up for a scope (a modal wait, a blocking framework call) and takes it
// back at the end, if the current thread held it.
class BatonRelease {
public:
    BatonRelease();
    ~BatonRelease();
    BatonRelease(const BatonRelease&) = delete;
    BatonRelease& operator=(const BatonRelease&) = delete;

private:
    bool released_ = false;
};

} // namespace platform
