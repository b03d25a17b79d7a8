// Floor of the listening benchmark: the least a program doing Zelim's listening costs, in
// one process. A PortAudio loop takes the newest 400 frames of the default input every
// 16 ms, and a window of Zelim's size takes each reading at its 16 ms timer's tick, for a
// given number of seconds. The loop has a thread of its own: the window never waits for
// the sound server.
//
// The host period (frames, the second argument) is the largest that still hands each
// reading fresh frames: one whose lumps arrive at least once a tick. A larger one delivers
// in bigger lumps, and a reading then holds old frames.
#include "PortAudioSession.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr long kFrames = 400;
constexpr double kRate = 44100.0;

// Older surplus goes, so that the reading is of the room now; fewer than kFrames waits for
// the rest, as Zelim's read does.
void ReadNewest(PaStream* stream, std::vector<float>& frames, std::vector<float>& surplus) {
    long available = Pa_GetStreamReadAvailable(stream);
    if (available < 0 && available != paInputOverflowed) {
        throw bench::PortAudioError("Pa_GetStreamReadAvailable", static_cast<PaError>(available));
    }
    while (available > kFrames) {
        const long drop = std::min(available - kFrames, static_cast<long>(surplus.size()));
        if (const PaError error =
                Pa_ReadStream(stream, surplus.data(), static_cast<unsigned long>(drop));
            error != paNoError && error != paInputOverflowed) {
            throw bench::PortAudioError("Pa_ReadStream", error);
        }
        available -= drop;
    }
    // An overflow still delivers the frames, as for Zelim.
    if (const PaError error = Pa_ReadStream(stream, frames.data(), kFrames);
        error != paNoError && error != paInputOverflowed) {
        throw bench::PortAudioError("Pa_ReadStream", error);
    }
}

// The newest reading, handed from the loop to the window.
struct Reading {
    std::mutex mutex;
    std::vector<float> frames = std::vector<float>(kFrames);
    long count = 0;
};

// Reads every 16 ms until `stop`; a failure is told on stderr and ends the loop with it set.
void Capture(PaStream* stream, unsigned long period, Reading& reading,
             const std::atomic<bool>& stop, std::atomic<bool>& failed) {
    std::vector<float> frames(kFrames);
    std::vector<float> surplus(4 * period);
    auto next = std::chrono::steady_clock::now();
    try {
        while (!stop) {
            ReadNewest(stream, frames, surplus);
            {
                const std::lock_guard lock(reading.mutex);
                reading.frames.swap(frames);
                ++reading.count;
            }
            next += std::chrono::milliseconds(16);
            std::this_thread::sleep_until(next);
        }
    } catch (const bench::PortAudioError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        failed = true;
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.0;
    const long period = argc > 2 ? std::atol(argv[2]) : 705;
    if (argc < 2 || argc > 3 || seconds <= 0.0 || period <= 0) {
        std::fprintf(stderr, "usage: %s SECONDS [PERIOD-FRAMES]\n", argv[0]);
        return 2;
    }
    try {
        const bench::PortAudioSession session;
        const auto framesPerBuffer = static_cast<unsigned long>(period);
        const bench::Stream input(bench::Stream::Direction::Input, 1, kRate, framesPerBuffer,
                                  4.0 * static_cast<double>(period) / kRate);
        Reading reading;
        std::atomic<bool> stop{false};
        std::atomic<bool> failed{false};
        std::thread capture(Capture, input.get(), framesPerBuffer, std::ref(reading),
                            std::cref(stop), std::ref(failed));

        QWidget window;
        window.setWindowTitle("Zelim floor");
        window.setFixedSize(308, 196);
        window.show();
        std::vector<float> shown(kFrames);
        long ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (failed) {
                QApplication::quit();
            }
            const std::lock_guard lock(reading.mutex);
            std::copy(reading.frames.begin(), reading.frames.end(), shown.begin());
            ++ticks;
        });
        tick.start(16);
        QTimer::singleShot(static_cast<int>(seconds * 1000.0), &app, &QApplication::quit);
        QApplication::exec();
        stop = true;
        capture.join();
        std::printf("ticks %ld\nreadings %ld\n", ticks, reading.count);
        return failed ? 1 : 0;
    } catch (const bench::PortAudioError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
