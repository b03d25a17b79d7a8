#include "window/MainWindow.h"

#include "platform/ClassRecord.h"
#include "platform/Object.h"

namespace {

template <void (MainWindow::*Handler)()> void Call(platform::Object& window) {
    (static_cast<MainWindow&>(window).*Handler)();
}

} // namespace

const platform::ClassRecord& MainWindow::ClassInfo() {
    static const platform::ClassRecord record{
        .name = std::string(kMainWindowClassName),
        .base = &platform::Window::ClassInfo(),
        .eventTable = {{"Layout", &Call<&MainWindow::Layout>},
                       {"CreateControls", &Call<&MainWindow::CreateControls>},
                       {"Open", &Call<&MainWindow::Event_Open>},
                       {"Close", &Call<&MainWindow::Event_Close>}},
    };
    return record;
}

const platform::ClassRecord& wrapper_checkPlayMusicThread::ClassInfo() {
    static const platform::ClassRecord record{
        .name = "MainWindow.wrapper_checkPlayMusicThread",
        .base = &platform::Thread::ClassInfo(),
    };
    return record;
}

const platform::ClassRecord& wrapper_SampleTimer::ClassInfo() {
    static const platform::ClassRecord record{
        .name = "MainWindow.wrapper_SampleTimer",
        .base = &platform::Timer::ClassInfo(),
    };
    return record;
}

void RegisterMainWindowClasses() {
    platform::RegisterClass(wrapper_checkPlayMusicThread::ClassInfo());
    platform::RegisterClass(wrapper_SampleTimer::ClassInfo());
    platform::RegisterClass(MainWindow::ClassInfo());
}

std::shared_ptr<MainWindow> MainWindow::Instance() {
    if (auto open = platform::GetImplicitWindow(kMainWindowClassName)) {
        return platform::RuntimeCheckCast<MainWindow>(open);
    }
    auto window = std::make_shared<MainWindow>();
    window->Constructor();
    return window;
}

bool MainWindow::IsEventImplemented(std::string_view event) {
    return platform::RuntimeIsEventHandled(*this, kMainWindowClassName, event, true);
}

std::shared_ptr<platform::PushButton> MainWindow::StartStopButton() {
    return platform::RuntimeCheckCast<platform::PushButton>(ControlByName("StartStopButton"));
}

std::shared_ptr<platform::Thread> MainWindow::checkPlayMusicThread() {
    return platform::RuntimeCheckCast<platform::Thread>(ControlByName("checkPlayMusicThread"));
}

std::shared_ptr<platform::Timer> MainWindow::SampleTimer() {
    return platform::RuntimeCheckCast<platform::Timer>(ControlByName("SampleTimer"));
}
