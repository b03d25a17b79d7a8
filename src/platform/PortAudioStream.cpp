#include "platform/PortAudioStream.h"

#include "platform/CapturedInput.h"
#include "platform/PortAudioInputDevice.h"
#include "platform/StackGuard.h"

#include <portaudio.h>

#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex factoryMutex;
AudioInputDeviceFactory deviceFactory; // test hook; empty: PortAudio

std::unique_ptr<AudioInputDevice> MakeDevice() {
    AudioInputDeviceFactory factory;
    {
        const std::lock_guard lock(factoryMutex);
        factory = deviceFactory;
    }
    if (factory) {
        return factory();
    }
    return MakeCapturedInput(&detail::MakePortAudioInputDevice);
}

} // namespace

void SetAudioInputDeviceFactoryForTesting(AudioInputDeviceFactory factory) {
    const std::lock_guard lock(factoryMutex);
    deviceFactory = std::move(factory);
}

std::int64_t BytesPerFrame(std::int64_t channels, std::int64_t sampleFormat) {
    if (channels <= 0 || (static_cast<PaSampleFormat>(sampleFormat) & paNonInterleaved) != 0) {
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
    open_ = error == paNoError;
    return error;
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
    const std::int64_t error = device_->Read(Buffer, frameCount);
    return error == paInputOverflowed ? std::int64_t{paNoError} : error;
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
