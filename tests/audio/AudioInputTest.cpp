// PortAudioStream through PortAudio's default input, which is the private server's
// room.monitor: what is played into "room" is what the microphone hears.
#include "AudioTestSupport.h"

#include "platform/Diagnostics.h"
#include "platform/PortAudioStream.h"
#include "support/SaidLines.h"
#include "support/TestSupport.h"
#include "support/TimeScale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using audiotest::Background;
using audiotest::Clock;
using audiotest::MeanAbs;
using audiotest::Seconds;

constexpr std::int64_t kFloat32 = 1;
constexpr std::int64_t kFrames = 400;
constexpr auto kPeriod = 16ms;

// Opens the stream as the application does, mono float32 at 44100 Hz, and starts it. The
// capture runs by itself from Start on; reads fail at once until its first frames are in,
// so this waits for them.
void StartListening(platform::PortAudioStream& stream) {
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
    ASSERT_EQ(stream.Start(), 0);
    std::vector<float> frames(kFrames);
    ASSERT_TRUE(audiotest::WaitFor(
        [&] {
            std::this_thread::sleep_for(kPeriod);
            return stream.Read(frames.data(), kFrames) == 0;
        },
        5s))
        << "the microphone delivered nothing";
}

// The stream as the application opens it, delivering.
class Microphone : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartListening(stream_)); }

    // One reading, as the application's 16 ms timer takes it.
    double Reading() {
        std::this_thread::sleep_for(kPeriod);
        std::vector<float> frames(kFrames, 99.0f);
        const std::int64_t code = stream_.Read(frames.data(), kFrames);
        EXPECT_EQ(code, 0);
        return MeanAbs(frames.data(), frames.size());
    }

    // The same, where reads may fail: a failed one counts as 0, as the system counts it.
    double ReadingOrZero() {
        std::this_thread::sleep_for(kPeriod);
        std::vector<float> frames(kFrames);
        return stream_.Read(frames.data(), kFrames) == 0 ? MeanAbs(frames.data(), frames.size())
                                                         : 0.0;
    }

    platform::PortAudioStream stream_;
    testsupport::TempDir dir_;
};

// A 1 kHz sine of peak 0.5 has a mean absolute value of 0.5 * 2 / pi = 0.3183. Every link
// runs at 44100 Hz with unity volume (16-bit file, null sink, monitor, float conversion),
// so the only error of a 400-frame reading is that it holds 9.07 periods, not a whole
// number: at most about 0.002. A tolerance of 0.01 (3 %) admits that and 16-bit rounding
// and still catches a wrong gain (-0.5 dB is 0.018), a summed or halved stereo downmix, or
// a reading of the wrong frames.
TEST_F(Microphone, ReadsTheLevelOfAToneAndSilence) {
    const double expected = 0.5 * 2.0 / std::numbers::pi;
    for (int i = 0; i < 20; ++i) {
        EXPECT_LT(Reading(), 1e-4) << "the room is silent, reading " << i;
    }

    const auto tone = dir_.Path() / "tone.wav";
    audiotest::MakeToneWav(tone, 0.0, 3.0, 1000, 0.5);
    Background player(audiotest::PlayIntoRoom(tone));
    const auto deadline = Clock::now() + 5s;
    while (Reading() < 0.1) {
        ASSERT_LT(Clock::now(), deadline) << "the tone never reached the microphone";
    }
    Reading(); // the reading at the tone's onset is partly silent
    for (int i = 0; i < 40; ++i) {
        EXPECT_NEAR(Reading(), expected, 0.01) << "reading " << i << " of the tone";
    }
    player.Wait();
    EXPECT_EQ(player.Status(), 0);
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 20; ++i) {
        EXPECT_LT(Reading(), 1e-4) << "silence after the tone, reading " << i;
    }
}

// The reader takes 400 frames per 16 ms while 706 arrive: without dropping the surplus,
// readings fall behind by about 0.3 s per second of listening. After a second of silence,
// the tone must show in a reading within 0.1 s of reaching the microphone, and stop
// showing within 0.1 s of its end.
TEST_F(Microphone, ReadingsDescribeTheRoomNow) {
    const auto file = dir_.Path() / "silence-then-tone.wav";
    constexpr double kSilence = 1.5;
    constexpr double kTone = 1.0;
    audiotest::MakeToneWav(file, kSilence, kTone, 1000, 0.5);
    Reading();
    Background player(audiotest::PlayIntoRoom(file));
    Clock::time_point firstTone{};
    Clock::time_point lastTone{};
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        const double level = Reading();
        const auto now = Clock::now();
        if (level > 0.1) {
            if (firstTone == Clock::time_point{}) {
                firstTone = now;
            }
            lastTone = now;
        } else if (lastTone != Clock::time_point{} && now - lastTone > 300ms) {
            break;
        }
    }
    ASSERT_NE(firstTone, Clock::time_point{}) << "the tone never reached the microphone";
    // pacat ends when its last frame has been played into the room.
    const Clock::time_point toneEnd = player.Ended();
    const Clock::time_point toneStart = toneEnd - std::chrono::milliseconds(1000);
    std::printf("tone read from %+.3f s after its start to %+.3f s after its end\n",
                Seconds(firstTone - toneStart), Seconds(lastTone - toneEnd));
    EXPECT_LT(Seconds(firstTone - toneStart), 0.1) << "the tone's start was read late";
    EXPECT_LT(Seconds(lastTone - toneEnd), 0.1) << "the tone was still read after its end";
    EXPECT_GT(Seconds(lastTone - firstTone), kTone - 0.15) << "readings missed the tone";
}

TEST_F(Microphone, StoppingTwiceIsHarmlessAndTheStreamStartsAgain) {
    Reading();
    EXPECT_EQ(stream_.Stop(), 0);
    EXPECT_FALSE(stream_.IsStreamActive());
    EXPECT_EQ(stream_.Stop(), 0);
    ASSERT_EQ(stream_.Start(), 0);
    EXPECT_TRUE(stream_.IsStreamActive());
    const auto tone = dir_.Path() / "tone.wav";
    audiotest::MakeToneWav(tone, 0.0, 1.0, 1000, 0.5);
    Background player(audiotest::PlayIntoRoom(tone));
    const auto deadline = Clock::now() + 5s;
    while (ReadingOrZero() < 0.1) {
        ASSERT_LT(Clock::now(), deadline) << "the restarted stream hears nothing";
    }
}

// The private server's fault commands; the server runs again when this ends, whatever the
// test did to it.
class ServerControl {
public:
    ~ServerControl() {
        std::system(("'" + script_ + "' unstall '" + dir_ + "' >/dev/null 2>&1").c_str());
        if (std::system(("'" + script_ + "' restart '" + dir_ + "' >/dev/null 2>&1").c_str()) !=
            0) {
            std::fprintf(stderr, "the audio test server did not start again\n");
        }
    }
    void Do(const std::string& command, const std::string& argument = "") {
        testsupport::Shell("'" + script_ + "' " + command + " '" + dir_ + "' " + argument +
                           " >/dev/null");
    }
    // The pid of the pulseaudio flavour's server, or 0.
    int PulseaudioPid() {
        std::ifstream pids(dir_ + "/pids");
        std::string name;
        int pid = 0;
        while (pids >> name >> pid) {
            if (name == "pulseaudio") {
                return pid;
            }
        }
        return 0;
    }

private:
    std::string script_ = (testsupport::SourceDir() / "tools" / "audio-test-server").string();
    std::string dir_ = testsupport::AudioServerDir().string();
};

long RssKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

using testsupport::SaidLines;

// Reads at the timer's pace for `duration`; the longest read, and how many succeeded.
struct Ticks {
    double longest = 0;
    int succeeded = 0;
    int failed = 0;
    double loudest = 0;
};
Ticks ReadFor(platform::PortAudioStream& stream, Clock::duration duration,
              const std::function<bool(double level)>& done = {}) {
    Ticks ticks;
    std::vector<float> frames(kFrames);
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
        std::this_thread::sleep_for(kPeriod);
        const auto begin = Clock::now();
        const std::int64_t code = stream.Read(frames.data(), kFrames);
        ticks.longest = std::max(ticks.longest, Seconds(Clock::now() - begin));
        if (code != 0) {
            ++ticks.failed;
            continue;
        }
        ++ticks.succeeded;
        const double level = MeanAbs(frames.data(), frames.size());
        ticks.loudest = std::max(ticks.loudest, level);
        if (done && done(level)) {
            break;
        }
    }
    return ticks;
}

// The server comes back: a tone in the room is read within 3 s, no read outlives the
// deadline, and the microphone was said gone once and back once.
void ExpectListeningResumes(ServerControl& server, platform::PortAudioStream& stream,
                            SaidLines& said) {
    server.Do("restart");
    const auto back = Clock::now();
    testsupport::TempDir dir;
    audiotest::MakeToneWav(dir.Path() / "tone.wav", 0.0, 5.0, 1000, 0.5);
    Background player(audiotest::PlayIntoRoom(dir.Path() / "tone.wav"));
    const Ticks resumed = ReadFor(stream, 7s, [](double level) { return level > 0.1; });
    const double after = Seconds(Clock::now() - back);
    std::printf("the tone was read %.2f s after the server came back; longest read %.3f s\n", after,
                resumed.longest);
    EXPECT_GT(resumed.loudest, 0.1) << "the microphone never came back";
    EXPECT_LT(after, 3.0 + 1.5); // and the player's own start on a busy machine
    EXPECT_LT(resumed.longest, 0.75 + 0.25);
    EXPECT_EQ(said.Count("the microphone is gone"), 1);
    EXPECT_EQ(said.Count("the microphone is back"), 1);
}

// The server dies under a listening stream, as in a crash (KILL) or `systemctl --user
// restart` (TERM), and comes back: every read fails within the deadline meanwhile, memory
// stays flat, it is said once each way, and a tone in the room is heard again within 3 s of
// the server's return.
class ServerKilled : public ::testing::TestWithParam<const char*> {};

TEST_P(ServerKilled, ReadsFailWithinTheDeadlineAndResumeWhenItIsBack) {
    ServerControl server;
    SaidLines said;
    platform::PortAudioStream stream;
    ASSERT_NO_FATAL_FAILURE(StartListening(stream));
    ReadFor(stream, 1s);
    const long rssBefore = RssKilobytes();

    server.Do("kill", GetParam());
    ReadFor(stream, 200ms); // frames in flight may still arrive
    const Ticks dead = ReadFor(stream, 4s);
    EXPECT_EQ(dead.succeeded, 0) << "reads succeeded without a server";
    EXPECT_LT(dead.longest, 0.75 + 0.25) << "a read outlived the deadline";
    EXPECT_LT(RssKilobytes() - rssBefore, 5 * 1024) << "memory grew while the server was dead";

    ExpectListeningResumes(server, stream, said);
}

INSTANTIATE_TEST_SUITE_P(Signals, ServerKilled, ::testing::Values("KILL", "TERM"));

// Stop, the server dies, and Start: as the application does, Start releases the stopped
// stream and makes a new one. Within a second (a click's answer) the new stream opens and
// starts; its reads fail within the deadline, it says once that the microphone is gone, and
// a tone in the room is heard within 3 s of the server's return. Releasing the old stream
// may wedge in libpulse (its server died while ALSA's pulse plugin held a recorded block).
class ServerKilledBeforeStart : public ::testing::TestWithParam<const char*> {};

TEST_P(ServerKilledBeforeStart, ANewStreamListensOnceTheServerIsBack) {
    ServerControl server;
    SaidLines said;
    auto first = std::make_unique<platform::PortAudioStream>();
    ASSERT_NO_FATAL_FAILURE(StartListening(*first)); // PortAudio lists the microphone now
    ReadFor(*first, 1s);
    ASSERT_EQ(first->Stop(), 0);
    server.Do("kill", GetParam());
    const auto begin = Clock::now();
    first.reset();
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
    ASSERT_EQ(stream.Start(), 0);
    const double started = Seconds(Clock::now() - begin);
    std::printf("the new stream started %.2f s after the old one was let go\n", started);
    EXPECT_LT(started, 1.0) << "Start waited for the dead server";
    const Ticks dead = ReadFor(stream, 3s);
    EXPECT_EQ(dead.succeeded, 0) << "reads succeeded without a server";
    EXPECT_LT(dead.longest, 0.75 + 0.25) << "a read outlived the deadline";

    ExpectListeningResumes(server, stream, said);
}

INSTANTIATE_TEST_SUITE_P(Signals, ServerKilledBeforeStart, ::testing::Values("KILL", "TERM"));

// A microphone that delivers nothing from the start: Start returns at once, every read fails
// within the deadline, and reading goes on once it delivers.
TEST(MicrophoneStream, AStalledSourceBeforeTheFirstReadFailsEachReadWithinTheDeadline) {
    ServerControl server;
    server.Do("stall");
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
    const auto begin = Clock::now();
    stream.Start();
    EXPECT_LT(Seconds(Clock::now() - begin), 0.5) << "Start waited for the stalled source";
    const Ticks stalled = ReadFor(stream, 3s);
    EXPECT_EQ(stalled.succeeded, 0);
    EXPECT_LT(stalled.longest, 0.75 + 0.25);
    server.Do("unstall");
    EXPECT_GT(ReadFor(stream, 5s, [](double) { return true; }).succeeded, 0)
        << "reading did not resume after the stall";
}

// A server that freezes (SIGSTOP) wedges the client library inside the capture's read.
// The process that abandoned that capture must still end at once when it exits: PortAudio's
// teardown would close the wedged stream.
TEST(MicrophoneStream, AProcessWithAWedgedCaptureEndsAtOnce) {
    ServerControl server;
    const int pid = server.PulseaudioPid();
    if (pid == 0) {
        GTEST_SKIP() << "freezes the pulseaudio flavour only";
    }
    struct Thaw {
        int pid;
        ~Thaw() { kill(pid, SIGCONT); }
    } thaw{pid};
    const auto begin = Clock::now();
    // The helper's sanitizers get the tests' suppressions of the client libraries.
    const std::string command = "timeout " + std::to_string(testsupport::Scaled(30.0)) +
                                " env LSAN_OPTIONS=suppressions=" ZELIM_LSAN_SUPPRESSIONS
                                " TSAN_OPTIONS=suppressions=" ZELIM_TSAN_SUPPRESSIONS
                                " '" ZELIM_WEDGED_INPUT_HELPER "' " +
                                std::to_string(pid) + " >/dev/null";
    const int status = std::system(command.c_str());
    const double took = Seconds(Clock::now() - begin);
    std::printf("the helper ended after %.2f s\n", took);
    EXPECT_TRUE(WIFEXITED(status)) << "the helper did not end by itself";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: no open, 3: no frames, 4: a read held it, "
                                         "124: it hung";
    // 6 s of reads in the helper, and its start and exit, which are what the sanitizers slow.
    EXPECT_LT(took, 6.0 + testsupport::Scaled(4.0));
}

TEST(MicrophoneStream, NeverOpenedStreamReadsAndStopsNothing) {
    platform::PortAudioStream stream;
    std::vector<float> frames(kFrames, 2.0f);
    EXPECT_NE(stream.Read(frames.data(), kFrames), 0);
    EXPECT_NE(stream.Stop(), 0);
    EXPECT_EQ(frames[0], 2.0f);
    EXPECT_EQ(audiotest::RecordStreams(), 0) << "a never-opened stream records";
}

TEST(MicrophoneStream, ReleasingTheStreamEndsItsRecordingOnTheServer) {
    ASSERT_EQ(audiotest::RecordStreams(), 0);
    auto stream = std::make_unique<platform::PortAudioStream>();
    ASSERT_EQ(stream->OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
    ASSERT_EQ(stream->Start(), 0);
    EXPECT_TRUE(audiotest::WaitFor([] { return audiotest::RecordStreams() == 1; }, 5s));
    EXPECT_EQ(stream->Stop(), 0);
    stream.reset();
    EXPECT_TRUE(audiotest::WaitFor([] { return audiotest::RecordStreams() == 0; }, 5s))
        << "the released stream still records";
}

// Each flavour is reached as desktops reach it: ALSA's pulse plugin for PulseAudio, and
// PipeWire's own plugin for PipeWire, not the pulse plugin through pipewire-pulse (which
// would pass every other test on the wrong path).
TEST(MicrophoneStream, ReachesTheServerThroughItsFlavoursAlsaPlugin) {
    const std::string flavour =
        audiotest::Output("cat '" + (testsupport::AudioServerDir() / "flavour").string() + "'");
    platform::PortAudioStream stream;
    // The plugin is loaded once the capture delivers.
    ASSERT_NO_FATAL_FAILURE(StartListening(stream));
    const std::string maps = audiotest::Output("cat /proc/" + std::to_string(getpid()) + "/maps");
    const bool pulse = maps.find("libasound_module_pcm_pulse.so") != std::string::npos;
    const bool pipewire = maps.find("libasound_module_pcm_pipewire.so") != std::string::npos;
    if (flavour == "pipewire\n") {
        EXPECT_TRUE(pipewire && !pulse) << "pipewire plugin " << pipewire << ", pulse " << pulse;
    } else {
        ASSERT_EQ(flavour, "pulseaudio\n");
        EXPECT_TRUE(pulse && !pipewire) << "pipewire plugin " << pipewire << ", pulse " << pulse;
    }
    stream.Stop();
}

} // namespace
