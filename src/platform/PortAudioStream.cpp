#include "platform/PortAudioStream.h"

#include "platform/PortAudioSystem.h"
#include "platform/StackGuard.h"

#include <portaudio.h>

#include <algorithm>
#include <limits>
#include <mutex>
#include <utility>

namespace platform {
namespace {

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
        return paNoError;
    }

    std::int64_t Start() override { return Pa_StartStream(stream_); }

    bool IsActive() const override { return Pa_IsStreamActive(stream_) == 1; }

    std::int64_t Read(void* buffer, std::int64_t frameCount) override {
        static_assert(sizeof(unsigned long) >= sizeof(std::int64_t));
        if (frameCount < 0) {
            return paBadBufferPtr;
        }
        return Pa_ReadStream(stream_, buffer, static_cast<unsigned long>(frameCount));
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
