#include "support/Program.h"

#include "app/App.h"
#include "app/Startup.h"
#include "platform/Baton.h"
#include "platform/StackGuard.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <stdexcept>

namespace testsupport {

ReportLog::ReportLog() {
    platform::SetExceptionReportSinkForTesting([this](const platform::ExceptionReport& r) {
        std::lock_guard lock(mutex_);
        reports_.push_back(r);
    });
}

ReportLog::~ReportLog() {
    platform::SetExceptionReportSinkForTesting({});
}

std::vector<platform::ExceptionReport> ReportLog::Reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

std::size_t ReportLog::Count() const {
    std::lock_guard lock(mutex_);
    return reports_.size();
}

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

void RunEventLoopFor(int ms) {
    platform::BatonRelease between;
    QElapsedTimer clock;
    clock.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    } while (clock.elapsed() < ms);
}

bool RunEventLoopUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        {
            platform::BatonScope baton;
            if (done()) {
                return true;
            }
        }
        RunEventLoopFor(5);
    }
    platform::BatonScope baton;
    return done();
}

void DeviceLog::Add(const std::string& call) {
    std::lock_guard lock(mutex);
    calls.push_back(call);
}

std::vector<std::string> DeviceLog::Calls() {
    std::lock_guard lock(mutex);
    return calls;
}

int DeviceLog::Count(const std::string& call) {
    std::lock_guard lock(mutex);
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

namespace {

class ScriptedDevice final : public platform::AudioInputDevice {
public:
    explicit ScriptedDevice(std::shared_ptr<ScriptedInput> input)
        : input_(std::move(input)), id_("#" + std::to_string(++input_->log->streams)) {}
    ~ScriptedDevice() override { input_->log->Add("release" + id_); }

    std::int64_t Open(std::int64_t in, std::int64_t out, std::int64_t format, double rate,
                      std::int64_t frames, std::int64_t flags) override {
        input_->log->Add("open" + id_ + "(" + std::to_string(in) + "," + std::to_string(out) + "," +
                         std::to_string(format) + "," + std::to_string(static_cast<long>(rate)) +
                         "," + std::to_string(frames) + "," + std::to_string(flags) + ")");
        if (input_->onOpen) {
            input_->onOpen();
        }
        return input_->openResult;
    }
    std::int64_t Start() override {
        input_->log->Add("start" + id_);
        active_ = true;
        return 0;
    }
    bool IsActive() const override { return active_; }
    std::int64_t Read(void* buffer, std::int64_t count) override {
        input_->log->Add("read" + id_);
        return input_->next(static_cast<float*>(buffer), count);
    }
    std::int64_t Stop() override {
        input_->log->Add("stop" + id_);
        active_ = false;
        return 0;
    }
    std::int64_t Close() override {
        input_->log->Add("close" + id_);
        return 0;
    }

private:
    std::shared_ptr<ScriptedInput> input_;
    std::string id_;
    bool active_ = false;
};

} // namespace

ScriptedInputScope::ScriptedInputScope(std::shared_ptr<ScriptedInput> input)
    : input_(std::move(input)) {
    platform::SetAudioInputDeviceFactoryForTesting(
        [input = input_] { return std::make_unique<ScriptedDevice>(input); });
}

ScriptedInputScope::~ScriptedInputScope() {
    platform::SetAudioInputDeviceFactoryForTesting({});
}

struct ModalBoxWatcher::Impl {
    QTimer poll;
    std::vector<QString> texts;
};

ModalBoxWatcher::ModalBoxWatcher() : impl_(std::make_unique<Impl>()) {
    QObject::connect(&impl_->poll, &QTimer::timeout, [impl = impl_.get()] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            impl->texts.push_back(box->text());
            box->accept();
        }
    });
    impl_->poll.start(5);
}

ModalBoxWatcher::~ModalBoxWatcher() = default;

std::vector<QString> ModalBoxWatcher::Texts() const {
    return impl_->texts;
}

} // namespace testsupport
