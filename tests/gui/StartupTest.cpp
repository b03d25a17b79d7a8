// The whole start-up chain in-process: from the initialisers to the event loop and back
// to the exit status.
#include "app/Startup.h"
#include "app/App.h"
#include "platform/Baton.h"
#include "platform/StackGuard.h"
#include "platform/Window.h"
#include "platform/internal/OpenWindows.h"
#include "support/ReportLog.h"
#include "support/StartedProgram.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <new>
#include <stdexcept>
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
            const auto open = platform::internal::OpenWindows();
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
            outcome.windowOpenAtReport = !platform::internal::OpenWindows().empty();
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
        ASSERT_EQ(platform::internal::OpenWindows().size(), 1u);
        EXPECT_EQ(platform::internal::OpenWindows()[0], MainWindow::Instance());
        EXPECT_EQ(platform::internal::OpenWindows().size(), 1u)
            << "Instance() made a second window";
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
    EXPECT_TRUE(platform::internal::OpenWindows().empty());
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

// Whatever its type, an exception that reaches the top of start-up is reported once by
// its unmangled class name, the finalisers run and the exit status says the run failed.
struct Thrown {
    const char* className;
    const char* message;
    void (*raise)();
};
struct NotAStdException {};

// Zelim's own lines of what stderr got (Qt may warn about the test's environment).
std::string OwnLines(const std::string& said) {
    std::string own;
    std::size_t at = 0;
    while (at < said.size()) {
        const std::size_t end = std::min(said.find('\n', at), said.size());
        if (said.compare(at, 7, "zelim: ") == 0) {
            own += said.substr(at, end - at) + "\n";
        }
        at = end + 1;
    }
    return own;
}

const Thrown kThrown[] = {
    {"std::bad_alloc", "std::bad_alloc", [] { throw std::bad_alloc(); }},
    {"std::runtime_error", "initialiser failed",
     [] { throw std::runtime_error("initialiser failed"); }},
    {"int", "", [] { throw 42; }},
    {"(anonymous namespace)::NotAStdException", "", [] { throw NotAStdException{}; }},
    {"NilObjectException", "nil", [] { throw platform::NilObjectException("nil"); }},
};

TEST(Startup, AnExceptionOfAnyTypeFromAnInitialiserIsReportedOnceAndTheRunFails) {
    static const Thrown* current = nullptr;
    static int finalised = 0;
    for (const Thrown& thrown : kThrown) {
        SCOPED_TRACE(thrown.className);
        current = &thrown;
        finalised = 0;
        platform::ResetStackCheckForTesting();
        const std::array<platform::Initializer, 3> table{
            &RegisterAppClass, [] { platform::RuntimeAddFinalizer([] { ++finalised; }); },
            [] { current->raise(); }};
        testsupport::ReportLog log;
        testing::internal::CaptureStderr();
        const int status = RunProgram(table);
        const std::string said = OwnLines(testing::internal::GetCapturedStderr());
        EXPECT_EQ(status, 1);
        EXPECT_EQ(finalised, 1) << "the finalisers ran";
        ASSERT_EQ(log.Count(), 1u);
        EXPECT_EQ(log.Reports()[0].className, thrown.className);
        EXPECT_EQ(log.Reports()[0].where, "start-up");
        EXPECT_EQ(log.Reports()[0].message, thrown.message);
        EXPECT_EQ(said, "zelim: unhandled " + std::string(thrown.className) + " in start-up" +
                            (*thrown.message ? ": " + std::string(thrown.message) : "") + "\n");
        EXPECT_EQ(platform::GetAppObject(), nullptr);
    }
}

// An exception that leaves an event handler is reported in one line: its unmangled
// class, where, and its message; the program goes on.
TEST(Startup, AnExceptionLeavingAnEventIsReportedByItsOwnClassName) {
    platform::ResetStackCheckForTesting();
    platform::RuntimeInit();
    for (const Thrown& thrown : kThrown) {
        SCOPED_TRACE(thrown.className);
        testsupport::ReportLog log;
        testing::internal::CaptureStderr();
        EXPECT_NO_THROW(platform::CallIntoSystem("window 'W' Open", [&] { thrown.raise(); }));
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_EQ(log.Count(), 1u);
        EXPECT_EQ(log.Reports()[0].className, thrown.className);
        EXPECT_EQ(said, "zelim: unhandled " + std::string(thrown.className) +
                            " in window 'W' Open" +
                            (*thrown.message ? ": " + std::string(thrown.message) : "") + "\n");
    }
    platform::RuntimeExit();
}

} // namespace
