#pragma once

#include "platform/AudioInputDevice.h"
#include "platform/CaptureRing.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace platform::detail {

using CaptureClock = std::chrono::steady_clock;

struct CaptureFormat {
    std::int64_t inputChannels = 0;
    std::int64_t outputChannels = 0;
    std::int64_t sampleFormat = 0;
    double sampleRate = 0;
    std::int64_t framesPerBuffer = 0;
    std::int64_t flags = 0;
    std::int64_t bytesPerFrame = 0;
    std::int64_t chunkFrames = 0; // frames per blocking read
    std::int64_t ringFrames = 0;
};

// Says that the microphone is gone, and that it is back, once per change.
class MicrophoneReport {
public:
    void Gone();
    void Back();

private:
    std::mutex mutex_;
    bool gone_ = false;
};

// One blocking device on one detached capture thread. The thread owns the device; the
// other side only posts wishes and waits for answers a bounded time.
class Capture {
public:
    enum class Want { Idle, Run, Quit };

    // `reopen`: a failed open is retried after a pause instead of ending the capture.
    static std::shared_ptr<Capture> Launch(std::unique_ptr<AudioInputDevice> device,
                                           const CaptureFormat& format,
                                           std::shared_ptr<MicrophoneReport> report, Want want,
                                           bool reopen);
    Capture(std::unique_ptr<AudioInputDevice> device, const CaptureFormat& format,
            std::shared_ptr<MicrophoneReport> report, Want want, bool reopen);

    // The first open's code, or nothing when it did not answer within `wait`.
    std::optional<std::int64_t> AwaitOpen(CaptureClock::duration wait);
    // Each returns the device's code, or 0 when it did not answer within `wait`.
    std::int64_t Start(CaptureClock::duration wait);
    std::int64_t Stop(CaptureClock::duration wait);
    // Ends the thread: the device's Close code, or paTimedOut when it is not done within
    // `wait` or a device call has run for longer than `slowCall` (it closes and ends by itself
    // if it ever can).
    std::int64_t Quit(CaptureClock::duration wait,
                      CaptureClock::duration slowCall = CaptureClock::duration::max());

    std::int64_t Read(void* buffer, std::int64_t frameCount);
    bool Running() const;
    // A device call has been running for longer than `limit`.
    bool Stuck(CaptureClock::duration limit) const;
    // Running, and its device call has run for longer than a device that answers would.
    bool Wedged() const;
    bool Finished() const;

private:
    void Run();
    // Runs a device call with the lock released, noting when it began.
    template <class Call> std::int64_t Unlocked(std::unique_lock<std::mutex>& lock, Call call);
    // Waits while the capture still should run; false when it should not any more.
    bool Pause(std::unique_lock<std::mutex>& lock, CaptureClock::duration pause);
    void Lose(std::unique_lock<std::mutex>& lock);
    void ClearRing();

    std::unique_ptr<AudioInputDevice> device_; // used only on the capture thread
    const CaptureFormat format_;
    const std::shared_ptr<MicrophoneReport> report_;
    const bool reopen_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    CaptureRing ring_;
    Want want_;
    bool open_ = false;
    bool started_ = false;
    std::optional<std::int64_t> openResult_;
    std::uint64_t startWanted_ = 0, startDone_ = 0, stopWanted_ = 0, stopDone_ = 0;
    std::int64_t startResult_ = 0, stopResult_ = 0, closeResult_ = 0;
    std::optional<CaptureClock::time_point> callSince_;
    std::optional<CaptureClock::time_point> lastDelivery_; // since the device's last start
    bool delivered_ = false;                               // since the device's last start
    // Unlike lastDelivery_, not given up by a Read that waited in vain.
    std::optional<CaptureClock::time_point> lastDeliveryEver_;
    CaptureClock::time_point startedAt_{};
    bool finished_ = false;
};

} // namespace platform::detail
