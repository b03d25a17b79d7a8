#include "support/StartedProgram.h"

#include "app/App.h"
#include "app/Startup.h"
#include "platform/StackGuard.h"
#include "support/EventLoop.h"
#include "window/MainWindow.h"

#include <stdexcept>
#include <string>

namespace testsupport {

StartedProgram::StartedProgram() {
    platform::ResetStackCheckForTesting();
    platform::RuntimeInit();
    platform::RuntimePerformInitializers(ProgramInitializers());
    platform::RuntimeSetExceptionHelper(&CallFunctionWithExceptionHandling);
    EarlyStartup();
    platform::RunFrameworkInitialization(&LateStartup);
    if (auto pending = platform::RuntimeTakePendingException()) {
        throw std::runtime_error("start-up failed: " + std::string(pending->ClassName()));
    }
    window_ = MainWindow::Instance();
}

StartedProgram::~StartedProgram() {
    platform::ResetStackCheckForTesting();
    if (window_ && window_->IsOpen()) {
        window_->Close();
    }
    window_.reset();
    RunEventLoopFor(0); // the framework releases closed windows from the event loop
    platform::RuntimePerformFinalizers();
    platform::RuntimeExit();
}

MainWindow& StartedProgram::Window() const {
    return *window_;
}

App& StartedProgram::Application() const {
    return *App::Instance();
}

} // namespace testsupport
