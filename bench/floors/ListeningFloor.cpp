// Floor of the listening benchmark: the least a program doing Zelim's listening costs, in
// one process and one thread of its own. A window of Zelim's size with Zelim's one button
// (its caption costs Qt's text rendering, fonts and shaping: megabytes of the peak RSS),
// whose 16 ms timer takes, at each tick, the newest 400 frames of the default input, for a
// given number of seconds.
// A tick reads only what is already there, so the window never waits for the sound server;
// older surplus is dropped, so each reading is of the room now.
//
// The host period (frames, the second argument) is the largest that still hands each tick
// fresh frames: one whose lumps arrive at least once a tick. A larger one delivers in
// bigger lumps, and a reading then holds old frames.
#include "PortAudioSession.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr long kFrames = 400;
constexpr double kRate = 44100.0;

// The newest kFrames frames read so far.
class Reading {
public:
    explicit Reading(long period) : scratch_(static_cast<std::size_t>(4 * period)) {}

    // Reads what is there; returns the frames that were new.
    long Refresh(PaStream* stream) {
        long available = Pa_GetStreamReadAvailable(stream);
        if (available == paInputOverflowed) {
            available = 0; // PortAudio restarts the capture; the next tick has frames
        } else if (available < 0) {
            throw bench::PortAudioError("Pa_GetStreamReadAvailable",
                                        static_cast<PaError>(available));
        }
        const long fresh = available;
        while (available > 0) {
            const long frames = std::min(available, static_cast<long>(scratch_.size()));
            // An overflow still delivers the frames, as for Zelim.
            if (const PaError error =
                    Pa_ReadStream(stream, scratch_.data(), static_cast<unsigned long>(frames));
                error != paNoError && error != paInputOverflowed) {
                throw bench::PortAudioError("Pa_ReadStream", error);
            }
            Keep(frames);
            available -= frames;
        }
        return fresh;
    }

private:
    void Keep(long frames) {
        const long kept = std::min(frames, kFrames);
        std::move(newest_.begin() + kept, newest_.end(), newest_.begin());
        std::copy(scratch_.begin() + (frames - kept), scratch_.begin() + frames,
                  newest_.end() - kept);
    }

    std::vector<float> scratch_;
    std::vector<float> newest_ = std::vector<float>(kFrames);
};

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
        const bench::Stream input(bench::Stream::Direction::Input, 1, kRate,
                                  static_cast<unsigned long>(period),
                                  4.0 * static_cast<double>(period) / kRate);
        QWidget window;
        window.setWindowTitle("Zelim floor");
        window.setFixedSize(308, 196);
        QPushButton button("Start", &window);
        button.setGeometry(94, 72, 121, 53);
        window.show();

        Reading reading(period);
        long ticks = 0;
        long staleTicks = 0; // ticks with fewer than kFrames new frames
        int status = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            try {
                staleTicks += reading.Refresh(input.get()) < kFrames ? 1 : 0;
                ++ticks;
            } catch (const bench::PortAudioError& error) {
                std::fprintf(stderr, "%s\n", error.what());
                status = 1;
                QApplication::quit();
            }
        });
        tick.start(16);
        QTimer::singleShot(static_cast<int>(seconds * 1000.0), &app, &QApplication::quit);
        QApplication::exec();
        std::printf("ticks %ld\nticks-with-fewer-than-%ld-new-frames %ld\n", ticks, kFrames,
                    staleTicks);
        return status;
    } catch (const bench::PortAudioError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
