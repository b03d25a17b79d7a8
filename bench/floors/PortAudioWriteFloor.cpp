// Floor of the playback benchmark, PortAudio's own share: the least a player that decodes
// with libsndfile and writes to PortAudio's default output can cost. One thread, blocking
// writes, the same two-second buffer and half-second periods as platform::Sound, then a
// wait for the buffer's end. Prints the CPU time of its PortAudio start and of its play
// apart, as zelim_bench_sound_player does.
#include "CpuTime.h"

#include <portaudio.h>
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

int Fail(const char* what, PaError error) {
    std::fprintf(stderr, "%s failed: %s\n", what, Pa_GetErrorText(error));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOUND-FILE\n", argv[0]);
        return 2;
    }
    const double atStart = CpuSeconds();
    if (const PaError error = Pa_Initialize(); error != paNoError) {
        return Fail("Pa_Initialize", error);
    }
    const double beforePlay = CpuSeconds();
    SF_INFO info{};
    SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], sf_strerror(nullptr));
        Pa_Terminate();
        return 3;
    }
    PaStreamParameters parameters{};
    parameters.device = Pa_GetDefaultOutputDevice();
    parameters.channelCount = info.channels;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = 2.0;
    PaStream* stream = nullptr;
    int status = 0;
    if (const PaError error = parameters.device == paNoDevice
                                  ? paInvalidDevice
                                  : Pa_OpenStream(&stream, nullptr, &parameters, info.samplerate,
                                                  static_cast<unsigned long>(info.samplerate / 2),
                                                  paNoFlag, nullptr, nullptr);
        error != paNoError) {
        status = Fail("Pa_OpenStream", error);
    } else if (const PaError started = Pa_StartStream(stream); started != paNoError) {
        status = Fail("Pa_StartStream", started);
    } else {
        const sf_count_t block = info.samplerate / 4;
        std::vector<float> samples(static_cast<std::size_t>(block * info.channels));
        sf_count_t frames = 0;
        while ((frames = sf_readf_float(file, samples.data(), block)) > 0) {
            const PaError error =
                Pa_WriteStream(stream, samples.data(), static_cast<unsigned long>(frames));
            if (error != paNoError && error != paOutputUnderflowed) {
                status = Fail("Pa_WriteStream", error);
                break;
            }
        }
        const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
        std::this_thread::sleep_for(
            std::chrono::duration<double>(streamInfo ? streamInfo->outputLatency : 0.0));
        Pa_AbortStream(stream);
    }
    if (stream != nullptr) {
        Pa_CloseStream(stream);
    }
    sf_close(file);
    const double afterPlay = CpuSeconds();
    Pa_Terminate();
    std::printf("cpu-start %.4f\ncpu-play %.4f\n", beforePlay - atStart, afterPlay - beforePlay);
    return status;
}
