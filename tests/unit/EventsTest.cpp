#include "platform/Baton.h"
#include "platform/ClassRecord.h"
#include "platform/Delegate.h"
#include "platform/Exceptions.h"
#include "platform/PushButton.h"
#include "platform/Runtime.h"
#include "platform/StackGuard.h"
#include "platform/Thread.h"
#include "platform/Timer.h"
#include "platform/Window.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "platform/internal/NativeAccess.h"
#include "support/EventLoop.h"
#include "support/ReportLog.h"
#include "support/RuntimeTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using platform::PushButton;
using platform::Thread;
using platform::Timer;

using Reports = testsupport::ReportLog;

using testsupport::RunEventLoopFor;

// A nested event loop for about `ms`, as a modal box inside a handler runs one.
void SpinNestedLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A window class of the test's own, registered with Open and CreateControls handlers.
class ProbeWindow : public platform::Window {
public:
    static const platform::ClassRecord& ClassInfo() {
        static const platform::ClassRecord record{
            .name = "EventsTest.ProbeWindow",
            .base = &platform::Window::ClassInfo(),
            .eventTable = {{"CreateControls",
                            [](platform::Object& w) {
                                auto& self = static_cast<ProbeWindow&>(w);
                                if (self.onCreateControls) {
                                    self.onCreateControls(self);
                                }
                            }},
                           {"Open",
                            [](platform::Object& w) {
                                auto& self = static_cast<ProbeWindow&>(w);
                                if (self.onOpen) {
                                    self.onOpen(self);
                                }
                            }}},
        };
        return record;
    }
    const platform::ClassRecord& Class() const override { return ClassInfo(); }

    void TimerAction(const std::shared_ptr<Timer>&) {
        ++actions;
        if (onAction) {
            onAction();
        }
    }
    void ButtonAction(const std::shared_ptr<PushButton>&) { ++actions; }

    std::function<void(ProbeWindow&)> onCreateControls;
    std::function<void(ProbeWindow&)> onOpen;
    std::function<void()> onAction;
    int actions = 0;
};

class EventsTest : public testsupport::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        platform::RegisterClass(ProbeWindow::ClassInfo());
        RegisterMainWindowClasses();
    }
    void TearDown() override {
        for (auto& w : windows_) {
            if (w->IsOpen()) {
                w->Close();
            }
        }
        windows_.clear();
        RunEventLoopFor(0); // the framework releases closed windows from the event loop
        platform::RuntimePerformFinalizers();
        RuntimeTest::TearDown();
    }

    // A probe window with a timer, wired to the window's TimerAction, opened.
    std::shared_ptr<Timer> OpenWithTimer(const std::shared_ptr<ProbeWindow>& window,
                                         std::int64_t period) {
        auto timer = std::make_shared<Timer>();
        window->onCreateControls = [timer, period](ProbeWindow& self) {
            self.AddControl("ProbeTimer", timer);
            timer->SetPeriod(period);
            timer->SetRunMode(2);
            auto me = std::static_pointer_cast<ProbeWindow>(self.shared_from_this());
            platform::RuntimeAddEventHandler(
                *timer, Timer::ClassInfo().EventNumber("Action"),
                platform::RuntimeCreateDelegate(&ProbeWindow::TimerAction, me, "( Timer )"));
        };
        windows_.push_back(window);
        window->Constructor();
        return timer;
    }

    std::vector<std::shared_ptr<platform::Window>> windows_;
};

TEST_F(EventsTest, EventNumbersComeFromTheClassRecords) {
    // The window's wiring relies on these numbers.
    EXPECT_EQ(PushButton::ClassInfo().EventNumber("Action"), 15);
    EXPECT_EQ(Thread::ClassInfo().EventNumber("Run"), 0);
    EXPECT_EQ(Timer::ClassInfo().EventNumber("Action"), 0);
    EXPECT_EQ(wrapper_checkPlayMusicThread::ClassInfo().EventNumber("Run"), 0);
    EXPECT_EQ(wrapper_SampleTimer::ClassInfo().EventNumber("Action"), 0);
    // Inherited events come first.
    EXPECT_EQ(PushButton::ClassInfo().EventNumber("Close"), 0);
    EXPECT_EQ(PushButton::ClassInfo().EventNumber("ConstructContextualMenu"), 3);
    EXPECT_EQ(PushButton::ClassInfo().EventNumber("MouseUp"), 17);
    EXPECT_EQ(PushButton::ClassInfo().EventCount(), 18);
    EXPECT_EQ(PushButton::ClassInfo().EventNumber("NoSuchEvent"), -1);
}

TEST_F(EventsTest, IsEventImplementedAnswersFromTheRegisteredEventTable) {
    ProbeWindow probe;
    EXPECT_TRUE(probe.IsEventImplemented("Open"));
    EXPECT_TRUE(probe.IsEventImplemented("CreateControls"));
    EXPECT_FALSE(probe.IsEventImplemented("Close"));
    EXPECT_FALSE(probe.IsEventImplemented("Paint"));
    EXPECT_FALSE(platform::RuntimeIsEventHandled(probe, "EventsTest.ProbeWindow", "Open", false))
        << "only the system's own handlers are known";
    EXPECT_FALSE(platform::RuntimeIsEventHandled(probe, "EventsTest.Unregistered", "Open", true));

    MainWindow mainWindow;
    for (const char* handled : {"Layout", "CreateControls", "Open", "Close"}) {
        EXPECT_TRUE(mainWindow.IsEventImplemented(handled)) << handled;
    }
    EXPECT_FALSE(mainWindow.IsEventImplemented("Resized"));

    platform::Window plain;
    EXPECT_FALSE(plain.IsEventImplemented("Open"));
}

TEST_F(EventsTest, RaiseClassEventCallsOnlyImplementedHandlers) {
    auto probe = std::make_shared<ProbeWindow>();
    int opens = 0;
    probe->onOpen = [&](ProbeWindow&) { ++opens; };
    platform::RaiseClassEvent(*probe, "Open");
    platform::RaiseClassEvent(*probe, "Close");
    EXPECT_EQ(opens, 1);
}

TEST_F(EventsTest, ADelegateWhoseTargetIsGoneRaisesNilObject) {
    auto button = std::make_shared<PushButton>();
    auto target = std::make_shared<ProbeWindow>();
    std::weak_ptr<ProbeWindow> watch = target;
    auto delegate =
        platform::RuntimeCreateDelegate(&ProbeWindow::ButtonAction, target, "( PushButton )");
    delegate->Invoke(button);
    EXPECT_EQ(target->actions, 1);
    target.reset();
    EXPECT_TRUE(watch.expired()) << "a delegate must not keep its window alive";
    EXPECT_THROW(delegate->Invoke(button), platform::NilObjectException);
}

TEST_F(EventsTest, AClickOnAButtonWhoseWindowIsGoneIsReportedOnce) {
    Reports reports;
    auto button = std::make_shared<PushButton>();
    button->Constructor();
    button->SetName("Orphan");
    {
        auto target = std::make_shared<ProbeWindow>();
        platform::RuntimeAddEventHandler(
            *button, PushButton::ClassInfo().EventNumber("Action"),
            platform::RuntimeCreateDelegate(&ProbeWindow::ButtonAction, target, "( PushButton )"));
    }
    EXPECT_NO_THROW(platform::NativeAccess::Click(*button));
    const auto got = reports.Reports();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].className, "NilObjectException");
    EXPECT_NE(got[0].where.find("Orphan"), std::string::npos) << got[0].where;
    EXPECT_NE(got[0].where.find("Action"), std::string::npos) << got[0].where;
}

TEST_F(EventsTest, ADelegateCalledWithTheWrongSenderRaisesIllegalCast) {
    auto target = std::make_shared<ProbeWindow>();
    auto delegate = platform::RuntimeCreateDelegate(&ProbeWindow::TimerAction, target, "( Timer )");
    EXPECT_THROW(delegate->Invoke(std::make_shared<PushButton>()), platform::IllegalCastException);
    EXPECT_EQ(target->actions, 0);
}

TEST_F(EventsTest, AddEventHandlerRejectsANilDelegateAndNumbersOutOfRange) {
    auto target = std::make_shared<ProbeWindow>();
    auto good = platform::RuntimeCreateDelegate(&ProbeWindow::ButtonAction, target, "");
    PushButton button;
    Thread thread;
    Timer timer;
    const struct {
        const char* what;
        platform::PaneChild& control;
        int number;
        bool ok;
    } cases[] = {
        {"button -1", button, -1, false}, {"button 0", button, 0, true},
        {"button 17", button, 17, true},  {"button 18", button, 18, false},
        {"thread -1", thread, -1, false}, {"thread 0", thread, 0, true},
        {"thread 1", thread, 1, true},    {"thread 2", thread, 2, false},
        {"timer -1", timer, -1, false},   {"timer 0", timer, 0, true},
        {"timer 1", timer, 1, false},     {"timer huge", timer, 1 << 30, false},
    };
    for (const auto& c : cases) {
        if (c.ok) {
            EXPECT_NO_THROW(platform::RuntimeAddEventHandler(c.control, c.number, good)) << c.what;
            EXPECT_TRUE(c.control.HasEventHandler(c.number)) << c.what;
        } else {
            EXPECT_THROW(platform::RuntimeAddEventHandler(c.control, c.number, good),
                         platform::OutOfBoundsException)
                << c.what;
            EXPECT_FALSE(c.control.HasEventHandler(c.number)) << c.what;
        }
        EXPECT_THROW(platform::RuntimeAddEventHandler(c.control, 0, nullptr),
                     platform::NilObjectException)
            << c.what;
    }
    PushButton fresh;
    EXPECT_THROW(platform::RuntimeAddEventHandler(fresh, 15, nullptr),
                 platform::NilObjectException);
    EXPECT_FALSE(fresh.HasEventHandler(15));
}

TEST_F(EventsTest, ATimerNeverDeliversBeforeItsWindowsOpen) {
    auto window = std::make_shared<ProbeWindow>();
    int actionsDuringOpen = -1;
    window->onOpen = [&](ProbeWindow& self) {
        // System code may touch the timer in Open; it still must wait for Open's end.
        auto timer = std::static_pointer_cast<Timer>(self.ControlByName("ProbeTimer"));
        timer->SetRunMode(2);
        timer->SetEnabled(true);
        SpinNestedLoop(100); // twenty periods
        actionsDuringOpen = self.actions;
    };
    OpenWithTimer(window, 5);
    EXPECT_EQ(actionsDuringOpen, 0);
    RunEventLoopFor(200);
    EXPECT_GT(window->actions, 0) << "it delivers once the window is open";
}

TEST_F(EventsTest, ATimerDoesNotDeliverAgainWhileItsActionRuns) {
    // A nested loop with the baton held, and one with it given up as a modal box does.
    for (bool batonReleased : {false, true}) {
        auto window = std::make_shared<ProbeWindow>();
        int callsWhileNested = -1;
        window->onAction = [&] {
            if (window->actions != 1) {
                return;
            }
            if (batonReleased) {
                platform::BatonRelease modal;
                SpinNestedLoop(100);
            } else {
                SpinNestedLoop(100);
            }
            callsWhileNested = window->actions;
        };
        OpenWithTimer(window, 5);
        RunEventLoopFor(400);
        EXPECT_EQ(callsWhileNested, 1) << "baton released: " << batonReleased;
        EXPECT_GT(window->actions, 1) << "it delivers again after the Action returned";
        window->Close();
    }
}

TEST_F(EventsTest, ATimerInRunModeOnceDeliversOnce) {
    auto window = std::make_shared<ProbeWindow>();
    auto timer = OpenWithTimer(window, 5);
    timer->SetRunMode(1);
    RunEventLoopFor(150);
    EXPECT_EQ(window->actions, 1);
    EXPECT_EQ(timer->RunMode(), 0);
}

// Restarting the timer inside its Action (a new period, say) and then waiting in a modal
// loop: the restarted timer comes due meanwhile, and still the Action is not re-entered.
TEST_F(EventsTest, ATimerRestartedInsideItsActionDoesNotReenterIt) {
    auto window = std::make_shared<ProbeWindow>();
    std::shared_ptr<Timer> timer;
    int depth = 0;
    int deepest = 0;
    window->onAction = [&] {
        deepest = std::max(deepest, ++depth);
        if (window->actions == 1) {
            timer->SetPeriod(5);
            platform::BatonRelease modal;
            SpinNestedLoop(100);
        }
        --depth;
    };
    timer = OpenWithTimer(window, 5);
    RunEventLoopFor(300);
    EXPECT_EQ(deepest, 1) << "the Action ran inside itself";
    EXPECT_GT(window->actions, 1) << "it delivers again after the Action returned";
    window->Close();
}

} // namespace
