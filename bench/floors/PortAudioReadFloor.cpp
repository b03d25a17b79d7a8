// Floor of the listening benchmark, audio half: the default input opened as Zelim opens
// it, and 400 frames read every 16 ms, for a given number of seconds.
#include <portaudio.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr unsigned long kFrames = 400;

struct PortAudioSession {
    PaError error = Pa_Initialize();
    PortAudioSession() = default;
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;
    ~PortAudioSession() {
        if (error == paNoError) {
            Pa_Terminate();
        }
    }
};

int Fail(const char* what, PaError error) {
    std::fprintf(stderr, "%s failed: %s\n", what, Pa_GetErrorText(error));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    if (seconds <= 0.0) {
        std::fprintf(stderr, "usage: %s [SECONDS]\n", argv[0]);
        return 2;
    }
    const PortAudioSession session;
    if (session.error != paNoError) {
        return Fail("Pa_Initialize", session.error);
    }
    PaStream* stream = nullptr;
    if (const PaError error =
            Pa_OpenDefaultStream(&stream, 1, 0, paFloat32, 44100.0, 10240, nullptr, nullptr);
        error != paNoError) {
        return Fail("Pa_OpenDefaultStream", error);
    }
    if (const PaError error = Pa_StartStream(stream); error != paNoError) {
        Pa_CloseStream(stream);
        return Fail("Pa_StartStream", error);
    }

    std::vector<float> buffer(kFrames);
    long reads = 0;
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    auto next = start;
    while (next < end) {
        // An overflow still delivers the frames, as for Zelim.
        if (const PaError error = Pa_ReadStream(stream, buffer.data(), kFrames);
            error != paNoError && error != paInputOverflowed) {
            status = Fail("Pa_ReadStream", error);
            break;
        }
        ++reads;
        next += std::chrono::milliseconds(16);
        std::this_thread::sleep_until(next);
    }
    if (const PaError error = Pa_StopStream(stream); error != paNoError) {
        status = Fail("Pa_StopStream", error);
    }
    if (const PaError error = Pa_CloseStream(stream); error != paNoError) {
        status = Fail("Pa_CloseStream", error);
    }
    std::printf("reads %ld\n", reads);
    return status;
}
