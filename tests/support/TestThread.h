#pragma once

#include "platform/Object.h"
#include "platform/Thread.h"

#include <functional>
#include <memory>
#include <string>

namespace testsupport {

// The target of a test's thread: its Run is `body`.
class RunTarget : public platform::Object {
public:
    explicit RunTarget(std::function<void(platform::Thread&)> body) : body_(std::move(body)) {}
    const platform::ClassRecord& Class() const override;
    void Run(const std::shared_ptr<platform::Thread>& thread);

private:
    std::function<void(platform::Thread&)> body_;
};

// A named thread wired to its target; the target lives as long as this does.
struct TestThread {
    std::shared_ptr<RunTarget> target;
    std::shared_ptr<platform::Thread> thread;
};

TestThread MakeThread(const std::string& name, std::function<void(platform::Thread&)> body);

} // namespace testsupport
