// What a user does to a running Zelim: fast toggling.
#include "app/App.h"
#include "support/Program.h"
#include "support/TestSupport.h"
#include "window/MainWindow.h"

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

} // namespace
