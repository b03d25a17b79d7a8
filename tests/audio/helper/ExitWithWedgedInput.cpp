// Listens until the microphone delivers, then freezes the sound server (SIGSTOP to the pid
// given) so that the capture wedges inside the client library, reads on at a timer's pace,
// releases the stream and returns. Exit status: 0 when all went as it should; 2 the stream
// did not open, 3 it delivered nothing, 4 a read held the caller past the deadline.
#include "platform/PortAudioStream.h"
#include "support/TimeScale.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    using namespace std::chrono_literals;
    if (argc != 2) {
        return 2;
    }
    const pid_t server = static_cast<pid_t>(std::atoi(argv[1]));
    {
        platform::PortAudioStream stream;
        if (stream.OpenDefaultStream(1, 0, 1, 44100.0, 10240, 0) != 0) {
            return 2;
        }
        stream.Start();
        std::vector<float> frames(400);
        const auto deadline = Clock::now() + testsupport::Scaled(5s);
        while (stream.Read(frames.data(), 400) != 0) {
            if (Clock::now() > deadline) {
                return 3;
            }
            std::this_thread::sleep_for(16ms);
        }
        kill(server, SIGSTOP);
        // Long enough for the capture to count as wedged and be abandoned, and for its
        // replacement to wedge in its open.
        const auto end = Clock::now() + 6s;
        const auto readLimit = testsupport::Scaled(1s);
        while (Clock::now() < end) {
            const auto begin = Clock::now();
            stream.Read(frames.data(), 400);
            if (Clock::now() - begin > readLimit) {
                return 4;
            }
            std::this_thread::sleep_for(16ms);
        }
        stream.Stop();
    }
    return 0;
}
