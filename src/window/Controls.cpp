#include "platform/Delegate.h"
#include "platform/PropertyList.h"
#include "window/MainWindow.h"
#include "window/PropertyLists.h"

#include <span>
#include <string>

namespace {

// One control: made, registered, fetched back to get its design-time list, fetched
// again to wire its event to the window's handler.
template <class ControlClass, class As>
void AddWiredControl(MainWindow& window, const std::string& name,
                     std::span<const std::uint8_t> list,
                     void (MainWindow::*handler)(const std::shared_ptr<As>&),
                     const char* parameterText, int eventNumber) {
    {
        auto control = window.New<ControlClass>();
        control->Constructor();
        window.AddControl(name, control);
    }
    {
        auto control = platform::RuntimeCheckCast<As>(window.ControlByName(name));
        platform::SetProperties(platform::Deref(control, name), list);
    }
    auto control = platform::RuntimeCheckCast<As>(window.ControlByName(name));
    auto self = std::static_pointer_cast<MainWindow>(window.shared_from_this());
    platform::RuntimeAddEventHandler(platform::Deref(control, name), eventNumber,
                                     platform::RuntimeCreateDelegate(handler, self, parameterText));
}

} // namespace

void MainWindow::Layout() {
    platform::SetProperties(*this, kMainWindowList);
}

void MainWindow::CreateControls() {
    CreateControls0();
}

void MainWindow::CreateControls0() {
    AddWiredControl<platform::PushButton, platform::PushButton>(
        *this, "StartStopButton", kStartStopButtonList, &MainWindow::StartStopButton_Action,
        "( PushButton )", 15);
    AddWiredControl<wrapper_checkPlayMusicThread, platform::Thread>(
        *this, "checkPlayMusicThread", kCheckPlayMusicThreadList,
        &MainWindow::checkPlayMusicThread_Run, "( Thread )", 0);
    AddWiredControl<wrapper_SampleTimer, platform::Timer>(
        *this, "SampleTimer", kSampleTimerList, &MainWindow::SampleTimer_Action, "( Timer )", 0);
}
