#include "AudioTestSupport.h"

#include "support/TestSupport.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace audiotest {

Background::Background(std::string command)
    : thread_([this, command = std::move(command)] {
          status_ = std::system(command.c_str());
          ended_ = Clock::now();
      }) {}

Background::~Background() {
    Wait();
}

void Background::Wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::string Output(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        throw std::runtime_error("cannot run: " + command);
    }
    std::string output;
    char chunk[4096];
    while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe.get())) {
        output.append(chunk, n);
    }
    return output;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double MeanAbs(const float* samples, std::size_t count) {
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += std::fabs(samples[i]);
    }
    return count == 0 ? 0 : sum / static_cast<double>(count);
}

void MakeToneWav(const std::filesystem::path& file, double silence, double seconds, int hertz,
                 double peak) {
    std::ostringstream command;
    command << "sox -D -R -n -r 44100 -c 1 -b 16 '" << file.string() << "' synth " << seconds
            << " sine " << hertz << " vol " << peak << " pad " << silence << " 0";
    testsupport::Shell(command.str());
}

std::string PlayIntoRoom(const std::filesystem::path& wav) {
    // A large buffer, as a microphone's recorder sets the pace: with a small one the player
    // underruns on a busy machine and the room hears gaps of silence in the tone. pacat
    // still ends when its last frame has been played (it drains).
    return "pacat --device=room --latency-msec=250 --file-format=wav '" + wav.string() + "'";
}

std::string FeedRoom(const std::filesystem::path& wav) {
    return "pacat --device=room --latency-msec=2000 --file-format=wav '" + wav.string() + "'";
}

SpeakersRecording::SpeakersRecording(const std::filesystem::path& file, double seconds)
    : file_(file), recorder_("timeout " + std::to_string(seconds) +
                             " parec --device=speakers.monitor --format=s16le --channels=1"
                             " --rate=44100 --latency-msec=20 --raw '" +
                             file.string() + "'") {
    // The monitor of a null sink streams silence all along: data in the file means that
    // the recording runs.
    if (!WaitFor(
            [&] {
                std::error_code error;
                return std::filesystem::file_size(file_, error) > 0 && !error;
            },
            std::chrono::seconds(5))) {
        throw std::runtime_error("parec on speakers.monitor recorded nothing");
    }
}

std::vector<std::int16_t> SpeakersRecording::Samples() {
    if (!done_) {
        recorder_.Wait();
        std::ifstream in(file_, std::ios::binary);
        std::int16_t sample;
        while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
            samples_.push_back(sample);
        }
        done_ = true;
    }
    return samples_;
}

double SpeakersRecording::SoundingSeconds(double level) {
    const std::vector<std::int16_t> samples = Samples();
    constexpr std::size_t kWindow = 441;
    std::size_t sounding = 0;
    for (std::size_t start = 0; start + kWindow <= samples.size(); start += kWindow) {
        double sum = 0;
        for (std::size_t i = start; i < start + kWindow; ++i) {
            sum += std::abs(samples[i]) / 32768.0;
        }
        if (sum / kWindow > level) {
            ++sounding;
        }
    }
    return static_cast<double>(sounding) * 0.01;
}

int RecordStreams() {
    const std::string listing = Output("pactl list short source-outputs");
    int lines = 0;
    for (const char c : listing) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

} // namespace audiotest
