#include "platform/PortAudioInputDevice.h"

#include "platform/Diagnostics.h"
#include "platform/PortAudioSystem.h"

#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace platform::detail {
namespace {

// The host period: one blocking read of the capture. 16 ms still delivers fresh frames to a
// reader at a 16 ms tick, and wakes client and server far less often than the fragments of
// PortAudio's default latencies.
constexpr double kPeriodSeconds = 0.016;
// The host buffer: two periods. PulseAudio hands a recording its frames in blocks of about
// the buffer's length (64 ms with 0.1 s), so a larger one makes readings older. A capture
// thread that is descheduled for longer overflows: PortAudio restarts the capture and the
// frames it delivers are still valid.
constexpr double kBufferSeconds = 0.032;
// The longest one Read waits for frames.
constexpr auto kSlice = std::chrono::milliseconds(50);
// Between looks at what has come. Servers hand a recording its frames in lumps, of about
// the buffer (PulseAudio) or of a graph quantum (PipeWire, 23 ms), so looking sooner mostly
// wakes the thread for nothing: 20 ms halves the capture's wakeups against looking when a
// period's frames are due, and leaves the buffer room for the next lump.
constexpr auto kLookEvery = std::chrono::milliseconds(20);
// A restart after an overflow gives a live device a whole buffer of room; restarts that
// overflow again for this long do not run.
constexpr auto kOverflowingLimit = std::chrono::milliseconds(250);

bool FitsInt(std::int64_t value) {
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

class PortAudioInputDevice final : public AudioInputDevice {
public:
    ~PortAudioInputDevice() override {
        if (stream_ != nullptr) {
            Close();
        }
    }

    std::int64_t Open(std::int64_t inputChannels, std::int64_t outputChannels,
                      std::int64_t sampleFormat, double sampleRate, std::int64_t,
                      std::int64_t flags) override {
        int initError = paNoError;
        auto system = PortAudioSystem::Acquire(initError);
        if (!system) {
            return initError;
        }
        if (stream_ != nullptr) {
            Close();
        }
        if (!FitsInt(inputChannels) || inputChannels <= 0 || outputChannels != 0) {
            return paInvalidChannelCount; // an input stream only
        }
        if (sampleFormat < 0) {
            return paSampleFormatNotSupported;
        }
        if (flags < 0) {
            return paInvalidFlag;
        }
        PaDeviceIndex device = Pa_GetDefaultInputDevice();
        if (device == paNoDevice) {
            PortAudioSystem::ListAgainIfNone(true);
            device = Pa_GetDefaultInputDevice();
        }
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (info == nullptr) {
            // Said once: the caller may try again at every start and hear only silence.
            SayOnce("there is no microphone (no default audio input device)");
            return paDeviceUnavailable;
        }
        // A device that PortAudio listed but cannot open now has lost its sound server (or
        // another client holds it): out of reach, which the capture retries.
        if (!detail::PortAudioSystem::CanOpen(device, true)) {
            return paUnanticipatedHostError;
        }
        PaStreamParameters input{};
        input.device = device;
        input.channelCount = static_cast<int>(inputChannels);
        input.sampleFormat = static_cast<PaSampleFormat>(sampleFormat);
        input.suggestedLatency = std::max(info->defaultLowInputLatency, kBufferSeconds);
        input.hostApiSpecificStreamInfo = nullptr;
        // The system's framesPerBuffer (232 ms) would make every reading a quarter of a
        // second late; the period is the capture's own.
        const auto period =
            static_cast<unsigned long>(std::max(1L, std::lround(sampleRate * kPeriodSeconds)));
        PaError error = paNoError;
        {
            const StreamList::Hold hold(system->Streams(), StreamList::Use::Open);
            error = Pa_OpenStream(&stream_, &input, nullptr, sampleRate, period,
                                  static_cast<PaStreamFlags>(flags), nullptr, nullptr);
        }
        if (error != paNoError) {
            stream_ = nullptr;
            // PortAudio's words for an ALSA device that would not open (busy, or otherwise).
            const bool unopened = error == paDeviceUnavailable || error == paBadIODeviceCombination;
            return unopened ? paUnanticipatedHostError : error;
        }
        system_ = std::move(system);
        return paNoError;
    }

    std::int64_t Start() override {
        if (stream_ == nullptr) {
            return paBadStreamPtr;
        }
        overflowingSince_.reset();
        return Pa_StartStream(stream_);
    }

    bool IsActive() const override { return stream_ != nullptr && Pa_IsStreamActive(stream_) == 1; }

    // PortAudio's own blocking read spins on ALSA's pulse plugin (a tenth of a core): the
    // frames are waited for here, asleep, and read once they are all in. Waits a slice at
    // most, so that its capture can see to a Stop in between: paTimedOut then.
    //
    // After an overflow, PortAudio's read restarts the device until frames come, without
    // end: on PipeWire with its server gone every restart succeeds, overflows at once and
    // leaves messages queued for the dead connection, megabytes a second. The availability
    // query restarts it once per call instead; a device that overflows at every restart for
    // a while has lost its server.
    std::int64_t Read(void* buffer, std::int64_t frameCount) override {
        if (stream_ == nullptr) {
            return paBadStreamPtr;
        }
        if (frameCount < 0) {
            return paBadBufferPtr;
        }
        static_assert(sizeof(unsigned long) >= sizeof(std::int64_t));
        const auto now = [] { return std::chrono::steady_clock::now(); };
        const auto until = now() + kSlice;
        for (;;) {
            const long available = Pa_GetStreamReadAvailable(stream_);
            if (available == paInputOverflowed) {
                if (!overflowingSince_) {
                    overflowingSince_ = now();
                } else if (now() - *overflowingSince_ > kOverflowingLimit) {
                    overflowingSince_.reset();
                    return paDeviceUnavailable;
                }
            } else if (available >= 0) {
                overflowingSince_.reset();
            }
            if (available >= frameCount) {
                return Pa_ReadStream(stream_, buffer, static_cast<unsigned long>(frameCount));
            }
            if (available < 0 && available != paInputOverflowed) {
                return available;
            }
            if (now() >= until) {
                return paTimedOut;
            }
            std::this_thread::sleep_for(kLookEvery);
        }
    }

    // Aborted rather than stopped: an input has nothing to drain, and a dead server must
    // not be waited for.
    std::int64_t Stop() override {
        if (stream_ == nullptr) {
            return paBadStreamPtr;
        }
        if (Pa_IsStreamStopped(stream_) == 1) {
            return paNoError;
        }
        return Pa_AbortStream(stream_);
    }

    std::int64_t Close() override {
        if (stream_ == nullptr) {
            return paBadStreamPtr;
        }
        PaError error = paNoError;
        {
            const StreamList::Hold hold(system_->Streams(), StreamList::Use::Close);
            error = Pa_CloseStream(stream_);
        }
        stream_ = nullptr;
        system_.reset();
        return error;
    }

private:
    std::shared_ptr<PortAudioSystem> system_;
    PaStream* stream_ = nullptr;
    std::optional<std::chrono::steady_clock::time_point> overflowingSince_;
};

} // namespace

std::unique_ptr<AudioInputDevice> MakePortAudioInputDevice() {
    return std::make_unique<PortAudioInputDevice>();
}

} // namespace platform::detail
