// The monitor thread with real tracks in a temporary bundle, played through the test
// audio server. Readings come from a scripted input so that the test owns the flag.
#include "app/App.h"
#include "platform/Baton.h"
#include "platform/FolderItem.h"
#include "platform/Random.h"
#include "playback/Tracks.h"
#include "support/EventLoop.h"
#include "support/ReportLog.h"
#include "support/ScriptedInput.h"
#include "support/StartedProgram.h"
#include "support/TempBundle.h"
#include "support/TestSupport.h"
#include "window/MainWindow.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::RunEventLoopUntil;

// A seed whose first draw of InRange(0, 1) is `pick`.
std::uint64_t SeedFirstPicking(std::int64_t pick) {
    for (std::uint64_t seed = 1;; ++seed) {
        platform::Random probe;
        probe.Seed(seed);
        if (probe.InRange(0, 1) == pick) {
            return seed;
        }
    }
}

constexpr std::int64_t kLocalForecast = 1;
constexpr std::int64_t kBossaNova = 0;

class MonitorThread : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tracks_ = std::make_unique<testsupport::TempDir>();
        testsupport::MakeToneMp3(tracks_->Path() / "short.mp3", 0.6, 440);
        testsupport::MakeToneMp3(tracks_->Path() / "long.mp3", 3.0, 660);
        testsupport::MakeToneMp3(tracks_->Path() / "six.mp3", 6.0, 550);
    }
    static void TearDownTestSuite() { tracks_.reset(); }

    MonitorThread() : scripted_(input_) {
        // Readings of exactly 7: far too loud for the quiet test to write the flag, and
        // unlike the 10s of a refill, so a refill shows in the oldest entry.
        input_->next = [](float* frames, std::int64_t count) -> std::int64_t {
            std::fill(frames, frames + count, 0.0f);
            frames[0] = 7.0f;
            return 0;
        };
    }
    fs::path resources() const { return bundle_.ResourcesFolder(); }
    void Install(const char* fixture, const char* name) {
        fs::copy_file(tracks_->Path() / fixture, resources() / name);
    }
    void InstallBoth(const char* fixture = "short.mp3") {
        Install(fixture, "Local_Forecast_Elevator.mp3");
        Install(fixture, "Elevator_Bossa_Nova.mp3");
    }

    void Start() {
        if (!program_) {
            program_ = std::make_unique<testsupport::StartedProgram>();
        }
        Press();
        started_.start();
    }
    void Press() { window().StartStopButton_Action(window().StartStopButton()); }
    MainWindow& window() { return program_->Window(); }
    App& app() { return program_->Application(); }
    double Oldest() { return platform::RuntimeCvtCurrencyToReal64(app().SampleArray->Get(300)); }
    bool Playing(const std::shared_ptr<platform::Sound>& s) { return s && s->IsPlaying(); }
    bool AnyPlaying() {
        return Playing(x_Local_Forecast_Elevator::permaSound) ||
               Playing(x_Elevator_Bossa_Nova::permaSound);
    }
    // Waits for the thread to finish a track: the flag cleared after it was set.
    bool WaitForTrackToFinish(int ms) {
        return RunEventLoopUntil([&] { return !app().PlayMusicFlag; }, ms);
    }

    static inline std::unique_ptr<testsupport::TempDir> tracks_;
    testsupport::TempBundle bundle_;
    std::shared_ptr<testsupport::ScriptedInput> input_ =
        std::make_shared<testsupport::ScriptedInput>();
    testsupport::ScriptedInputScope scripted_;
    std::unique_ptr<testsupport::StartedProgram> program_;
    QElapsedTimer started_;
};

TEST_F(MonitorThread, WithTheFlagNeverSetNothingIsLoaded) {
    // No Resources folder at all: a look at it would end the thread with a report.
    fs::remove_all(resources());
    testsupport::ReportLog reports;
    Start();
    testsupport::RunEventLoopFor(2600);
    EXPECT_FALSE(x_Local_Forecast_Elevator::loaded);
    EXPECT_FALSE(x_Elevator_Bossa_Nova::loaded);
    EXPECT_NE(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);
    EXPECT_EQ(reports.Count(), 0u);
}

TEST_F(MonitorThread, PlaysOneTrackThenRefillsAndClears) {
    InstallBoth();
    testsupport::ReportLog reports;
    Start();
    ASSERT_TRUE(RunEventLoopUntil([&] { return Oldest() == 7.0; }, 8000))
        << "the readings of 7 never filled the window";
    app().PlayMusicFlag = true;
    ASSERT_TRUE(RunEventLoopUntil([&] { return AnyPlaying(); }, 2000));
    EXPECT_NE(x_Local_Forecast_Elevator::loaded, x_Elevator_Bossa_Nova::loaded)
        << "exactly one track was picked";
    EXPECT_TRUE(app().PlayMusicFlag) << "the flag stays up while the track plays";

    ASSERT_TRUE(WaitForTrackToFinish(5000));
    EXPECT_FALSE(AnyPlaying());
    EXPECT_EQ(Oldest(), 10.0) << "the window was refilled after the track";
    EXPECT_EQ(reports.Count(), 0u);
    // No second track follows without a new quiet period.
    testsupport::RunEventLoopFor(300);
    EXPECT_FALSE(AnyPlaying());
}

TEST_F(MonitorThread, AFlagThatComesAndGoesBetweenTwoPassesPlaysNothing) {
    InstallBoth();
    Start();
    testsupport::RunEventLoopFor(2200);
    app().PlayMusicFlag = true;
    app().PlayMusicFlag = false; // within one turn: the thread never sees it
    testsupport::RunEventLoopFor(300);
    EXPECT_FALSE(x_Local_Forecast_Elevator::loaded || x_Elevator_Bossa_Nova::loaded);
}

// Each track is loaded once per run: a later pick, also after Stop and Start, plays the
// same Sound and never looks the file up again, even where the bundle now holds another.
// A flag set during the opening pauses is acted on 2050 ms after the start at the earliest.
TEST_F(MonitorThread, TracksAreLoadedOnceAndReplayedThroughTheSameSound) {
    InstallBoth();
    platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
    Start();
    app().PlayMusicFlag = true;
    ASSERT_TRUE(RunEventLoopUntil([&] { return x_Local_Forecast_Elevator::loaded; }, 6000));
    EXPECT_GE(started_.elapsed(), 2050);
    const auto first = x_Local_Forecast_Elevator::permaSound;
    ASSERT_NE(first, nullptr);
    const fs::path firstFile = first->File();
    ASSERT_TRUE(WaitForTrackToFinish(5000));

    testsupport::TempDir otherBundle;
    fs::create_directories(otherBundle.Path() / "Resources");
    fs::copy_file(tracks_->Path() / "short.mp3",
                  otherBundle.Path() / "Resources" / "Local_Forecast_Elevator.mp3");
    platform::SetExecutablePathForTesting(otherBundle.Path() / "bin" / "zelim");
    Press(); // Stop
    Press(); // Start: the opening pauses come again
    started_.start();
    platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
    app().PlayMusicFlag = true;
    ASSERT_TRUE(RunEventLoopUntil([&] { return Playing(first); }, 6000));
    EXPECT_GE(started_.elapsed(), 2050);
    EXPECT_EQ(x_Local_Forecast_Elevator::permaSound, first);
    EXPECT_EQ(first->File(), firstFile);
    EXPECT_FALSE(x_Elevator_Bossa_Nova::loaded);
    ASSERT_TRUE(WaitForTrackToFinish(5000));
}

TEST_F(MonitorThread, StopWhileATrackPlaysLetsItPlayOn) {
    InstallBoth("long.mp3");
    Start();
    app().PlayMusicFlag = true;
    ASSERT_TRUE(RunEventLoopUntil([&] { return AnyPlaying(); }, 6000));
    testsupport::RunEventLoopFor(400);
    Press(); // Stop
    EXPECT_EQ(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);
    EXPECT_FALSE(app().PlayMusicFlag);
    EXPECT_EQ(Oldest(), 10.0);
    EXPECT_TRUE(AnyPlaying()) << "Stop does not stop the track";
    EXPECT_TRUE(RunEventLoopUntil([&] { return !AnyPlaying(); }, 6000));
}

// A track that cannot be had ends the thread with NilObjectException, reported; the
// flag stays up and listening goes on. The other track still plays.
TEST_F(MonitorThread, AMissingTrackEndsTheThreadAndIsReported) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
    } cases[] = {
        {"file missing", [this] { Install("short.mp3", "Local_Forecast_Elevator.mp3"); }},
        {"file does not decode",
         [this] {
             Install("short.mp3", "Local_Forecast_Elevator.mp3");
             testsupport::Shell("head -c 700 /dev/urandom > '" +
                                (resources() / "Elevator_Bossa_Nova.mp3").string() + "'");
         }},
        {"no Resources folder", [this] { fs::remove_all(resources()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(resources());
        fs::create_directories(resources());
        c.prepare();
        {
            testsupport::StartedProgram program; // a new run: nothing loaded yet
            program_ = nullptr;
            testsupport::ReportLog reports;
            auto& w = program.Window();
            auto& a = program.Application();
            w.StartStopButton_Action(w.StartStopButton());
            platform::System::Random()->Seed(SeedFirstPicking(kBossaNova));
            a.PlayMusicFlag = true;
            ASSERT_TRUE(RunEventLoopUntil(
                [&] { return w.checkPlayMusicThread()->State() == platform::Thread::NotRunning; },
                6000));
            ASSERT_EQ(reports.Count(), 1u);
            EXPECT_EQ(reports.Reports()[0].className, "NilObjectException");
            EXPECT_NE(reports.Reports()[0].where.find("checkPlayMusicThread"), std::string::npos);
            EXPECT_TRUE(a.PlayMusicFlag);
            EXPECT_TRUE(w.SampleTimer()->Enabled()) << "listening goes on";

            if (fs::exists(resources() / "Local_Forecast_Elevator.mp3")) {
                w.StartStopButton_Action(w.StartStopButton()); // Stop
                w.StartStopButton_Action(w.StartStopButton()); // Start
                platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
                a.PlayMusicFlag = true;
                EXPECT_TRUE(RunEventLoopUntil(
                    [&] { return Playing(x_Local_Forecast_Elevator::permaSound); }, 6000));
                EXPECT_TRUE(RunEventLoopUntil([&] { return !a.PlayMusicFlag; }, 5000));
                EXPECT_EQ(reports.Count(), 1u);
            }
        }
    }
}

// A track cut short in the middle of a frame (a broken download, say) plays what it
// has, or fails to load; either way the thread and the program go on.
TEST_F(MonitorThread, ATruncatedTrackNeverBringsTheProgramDown) {
    InstallBoth("long.mp3");
    const auto file = resources() / "Local_Forecast_Elevator.mp3";
    fs::resize_file(file, fs::file_size(file) * 2 / 5 + 333);
    platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
    testsupport::ReportLog reports;
    Start();
    app().PlayMusicFlag = true;
    ASSERT_TRUE(RunEventLoopUntil([&] { return x_Local_Forecast_Elevator::loaded; }, 6000));
    if (x_Local_Forecast_Elevator::permaSound) {
        EXPECT_TRUE(WaitForTrackToFinish(5000)) << "the part that is there plays to its end";
        EXPECT_EQ(reports.Count(), 0u);
    } else {
        EXPECT_TRUE(RunEventLoopUntil(
            [&] {
                return window().checkPlayMusicThread()->State() == platform::Thread::NotRunning;
            },
            3000));
        EXPECT_EQ(reports.Count(), 1u);
    }
    EXPECT_TRUE(window().SampleTimer()->Enabled()) << "listening goes on";
}

// Never two tracks at once: a track started before a "Stop" that still plays when the flag
// rises again is waited out in place of a new pick; then the flag is cleared as after a
// track of the thread's own. Stop and Start once, and 100 times fast.
TEST_F(MonitorThread, ATrackFromBeforeAStopIsWaitedOutNeverJoinedByAnother) {
    InstallBoth("six.mp3");
    for (const int toggles : {1, 100}) {
        SCOPED_TRACE(std::to_string(toggles) + " Stop and Start");
        program_ = nullptr; // a new run: nothing loaded yet
        platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
        Start();
        app().PlayMusicFlag = true;
        ASSERT_TRUE(RunEventLoopUntil(
            [&] { return Playing(x_Local_Forecast_Elevator::permaSound); }, 6000));
        for (int i = 0; i < toggles; ++i) {
            Press(); // Stop: the track plays on
            Press(); // Start
        }
        // A new pick now would be the other track.
        platform::System::Random()->Seed(SeedFirstPicking(kBossaNova));
        app().PlayMusicFlag = true;
        bool both = false;
        bool playingAtClear = true;
        ASSERT_TRUE(RunEventLoopUntil(
            [&] {
                both = both || (Playing(x_Local_Forecast_Elevator::permaSound) &&
                                Playing(x_Elevator_Bossa_Nova::permaSound));
                playingAtClear = Playing(x_Local_Forecast_Elevator::permaSound);
                return !app().PlayMusicFlag;
            },
            12000))
            << "the flag was never cleared";
        EXPECT_FALSE(both) << "two tracks played at once";
        EXPECT_FALSE(x_Elevator_Bossa_Nova::loaded) << "a new track was picked";
        EXPECT_FALSE(playingAtClear) << "the flag was cleared before the old track ended";
        EXPECT_NE(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);
    }
}

// The thread's waits: 2000 and 50 ms first, then 50 ms a pass, and steps of one second
// while a track plays; a track that has already stopped at the first look costs no wait.
TEST_F(MonitorThread, TheThreadWaitsInItsOwnSteps) {
    InstallBoth("long.mp3");
    std::mutex mutex;
    std::vector<std::int64_t> sleeps;
    platform::SetSleepObserverForTesting([&](const platform::Thread&, std::int64_t ms) {
        const std::lock_guard lock(mutex);
        sleeps.push_back(ms);
    });
    const auto Sleeps = [&] {
        const std::lock_guard lock(mutex);
        return std::exchange(sleeps, {});
    };
    platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
    Start();
    app().PlayMusicFlag = true;
    ASSERT_TRUE(WaitForTrackToFinish(10000));
    Press(); // Stop
    auto played = Sleeps();
    ASSERT_GE(played.size(), 3u);
    EXPECT_EQ(played[0], 2000);
    EXPECT_EQ(played[1], 50);
    const auto steps = std::count(played.begin(), played.end(), 1000);
    EXPECT_GE(steps, 3) << "a track of 3 s";
    EXPECT_LE(steps, 5);
    EXPECT_EQ(std::count(played.begin() + 2, played.end(), 50) + steps,
              static_cast<long>(played.size()) - 2)
        << "only 50 ms passes and 1000 ms steps";

    // The track's file is gone: its play fails at once and is not waited for.
    fs::remove(resources() / "Local_Forecast_Elevator.mp3");
    platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
    Press(); // Start
    app().PlayMusicFlag = true;
    ASSERT_TRUE(WaitForTrackToFinish(6000));
    Press(); // Stop
    platform::SetSleepObserverForTesting({});
    const auto failed = Sleeps();
    ASSERT_GE(failed.size(), 2u);
    EXPECT_EQ(failed[0], 2000);
    EXPECT_EQ(std::count(failed.begin(), failed.end(), 1000), 0)
        << "a wait for a track that was not playing";
}

// A failed load is never tried again in the same run, even once the bundle is mended: the
// pick of that track fails the same way at every Start.
TEST_F(MonitorThread, AFailedLoadIsNeverTriedAgain) {
    const struct {
        const char* name;
        std::function<void()> breakIt;
    } cases[] = {
        {"file missing", [this] { Install("short.mp3", "Elevator_Bossa_Nova.mp3"); }},
        {"no Resources folder", [this] { fs::remove_all(resources()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        program_ = nullptr;
        fs::remove_all(resources());
        fs::create_directories(resources());
        c.breakIt();
        testsupport::ReportLog reports;
        const auto pickAndFail = [&] {
            platform::System::Random()->Seed(SeedFirstPicking(kLocalForecast));
            app().PlayMusicFlag = true;
            return RunEventLoopUntil(
                [&] {
                    return window().checkPlayMusicThread()->State() == platform::Thread::NotRunning;
                },
                6000);
        };
        Start();
        ASSERT_TRUE(pickAndFail()) << "the first pick did not fail";
        fs::remove_all(resources()); // the bundle is mended
        fs::create_directories(resources());
        InstallBoth();
        Press(); // Stop
        Press(); // Start
        ASSERT_TRUE(pickAndFail()) << "the load was tried again";
        EXPECT_EQ(x_Local_Forecast_Elevator::permaSound, nullptr);
        ASSERT_EQ(reports.Count(), 2u);
        EXPECT_EQ(reports.Reports()[1].className, "NilObjectException");
    }
}

} // namespace
