// Floor of the playback benchmark, PortAudio's own share: the least a player that decodes
// with libsndfile and writes to PortAudio's default output can cost. One thread, blocking
// writes of a period each into a buffer of platform::Sound's size, then a wait until the
// last frame's place in real time. Prints the CPU time and wake-ups of its PortAudio start and of
// its play apart, as zelim_bench_sound_player does.
#include "CpuTime.h"
#include "PortAudioSession.h"

#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr double kBufferSeconds = 4.0;
constexpr int kPeriodsPerSecond = 1;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOUND-FILE\n", argv[0]);
        return 2;
    }
    try {
        const ProcessUsage atStart = Usage();
        const bench::PortAudioSession session;
        const ProcessUsage beforePlay = Usage();
        const auto playStart = std::chrono::steady_clock::now();
        SF_INFO info{};
        const std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(argv[1], SFM_READ, &info));
        if (!file) {
            std::fprintf(stderr, "cannot open %s: %s\n", argv[1], sf_strerror(nullptr));
            return 3;
        }
        const long period = info.samplerate / kPeriodsPerSecond;
        {
            const bench::Stream output(bench::Stream::Direction::Output, info.channels,
                                       info.samplerate, static_cast<unsigned long>(period),
                                       kBufferSeconds);
            std::vector<float> samples(static_cast<std::size_t>(period * info.channels));
            sf_count_t frames = 0;
            sf_count_t total = 0;
            while ((frames = sf_readf_float(file.get(), samples.data(), period)) > 0) {
                total += frames;
                const PaError error = Pa_WriteStream(output.get(), samples.data(),
                                                     static_cast<unsigned long>(frames));
                if (error != paNoError && error != paOutputUnderflowed) {
                    throw bench::PortAudioError("Pa_WriteStream", error);
                }
            }
            // No frame plays sooner than its place in real time.
            std::this_thread::sleep_until(
                playStart +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(static_cast<double>(total) / info.samplerate)));
        }
        const ProcessUsage afterPlay = Usage();
        std::printf(
            "played %.3f s\n",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - playStart).count());
        std::printf("cpu-start %.4f\ncpu-play %.4f\nwakeups-play %ld\n",
                    beforePlay.cpuSeconds - atStart.cpuSeconds,
                    afterPlay.cpuSeconds - beforePlay.cpuSeconds,
                    afterPlay.wakeups - beforePlay.wakeups);
        return 0;
    } catch (const bench::PortAudioError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
