#include "platform/Capture.h"

#include "platform/CapturedInput.h"
#include "platform/Diagnostics.h"

#include <portaudio.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

namespace platform::detail {

void MicrophoneReport::Gone() {
    const std::lock_guard lock(mutex_);
    if (!gone_) {
        gone_ = true;
        Say("the microphone is gone; listening goes on when it is back");
    }
}

void MicrophoneReport::Back() {
    const std::lock_guard lock(mutex_);
    if (gone_) {
        gone_ = false;
        Say("the microphone is back; listening goes on");
    }
}

std::shared_ptr<Capture> Capture::Launch(std::unique_ptr<AudioInputDevice> device,
                                         const CaptureFormat& format,
                                         std::shared_ptr<MicrophoneReport> report, Want want,
                                         bool reopen) {
    auto capture =
        std::make_shared<Capture>(std::move(device), format, std::move(report), want, reopen);
    // Detached: a thread wedged in a client library must never hold anyone who would join
    // it. The thread keeps the capture alive until it ends.
    std::thread([capture] { capture->Run(); }).detach();
    return capture;
}

Capture::Capture(std::unique_ptr<AudioInputDevice> device, const CaptureFormat& format,
                 std::shared_ptr<MicrophoneReport> report, Want want, bool reopen)
    : device_(std::move(device)), format_(format), report_(std::move(report)), reopen_(reopen),
      ring_(format.ringFrames, format.bytesPerFrame), want_(want) {}

template <class Call>
std::int64_t Capture::Unlocked(std::unique_lock<std::mutex>& lock, Call call) {
    callSince_ = CaptureClock::now();
    lock.unlock();
    std::int64_t code = paInternalError;
    try {
        code = call();
    } catch (const std::exception& error) {
        SayOnce(std::string("the microphone's device failed: ") + error.what());
    }
    lock.lock();
    callSince_.reset();
    return code;
}

bool Capture::Pause(std::unique_lock<std::mutex>& lock, CaptureClock::duration pause) {
    return !changed_.wait_for(lock, pause,
                              [&] { return want_ != Want::Run || stopDone_ < stopWanted_; });
}

void Capture::ClearRing() {
    ring_.Clear();
    lastDelivery_.reset();
}

void Capture::Lose(std::unique_lock<std::mutex>& lock) {
    report_->Gone();
    if (started_) {
        Unlocked(lock, [&] { return device_->Stop(); });
        started_ = false;
    }
    if (open_) {
        Unlocked(lock, [&] { return device_->Close(); });
        open_ = false;
    }
    ClearRing();
    changed_.notify_all();
}

void Capture::Run() {
    std::vector<unsigned char> chunk(
        static_cast<std::size_t>(format_.chunkFrames * format_.bytesPerFrame));
    const auto open = [&] {
        return device_->Open(format_.inputChannels, format_.outputChannels, format_.sampleFormat,
                             format_.sampleRate, format_.framesPerBuffer, format_.flags);
    };
    std::unique_lock lock(mutex_);
    openResult_ = Unlocked(lock, open);
    open_ = *openResult_ == paNoError;
    changed_.notify_all();
    // A first open that fails ends the capture, unless it replaces one that did open or its
    // device is only out of reach for now.
    const bool serve = open_ || reopen_ || *openResult_ == paUnanticipatedHostError;
    while (serve && want_ != Want::Quit) {
        if (stopDone_ < stopWanted_) {
            std::int64_t code = paNoError;
            if (started_) {
                code = Unlocked(lock, [&] { return device_->Stop(); });
                started_ = false;
            }
            stopResult_ = code;
            stopDone_ = stopWanted_;
            changed_.notify_all();
            continue;
        }
        if (want_ == Want::Idle) {
            changed_.wait(lock, [&] { return want_ != Want::Idle || stopDone_ < stopWanted_; });
            continue;
        }
        if (!open_) {
            // Answered now, not after the pause: Start returns while the device is away, and
            // the capture starts once it opens.
            if (startDone_ < startWanted_) {
                startResult_ = paNoError;
                startDone_ = startWanted_;
                changed_.notify_all();
            }
            // Nothing retries without a pause: a device that fails at once costs one open a
            // pause, whatever its error.
            if (Pause(lock, CaptureTimes::kRetryPause)) {
                open_ = Unlocked(lock, open) == paNoError;
            }
            continue;
        }
        if (!started_) {
            const std::int64_t code = Unlocked(lock, [&] { return device_->Start(); });
            started_ = code == paNoError;
            if (startDone_ < startWanted_) {
                startResult_ = code;
                startDone_ = startWanted_;
                changed_.notify_all();
            }
            if (started_) {
                ClearRing();
                delivered_ = false;
                startedAt_ = CaptureClock::now();
            } else {
                Lose(lock);
            }
            continue;
        }
        if (startDone_ < startWanted_) { // started already
            startResult_ = paNoError;
            startDone_ = startWanted_;
            changed_.notify_all();
        }
        const std::int64_t code =
            Unlocked(lock, [&] { return device_->Read(chunk.data(), format_.chunkFrames); });
        // An overflow still delivers valid frames.
        if (code == paNoError || code == paInputOverflowed) {
            if (want_ == Want::Run && stopDone_ == stopWanted_) {
                ring_.Push(chunk.data(), format_.chunkFrames);
                lastDelivery_ = CaptureClock::now();
                lastDeliveryEver_ = lastDelivery_;
                delivered_ = true;
                report_->Back();
                changed_.notify_all();
            }
            continue;
        }
        // A device that waited a while for frames in vain; it has stalled or lost its
        // server when nothing came for too long.
        if (code == paTimedOut) {
            const auto since = delivered_ ? *lastDeliveryEver_ : startedAt_;
            const auto limit =
                delivered_ ? CaptureTimes::kWedgeLimit : CaptureTimes::kFirstFramesLimit;
            if (CaptureClock::now() - since <= limit) {
                continue;
            }
        }
        Lose(lock);
    }
    if (started_) {
        Unlocked(lock, [&] { return device_->Stop(); });
        started_ = false;
    }
    if (open_) {
        closeResult_ = Unlocked(lock, [&] { return device_->Close(); });
        open_ = false;
    }
    // The device goes before the capture says it is finished: whoever waits for the end
    // sees a released device.
    auto device = std::move(device_);
    lock.unlock();
    device.reset();
    lock.lock();
    finished_ = true;
    changed_.notify_all();
}

std::optional<std::int64_t> Capture::AwaitOpen(CaptureClock::duration wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return openResult_.has_value(); });
    return openResult_;
}

std::int64_t Capture::Start(CaptureClock::duration wait) {
    std::unique_lock lock(mutex_);
    if (finished_ || want_ == Want::Quit) {
        return paBadStreamPtr;
    }
    if (want_ == Want::Run && stopDone_ == stopWanted_) {
        return paNoError; // running, or starting by itself
    }
    want_ = Want::Run;
    const std::uint64_t serial = ++startWanted_;
    changed_.notify_all();
    if (!changed_.wait_for(lock, wait, [&] { return startDone_ >= serial || finished_; })) {
        return paNoError; // it starts when the device lets it
    }
    return finished_ ? std::int64_t{paBadStreamPtr} : startResult_;
}

std::int64_t Capture::Stop(CaptureClock::duration wait) {
    std::unique_lock lock(mutex_);
    if (finished_ || want_ == Want::Quit) {
        return paBadStreamPtr;
    }
    if (want_ == Want::Idle && stopDone_ == stopWanted_ && !started_) {
        return paNoError;
    }
    want_ = Want::Idle;
    const std::uint64_t serial = ++stopWanted_;
    changed_.notify_all();
    if (!changed_.wait_for(lock, wait, [&] { return stopDone_ >= serial || finished_; })) {
        return paNoError; // no frame is handed over from now on
    }
    return finished_ ? std::int64_t{paNoError} : stopResult_;
}

std::int64_t Capture::Quit(CaptureClock::duration wait, CaptureClock::duration slowCall) {
    std::unique_lock lock(mutex_);
    want_ = Want::Quit;
    changed_.notify_all();
    const auto deadline = CaptureClock::now() + wait;
    // Looked at again and again: the close, which may never return, begins meanwhile
    // unannounced.
    constexpr auto kLook = std::chrono::milliseconds(10);
    while (!finished_) {
        const auto now = CaptureClock::now();
        if (now >= deadline || (callSince_ && now - *callSince_ > slowCall)) {
            return paTimedOut;
        }
        changed_.wait_until(lock, std::min(deadline, now + kLook));
    }
    return closeResult_;
}

std::int64_t Capture::Read(void* buffer, std::int64_t frameCount) {
    std::unique_lock lock(mutex_);
    if (frameCount > ring_.Capacity()) {
        return paBufferTooBig;
    }
    if (want_ != Want::Run || stopDone_ < stopWanted_) {
        return paStreamIsStopped;
    }
    // Frames of the room, the newest of them recent. Not necessarily new since the last
    // Read: a server that hands over its frames in blocks longer than a tick must not
    // hold the caller.
    const auto fresh = [&] {
        return started_ && ring_.Count() >= frameCount && lastDelivery_ &&
               CaptureClock::now() - *lastDelivery_ <= CaptureTimes::kFreshFor;
    };
    if (!fresh()) {
        if (!lastDelivery_) {
            return paTimedOut; // not delivering yet, or not any more: no wait
        }
        if (!changed_.wait_until(lock, *lastDelivery_ + CaptureTimes::kReadDeadline, fresh)) {
            lastDelivery_.reset(); // one wait per stall
            return paTimedOut;
        }
    }
    ring_.CopyNewest(buffer, frameCount);
    return paNoError;
}

bool Capture::Running() const {
    const std::lock_guard lock(mutex_);
    return want_ == Want::Run && stopDone_ == stopWanted_;
}

bool Capture::Stuck(CaptureClock::duration limit) const {
    const std::lock_guard lock(mutex_);
    return callSince_ && CaptureClock::now() - *callSince_ > limit;
}

bool Capture::Wedged() const {
    const std::lock_guard lock(mutex_);
    // A sound server may take a second or two to hand a new recording its first frames.
    const auto limit = delivered_ ? CaptureTimes::kWedgeLimit : CaptureTimes::kFirstFramesLimit;
    return want_ == Want::Run && callSince_ && CaptureClock::now() - *callSince_ > limit;
}

bool Capture::Finished() const {
    const std::lock_guard lock(mutex_);
    return finished_;
}

} // namespace platform::detail
