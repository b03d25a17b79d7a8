// Reads raw mono float32 frames at 44100 Hz from standard input (parec with a small
// latency) and prints, in seconds of CLOCK_MONOTONIC, when the frame of interest was heard:
//   sound  the first frame above the threshold;
//   quiet  the first frame of a silence of at least 0.2 s that follows 1 s of sound.
// A frame's time is its chunk's arrival time less the frames that came after it in that
// chunk; both watchers of a run share this method, so its constant lag cancels out.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr double kRate = 44100.0;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char** argv) {
    const bool quietMode = argc >= 2 && std::strcmp(argv[1], "quiet") == 0;
    if (argc < 2 || argc > 3 || (!quietMode && std::strcmp(argv[1], "sound") != 0)) {
        std::fprintf(stderr, "usage: %s sound|quiet [THRESHOLD]\n", argv[0]);
        return 2;
    }
    const double threshold = argc == 3 ? std::atof(argv[2]) : 1e-3;
    const long soundNeeded = static_cast<long>(kRate);       // 1 s
    const long silenceNeeded = static_cast<long>(kRate / 5); // 0.2 s

    std::vector<float> chunk(4096);
    std::vector<char> bytes(chunk.size() * sizeof(float));
    std::size_t pending = 0; // bytes of a frame cut across reads
    long frame = 0;
    long soundFrames = 0;
    long silentRun = 0;
    double silenceStart = 0.0;
    while (true) {
        const ssize_t got = ::read(STDIN_FILENO, bytes.data() + pending, bytes.size() - pending);
        if (got <= 0) {
            std::fprintf(stderr, "level-watch: input ended after %.3f s of audio\n",
                         static_cast<double>(frame) / kRate);
            return 1;
        }
        const double arrival = Now();
        const std::size_t total = pending + static_cast<std::size_t>(got);
        const std::size_t frames = total / sizeof(float);
        std::memcpy(chunk.data(), bytes.data(), frames * sizeof(float));
        pending = total - frames * sizeof(float);
        std::memmove(bytes.data(), bytes.data() + frames * sizeof(float), pending);
        for (std::size_t i = 0; i < frames; ++i, ++frame) {
            const double heardAt = arrival - static_cast<double>(frames - 1 - i) / kRate;
            const bool loud = std::fabs(chunk[i]) > threshold;
            if (!quietMode) {
                if (loud) {
                    std::printf("%.6f\n", heardAt);
                    return 0;
                }
                continue;
            }
            if (loud) {
                ++soundFrames;
                silentRun = 0;
                continue;
            }
            if (soundFrames < soundNeeded) {
                continue;
            }
            if (silentRun++ == 0) {
                silenceStart = heardAt;
            }
            if (silentRun >= silenceNeeded) {
                std::printf("%.6f\n", silenceStart);
                return 0;
            }
        }
    }
}
