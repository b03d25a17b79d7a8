// PortAudioStream through PortAudio's default input, which is the private server's
// room.monitor: what is played into "room" is what the microphone hears.
#include "AudioTestSupport.h"

#include "platform/PortAudioStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using audiotest::Background;
using audiotest::Clock;
using audiotest::MeanAbs;
using audiotest::Seconds;

constexpr std::int64_t kFloat32 = 1;
constexpr std::int64_t kFrames = 400;
constexpr auto kPeriod = 16ms;

// The stream as the application opens it: mono float32 at 44100 Hz.
class Microphone : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(stream_.OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
        ASSERT_EQ(stream_.Start(), 0);
    }

    // One reading, as the application's 16 ms timer takes it.
    double Reading() {
        std::this_thread::sleep_for(kPeriod);
        std::vector<float> frames(kFrames, 99.0f);
        const std::int64_t code = stream_.Read(frames.data(), kFrames);
        EXPECT_EQ(code, 0);
        return MeanAbs(frames.data(), frames.size());
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
    constexpr double kTone = 3.0;
    audiotest::MakeToneWav(tone, 0.0, kTone, 1000, 0.5);
    // Fed ahead: a 20 ms feeder that misses its turn on a busy machine puts silence into the
    // room, and a reading over that gap is low.
    Background player(audiotest::FeedRoom(tone));
    const auto deadline = Clock::now() + 5s;
    while (Reading() < 0.1) {
        ASSERT_LT(Clock::now(), deadline) << "the tone never reached the microphone";
    }
    const auto onset = Clock::now();
    Reading(); // the reading at the tone's onset is partly silent
    for (int i = 0; i < 40; ++i) {
        EXPECT_NEAR(Reading(), expected, 0.01)
            << "reading " << i << " of the tone, " << Seconds(Clock::now() - onset)
            << " s after its onset";
    }
    // A reading past the tone's end would be partly silent for a reason of the test's own.
    EXPECT_LT(Seconds(Clock::now() - onset), kTone - 0.1) << "the readings outlasted the tone";
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
    while (Reading() < 0.1) {
        ASSERT_LT(Clock::now(), deadline) << "the restarted stream hears nothing";
    }
}

// A server that goes away stops delivering frames: PortAudio's own blocking read would
// wait for ever. One read waits a bounded time and fails, the next ones fail at once, and
// the stream stops and closes.
TEST(MicrophoneStream, ReadsFailSoonWhenTheServerGoesAway) {
    const std::string server = (testsupport::SourceDir() / "tools" / "audio-test-server").string();
    const std::string dir = testsupport::AudioServerDir().string();
    struct Restart {
        std::string command;
        ~Restart() { std::system(command.c_str()); }
    } restart{"'" + server + "' restart '" + dir + "' > /dev/null"};

    auto stream = std::make_unique<platform::PortAudioStream>();
    ASSERT_EQ(stream->OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
    ASSERT_EQ(stream->Start(), 0);
    std::vector<float> frames(kFrames);
    ASSERT_EQ(stream->Read(frames.data(), kFrames), 0);
    testsupport::Shell("'" + server + "' stop '" + dir + "'");

    const auto first = Clock::now();
    std::int64_t code = 0;
    for (int i = 0; i < 10 && code == 0; ++i) {
        code = stream->Read(frames.data(), kFrames);
    }
    EXPECT_NE(code, 0) << "reads went on succeeding without a server";
    EXPECT_LT(Seconds(Clock::now() - first), 3.0);
    const auto later = Clock::now();
    for (int i = 0; i < 20; ++i) {
        EXPECT_NE(stream->Read(frames.data(), kFrames), 0);
    }
    EXPECT_LT(Seconds(Clock::now() - later), 0.5) << "each failing read waited again";
    stream->Stop();
    const auto released = Clock::now();
    stream.reset();
    EXPECT_LT(Seconds(Clock::now() - released), 2.0);
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

} // namespace
