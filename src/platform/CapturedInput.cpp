#include "platform/CapturedInput.h"

#include "platform/Capture.h"

#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>
#include <vector>

namespace platform {
namespace {

using detail::Capture;
using detail::CaptureClock;

// How long Open, Start and Stop wait for the device's answer. PortAudio's first open of
// the process also probes every device, which takes seconds on a busy machine; Open waits
// that long only for a device that hangs.
constexpr auto kOpenWait = std::chrono::milliseconds(10000);
constexpr auto kCommandWait = std::chrono::milliseconds(750);
// Frames per blocking read: one host period of 16 ms, the timer's, so that every tick finds
// fresh frames while the capture wakes as seldom as it can.
constexpr double kChunkSeconds = 0.016;
// Abandoned captures that may still be alive (each one a wedged thread and what its client
// library holds); past this, no further one is abandoned.
constexpr std::size_t kMaxAbandoned = 4;

class CapturedInput final : public AudioInputDevice {
public:
    explicit CapturedInput(AudioInputDeviceFactory devices) : devices_(std::move(devices)) {}
    ~CapturedInput() override {
        if (capture_) {
            Close();
        }
    }

    std::int64_t Open(std::int64_t inputChannels, std::int64_t outputChannels,
                      std::int64_t sampleFormat, double sampleRate, std::int64_t framesPerBuffer,
                      std::int64_t flags) override {
        if (capture_) {
            Close();
        }
        detail::CaptureFormat format;
        format.inputChannels = inputChannels;
        format.outputChannels = outputChannels;
        format.sampleFormat = sampleFormat;
        format.sampleRate = sampleRate;
        format.framesPerBuffer = framesPerBuffer;
        format.flags = flags;
        format.bytesPerFrame = BytesPerFrame(inputChannels, sampleFormat);
        if (format.bytesPerFrame == 0) {
            return inputChannels <= 0 ? paInvalidChannelCount : paSampleFormatNotSupported;
        }
        if (!(sampleRate >= 1000 && sampleRate <= 1'000'000)) {
            return paInvalidSampleRate;
        }
        format.chunkFrames = std::max<std::int64_t>(1, std::lround(sampleRate * kChunkSeconds));
        // Half a second: far more than a read needs; older frames are dropped.
        format.ringFrames = std::max(format.chunkFrames * 4, std::lround(sampleRate / 2));
        auto device = devices_();
        if (!device) {
            return paInternalError;
        }
        std::shared_ptr<Capture> capture;
        try {
            capture =
                Capture::Launch(std::move(device), format, report_, Capture::Want::Idle, false);
        } catch (const std::system_error&) {
            return paInsufficientMemory; // no thread to be had
        }
        const std::optional<std::int64_t> opened = capture->AwaitOpen(kOpenWait);
        if (!opened) {
            capture->Quit(CaptureClock::duration::zero());
            Abandon(std::move(capture));
            return paTimedOut;
        }
        if (*opened == paUnanticipatedHostError) {
            report_->Gone(); // the capture keeps trying
        } else if (*opened != paNoError) {
            capture->Quit(CaptureClock::duration::zero());
            return *opened;
        }
        format_ = format;
        capture_ = std::move(capture);
        return paNoError;
    }

    std::int64_t Start() override {
        if (!capture_) {
            return paBadStreamPtr;
        }
        return capture_->Start(Wait());
    }

    bool IsActive() const override { return capture_ && capture_->Running(); }

    std::int64_t Read(void* buffer, std::int64_t frameCount) override {
        if (!capture_) {
            return paBadStreamPtr;
        }
        ReplaceIfWedged();
        return capture_->Read(buffer, frameCount);
    }

    std::int64_t Stop() override {
        if (!capture_) {
            return paBadStreamPtr;
        }
        return capture_->Stop(Wait());
    }

    std::int64_t Close() override {
        if (!capture_) {
            return paBadStreamPtr;
        }
        // The close itself may wedge (libpulse, its server gone).
        const std::int64_t code = capture_->Quit(Wait(), CaptureTimes::kSlowCall);
        if (!capture_->Finished()) {
            Abandon(std::move(capture_));
        }
        capture_.reset();
        return code;
    }

private:
    CaptureClock::duration Wait() const {
        return capture_->Stuck(CaptureTimes::kSlowCall) ? CaptureClock::duration::zero()
                                                        : CaptureClock::duration(kCommandWait);
    }

    // Takes the caller's hold on the capture: from here only its own thread keeps it alive.
    void Abandon(std::shared_ptr<Capture> capture) {
        std::erase_if(abandoned_, [](const std::weak_ptr<Capture>& c) { return c.expired(); });
        abandoned_.emplace_back(capture);
        capture.reset();
    }

    // Only a new client of the sound server gets past a client library that deadlocked:
    // the wedged capture is left to its thread and a new device takes over.
    void ReplaceIfWedged() {
        if (!capture_->Wedged()) {
            return;
        }
        std::erase_if(abandoned_, [](const std::weak_ptr<Capture>& c) { return c.expired(); });
        if (abandoned_.size() >= kMaxAbandoned) {
            return;
        }
        report_->Gone();
        auto device = devices_();
        if (!device) {
            return;
        }
        std::shared_ptr<Capture> next;
        try {
            next = Capture::Launch(std::move(device), format_, report_, Capture::Want::Run, true);
        } catch (const std::system_error&) {
            return;
        }
        capture_->Quit(CaptureClock::duration::zero());
        Abandon(std::move(capture_));
        capture_ = std::move(next);
    }

    AudioInputDeviceFactory devices_;
    std::shared_ptr<detail::MicrophoneReport> report_ =
        std::make_shared<detail::MicrophoneReport>();
    detail::CaptureFormat format_;
    std::shared_ptr<Capture> capture_; // nil: not open
    // Weak: an abandoned capture belongs to its thread alone.
    std::vector<std::weak_ptr<Capture>> abandoned_;
};

} // namespace

std::unique_ptr<AudioInputDevice> MakeCapturedInput(AudioInputDeviceFactory blockingDevices) {
    return std::make_unique<CapturedInput>(std::move(blockingDevices));
}

} // namespace platform
