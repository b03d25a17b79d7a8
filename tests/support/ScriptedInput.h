#pragma once

#include "platform/PortAudioStream.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

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

} // namespace testsupport
