// The whole start-up chain in-process: from the initialisers to the event loop and back
// to the exit status.
#include "app/Startup.h"
#include "app/App.h"
#include "platform/Baton.h"
#include "platform/StackGuard.h"
#include "platform/Window.h"
#include "support/ReportLog.h"
#include "support/StartedProgram.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

// Closes every open window once the event loop runs, as a user would.
struct LoopProbe {
    bool ran = false;
    std::function<void()> inspect;

    void Arm() {
        QTimer::singleShot(0, [this] {
            ran = true;
            platform::BatonScope baton;
            if (inspect) {
                inspect();
            }
            const auto open = platform::detail::OpenWindows();
            std::vector<std::shared_ptr<platform::Window>> windows(open.begin(), open.end());
            for (const auto& window : windows) {
                window->Close();
            }
        });
    }
};

struct RunOutcome {
    int status = -1;
    bool loopRan = false;
    std::vector<platform::ExceptionReport> reports;
    // At the moment start-up's failure was reported:
    bool appRegisteredAtReport = false;
    bool windowOpenAtReport = false;
};

RunOutcome RunWholeProgram(std::function<void()> inspect = {}) {
    platform::RuntimeInit(); // Qt's application object, before the probe's timer
    LoopProbe probe;
    probe.inspect = std::move(inspect);
    probe.Arm();
    RunOutcome outcome;
    testsupport::ReportLog log;
    platform::SetExceptionReportSinkForTesting([&](const platform::ExceptionReport& r) {
        outcome.reports.push_back(r);
        if (r.where == "start-up") {
            outcome.appRegisteredAtReport = platform::GetAppObject() != nullptr;
            outcome.windowOpenAtReport = !platform::detail::OpenWindows().empty();
        }
    });
    outcome.status = RunProgram();
    outcome.loopRan = probe.ran; // an unfired probe went with Qt's application object
    return outcome;
}

TEST(Startup, NormalRunOpensOneWindowAndExitsWithZero) {
    platform::ResetStackCheckForTesting();
    bool inspected = false;
    const RunOutcome outcome = RunWholeProgram([&] {
        inspected = true;
        const auto app = App::Instance();
        ASSERT_NE(app, nullptr);
        EXPECT_EQ(app, App::Instance());
        EXPECT_TRUE(app->HiDPIDeclaredAtCreation());
        EXPECT_EQ(app->Version(), (platform::VersionData{1, 0, 0, 0, 0, "", "", ""}));
        ASSERT_EQ(platform::detail::OpenWindows().size(), 1u);
        EXPECT_EQ(platform::detail::OpenWindows()[0], MainWindow::Instance());
        EXPECT_EQ(platform::detail::OpenWindows().size(), 1u) << "Instance() made a second window";
        // App's Open ran before any reading can be taken.
        ASSERT_EQ(app->SampleArray->Ubound(), 300);
        EXPECT_EQ(app->SampleArraySum, 3010.0);
    });
    EXPECT_TRUE(inspected);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.reports.empty());
    EXPECT_EQ(platform::GetAppObject(), nullptr) << "finalisers release the application object";
}

TEST(Startup, ExceptionPendingFromAnInitializerStopsEverything) {
    platform::ResetStackCheckForTesting();
    platform::RuntimeInit();
    static bool failingInitRan = false;
    const std::array<platform::Initializer, 2> table{&RegisterAppClass, [] {
                                                         failingInitRan = true;
                                                         throw platform::OutOfBoundsException(
                                                             "initialiser failed");
                                                     }};
    testsupport::ReportLog log;
    platform::RuntimePerformInitializers(table);
    Main();
    EXPECT_EQ(platform::GetAppObject(), nullptr);
    EXPECT_TRUE(platform::detail::OpenWindows().empty());
    platform::RuntimePerformFinalizers();
    EXPECT_EQ(platform::RuntimeExit(), 1);
    EXPECT_TRUE(failingInitRan);
    ASSERT_EQ(log.Count(), 1u);
    EXPECT_EQ(log.Reports()[0].className, "OutOfBoundsException");
}

// A failure injected at every framework check that start-up makes, one run each: the run
// always ends; a failure that reaches the top is reported once, makes the exit status 1
// and keeps the event loop from running; a failure before the application object is
// registered leaves no window. Failures inside window events are reported there and
// the program goes on.
TEST(Startup, AFailureAtAnyStepOfStartUpIsReportedAndNeverHangs) {
    platform::ResetStackCheckForTesting();
    long checksToLoop = 0;
    RunWholeProgram([&] { checksToLoop = platform::StackChecksForTesting(); });
    ASSERT_GT(checksToLoop, 10);

    int failuresBeforeRegistration = 0;
    int failuresReachingTheTop = 0;
    for (long k = 0; k < checksToLoop; ++k) {
        platform::ResetStackCheckForTesting();
        platform::FailStackCheckAfter(k);
        const RunOutcome outcome = RunWholeProgram();
        platform::ResetStackCheckForTesting();
        SCOPED_TRACE("failure at check " + std::to_string(k));
        ASSERT_FALSE(outcome.reports.empty()) << "the injected failure was not reported";
        const auto topReports = std::count_if(outcome.reports.begin(), outcome.reports.end(),
                                              [](const auto& r) { return r.where == "start-up"; });
        ASSERT_LE(topReports, 1);
        if (topReports == 1) {
            ++failuresReachingTheTop;
            EXPECT_EQ(outcome.status, 1);
            EXPECT_FALSE(outcome.loopRan);
            if (!outcome.appRegisteredAtReport) {
                ++failuresBeforeRegistration;
                EXPECT_FALSE(outcome.windowOpenAtReport);
            }
        } else {
            EXPECT_EQ(outcome.status, 0);
            EXPECT_TRUE(outcome.loopRan);
        }
    }
    // The sweep covered the application object's creation and version data.
    EXPECT_GE(failuresBeforeRegistration, 2);
    EXPECT_GT(failuresReachingTheTop, failuresBeforeRegistration);
}

TEST(Startup, FailureCreatingTheApplicationObjectRegistersNone) {
    platform::RuntimeInit();
    platform::ResetStackCheckForTesting();
    NewAppInstance();
    const long checks = platform::StackChecksForTesting();
    platform::RuntimePerformFinalizers();
    ASSERT_GE(checks, 2) << "creation and version data both check";
    for (long k = 0; k < checks; ++k) {
        platform::ResetStackCheckForTesting();
        platform::FailStackCheckAfter(k);
        EXPECT_THROW(NewAppInstance(), platform::StackOverflowException) << "check " << k;
        EXPECT_EQ(platform::GetAppObject(), nullptr) << "check " << k;
    }
    platform::ResetStackCheckForTesting();
    platform::RuntimeExit();
}

TEST(Startup, EventTablesAnswerIsEventImplemented) {
    testsupport::StartedProgram program;
    App& app = program.Application();
    for (const auto& event : platform::Application::ClassInfo().events) {
        EXPECT_EQ(app.IsEventImplemented(event), event == "Open") << event;
    }
    EXPECT_FALSE(app.IsEventImplemented("NoSuchEvent"));
    MainWindow& window = program.Window();
    for (const auto& event : platform::Window::ClassInfo().events) {
        const bool handled =
            event == "Layout" || event == "CreateControls" || event == "Open" || event == "Close";
        EXPECT_EQ(window.IsEventImplemented(event), handled) << event;
    }
}

} // namespace
