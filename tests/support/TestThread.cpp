#include "support/TestThread.h"

#include "platform/ClassRecord.h"
#include "platform/Delegate.h"
#include "platform/PaneChild.h"

namespace testsupport {

const platform::ClassRecord& RunTarget::Class() const {
    static const platform::ClassRecord record{.name = "Test.RunTarget"};
    return record;
}

void RunTarget::Run(const std::shared_ptr<platform::Thread>& thread) {
    body_(platform::Deref(thread));
}

TestThread MakeThread(const std::string& name, std::function<void(platform::Thread&)> body) {
    TestThread t{std::make_shared<RunTarget>(std::move(body)),
                 std::make_shared<platform::Thread>()};
    t.thread->SetName(name);
    platform::RuntimeAddEventHandler(
        *t.thread, platform::Thread::ClassInfo().EventNumber("Run"),
        platform::RuntimeCreateDelegate(&RunTarget::Run, t.target, "( Thread )"));
    return t;
}

} // namespace testsupport
