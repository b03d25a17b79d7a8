#include "support/ScriptedInput.h"

#include <algorithm>
#include <utility>

namespace testsupport {

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

} // namespace testsupport
