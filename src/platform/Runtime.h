#pragma once

#include "platform/Exceptions.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace platform {

class Application;
class Object;
class Window;

// The routine through which the framework calls system code under protection: calls
// `call` and returns the RuntimeException it raised, or nil. Anything else goes on up.
using ExceptionHelper = std::shared_ptr<RuntimeException> (*)(const std::function<void()>& call);

using Initializer = void (*)();

// Start-up and shutdown, in the order a program calls them.
void RuntimeInit();
// Runs the executable's initialisers; the first exception, of any type, stops them and
// stays pending.
void RuntimePerformInitializers(std::span<const Initializer> table);
void RuntimeSetExceptionHelper(ExceptionHelper helper);
// Framework initialisation: raises the application's Open event, then calls lateStartup.
// An exception left by lateStartup stays pending.
void RunFrameworkInitialization(void (*lateStartup)());
// The event loop, until the application quits (the last window closed).
void RuntimeRun();
// Report of an exception that reached the top of start-up; the exit status becomes 1.
void UnhandledException(const std::shared_ptr<RuntimeException>& exception);
// Releases the windows, waits for every playing sound to end, then releases the
// application object and runs registered finalisers.
void RuntimePerformFinalizers();
// Ends the runtime: 0, or 1 when an exception reached the top of start-up.
int RuntimeExit();

// An exception pending from the framework's side (initialisers, late start-up), taken.
std::shared_ptr<RuntimeException> RuntimeTakePendingException();
// A module's clean-up, run by RuntimePerformFinalizers (latest first).
void RuntimeAddFinalizer(std::function<void()> finalizer);

void RuntimeRegisterAppObject(std::shared_ptr<Application> app);
std::shared_ptr<Application> GetAppObject();

// Makes the framework's own classes known; the plug-in's classes likewise.
void RuntimeInitExternalClasses();
void InitPluginEntrypoints();

// Every call from the framework into system code: under the baton, with the stack
// checked, through the exception helper. What leaves is reported once on stderr with the
// exception's class and `where`, and the program goes on.
void CallIntoSystem(std::string_view where, const std::function<void()>& call);

// The exception being handled (inside a catch block), whatever its type: a RuntimeException
// as itself, any other as a ForeignException under its own class's name.
std::shared_ptr<RuntimeException> CurrentException();

// Protected call through the installed helper (or the default one before it is set).
std::shared_ptr<RuntimeException> CallWithExceptionHelper(const std::function<void()>& call);

// User-interface operations off the main thread raise ThreadAccessingUIException.
void RequireMainThread();
bool IsMainThread();

struct ExceptionReport {
    std::string className;
    std::string where;
    std::string message;
};
void ReportException(const ExceptionReport& report);
// Test hook: reports also go to this sink (empty: stderr only).
void SetExceptionReportSinkForTesting(std::function<void(const ExceptionReport&)> sink);

// Thrown at a yield point of a stopped thread, to unwind it without the baton. Not a
// RuntimeException, so system code cannot catch it by accident.
struct ThreadStopSignal {};

} // namespace platform
