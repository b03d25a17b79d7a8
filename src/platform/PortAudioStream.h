#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

// The device side of an input stream. PortAudio is the default; unit tests substitute a
// scripted source. Codes: 0 success, otherwise the device's error code.
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
    // Frames that Read can store without waiting; 0 when unknown (nothing is then dropped).
    virtual std::int64_t ReadAvailable() const { return 0; }
    virtual std::int64_t Stop() = 0;
    virtual std::int64_t Close() = 0;
};

using AudioInputDeviceFactory = std::function<std::unique_ptr<AudioInputDevice>()>;

// Test hook: devices of streams made from now on come from this factory (empty: PortAudio).
void SetAudioInputDeviceFactoryForTesting(AudioInputDeviceFactory factory);

// A thin class over PortAudio's blocking stream interface.
class PortAudioStreamBase {
public:
    PortAudioStreamBase();
    virtual ~PortAudioStreamBase(); // closes the device stream if open
    PortAudioStreamBase(const PortAudioStreamBase&) = delete;
    PortAudioStreamBase& operator=(const PortAudioStreamBase&) = delete;

    // sampleFormat 1: 32-bit float (PortAudio's paFloat32). Flags are PortAudio's stream
    // flags. With blocking reads framesPerBuffer only sets the chunks in which frames arrive;
    // PortAudio's device leaves it to the host, because large chunks would make readings
    // late. Opening an open stream closes it first.
    std::int64_t OpenDefaultStream(std::int64_t numInputChannels, std::int64_t numOutputChannels,
                                   std::int64_t sampleFormat, double sampleRate,
                                   std::int64_t framesPerBuffer, std::int64_t Flags);
    std::int64_t Start();
    bool IsStreamActive() const;
    // Blocks until frameCount frames are stored in Buffer. The stream captures faster than
    // a periodic reader takes frames, so frames older than the newest frameCount (and a
    // small slack) are dropped first: a reading describes the room now. An input
    // overflow still delivers valid frames and gives 0. On a never-opened stream it returns
    // non-zero and does nothing else.
    std::int64_t Read(void* Buffer, std::int64_t frameCount);
    // Stopping a stopped stream is harmless.
    std::int64_t Stop();
    std::int64_t Close();

private:
    std::int64_t DropSurplus(std::int64_t frameCount);

    std::unique_ptr<AudioInputDevice> device_;
    bool open_ = false;
    std::int64_t bytesPerFrame_ = 0; // 0: the layout is unknown and nothing is dropped
    std::vector<unsigned char> scratch_;
};

class PortAudioStream : public PortAudioStreamBase {
public:
    using PortAudioStreamBase::PortAudioStreamBase;
};

} // namespace platform
