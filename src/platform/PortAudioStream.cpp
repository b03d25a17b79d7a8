#include "platform/PortAudioStream.h"

#include "platform/PortAudioSystem.h"
#include "platform/StackGuard.h"

#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {
namespace {

// 400 frames take 9 ms to arrive; a device that delivers none for this long has stalled.
constexpr auto kReadTimeout = std::chrono::milliseconds(750);

std::mutex factoryMutex;
AudioInputDeviceFactory deviceFactory; // test hook; empty: PortAudio

bool FitsInt(std::int64_t value) {
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

// Bytes of one interleaved frame, or 0 when the layout is not known here.
std::int64_t BytesPerFrame(std::int64_t channels, std::int64_t sampleFormat) {
    if (channels <= 0 || (sampleFormat & paNonInterleaved) != 0) {
        return 0;
    }
    switch (sampleFormat) {
    case paFloat32:
    case paInt32:
        return 4 * channels;
    case paInt24:
        return 3 * channels;
    case paInt16:
        return 2 * channels;
    case paInt8:
    case paUInt8:
        return channels;
    default:
        return 0;
    }
}

// The default devices through PortAudio's blocking interface.
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
        auto system = detail::PortAudioSystem::Acquire(initError);
        if (!system) {
            return initError;
        }
        if (stream_ != nullptr) {
            Close();
        }
        if (!FitsInt(inputChannels) || !FitsInt(outputChannels)) {
            return paInvalidChannelCount;
        }
        if (sampleFormat < 0) {
            return paSampleFormatNotSupported;
        }
        if (flags < 0) {
            return paInvalidFlag;
        }
        // As Pa_OpenDefaultStream, which takes no flags.
        PaStreamParameters input{};
        PaStreamParameters output{};
        if (inputChannels > 0 &&
            !Describe(input, Pa_GetDefaultInputDevice(), inputChannels, sampleFormat, true)) {
            // Said once: the caller may try again at every start and hear only silence.
            static std::once_flag told;
            std::call_once(told, [] {
                std::fprintf(stderr, "PortAudio: there is no default audio input device\n");
            });
            return paDeviceUnavailable;
        }
        if (outputChannels > 0 &&
            !Describe(output, Pa_GetDefaultOutputDevice(), outputChannels, sampleFormat, false)) {
            return paDeviceUnavailable;
        }
        const std::lock_guard lock(system->StreamMutex());
        const PaError error = Pa_OpenStream(&stream_, inputChannels > 0 ? &input : nullptr,
                                            outputChannels > 0 ? &output : nullptr, sampleRate,
                                            paFramesPerBufferUnspecified,
                                            static_cast<PaStreamFlags>(flags), nullptr, nullptr);
        if (error != paNoError) {
            stream_ = nullptr;
            return error;
        }
        system_ = std::move(system);
        bytesPerFrame_ = BytesPerFrame(inputChannels, sampleFormat);
        rate_ = sampleRate;
        failed_ = paNoError;
        return paNoError;
    }

    std::int64_t Start() override {
        failed_ = paNoError;
        capturing_ = false;
        return Pa_StartStream(stream_);
    }

    bool IsActive() const override { return Pa_IsStreamActive(stream_) == 1; }

    // PortAudio's own blocking read waits for ever on a device that stopped delivering (its
    // sound server went away): frames are read once they are there, within a time limit.
    // After a failure, reads fail at once until frames come again. The host starts
    // capturing only at the first read of a started stream: that one read blocks, briefly.
    std::int64_t Read(void* buffer, std::int64_t frameCount) override {
        if (frameCount < 0) {
            return paBadBufferPtr;
        }
        if (bytesPerFrame_ == 0 || Pa_IsStreamActive(stream_) != 1) {
            return ReadFrames(buffer, frameCount); // a stopped stream answers at once
        }
        auto* out = static_cast<unsigned char*>(buffer);
        std::int64_t remaining = frameCount;
        bool overflowed = false;
        auto deadline = std::chrono::steady_clock::now() + kReadTimeout;
        while (remaining > 0) {
            signed long available = Pa_GetStreamReadAvailable(stream_);
            if (available == paInputOverflowed) {
                // PortAudio restarted the capture: no frame is lost that a reading needs.
                overflowed = true;
                capturing_ = false;
                available = 0;
            } else if (available < 0) {
                return failed_ = static_cast<PaError>(available);
            }
            // In parts: a read may be larger than the host buffer.
            const std::int64_t frames = available > 0 ? std::min<std::int64_t>(available, remaining)
                                        : capturing_  ? 0
                                                      : 1;
            if (frames > 0) {
                const std::int64_t error = ReadFrames(out, frames);
                if (error != paNoError && error != paInputOverflowed) {
                    return error;
                }
                overflowed = overflowed || error == paInputOverflowed;
                out += frames * bytesPerFrame_;
                remaining -= frames;
                capturing_ = true;
                failed_ = paNoError;
                deadline = std::chrono::steady_clock::now() + kReadTimeout;
                continue;
            }
            if (failed_ != paNoError) {
                return failed_; // one wait per failure, not one per read
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return failed_ = paTimedOut;
            }
            const auto untilFilled =
                std::chrono::duration<double>(static_cast<double>(remaining) / rate_);
            std::this_thread::sleep_for(
                std::clamp(std::chrono::duration_cast<std::chrono::microseconds>(untilFilled),
                           kMinWait, kMaxWait));
        }
        return overflowed ? paInputOverflowed : paNoError;
    }

    std::int64_t ReadAvailable() const override {
        const signed long available = Pa_GetStreamReadAvailable(stream_);
        return available > 0 ? available : 0;
    }

    std::int64_t Stop() override {
        if (Pa_IsStreamStopped(stream_) == 1) {
            return paNoError;
        }
        return Pa_StopStream(stream_);
    }

    std::int64_t Close() override {
        if (stream_ == nullptr) {
            return paBadStreamPtr;
        }
        PaError error = paNoError;
        {
            const std::lock_guard lock(system_->StreamMutex());
            error = Pa_CloseStream(stream_);
        }
        stream_ = nullptr;
        system_.reset();
        return error;
    }

private:
    static constexpr auto kMinWait = std::chrono::microseconds(500);
    static constexpr auto kMaxWait = std::chrono::microseconds(5000);

    std::int64_t ReadFrames(void* buffer, std::int64_t frameCount) {
        static_assert(sizeof(unsigned long) >= sizeof(std::int64_t));
        return Pa_ReadStream(stream_, buffer, static_cast<unsigned long>(frameCount));
    }

    static bool Describe(PaStreamParameters& parameters, PaDeviceIndex device,
                         std::int64_t channels, std::int64_t sampleFormat, bool input) {
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (info == nullptr) {
            return false;
        }
        parameters.device = device;
        parameters.channelCount = static_cast<int>(channels);
        parameters.sampleFormat = static_cast<PaSampleFormat>(sampleFormat);
        // Pa_OpenDefaultStream's choice. The host buffer must also hold well over one read:
        // only the frames in it show as available, so only those can be dropped.
        parameters.suggestedLatency =
            input ? info->defaultHighInputLatency : info->defaultHighOutputLatency;
        parameters.hostApiSpecificStreamInfo = nullptr;
        return true;
    }

    std::shared_ptr<detail::PortAudioSystem> system_;
    PaStream* stream_ = nullptr;
    std::int64_t bytesPerFrame_ = 0; // 0: unknown layout, reads go straight to PortAudio
    double rate_ = 44100;
    PaError failed_ = paNoError;
    bool capturing_ = false;
};

std::unique_ptr<AudioInputDevice> MakeDevice() {
    AudioInputDeviceFactory factory;
    {
        const std::lock_guard lock(factoryMutex);
        factory = deviceFactory;
    }
    if (factory) {
        return factory();
    }
    return std::make_unique<PortAudioInputDevice>();
}

// Frames dropped per device read: bounds the scratch buffer whatever the backlog.
constexpr std::int64_t kDropChunkFrames = 4096;
// Passes of dropping per Read: a backlog of several seconds is gone in one Read, and a
// device that always claims more frames cannot hold Read forever.
constexpr int kMaxDropPasses = 256;

} // namespace

void SetAudioInputDeviceFactoryForTesting(AudioInputDeviceFactory factory) {
    const std::lock_guard lock(factoryMutex);
    deviceFactory = std::move(factory);
}

PortAudioStreamBase::PortAudioStreamBase() {
    CheckStack();
    device_ = MakeDevice();
}

PortAudioStreamBase::~PortAudioStreamBase() {
    if (open_ && device_) {
        device_->Close();
    }
}

std::int64_t PortAudioStreamBase::OpenDefaultStream(std::int64_t numInputChannels,
                                                    std::int64_t numOutputChannels,
                                                    std::int64_t sampleFormat, double sampleRate,
                                                    std::int64_t framesPerBuffer,
                                                    std::int64_t Flags) {
    CheckStack();
    if (!device_) {
        return paInternalError;
    }
    if (open_) {
        open_ = false;
        device_->Close();
    }
    const std::int64_t error = device_->Open(numInputChannels, numOutputChannels, sampleFormat,
                                             sampleRate, framesPerBuffer, Flags);
    if (error != paNoError) {
        return error;
    }
    open_ = true;
    bytesPerFrame_ = BytesPerFrame(numInputChannels, sampleFormat);
    scratch_.assign(bytesPerFrame_ > 0 ? bytesPerFrame_ * kDropChunkFrames : 0, 0);
    return paNoError;
}

std::int64_t PortAudioStreamBase::Start() {
    CheckStack();
    if (!open_) {
        return paBadStreamPtr;
    }
    return device_->Start();
}

bool PortAudioStreamBase::IsStreamActive() const {
    CheckStack();
    return open_ && device_->IsActive();
}

std::int64_t PortAudioStreamBase::Read(void* Buffer, std::int64_t frameCount) {
    CheckStack();
    if (!open_) {
        return paBadStreamPtr;
    }
    if (Buffer == nullptr || frameCount < 0) {
        return paBadBufferPtr;
    }
    if (const std::int64_t error = DropSurplus(frameCount); error != paNoError) {
        return error;
    }
    const std::int64_t error = device_->Read(Buffer, frameCount);
    return error == paInputOverflowed ? std::int64_t{paNoError} : error;
}

std::int64_t PortAudioStreamBase::DropSurplus(std::int64_t frameCount) {
    if (bytesPerFrame_ == 0) {
        return paNoError;
    }
    // Half a read's worth of slack: the next periodic Read is served without waiting.
    const std::int64_t keep = frameCount + frameCount / 2;
    for (int pass = 0; pass < kMaxDropPasses; ++pass) {
        const std::int64_t surplus = device_->ReadAvailable() - keep;
        if (surplus <= 0) {
            break;
        }
        const std::int64_t error =
            device_->Read(scratch_.data(), std::min(surplus, kDropChunkFrames));
        if (error != paNoError && error != paInputOverflowed) {
            return error;
        }
    }
    return paNoError;
}

std::int64_t PortAudioStreamBase::Stop() {
    CheckStack();
    if (!open_) {
        return paBadStreamPtr;
    }
    return device_->Stop();
}

std::int64_t PortAudioStreamBase::Close() {
    CheckStack();
    if (!open_) {
        return paBadStreamPtr;
    }
    open_ = false;
    return device_->Close();
}

} // namespace platform
