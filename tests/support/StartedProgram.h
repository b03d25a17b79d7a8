#pragma once

#include <memory>

class MainWindow;
class App;

namespace testsupport {

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

} // namespace testsupport
