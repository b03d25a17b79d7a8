// Sound through PortAudio's default output, which is the private server's "speakers":
// parec on speakers.monitor hears what plays.
#include "AudioTestSupport.h"

#include "platform/Sound.h"
#include "support/TestSupport.h"
#include "support/TimeScale.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;
using audiotest::Clock;
using audiotest::Seconds;
using audiotest::SpeakersRecording;
using testsupport::Scaled;

constexpr double kShort = 0.6;
// Far shorter than the output buffer, which the host starts playing only once well filled.
constexpr double kBlip = 0.15;
constexpr double kLonger = 20.0;

class Playback : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fixtures_ = std::make_unique<testsupport::TempDir>();
        testsupport::MakeToneMp3(Fixture("short.mp3"), kShort, 440);
        testsupport::MakeToneMp3(Fixture("blip.mp3"), kBlip, 440);
        testsupport::MakeToneMp3(Fixture("long.mp3"), 8.0, 440);
        testsupport::MakeToneMp3(Fixture("longer.mp3"), kLonger, 440);
    }
    static void TearDownTestSuite() { fixtures_.reset(); }
    static std::filesystem::path Fixture(const char* name) { return fixtures_->Path() / name; }

    std::filesystem::path Recording() const { return dir_.Path() / "speakers.raw"; }

    // Seconds from start until the sound stops playing; fails after `timeout`, scaled.
    static double PlayingFor(const platform::Sound& sound, Clock::time_point start,
                             std::chrono::seconds timeout) {
        const auto bound = Scaled(timeout);
        EXPECT_TRUE(audiotest::WaitFor([&] { return !sound.IsPlaying(); }, bound))
            << "still playing after " << Seconds(bound) << " s";
        return Seconds(Clock::now() - start);
    }

    testsupport::TempDir dir_;

private:
    static inline std::unique_ptr<testsupport::TempDir> fixtures_;
};

// Playback ends with the last frame: the whole tone reaches the speakers, and IsPlaying
// turns false soon after it has. A play cut short by a stop that drops what is buffered
// loses the output latency (0.1 s or more) of the tone's end; a sound too short to fill
// the buffer is not heard at all unless playback is started for it.
TEST_F(Playback, PlaysAShortFixtureToItsEnd) {
    for (const auto& [name, seconds] : {std::pair{"short.mp3", kShort}, {"blip.mp3", kBlip}}) {
        SCOPED_TRACE(name);
        const auto sound = platform::Sound::Open(Fixture(name));
        ASSERT_NE(sound, nullptr);
        // Long enough for a slow open under the sanitizers: silence after the tone costs nothing.
        SpeakersRecording speakers(dir_.Path() / (std::string(name) + ".raw"),
                                   seconds + Scaled(4.0));
        sound->Play();
        // Timed from here: opening the output takes a while under the sanitizers.
        const auto start = Clock::now();
        EXPECT_TRUE(sound->IsPlaying()) << "not playing as Play returns: it waited, or failed";

        const double playedFor = PlayingFor(*sound, start, 10s);
        EXPECT_GT(playedFor, seconds - 0.05) << "IsPlaying went false before the sound was over";
        EXPECT_LT(playedFor, seconds + Scaled(1.0)) << "IsPlaying stayed true long after the sound";
        EXPECT_NEAR(speakers.SoundingSeconds(), seconds, 0.06) << "not all of the tone was heard";
    }
}

TEST_F(Playback, PlayWhilePlayingLetsTheCurrentPlayGoOn) {
    const auto sound = platform::Sound::Open(Fixture("short.mp3"));
    ASSERT_NE(sound, nullptr);
    // The recorder's start and the output's open both come late under the sanitizers: the
    // tone must still fall inside the recording.
    SpeakersRecording speakers(Recording(), kShort + Scaled(2.5));
    sound->Play();
    // Timed from here: opening the output takes a while under the sanitizers.
    const auto start = Clock::now();
    std::this_thread::sleep_for(250ms);
    sound->Play();
    EXPECT_TRUE(sound->IsPlaying());
    const double playedFor = PlayingFor(*sound, start, 10s);
    // A restart would play 0.25 s more of it; a second play beside the first, louder.
    EXPECT_LT(playedFor, kShort + 0.2 + 0.25);
    EXPECT_NEAR(speakers.SoundingSeconds(), kShort, 0.06);
    EXPECT_NEAR(speakers.SoundingSeconds(0.25), 0.0, 0.02) << "two plays overlapped";
}

TEST_F(Playback, PlaysAgainOnceItHasEnded) {
    const auto sound = platform::Sound::Open(Fixture("short.mp3"));
    ASSERT_NE(sound, nullptr);
    // Each play opens the output anew, slowly under the sanitizers: room for both.
    SpeakersRecording speakers(Recording(), 2 * kShort + Scaled(6.0));
    for (int play = 0; play < 2; ++play) {
        const auto start = Clock::now();
        sound->Play();
        EXPECT_TRUE(sound->IsPlaying()) << "play " << play;
        PlayingFor(*sound, start, 10s);
    }
    EXPECT_NEAR(speakers.SoundingSeconds(), 2 * kShort, 0.1);
}

TEST_F(Playback, ReleasingTheSoundEndsItsPlayPromptly) {
    auto sound = platform::Sound::Open(Fixture("long.mp3"));
    ASSERT_NE(sound, nullptr);
    SpeakersRecording speakers(Recording(), 3.0);
    sound->Play();
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(sound->IsPlaying());
    const auto released = Clock::now();
    sound.reset();
    EXPECT_LT(Seconds(Clock::now() - released), 1.0) << "releasing waited for the play";
    EXPECT_LT(speakers.SoundingSeconds(), 1.2) << "the sound went on after its release";
}

// A play whose sound server goes away ends, says why on stderr, and does not keep its
// thread (or the Sound's release) waiting for frames that will never be taken.
TEST_F(Playback, TheServerGoingAwayEndsThePlay) {
    const std::string server = (testsupport::SourceDir() / "tools" / "audio-test-server").string();
    const std::string dir = testsupport::AudioServerDir().string();
    auto sound = platform::Sound::Open(Fixture("longer.mp3"));
    ASSERT_NE(sound, nullptr);
    sound->Play();
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(sound->IsPlaying());

    testing::internal::CaptureStderr();
    testsupport::Shell("'" + server + "' stop '" + dir + "' >/dev/null");
    const auto gone = Clock::now();
    const bool ended = audiotest::WaitFor([&] { return !sound->IsPlaying(); }, 15s);
    const double after = Seconds(Clock::now() - gone);
    const auto released = Clock::now();
    sound.reset();
    const double release = Seconds(Clock::now() - released);
    const std::string complaints = testing::internal::GetCapturedStderr();
    testsupport::Shell("'" + server + "' restart '" + dir + "' >/dev/null");

    EXPECT_TRUE(ended) << "still playing " << after << " s after the server went away";
    EXPECT_LT(after, kLonger / 2) << "the play ran on as if the track were still heard";
    EXPECT_LT(release, 1.0);
    EXPECT_NE(complaints.find("longer.mp3"), std::string::npos) << "stderr: " << complaints;
}

// With no output device, Play says so once on stderr and the sound does not play. The
// helper runs in a process of its own, since PortAudio finds its devices once per process:
// its libpulse points to a server that does not exist and its ALSA configuration knows no
// device but the sound server's, so no real sound card can be reached either.
TEST_F(Playback, WithoutAnOutputDeviceItReportsOnceAndDoesNotPlay) {
    const auto silent = dir_.Path() / "silent.wav";
    testsupport::Shell("sox -D -R -n -r 44100 -c 1 -b 16 '" + silent.string() + "' trim 0 1");
    const auto alsa = dir_.Path() / "asound.conf";
    testsupport::Shell("printf 'pcm.!default {\\n type pulse\\n}\\nctl.!default {\\n type "
                       "pulse\\n}\\n' > '" +
                       alsa.string() + "'");
    const auto out = dir_.Path() / "out.txt";
    const auto err = dir_.Path() / "err.txt";
    const std::string command =
        "env PULSE_SERVER=unix:" + (dir_.Path() / "no-server" / "native").string() +
        " ALSA_CONFIG_PATH='" + alsa.string() + "' JACK_DEFAULT_SERVER=zelim-test-no-server" +
        " LSAN_OPTIONS=suppressions=" ZELIM_LSAN_SUPPRESSIONS
        " TSAN_OPTIONS=suppressions=" ZELIM_TSAN_SUPPRESSIONS " " ZELIM_NO_OUTPUT_DEVICE_HELPER
        " '" +
        silent.string() + "' > '" + out.string() + "' 2> '" + err.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << audiotest::Output("cat '" + err.string() + "'");

    const std::string said = audiotest::Output("cat '" + out.string() + "'");
    const std::string complained = audiotest::Output("cat '" + err.string() + "'");
    EXPECT_EQ(said, "playing 0\nplaying 0\nplaying 0\nplaying 0\n");
    const std::string message = "no audio output device";
    const auto first = complained.find(message);
    ASSERT_NE(first, std::string::npos) << "stderr: " << complained;
    EXPECT_EQ(complained.find(message, first + 1), std::string::npos)
        << "reported more than once: " << complained;
}

} // namespace
