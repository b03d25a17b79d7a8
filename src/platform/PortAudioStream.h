#pragma once

#include "platform/AudioInputDevice.h"

#include <cstdint>
#include <memory>

namespace platform {

// An input stream with the shape of PortAudio's blocking interface. Its device captures on
// a thread of its own (CapturedInput.h), so no call holds the caller for long.
class PortAudioStreamBase {
public:
    PortAudioStreamBase();
    virtual ~PortAudioStreamBase(); // closes the device stream if open
    PortAudioStreamBase(const PortAudioStreamBase&) = delete;
    PortAudioStreamBase& operator=(const PortAudioStreamBase&) = delete;

    // sampleFormat 1: 32-bit float (PortAudio's paFloat32). Flags are PortAudio's stream
    // flags. framesPerBuffer is passed on; PortAudio's device keeps a period of its own,
    // because large chunks would make readings late. Opening an open stream closes it first.
    std::int64_t OpenDefaultStream(std::int64_t numInputChannels, std::int64_t numOutputChannels,
                                   std::int64_t sampleFormat, double sampleRate,
                                   std::int64_t framesPerBuffer, std::int64_t Flags);
    // The capture runs by itself from now on.
    std::int64_t Start();
    bool IsStreamActive() const;
    // The newest frameCount frames, once some of them are new (older surplus is dropped: a
    // reading describes the room now). An input overflow still delivers valid frames and
    // gives 0. Fails within 750 ms when they cannot be had, at once while the capture is
    // not delivering (just after Start, or with the microphone gone). On a never-opened
    // stream it returns non-zero and does nothing else.
    std::int64_t Read(void* Buffer, std::int64_t frameCount);
    // Stopping a stopped stream is harmless.
    std::int64_t Stop();
    std::int64_t Close();

private:
    std::unique_ptr<AudioInputDevice> device_;
    bool open_ = false;
};

class PortAudioStream : public PortAudioStreamBase {
public:
    using PortAudioStreamBase::PortAudioStreamBase;
};

} // namespace platform
