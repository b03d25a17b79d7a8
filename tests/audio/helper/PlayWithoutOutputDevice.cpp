// Plays a sound file where no output device exists (the test sets up the environment):
// prints "playing 0|1" after each of three plays, from two sounds, and once more later.
#include "platform/Sound.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOUND-FILE\n", argv[0]);
        return 2;
    }
    const auto first = platform::Sound::Open(argv[1]);
    const auto second = platform::Sound::Open(argv[1]);
    if (!first || !second) {
        std::fprintf(stderr, "cannot open %s as a sound\n", argv[1]);
        return 3;
    }
    for (const auto& sound : {first, second, first}) {
        sound->Play();
        std::printf("playing %d\n", sound->IsPlaying() ? 1 : 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("playing %d\n", first->IsPlaying() || second->IsPlaying() ? 1 : 0);
    return 0;
}
