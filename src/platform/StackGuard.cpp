#include "platform/StackGuard.h"

#include "platform/Exceptions.h"

#include <atomic>
#include <pthread.h>

namespace platform {
namespace {

constexpr std::size_t kMargin = std::size_t{64} * 1024;

struct StackBounds {
    const char* low = nullptr; // lowest usable address; the stack grows down to it
    StackBounds() {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) {
            return;
        }
        void* addr = nullptr;
        std::size_t size = 0;
        if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
            low = static_cast<const char*>(addr);
        }
        pthread_attr_destroy(&attr);
    }
};

std::atomic<long> failAt{-1};
std::atomic<long> checks{0};

} // namespace

std::size_t RemainingStack() {
    thread_local const StackBounds bounds;
    // The frame's own address, not a local's: AddressSanitizer may keep locals on a heap
    // "fake stack", far from the thread's real one.
    const char* sp = static_cast<const char*>(__builtin_frame_address(0));
    if (bounds.low == nullptr || sp < bounds.low) {
        return 0;
    }
    return static_cast<std::size_t>(sp - bounds.low);
}

void CheckStack() {
    const long n = checks.fetch_add(1, std::memory_order_relaxed);
    long armed = failAt.load(std::memory_order_relaxed);
    if (armed >= 0 && n >= armed && failAt.compare_exchange_strong(armed, -1)) {
        throw StackOverflowException("stack limit reached (test hook)");
    }
    if (RemainingStack() < kMargin) {
        throw StackOverflowException("stack limit reached");
    }
}

void FailStackCheckAfter(long n) {
    failAt.store(checks.load() + n);
}

void ResetStackCheckForTesting() {
    failAt.store(-1);
    checks.store(0);
}

long StackChecksForTesting() {
    return checks.load();
}

} // namespace platform
