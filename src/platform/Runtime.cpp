#include "platform/Runtime.h"

#include "platform/Application.h"
#include "platform/Baton.h"
#include "platform/Diagnostics.h"
#include "platform/PortAudioSystem.h"
#include "platform/Sound.h"
#include "platform/StackGuard.h"
#include "platform/Window.h"
#include "platform/internal/OpenWindows.h"

#include <QApplication>
#include <QThread>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <typeinfo>
#include <vector>

namespace platform {
namespace {

struct RuntimeState {
    int argc = 1;
    char name[6] = "zelim";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> qapp;
    ExceptionHelper helper = nullptr;
    std::shared_ptr<RuntimeException> pending;
    bool failed = false;
    std::shared_ptr<Application> app;
    std::vector<std::function<void()>> finalizers;
    std::mutex sinkMutex;
    std::function<void(const ExceptionReport&)> sink;
};

RuntimeState& State() {
    static RuntimeState state;
    return state;
}

std::shared_ptr<RuntimeException> DefaultHelper(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeException& e) {
        return e.Clone();
    }
    return nullptr;
}

std::string Demangled(const char* name) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(name);
}

} // namespace

void RuntimeInit() {
    auto& s = State();
    if (!QApplication::instance()) {
        s.qapp = std::make_unique<QApplication>(s.argc, s.argv);
        // Windows are released by the framework after their Close; quitting is ours too.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    s.failed = false;
    s.pending.reset();
    if (!Baton::Instance().HeldByCurrentThread()) {
        Baton::Instance().Acquire();
    }
}

void RuntimePerformInitializers(std::span<const Initializer> table) {
    for (Initializer init : table) {
        std::shared_ptr<RuntimeException> error;
        try {
            error = CallWithExceptionHelper([init] { init(); });
        } catch (...) {
            error = CurrentException();
        }
        if (error) {
            State().pending = std::move(error);
            return;
        }
    }
}

void RuntimeSetExceptionHelper(ExceptionHelper helper) {
    State().helper = helper;
}

std::shared_ptr<RuntimeException> CurrentException() {
    try {
        throw;
    } catch (const RuntimeException& e) {
        return e.Clone();
    } catch (const std::exception& e) {
        return std::make_shared<ForeignException>(Demangled(typeid(e).name()), e.what());
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return std::make_shared<ForeignException>(
            type != nullptr ? Demangled(type->name()) : std::string("an exception of unknown type"),
            std::string());
    }
}

std::shared_ptr<RuntimeException> CallWithExceptionHelper(const std::function<void()>& call) {
    ExceptionHelper helper = State().helper ? State().helper : &DefaultHelper;
    return helper(call);
}

std::shared_ptr<RuntimeException> RuntimeTakePendingException() {
    return std::exchange(State().pending, nullptr);
}

void RunFrameworkInitialization(void (*lateStartup)()) {
    if (auto app = State().app) {
        RaiseClassEvent(*app, "Open");
    }
    if (auto error = CallWithExceptionHelper([lateStartup] {
            CheckStack();
            lateStartup();
        })) {
        State().pending = std::move(error);
    }
}

void RuntimeRun() {
    if (internal::OpenWindows().empty()) {
        return;
    }
    // While the window opens, so that listening does not wait for it at the first Start.
    detail::PortAudioSystem::PrepareInBackground();
    BatonRelease between; // each event takes the baton while it is dispatched
    QApplication::exec();
}

void UnhandledException(const std::shared_ptr<RuntimeException>& exception) {
    if (!exception) {
        return;
    }
    State().failed = true;
    ReportException({std::string(exception->ClassName()), "start-up", exception->Message()});
}

void RuntimeAddFinalizer(std::function<void()> finalizer) {
    State().finalizers.push_back(std::move(finalizer));
}

void RuntimePerformFinalizers() {
    auto& s = State();
    internal::ForgetOpenWindows();
    // A track still playing plays on to its end, with the windows already gone; only a
    // signal ends the process sooner.
    WaitForSoundsToEnd();
    s.app.reset();
    while (!s.finalizers.empty()) {
        auto finalizer = std::move(s.finalizers.back());
        s.finalizers.pop_back();
        finalizer();
    }
}

int RuntimeExit() {
    auto& s = State();
    const int status = s.failed ? 1 : 0;
    s.failed = false;
    s.pending.reset();
    s.helper = nullptr;
    if (Baton::Instance().HeldByCurrentThread()) {
        Baton::Instance().Release();
    }
    // Qt must go before the process's exit handlers run, not among them.
    s.qapp.reset();
    return status;
}

void RuntimeRegisterAppObject(std::shared_ptr<Application> app) {
    CheckStack();
    State().app = std::move(app);
}

std::shared_ptr<Application> GetAppObject() {
    return State().app;
}

void RuntimeInitExternalClasses() {
    CheckStack();
    RegisterClass(Application::ClassInfo());
    RegisterClass(Window::ClassInfo());
}

void InitPluginEntrypoints() {
    // The audio stream classes are linked in; nothing to bind at run time.
    CheckStack();
}

void CallIntoSystem(std::string_view where, const std::function<void()>& call) {
    BatonScope baton;
    std::shared_ptr<RuntimeException> error;
    try {
        error = CallWithExceptionHelper([&] {
            CheckStack();
            call();
        });
    } catch (const ThreadStopSignal&) {
        throw;
    } catch (...) {
        error = CurrentException();
    }
    if (error) {
        ReportException({std::string(error->ClassName()), std::string(where), error->Message()});
    }
}

bool IsMainThread() {
    const auto* app = QCoreApplication::instance();
    return app != nullptr && app->thread() == QThread::currentThread();
}

void RequireMainThread() {
    if (!IsMainThread()) {
        throw ThreadAccessingUIException("user-interface operation off the main thread");
    }
}

void ReportException(const ExceptionReport& report) {
    Say("unhandled " + report.className + " in " + report.where +
        (report.message.empty() ? "" : ": " + report.message));
    auto& s = State();
    std::lock_guard lock(s.sinkMutex);
    if (s.sink) {
        s.sink(report);
    }
}

void SetExceptionReportSinkForTesting(std::function<void(const ExceptionReport&)> sink) {
    auto& s = State();
    std::lock_guard lock(s.sinkMutex);
    s.sink = std::move(sink);
}

} // namespace platform
