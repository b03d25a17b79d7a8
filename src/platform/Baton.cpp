#include "platform/Baton.h"

#include <algorithm>

namespace platform {

Baton& Baton::Instance() {
    static Baton baton;
    return baton;
}

bool Baton::Acquire(const std::atomic<bool>* cancel) {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = nextTicket_++;
    queue_.push_back(ticket);
    waiting_.fetch_add(1);
    return WaitForTurn(lock, ticket, cancel);
}

bool Baton::Yield(const std::atomic<bool>* cancel) {
    // The reading yields hundreds of times a tick, almost always with nobody in the line.
    // A thread that joins it after this check is handed the baton at the next yield.
    if (waiting_.load() == 0 && (cancel == nullptr || !cancel->load())) {
        return true;
    }
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = nextTicket_++;
    queue_.push_back(ticket);
    waiting_.fetch_add(1);
    held_ = false;
    holder_ = std::thread::id{};
    turn_.notify_all();
    return WaitForTurn(lock, ticket, cancel);
}

bool Baton::WaitForTurn(std::unique_lock<std::mutex>& lock, std::uint64_t ticket,
                        const std::atomic<bool>* cancel) {
    auto cancelled = [&] { return cancel != nullptr && cancel->load(); };
    turn_.wait(lock, [&] { return cancelled() || (!held_ && queue_.front() == ticket); });
    waiting_.fetch_sub(1);
    if (cancelled()) {
        queue_.erase(std::find(queue_.begin(), queue_.end(), ticket));
        turn_.notify_all(); // the next in line may be free to go now
        return false;
    }
    queue_.pop_front();
    held_ = true;
    holder_ = std::this_thread::get_id();
    return true;
}

void Baton::Release() {
    // Notified under the lock: once another thread can take the baton, the releasing one
    // no longer touches it (a detached thread may be ending as the program exits).
    std::lock_guard lock(mutex_);
    held_ = false;
    holder_ = std::thread::id{};
    turn_.notify_all();
}

void Baton::Interrupt() {
    { std::lock_guard lock(mutex_); }
    turn_.notify_all();
}

bool Baton::HeldByCurrentThread() const {
    return holder_.load() == std::this_thread::get_id();
}

BatonScope::BatonScope() {
    if (!Baton::Instance().HeldByCurrentThread()) {
        acquired_ = Baton::Instance().Acquire();
    }
}

BatonScope::~BatonScope() {
    if (acquired_) {
        Baton::Instance().Release();
    }
}

BatonRelease::BatonRelease() {
    if (Baton::Instance().HeldByCurrentThread()) {
        Baton::Instance().Release();
        released_ = true;
    }
}

BatonRelease::~BatonRelease() {
    if (released_) {
        Baton::Instance().Acquire();
    }
}

} // namespace platform
