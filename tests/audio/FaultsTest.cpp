// What a user's machine does to a running Zelim: fast toggling, and the sound server
// going away under it and coming back.
#include "app/App.h"
#include "support/Program.h"
#include "support/TestSupport.h"
#include "window/MainWindow.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

std::size_t Entries(const char* folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

void Press(MainWindow& window) {
    window.StartStopButton_Action(window.StartStopButton());
}

// Every Start makes a stream and starts the monitor thread; every Stop must give them
// back. Counted once warmed up (PortAudio and Qt keep a few of their own for good).
TEST(Faults, FiveHundredFastTogglesLeakNoThreadsStreamsOrFiles) {
    testsupport::StartedProgram program;
    MainWindow& window = program.Window();
    for (int i = 0; i < 20; ++i) {
        Press(window);
        Press(window);
    }
    testsupport::RunEventLoopFor(50);
    const std::size_t threads = Entries("/proc/self/task");
    const std::size_t files = Entries("/proc/self/fd");
    for (int i = 0; i < 480; ++i) {
        Press(window);
        Press(window);
    }
    testsupport::RunEventLoopFor(50);
    EXPECT_EQ(Entries("/proc/self/task"), threads);
    EXPECT_EQ(Entries("/proc/self/fd"), files);
    EXPECT_EQ(window.StartStopButton()->Caption(), "Start");
    EXPECT_EQ(program.Application().SampleArraySum, 3010.0);
}

// The server dies while Zelim listens and comes back: the window keeps answering, and a
// Stop and Start listen to the room again.
TEST(Faults, TheSoundServerGoesAwayWhileListeningAndComesBack) {
    const std::string server = (testsupport::SourceDir() / "tools" / "audio-test-server").string();
    const std::string dir = testsupport::AudioServerDir().string();
    testsupport::StartedProgram program;
    MainWindow& window = program.Window();
    App& app = program.Application();
    Press(window);
    testsupport::RunEventLoopFor(500);

    testsupport::Shell("'" + server + "' stop '" + dir + "' >/dev/null");
    QElapsedTimer clock;
    clock.start();
    testsupport::RunEventLoopFor(1500);
    // The event loop went on turning: no read blocks for long on the dead server.
    EXPECT_LT(clock.elapsed(), 4000);
    Press(window); // Stop
    EXPECT_EQ(window.StartStopButton()->Caption(), "Start");

    testsupport::Shell("'" + server + "' restart '" + dir + "' >/dev/null");
    testsupport::TempDir work;
    const std::string noise = (work.Path() / "noise.wav").string();
    testsupport::Shell("sox -q -n -r 44100 -c 1 -b 16 '" + noise + "' synth 4 pinknoise gain -20");
    Press(window); // Start again, on the server that came back
    ASSERT_NE(window.sr, nullptr);
    EXPECT_TRUE(window.sr->IsStreamActive()) << "the new stream did not open on the new server";
    testsupport::Shell("pacat --device=room --file-format=wav '" + noise + "' &");
    testsupport::RunEventLoopFor(2500);
    // The newest readings hear the noise: far above the quiet threshold, where the dead
    // stream's failed reads would count 0.
    EXPECT_GT(platform::RuntimeCvtCurrencyToReal64(app.SampleArray->Get(0)), 0.5);
    EXPECT_GT(platform::RuntimeCvtCurrencyToReal64(app.SampleArray->Get(20)), 0.5);
    Press(window);
}

} // namespace
