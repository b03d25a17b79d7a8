#pragma once

// The floors' PortAudio: a session and a started stream on a default device, each call
// checked where it is made. A failure is a PortAudioError naming the call.
#include <portaudio.h>

#include <stdexcept>
#include <string>

namespace bench {

class PortAudioError : public std::runtime_error {
public:
    PortAudioError(const char* call, PaError error)
        : std::runtime_error(std::string(call) + " failed: " + Pa_GetErrorText(error)) {}
};

inline void Check(const char* call, PaError error) {
    if (error != paNoError) {
        throw PortAudioError(call, error);
    }
}

class PortAudioSession {
public:
    PortAudioSession() { Check("Pa_Initialize", Pa_Initialize()); }
    ~PortAudioSession() { Pa_Terminate(); }
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;
};

// A started float stream on the default input or output, aborted and closed at the end.
class Stream {
public:
    enum class Direction { Input, Output };

    Stream(Direction direction, int channels, double rate, unsigned long framesPerBuffer,
           double latency) {
        const bool input = direction == Direction::Input;
        PaStreamParameters parameters{};
        parameters.device = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        if (parameters.device == paNoDevice) {
            throw PortAudioError(input ? "Pa_GetDefaultInputDevice" : "Pa_GetDefaultOutputDevice",
                                 paInvalidDevice);
        }
        parameters.channelCount = channels;
        parameters.sampleFormat = paFloat32;
        parameters.suggestedLatency = latency;
        Check("Pa_OpenStream",
              Pa_OpenStream(&stream_, input ? &parameters : nullptr, input ? nullptr : &parameters,
                            rate, framesPerBuffer, paNoFlag, nullptr, nullptr));
        if (const PaError error = Pa_StartStream(stream_); error != paNoError) {
            Pa_CloseStream(stream_);
            throw PortAudioError("Pa_StartStream", error);
        }
    }
    ~Stream() {
        Pa_AbortStream(stream_);
        Pa_CloseStream(stream_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    PaStream* get() const { return stream_; }

private:
    PaStream* stream_ = nullptr;
};

} // namespace bench
