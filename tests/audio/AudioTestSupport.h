#pragma once

// Playing into and recording from the private test audio server.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace audiotest {

using Clock = std::chrono::steady_clock;

// Runs a shell command on a thread of its own and notes when it ended.
class Background {
public:
    explicit Background(std::string command);
    ~Background(); // waits for the command
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    void Wait();
    // Both wait for the command first.
    Clock::time_point Ended() {
        Wait();
        return ended_;
    }
    int Status() {
        Wait();
        return status_;
    }

private:
    Clock::time_point ended_{};
    int status_ = -1;
    std::thread thread_; // last: it writes the members above as soon as it starts
};

// The command's standard output; throws when it cannot run.
std::string Output(const std::string& command);

// True once condition holds, false when timeout passed first.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

double Seconds(Clock::duration duration);

double MeanAbs(const float* samples, std::size_t count);

// A mono 16-bit WAV: `silence` seconds of silence, then a sine of `hertz` at peak `peak`
// (0..1) for `seconds`.
void MakeToneWav(const std::filesystem::path& file, double silence, double seconds, int hertz,
                 double peak);

// Plays a WAV into the "room" sink; the command ends about when the last frame reached the
// microphone (room.monitor).
std::string PlayIntoRoom(const std::filesystem::path& wav);

// Plays a WAV into the "room" sink as a microphone feeds a server: the server holds two
// seconds of it ahead and the recorder sets the pace. A feeder with a small latency that
// misses its turn on a busy machine leaves gaps of silence in the room; this one does not.
// The command ends some time after the last frame reached the microphone.
std::string FeedRoom(const std::filesystem::path& wav);

// Records what reaches "speakers" while it lives: mono 16-bit at 44100 Hz.
class SpeakersRecording {
public:
    SpeakersRecording(const std::filesystem::path& file, double seconds);
    // Waits for the recording's end; the samples it got.
    std::vector<std::int16_t> Samples();
    // Seconds of the recording whose 10 ms windows hold a sound above `level` (0..1).
    double SoundingSeconds(double level = 0.02);

private:
    std::filesystem::path file_;
    Background recorder_;
    std::vector<std::int16_t> samples_;
    bool done_ = false;
};

// Number of record streams on the server.
int RecordStreams();

} // namespace audiotest
