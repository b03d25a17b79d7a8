// Plays one file through Zelim's own platform::Sound until it ends, or for at most a given
// number of seconds, and prints how long it played and the CPU time and wake-ups (context
// switches of all its threads) it took meanwhile.
//
// In Zelim a track only ever plays while listening, so PortAudio (and its one-time device
// probing) is already up when a Sound plays. The player brings it up first in the same way
// and prints the CPU time of that start apart from the CPU time of the play itself.
#include "CpuTime.h"
#include "platform/PortAudioSystem.h"
#include "platform/Sound.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s SOUND-FILE [MAX-SECONDS]\n", argv[0]);
        return 2;
    }
    const double limit = argc == 3 ? std::atof(argv[2]) : 0.0;
    const ProcessUsage atStart = Usage();
    int error = 0;
    const auto portAudio = platform::detail::PortAudioSystem::Acquire(error);
    if (!portAudio) {
        std::fprintf(stderr, "PortAudio does not start (error %d)\n", error);
        return 5;
    }
    const ProcessUsage beforePlay = Usage();
    const auto sound = platform::Sound::Open(argv[1]);
    if (!sound) {
        std::fprintf(stderr, "cannot open %s as a sound\n", argv[1]);
        return 3;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    sound->Play();
    if (!sound->IsPlaying()) {
        std::fprintf(stderr, "%s does not play\n", argv[1]);
        return 4;
    }
    const auto seconds = [&] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    // One-second polling, as Zelim's monitor thread waits, keeps this program's own share small.
    while (sound->IsPlaying() && (limit <= 0.0 || seconds() < limit)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    const double played = seconds();
    const bool cutShort = sound->IsPlaying();
    const ProcessUsage afterPlay = Usage();
    std::printf("played %.3f s%s\n", played, cutShort ? " (cut short)" : "");
    std::printf("cpu-start %.4f\ncpu-play %.4f\nwakeups-play %ld\n",
                beforePlay.cpuSeconds - atStart.cpuSeconds,
                afterPlay.cpuSeconds - beforePlay.cpuSeconds,
                afterPlay.wakeups - beforePlay.wakeups);
    return 0;
}
