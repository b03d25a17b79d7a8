#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// The device side of an input stream. Codes: 0 success, otherwise PortAudio's error code.
// The stream's default device is a captured input (CapturedInput.h) over PortAudio; unit
// tests substitute a scripted source.
class AudioInputDevice {
public:
    virtual ~AudioInputDevice() = default;
    virtual std::int64_t Open(std::int64_t inputChannels, std::int64_t outputChannels,
                              std::int64_t sampleFormat, double sampleRate,
                              std::int64_t framesPerBuffer, std::int64_t flags) = 0;
    virtual std::int64_t Start() = 0;
    virtual bool IsActive() const = 0;
    // Stores frameCount frames into buffer; 0 only when all of them were stored.
    virtual std::int64_t Read(void* buffer, std::int64_t frameCount) = 0;
    virtual std::int64_t Stop() = 0;
    virtual std::int64_t Close() = 0;
};

using AudioInputDeviceFactory = std::function<std::unique_ptr<AudioInputDevice>()>;

// Test hook: devices of streams made from now on come from this factory (empty: PortAudio).
void SetAudioInputDeviceFactoryForTesting(AudioInputDeviceFactory factory);

// Bytes of one interleaved frame of PortAudio's sample format, or 0 when not known here.
std::int64_t BytesPerFrame(std::int64_t channels, std::int64_t sampleFormat);

} // namespace platform
