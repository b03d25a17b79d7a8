#include "app/Startup.h"

#include "app/App.h"
#include "playback/Tracks.h"
#include "window/MainWindow.h"

#include <array>

std::shared_ptr<platform::RuntimeException>
CallFunctionWithExceptionHandling(const std::function<void()>& call) {
    try {
        call();
    } catch (const platform::RuntimeException& e) {
        return e.Clone();
    }
    return nullptr;
}

void Main() {
    platform::RuntimeSetExceptionHelper(&CallFunctionWithExceptionHandling);
    // The helper hands back RuntimeExceptions only; any other type comes up to here.
    try {
        if (auto pending = platform::RuntimeTakePendingException()) {
            platform::UnhandledException(pending);
            return;
        }
        if (auto error = CallFunctionWithExceptionHandling(&EarlyStartup)) {
            platform::UnhandledException(error);
            return;
        }
        platform::RunFrameworkInitialization(&LateStartup);
        if (auto pending = platform::RuntimeTakePendingException()) {
            platform::UnhandledException(pending);
            return;
        }
        platform::RuntimeRun();
        if (auto pending = platform::RuntimeTakePendingException()) {
            platform::UnhandledException(pending);
        }
    } catch (...) {
        platform::UnhandledException(platform::CurrentException());
    }
}

void EarlyStartup() {
    platform::Application::SetSupportsHiDPI(true);
    platform::RuntimeInitExternalClasses();
    platform::InitPluginEntrypoints();
    InitFileTypes();
    NewAppInstance();
    ApplicationAddMenuHandlers();
}

void InitFileTypes() {
    // Zelim opens no documents.
}

void NewAppInstance() {
    auto app = std::make_shared<App>();
    app->Constructor();
    app->x_SetVersionData(1, 0, 0, 0, 0, "", "", "");
    platform::RuntimeRegisterAppObject(app);
}

void ApplicationAddMenuHandlers() {
    // No menus.
}

void LateStartup() {
    MakeDefaultView();
}

void MakeDefaultView() {
    // The framework holds the open window; this reference is not needed.
    MainWindow::Instance();
}

std::span<const platform::Initializer> ProgramInitializers() {
    static constexpr std::array<platform::Initializer, 3> table{
        &RegisterAppClass, &RegisterMainWindowClasses, &InitTrackModules};
    return table;
}

int RunProgram(std::span<const platform::Initializer> initializers) {
    platform::RuntimeInit();
    platform::RuntimePerformInitializers(initializers);
    try {
        Main();
    } catch (...) {
        // Only the report itself can fail here, and it has marked the run failed first.
    }
    platform::RuntimePerformFinalizers();
    return platform::RuntimeExit();
}
