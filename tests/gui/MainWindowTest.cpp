// The main window on Qt's offscreen platform: its designed state, its controls and the
// wiring of their events.
#include "window/MainWindow.h"
#include "app/App.h"
#include "platform/Baton.h"
#include "platform/Runtime.h"
#include "platform/StackGuard.h"
#include "platform/internal/NativeAccess.h"
#include "platform/internal/OpenWindows.h"
#include "support/ReportLog.h"
#include "support/ScriptedInput.h"
#include "support/StartedProgram.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using testsupport::StartedProgram;

QPushButton* ButtonWidget(MainWindow& window) {
    return platform::NativeAccess::Widget(window)->findChild<QPushButton*>();
}

TEST(MainWindow, OpensWithItsDesignedLook) {
    StartedProgram program;
    MainWindow& window = program.Window();
    QWidget* widget = platform::NativeAccess::Widget(window);
    ASSERT_NE(widget, nullptr);
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(widget->windowTitle(), "Zelim");
    EXPECT_EQ(widget->size(), QSize(308, 196));
    EXPECT_EQ(widget->minimumSize(), widget->maximumSize()) << "not resizeable";
    EXPECT_TRUE(widget->autoFillBackground());
    EXPECT_EQ(widget->palette().color(QPalette::Window), QColor(0xFD, 0x84, 0xA6));

    QPushButton* button = ButtonWidget(window);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Start");
    EXPECT_EQ(button->geometry(), QRect(94, 72, 121, 53));
    EXPECT_TRUE(button->isDefault());
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(button->isEnabled());
}

TEST(MainWindow, ControlsAreFoundByNameWithTheirClassesAndState) {
    StartedProgram program;
    MainWindow& window = program.Window();

    auto button = window.StartStopButton();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->Caption(), "Start");
    EXPECT_EQ(button->Index(), -2147483648LL);

    auto thread = window.checkPlayMusicThread();
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<wrapper_checkPlayMusicThread>(thread), nullptr);
    EXPECT_EQ(thread->Priority(), 5);
    EXPECT_EQ(thread->StackSize(), 0);
    EXPECT_EQ(thread->State(), platform::Thread::NotRunning);

    auto timer = window.SampleTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<wrapper_SampleTimer>(timer), nullptr);
    EXPECT_EQ(timer->RunMode(), 2);
    // The window's Open replaced the designed 42 ms and switched the timer off.
    EXPECT_EQ(timer->Period(), 16);
    EXPECT_FALSE(timer->Enabled());

    EXPECT_EQ(window.sr, nullptr);
    // Each accessor looks its control up anew, and a control of another class is refused.
    EXPECT_EQ(window.StartStopButton(), button);
    EXPECT_THROW(
        platform::RuntimeCheckCast<platform::Timer>(window.ControlByName("StartStopButton")),
        platform::IllegalCastException);
    EXPECT_EQ(window.ControlByName("NoSuchControl"), nullptr);
}

TEST(MainWindow, InstanceReturnsTheOpenWindow) {
    StartedProgram program;
    EXPECT_EQ(MainWindow::Instance(), program.WindowPtr());
    EXPECT_EQ(platform::internal::OpenWindows().size(), 1u);
}

TEST(MainWindow, OneClickReachesTheButtonHandlerOnce) {
    auto input = std::make_shared<testsupport::ScriptedInput>();
    testsupport::ScriptedInputScope scripted(input);
    StartedProgram program;
    MainWindow& window = program.Window();
    QPushButton* button = ButtonWidget(window);
    ASSERT_NE(button, nullptr);
    {
        platform::BatonRelease clickLikeTheEventLoop;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // One call turns "Start" into "Stop"; a second would have turned it back.
    EXPECT_EQ(window.StartStopButton()->Caption(), "Stop");
    EXPECT_EQ(button->text(), "Stop");
    EXPECT_EQ(input->log->streams, 1);
    {
        platform::BatonRelease clickLikeTheEventLoop;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    EXPECT_EQ(window.StartStopButton()->Caption(), "Start");
}

TEST(MainWindow, ClosingEndsTheEventLoopAndReleasesTheWindow) {
    std::weak_ptr<MainWindow> weak;
    {
        StartedProgram program;
        weak = program.WindowPtr();
        program.Window().Close();
        EXPECT_FALSE(program.Window().IsOpen());
        EXPECT_TRUE(platform::internal::OpenWindows().empty());
    }
    EXPECT_TRUE(weak.expired()) << "the framework released the closed window";
}

// The controls are made in their order, button, thread, timer: a failure at any step of the
// window's construction leaves exactly the controls made before it, and the sweep meets
// every such prefix.
TEST(MainWindow, ControlsAreCreatedButtonThreadTimer) {
    StartedProgram program; // the runtime, the application object and the classes
    const char* const order[] = {"StartStopButton", "checkPlayMusicThread", "SampleTimer"};
    platform::ResetStackCheckForTesting();
    {
        auto whole = std::make_shared<MainWindow>();
        whole->Constructor();
        whole->Close();
    }
    const long checks = platform::StackChecksForTesting();
    std::set<int> prefixes;
    for (long k = 0; k < checks; ++k) {
        SCOPED_TRACE("failure at check " + std::to_string(k));
        testsupport::ReportLog reports;
        platform::ResetStackCheckForTesting();
        platform::FailStackCheckAfter(k);
        auto window = std::make_shared<MainWindow>();
        try {
            window->Constructor();
        } catch (const platform::StackOverflowException&) {
            // the construction's own first check
        }
        platform::ResetStackCheckForTesting();
        int made = 0;
        while (made < 3 && window->ControlByName(order[made])) {
            ++made;
        }
        for (int i = made; i < 3; ++i) {
            EXPECT_EQ(window->ControlByName(order[i]), nullptr)
                << order[i] << " without " << order[made];
        }
        prefixes.insert(made);
        if (window->IsOpen()) {
            window->Close();
        }
    }
    EXPECT_EQ(prefixes, (std::set<int>{0, 1, 2, 3}));
}

} // namespace
