// Plays one file through Zelim's own platform::Sound until it ends, or for at most a given
// number of seconds, and prints how long it played.
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
    // Coarse polling, as Zelim's monitor thread does, keeps this program's own share small.
    while (sound->IsPlaying() && (limit <= 0.0 || seconds() < limit)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("played %.3f s%s\n", seconds(), sound->IsPlaying() ? " (cut short)" : "");
    return 0;
}
