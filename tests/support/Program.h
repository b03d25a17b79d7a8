#pragma once

#include "platform/PortAudioStream.h"
#include "platform/Runtime.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MainWindow;
class App;

namespace testsupport {

// Reports of exceptions that left a handler or reached the top, collected for a scope.
class ReportLog {
public:
    ReportLog();
    ~ReportLog();
    std::vector<platform::ExceptionReport> Reports() const;
    std::size_t Count() const;

private:
    mutable std::mutex mutex_;
    std::vector<platform::ExceptionReport> reports_;
};

// The program started as far as its open window, without the event loop: start-up's
// chain up to the window, with the calling thread holding the baton, as while an
// event is dispatched. Torn down like the end of a run.
class StartedProgram {
public:
    StartedProgram();
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    MainWindow& Window() const;
    App& Application() const;
    std::shared_ptr<MainWindow> WindowPtr() const { return window_; }

private:
    std::shared_ptr<MainWindow> window_;
};

// Lets Qt deliver what is queued (timers, clicks) for about `ms`, giving the baton up
// meanwhile as the event loop does.
void RunEventLoopFor(int ms);
// Runs the event loop until `done` holds or `ms` passes; returns whether it held.
bool RunEventLoopUntil(const std::function<bool()>& done, int ms);

// What a scripted input device was asked to do, in order, shared by all its streams.
struct DeviceLog {
    std::mutex mutex;
    std::vector<std::string> calls; // "open#1", "start#1", "read#1", "stop#1", "close#1"
    int streams = 0;
    void Add(const std::string& call);
    std::vector<std::string> Calls();
    int Count(const std::string& call);
};

// Feeds exact sample values. `next` fills one read's frames and returns its code.
struct ScriptedInput {
    std::shared_ptr<DeviceLog> log = std::make_shared<DeviceLog>();
    std::int64_t openResult = 0;
    std::function<std::int64_t(float* frames, std::int64_t count)> next = [](float* frames,
                                                                             std::int64_t count) {
        std::fill(frames, frames + count, 0.0f);
        return std::int64_t{0};
    };
    // Runs at each open, for checks of the caller's state at that moment.
    std::function<void()> onOpen;
};

// Installs a scripted input for every stream made during its lifetime.
class ScriptedInputScope {
public:
    explicit ScriptedInputScope(std::shared_ptr<ScriptedInput> input);
    ~ScriptedInputScope();

private:
    std::shared_ptr<ScriptedInput> input_;
};

// Dismisses modal message boxes as they appear and keeps their texts.
class ModalBoxWatcher {
public:
    ModalBoxWatcher();
    ~ModalBoxWatcher();
    std::vector<QString> Texts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace testsupport
