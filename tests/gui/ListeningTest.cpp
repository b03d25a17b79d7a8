// Readings, the rolling window and the quiet test, fed exact samples through a scripted
// input device; and the Start/Stop toggle around them.
#include "app/App.h"
#include "platform/Baton.h"
#include "platform/Delegate.h"
#include "platform/StackGuard.h"
#include "platform/Thread.h"
#include "platform/Window.h"
#include "support/EventLoop.h"
#include "support/ModalBoxWatcher.h"
#include "support/ReportLog.h"
#include "support/ScriptedInput.h"
#include "support/StartedProgram.h"
#include "window/MainWindow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using testsupport::ScriptedInput;
using testsupport::ScriptedInputScope;
using testsupport::StartedProgram;

constexpr std::int64_t kFrames = 400;

// A listening window whose readings come from `samples` (one read's frames each).
class Listening : public ::testing::Test {
protected:
    Listening() : scripted_(input_) {
        input_->next = [this](float* frames, std::int64_t count) -> std::int64_t {
            ++reads_;
            if (readCode_ != 0) {
                std::fill(frames, frames + count, 1.0f); // must be ignored
                return readCode_;
            }
            for (std::int64_t k = 0; k < count; ++k) {
                frames[k] = k < static_cast<std::int64_t>(samples_.size()) ? samples_[k] : 0.0f;
            }
            return 0;
        };
    }

    void SetUp() override {
        program_ = std::make_unique<StartedProgram>();
        window().ConnectToSound();
    }

    MainWindow& window() { return program_->Window(); }
    App& app() { return program_->Application(); }

    // One reading whose 400 samples are all `value`, or the listed samples then zeros.
    void ReadConstant(float value, int readings = 1) {
        samples_.assign(kFrames, value);
        for (int i = 0; i < readings; ++i) {
            window().Sample();
        }
    }
    void ReadSamples(std::vector<float> samples) {
        samples_ = std::move(samples);
        window().Sample();
    }
    // A reading whose level is exactly `level` (representable as one float sample).
    void ReadLevel(float level, int readings = 1) {
        samples_.assign(1, level);
        for (int i = 0; i < readings; ++i) {
            window().Sample();
        }
    }

    double Entry(std::int32_t index) {
        return platform::RuntimeCvtCurrencyToReal64(app().SampleArray->Get(index));
    }

    std::shared_ptr<ScriptedInput> input_ = std::make_shared<ScriptedInput>();
    ScriptedInputScope scripted_;
    std::unique_ptr<StartedProgram> program_;
    std::vector<float> samples_;
    std::int64_t readCode_ = 0;
    int reads_ = 0;
};

TEST_F(Listening, AfterTheFillTheWindowHolds301ReadingsOfTen) {
    ASSERT_EQ(app().SampleArray->Ubound(), 300);
    for (std::int32_t i = 0; i <= 300; ++i) {
        ASSERT_EQ(app().SampleArray->Get(i), platform::RuntimeCvtSInt64ToCurrency(10)) << i;
    }
    EXPECT_EQ(app().SampleArraySum, 3010.0);
    EXPECT_FALSE(app().PlayMusicFlag);
    EXPECT_EQ(app().SamplesPerSecond, 60);
    EXPECT_EQ(app().SecondsBeforeSilence, 5.0);
}

// Silence and failed reads both give readings of 0: the quotient drops below 0.5 from
// the 287th reading on, but the flag waits for the last 10 to leave, at the 301st.
TEST_F(Listening, AWholeWindowOfQuietSetsTheFlagAtThe301stReading) {
    for (const std::int64_t code : {std::int64_t{0}, std::int64_t{-9999}}) {
        SCOPED_TRACE("read code " + std::to_string(code));
        readCode_ = code;
        window().ResetSampleArray();
        app().PlayMusicFlag = false;
        for (int n = 1; n <= 300; ++n) {
            if (n == 287) {
                app().PlayMusicFlag = true; // the quiet test now writes the flag each time
            }
            ReadConstant(0.0f);
            ASSERT_FALSE(app().PlayMusicFlag) << "reading " << n;
        }
        ReadConstant(0.0f);
        EXPECT_TRUE(app().PlayMusicFlag);
        EXPECT_EQ(app().SampleArraySum, 0.0);
        EXPECT_EQ(Entry(0), 0.0) << "a failed read must not look at the buffer";
    }
}

TEST_F(Listening, ReadingsAreSequentialSinglePrecisionSums) {
    const float tiny = std::ldexp(1.0f, -25);
    std::vector<float> first(kFrames, tiny);
    first[0] = 1.0f;
    std::vector<float> last(kFrames, tiny);
    last[kFrames - 1] = 1.0f;
    std::vector<float> signedZeros(kFrames, 0.0f);
    for (std::int64_t k = 0; k < kFrames; k += 2) {
        signedZeros[k] = -0.0f;
    }
    signedZeros[7] = -0.25f;
    struct Case {
        const char* name;
        std::vector<float> samples;
        double level;
    } cases[] = {
        {"1.0 first: every 2^-25 is lost", first, 1.0},
        {"1.0 last: the small ones add up first", last, 1.0 + 100 * std::ldexp(1.0, -23)},
        {"400 samples of -1.0", std::vector<float>(kFrames, -1.0f), 400.0},
        {"signed zeros add nothing", signedZeros, 0.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double before = app().SampleArraySum;
        const double leaving = Entry(300);
        ReadSamples(c.samples);
        EXPECT_EQ(app().SampleArraySum, c.level + (before - leaving));
        EXPECT_EQ(Entry(0), std::round(c.level * 10000) / 10000);
    }
}

TEST_F(Listening, QuietTestThresholdsAreStrict) {
    // An entry of exactly 0.5 is not above the threshold.
    ReadConstant(0.0f, 301);
    ASSERT_TRUE(app().PlayMusicFlag);
    ReadLevel(0.5f);
    EXPECT_EQ(Entry(0), 0.5);
    EXPECT_TRUE(app().PlayMusicFlag);
    ReadLevel(0.5001f);
    EXPECT_FALSE(app().PlayMusicFlag);

    // A quotient of exactly 0.5 (a sum of 150) does not set the flag; just below does.
    window().ResetSampleArray();
    ReadConstant(0.0f);
    ReadLevel(0.5f, 300);
    ASSERT_EQ(app().SampleArraySum, 150.0);
    EXPECT_FALSE(app().PlayMusicFlag);
    app().PlayMusicFlag = true;
    ReadConstant(0.0f); // replaces the 0: still 150
    EXPECT_TRUE(app().PlayMusicFlag) << "a quotient of 0.5 must not write the flag";
    app().PlayMusicFlag = false;
    ReadConstant(0.0f); // replaces a 0.5: 149.5
    EXPECT_TRUE(app().PlayMusicFlag);
}

TEST_F(Listening, OneLoudEntryAnywhereKeepsTheFlagFalse) {
    ReadConstant(0.0f, 301);
    ASSERT_TRUE(app().PlayMusicFlag);
    ReadLevel(0.75f); // newest
    EXPECT_FALSE(app().PlayMusicFlag);
    for (int n = 1; n <= 300; ++n) {
        ReadConstant(0.0f);
        ASSERT_FALSE(app().PlayMusicFlag) << "the loud entry is at index " << n;
    }
    EXPECT_EQ(Entry(300), 0.75); // now the oldest
    ReadConstant(0.0f);
    EXPECT_TRUE(app().PlayMusicFlag);
}

TEST_F(Listening, LoudReadingsDoNotClearATrueFlag) {
    ReadConstant(0.0f, 301);
    ASSERT_TRUE(app().PlayMusicFlag);
    ReadConstant(-1.0f, 20); // the track itself, say: quotient far above 0.5
    EXPECT_TRUE(app().PlayMusicFlag);
}

TEST_F(Listening, ANaNSampleFreezesTheFlagUntilARefill) {
    std::vector<float> samples(kFrames, 0.0f);
    samples[3] = std::numeric_limits<float>::quiet_NaN();
    ReadSamples(samples);
    EXPECT_TRUE(std::isnan(app().SampleArraySum));
    for (const bool flag : {true, false}) {
        app().PlayMusicFlag = flag;
        ReadConstant(0.0f, 301);
        EXPECT_EQ(app().PlayMusicFlag, flag) << "a NaN quotient never writes the flag";
    }
    window().ResetSampleArray();
    EXPECT_EQ(app().SampleArraySum, 3010.0);
    ReadConstant(0.0f, 301);
    EXPECT_TRUE(app().PlayMusicFlag);
}

TEST_F(Listening, RefillDiscardsDriftAndLeavesTheFlagAlone) {
    ReadLevel(0.33333f, 500); // rounding to 1/10 000 lets the sum drift from the entries
    double entries = 0;
    for (std::int32_t i = 0; i <= 300; ++i) {
        entries += Entry(i);
    }
    EXPECT_NE(app().SampleArraySum, entries);
    app().PlayMusicFlag = true;
    window().ResetSampleArray();
    EXPECT_EQ(app().SampleArraySum, 3010.0);
    EXPECT_EQ(Entry(0), 10.0);
    EXPECT_EQ(Entry(300), 10.0);
    EXPECT_TRUE(app().PlayMusicFlag);
}

TEST_F(Listening, NoStreamRaisesAndChangesNothing) {
    window().sr = nullptr;
    app().PlayMusicFlag = true;
    EXPECT_THROW(window().Sample(), platform::NilObjectException);
    EXPECT_EQ(app().SampleArraySum, 3010.0);
    EXPECT_EQ(Entry(0), 10.0);
    EXPECT_TRUE(app().PlayMusicFlag);
}

// A stack overflow anywhere in a reading: one message box, a normal return, and the
// next reading works. The failure is injected at each framework check a reading makes.
TEST_F(Listening, AStackOverflowInAReadingShowsOneBoxAndListeningGoesOn) {
    platform::ResetStackCheckForTesting();
    ReadConstant(0.0f);
    const long checksPerReading = platform::StackChecksForTesting();
    ASSERT_GT(checksPerReading, 400);
    std::vector<long> points;
    for (long k = 0; k < checksPerReading; k += (k < 24 || k > checksPerReading - 24) ? 1 : 53) {
        points.push_back(k);
    }
    for (const long k : points) {
        SCOPED_TRACE("overflow at check " + std::to_string(k));
        testsupport::ModalBoxWatcher boxes;
        testsupport::ReportLog reports;
        platform::ResetStackCheckForTesting();
        platform::FailStackCheckAfter(k);
        EXPECT_NO_THROW(window().Sample());
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0], "Stack Overflow Exception");
        const int readsBefore = reads_;
        const std::int32_t bound = app().SampleArray->Ubound();
        window().Sample();
        EXPECT_EQ(reads_, readsBefore + 1);
        EXPECT_EQ(app().SampleArray->Ubound(), bound) << "a whole reading shifts the window";
        EXPECT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(reports.Count(), 0u);
    }
}

class StartStop : public Listening {
protected:
    void SetUp() override { program_ = std::make_unique<StartedProgram>(); }
    void Press() { window().StartStopButton_Action(window().StartStopButton()); }
    std::string Caption() { return window().StartStopButton()->Caption(); }
};

TEST_F(StartStop, StartOpensTheStreamBeforeTheTimerAndTheThread) {
    bool checkedAtOpen = false;
    input_->onOpen = [&] {
        checkedAtOpen = true;
        EXPECT_EQ(Caption(), "Stop");
        EXPECT_FALSE(window().SampleTimer()->Enabled());
        EXPECT_EQ(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);
    };
    Press();
    EXPECT_TRUE(checkedAtOpen);
    EXPECT_EQ(input_->log->Calls(),
              (std::vector<std::string>{"open#1(1,0,1,44100,10240,0)", "start#1"}));
    EXPECT_EQ(Caption(), "Stop");
    EXPECT_TRUE(window().SampleTimer()->Enabled());
    EXPECT_NE(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);

    // Each tick of the 16 ms timer takes a reading.
    EXPECT_TRUE(testsupport::RunEventLoopUntil([&] { return reads_ >= 5; }, 5000));
}

TEST_F(StartStop, StopEndsListeningAndRefills) {
    Press();
    ReadConstant(0.0f, 301);
    ASSERT_TRUE(app().PlayMusicFlag);
    Press();
    EXPECT_EQ(Caption(), "Start");
    EXPECT_EQ(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);
    EXPECT_FALSE(window().SampleTimer()->Enabled());
    EXPECT_EQ(input_->log->Count("stop#1"), 1);
    EXPECT_EQ(app().SampleArraySum, 3010.0);
    EXPECT_EQ(Entry(0), 10.0);
    EXPECT_FALSE(app().PlayMusicFlag);
    const int readsAfterStop = reads_;
    testsupport::RunEventLoopFor(100);
    EXPECT_EQ(reads_, readsAfterStop) << "no readings after Stop";
}

TEST_F(StartStop, StartAgainMakesANewStreamAndReleasesTheStoppedOne) {
    Press();
    Press();
    Press();
    EXPECT_EQ(input_->log->streams, 2);
    const auto calls = input_->log->Calls();
    const auto at = [&](const std::string& call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    EXPECT_EQ(input_->log->Count("stop#1"), 1);
    EXPECT_LT(at("stop#1"), at("release#1"));
    EXPECT_LT(at("release#1"), at("open#2(1,0,1,44100,10240,0)"))
        << "the new stream replaces the old one before it is opened";
    EXPECT_EQ(input_->log->Count("release#2"), 0) << "the window holds the current stream";
    EXPECT_NE(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning)
        << "the thread starts again";
}

TEST_F(StartStop, AFailedOpenIsSilentAndEveryTickReadsZero) {
    input_->openResult = -9996;
    testsupport::ReportLog reports;
    testsupport::ModalBoxWatcher boxes;
    Press();
    EXPECT_EQ(Caption(), "Stop");
    EXPECT_TRUE(window().SampleTimer()->Enabled());
    EXPECT_NE(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);
    EXPECT_EQ(input_->log->Count("start#1"), 0);
    ReadConstant(1.0f, 301); // the device is never asked: the stream is not open
    EXPECT_EQ(reads_, 0);
    EXPECT_TRUE(app().PlayMusicFlag) << "every reading counted as 0";
    EXPECT_EQ(reports.Count(), 0u);
    EXPECT_TRUE(boxes.Texts().empty());
    Press();
    EXPECT_EQ(Caption(), "Start");
}

TEST_F(StartStop, CloseStopsTheThreadAndTheStreamButLeavesTheTimer) {
    Press();
    auto timer = window().SampleTimer();
    auto thread = window().checkPlayMusicThread();
    window().Close();
    EXPECT_EQ(thread->State(), platform::Thread::NotRunning);
    EXPECT_EQ(input_->log->Count("stop#1"), 1);
    EXPECT_TRUE(timer->Enabled()) << "Close does not switch the timer off";
    EXPECT_EQ(Caption(), "Stop");
}

TEST_F(StartStop, CloseBeforeAnyStartTouchesNoStream) {
    window().Close();
    EXPECT_TRUE(input_->log->Calls().empty());
    EXPECT_EQ(window().checkPlayMusicThread()->State(), platform::Thread::NotRunning);
}

TEST_F(StartStop, CloseAfterStopStopsTheStreamAgain) {
    Press();
    Press();
    ASSERT_EQ(input_->log->Count("stop#1"), 1);
    window().Close();
    EXPECT_EQ(input_->log->Count("stop#1"), 2);
    EXPECT_EQ(Caption(), "Start");
}

// A failed open is the stream's only call: no Start, no second try. A Start on a stream
// that is not open never reaches the device, so it shows only as one platform call less
// than after a good open.
TEST_F(StartStop, AFailedOpenIsNeitherStartedNorRetried) {
    long checksAfterOpen[2] = {0, 0};
    for (const std::int64_t openResult : {std::int64_t{0}, std::int64_t{-9996}}) {
        program_ = nullptr;
        program_ = std::make_unique<StartedProgram>();
        auto input = std::make_shared<ScriptedInput>();
        ScriptedInputScope scripted(input);
        input->openResult = openResult;
        long atOpen = -1;
        input->onOpen = [&] { atOpen = platform::StackChecksForTesting(); };
        platform::ResetStackCheckForTesting();
        Press();
        checksAfterOpen[openResult == 0 ? 0 : 1] = platform::StackChecksForTesting() - atOpen;
        if (openResult != 0) {
            EXPECT_EQ(input->log->Calls(),
                      (std::vector<std::string>{"open#1(1,0,1,44100,10240,0)"}));
        }
        Press();
    }
    EXPECT_EQ(checksAfterOpen[1], checksAfterOpen[0] - 1)
        << "after a failed open the stream is not started";
}

// The window releases its stream when it goes; releasing closes an open stream once, and
// the system itself never closes one.
TEST_F(StartStop, AWindowDestroyedWithItsStreamReleasesAndClosesItOnce) {
    const struct {
        const char* what;
        std::int64_t openResult;
        int presses;
        std::vector<std::string> calls;
    } cases[] = {
        {"listening",
         0,
         1,
         {"open#1(1,0,1,44100,10240,0)", "start#1", "stop#1", "close#1", "release#1"}},
        {"after Stop",
         0,
         2,
         {"open#1(1,0,1,44100,10240,0)", "start#1", "stop#1", "stop#1", "close#1", "release#1"}},
        {"never opened", -9996, 1, {"open#1(1,0,1,44100,10240,0)", "release#1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        program_ = nullptr;
        auto input = std::make_shared<ScriptedInput>();
        ScriptedInputScope scripted(input);
        input->openResult = c.openResult;
        input->next = [](float* frames, std::int64_t count) {
            std::fill(frames, frames + count, 0.0f);
            return std::int64_t{0};
        };
        program_ = std::make_unique<StartedProgram>();
        for (int i = 0; i < c.presses; ++i) {
            Press();
        }
        window().SampleTimer()->SetEnabled(false); // no readings in the log
        window().Close();
        EXPECT_EQ(input->log->Count("close#1"), 0) << "the system closed its stream";
        program_ = nullptr; // the window goes
        EXPECT_EQ(input->log->Calls(), c.calls);
    }
}

// Looks at the listening state each time it gets the baton, as the monitor thread may: a
// reading and a refill are each one step, never seen half done.
class Observer : public platform::Window {
public:
    void Observe(const std::shared_ptr<platform::Thread>&) {
        while (true) {
            const App& app = *App::Instance();
            const auto& readings = *app.SampleArray;
            double sum = 0;
            bool loud = false;
            for (std::int32_t i = 0; i <= readings.Ubound(); ++i) {
                const double entry = platform::RuntimeCvtCurrencyToReal64(readings.Get(i));
                sum += entry;
                loud = loud || entry > 0.5;
            }
            const bool whole = readings.Ubound() == 300 && sum == app.SampleArraySum;
            const bool flagMatches = sum / 300.0 >= 0.5 || app.PlayMusicFlag == !loud;
            if (!whole || !flagMatches) {
                ++halfDone;
            }
            ++turns;
            platform::RuntimeBackgroundTask();
        }
    }
    int turns = 0;
    int halfDone = 0;
};

TEST_F(Listening, AnotherThreadNeverSeesAReadingOrARefillHalfDone) {
    auto observer = std::make_shared<Observer>();
    auto thread = std::make_shared<platform::Thread>();
    thread->SetName("observer");
    platform::RuntimeAddEventHandler(
        *thread, 0, platform::RuntimeCreateDelegate(&Observer::Observe, observer, "( Thread )"));
    thread->Start();
    for (int round = 0; round < 2; ++round) {
        ReadConstant(0.0f, 310); // quiet: the flag rises at the 301st
        ASSERT_TRUE(app().PlayMusicFlag);
        window().ResetSampleArray();
        app().PlayMusicFlag = false;
        ReadLevel(0.75f, 5);
    }
    thread->Stop();
    EXPECT_GT(observer->turns, 1000) << "the observer hardly ran";
    EXPECT_EQ(observer->halfDone, 0);
}

} // namespace
