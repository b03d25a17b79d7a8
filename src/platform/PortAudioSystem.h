#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace platform::detail {

// PortAudio keeps its open streams in an unlocked list: opening and closing streams from
// several threads must be serialised. Pa_CloseStream takes its stream off the list before
// it closes the host's stream, and that may never return (libpulse deadlocks when its server
// dies while ALSA's pulse plugin holds a recorded block): so a close keeps the list from the
// others only for kCloseHold, and a wedged one holds nothing.
class StreamList {
public:
    enum class Use { Open, Close };
    static constexpr std::chrono::milliseconds kCloseHold{250};

    // Holds the list for one Pa_OpenStream or Pa_CloseStream.
    class Hold {
    public:
        Hold(StreamList& list, Use use);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        StreamList& list_;
        std::uint64_t turn_;
    };

private:
    using Clock = std::chrono::steady_clock;
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = false;
    std::uint64_t lastTurn_ = 0;
    std::optional<Clock::time_point> closingSince_; // held by a close since then
};

// PortAudio, initialised once per process for input and output together. Every open stream
// or playing sound holds a lease; PortAudio is terminated when the process-wide lease is
// dropped at exit and the last stream or sound has gone, so no stream outlives it.
class PortAudioSystem {
public:
    // The initialised library, or nil with PortAudio's error code in error. Thread-safe; the
    // first call initialises (device probing takes a moment), a failure is not retried.
    static std::shared_ptr<PortAudioSystem> Acquire(int& error);
    // Starts the initialisation on a thread of its own and returns at once: device probing
    // takes a second or more, which the first stream then need not wait for on the main
    // thread.
    static void PrepareInBackground();

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

    // When PortAudio lists no default device for the direction, lists the devices again, at
    // most every few seconds: a sound server that was down when PortAudio started may be up
    // now. That means re-initialising PortAudio, which would close every stream: it happens
    // only while the caller's lease is the only one. The caller asks for its device again.
    static void ListAgainIfNone(bool input);

    // False when the device is an ALSA one that opens but cannot be waited on: PipeWire's
    // plugin opens without a server, and PortAudio then aborts the process on an assertion
    // instead of failing the open. Such a device is as good as gone.
    static bool CanOpen(int device, bool input);

    // Every Pa_OpenStream and Pa_CloseStream holds it.
    StreamList& Streams() { return streams_; }

private:
    StreamList streams_;
};

} // namespace platform::detail
