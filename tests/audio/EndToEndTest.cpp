// The whole listening road with real components: the window's Start, PortAudio reading
// the test server's microphone, the quiet test, the monitor thread and a track played to
// the speakers. Short fixture tracks in a temporary bundle keep it quick.
#include "app/App.h"
#include "audio/AudioTestSupport.h"
#include "platform/FolderItem.h"
#include "playback/Tracks.h"
#include "support/EventLoop.h"
#include "support/ReportLog.h"
#include "support/StartedProgram.h"
#include "support/TempBundle.h"
#include "support/TestSupport.h"
#include "support/TimeScale.h"
#include "window/MainWindow.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using testsupport::ScaledMs;

class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() {
        testsupport::MakeToneMp3(bundle_.ResourcesFolder() / "Local_Forecast_Elevator.mp3", 1.5,
                                 440);
        testsupport::MakeToneMp3(bundle_.ResourcesFolder() / "Elevator_Bossa_Nova.mp3", 1.5, 660);
    }

    testsupport::TempBundle bundle_;
};

TEST_F(EndToEnd, SilenceInTheRoomPlaysOneTrackToItsEnd) {
    // Under the sanitizers the program's start and the microphone's open (5 s seen under
    // ThreadSanitizer) come before the timing below begins: the track must still fall inside.
    audiotest::SpeakersRecording speakers(bundle_.Root() / "speakers.raw",
                                          testsupport::Scaled(11.0));
    testsupport::StartedProgram program;
    testsupport::ReportLog reports;
    MainWindow& window = program.Window();
    App& app = program.Application();
    window.StartStopButton_Action(window.StartStopButton());
    QElapsedTimer sinceStart;
    sinceStart.start();

    ASSERT_TRUE(testsupport::RunEventLoopUntil([&] { return app.PlayMusicFlag; }, ScaledMs(9000)))
        << "a silent room was never found quiet";
    const auto quietAfter = sinceStart.elapsed();
    // 301 readings of 16 ms, plus the stream's start; never before the window is full.
    EXPECT_GE(quietAfter, 4700);
    EXPECT_LE(quietAfter, ScaledMs(7000));

    ASSERT_TRUE(testsupport::RunEventLoopUntil(
        [&] { return x_Local_Forecast_Elevator::loaded || x_Elevator_Bossa_Nova::loaded; },
        ScaledMs(3000)));
    ASSERT_TRUE(testsupport::RunEventLoopUntil([&] { return !app.PlayMusicFlag; }, ScaledMs(4000)))
        << "the track did not end";
    EXPECT_LE(sinceStart.elapsed(), ScaledMs(8000 + 2500))
        << "music must start within 8 s of Start";
    // Not scaled: a longer wait would take in the next quiet period's track.
    testsupport::RunEventLoopFor(
        static_cast<int>(std::max<qint64>(0, 11000 - sinceStart.elapsed())));
    // Listening ends before the recording does, for the same reason.
    window.StartStopButton_Action(window.StartStopButton());

    // One 1.5 s track was heard, not two.
    const double heard = speakers.SoundingSeconds();
    EXPECT_GT(heard, 1.0);
    EXPECT_LT(heard, 2.5);
    EXPECT_EQ(reports.Count(), 0u);
}

TEST_F(EndToEnd, PinkNoiseInTheRoomKeepsZelimSilent) {
    audiotest::Background noise(
        "sox -q -n -r 44100 -c 1 -b 16 -t raw - synth 13 pinknoise gain -30 | "
        "pacat --device=room --format=s16le --rate=44100 --channels=1 --raw");
    audiotest::SpeakersRecording speakers(bundle_.Root() / "speakers.raw", 12.0);
    testsupport::StartedProgram program;
    MainWindow& window = program.Window();
    App& app = program.Application();
    window.StartStopButton_Action(window.StartStopButton());
    bool everQuiet = false;
    testsupport::RunEventLoopUntil(
        [&] {
            everQuiet = everQuiet || app.PlayMusicFlag;
            return false;
        },
        11000);
    EXPECT_FALSE(everQuiet);
    EXPECT_FALSE(x_Local_Forecast_Elevator::loaded || x_Elevator_Bossa_Nova::loaded);
    EXPECT_LT(speakers.SoundingSeconds(), 0.05);
    // The readings saw the noise: well above the quiet threshold.
    EXPECT_GT(app.SampleArraySum / 300.0, 0.5);
    window.StartStopButton_Action(window.StartStopButton());
}

} // namespace
