#pragma once

#include <memory>
#include <mutex>

namespace platform::detail {

// PortAudio, initialised once per process for input and output together. Every open stream
// or playing sound holds a lease; PortAudio is terminated when the process-wide lease is
// dropped at exit and the last stream or sound has gone, so no stream outlives it.
class PortAudioSystem {
public:
    // The initialised library, or nil with PortAudio's error code in error. Thread-safe; the
    // first call initialises (device probing takes a moment), a failure is not retried.
    static std::shared_ptr<PortAudioSystem> Acquire(int& error);

    // Only Acquire makes one (the token is private to this class).
    struct Token {
    private:
        friend class PortAudioSystem;
        Token() = default;
    };
    explicit PortAudioSystem(Token) {}
    ~PortAudioSystem();
    PortAudioSystem(const PortAudioSystem&) = delete;
    PortAudioSystem& operator=(const PortAudioSystem&) = delete;

    // PortAudio keeps its open streams in an unlocked list: opening and closing streams from
    // several threads must be serialised.
    std::mutex& StreamMutex() { return streamMutex_; }

private:
    std::mutex streamMutex_;
};

} // namespace platform::detail
