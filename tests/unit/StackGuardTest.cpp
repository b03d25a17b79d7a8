#include "platform/StackGuard.h"
#include "platform/Baton.h"
#include "platform/ClassRecord.h"
#include "platform/Delegate.h"
#include "platform/Exceptions.h"
#include "platform/PushButton.h"
#include "platform/Runtime.h"
#include "platform/Thread.h"

#include "platform/internal/NativeAccess.h"
#include "support/ReportLog.h"
#include "support/RuntimeTest.h"
#include "support/TestThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::StackOverflowException;

using StackGuardTest = testsupport::RuntimeTest;

// How many checks pass before one raises.
long ChecksBeforeRaise(long limit) {
    for (long i = 0; i < limit; ++i) {
        try {
            platform::CheckStack();
        } catch (const StackOverflowException&) {
            return i;
        }
    }
    return -1;
}

TEST_F(StackGuardTest, FailAfterNRaisesExactlyOnceAtTheNextPlusOneCheck) {
    for (long n : {0L, 1L, 2L, 7L, 100L}) {
        platform::ResetStackCheckForTesting();
        platform::CheckStack(); // checks before arming do not count
        platform::FailStackCheckAfter(n);
        EXPECT_EQ(ChecksBeforeRaise(n + 10), n) << "n = " << n;
        EXPECT_EQ(ChecksBeforeRaise(1000), -1) << "n = " << n << ": it raises once";
    }
}

TEST_F(StackGuardTest, ResetDisarmsTheHook) {
    platform::FailStackCheckAfter(0);
    platform::ResetStackCheckForTesting();
    EXPECT_EQ(ChecksBeforeRaise(100), -1);
    EXPECT_EQ(platform::StackChecksForTesting(), 100);
}

// Each level keeps a kilobyte live across the call, so neither inlining nor a tail call
// can flatten the recursion.
int Recurse(int depth, int& deepest) {
    platform::CheckStack();
    if (depth > 10'000'000) {
        return 0; // ten gigabytes down: the guard has failed long before
    }
    volatile char frame[1024];
    std::memset(const_cast<char*>(frame), depth & 0x7F, sizeof frame);
    deepest = depth;
    const int below = Recurse(depth + 1, deepest);
    return below + frame[depth % sizeof frame];
}

struct Outcome {
    bool raised = false;
    int deepest = 0;
    std::size_t remainingAtStart = 0;
};

Outcome RecurseUntilStopped() {
    Outcome outcome;
    outcome.remainingAtStart = platform::RemainingStack();
    try {
        (void)Recurse(0, outcome.deepest);
    } catch (const StackOverflowException&) {
        outcome.raised = true;
    }
    return outcome;
}

TEST_F(StackGuardTest, DeepRecursionOnTheMainThreadRaisesBeforeTheStackRunsOut) {
    const Outcome outcome = RecurseUntilStopped();
    EXPECT_TRUE(outcome.raised);
    EXPECT_GT(outcome.remainingAtStart, 256u * 1024u) << "the stack's bounds were found";
    // It raised near the real end, not at once: a kilobyte per level most of the way down.
    EXPECT_GT(static_cast<std::size_t>(outcome.deepest) * 1024u, outcome.remainingAtStart / 2);
    // The guard stays usable after the unwinding, and raises again at the same depth.
    const Outcome again = RecurseUntilStopped();
    EXPECT_TRUE(again.raised);
    EXPECT_EQ(again.deepest, outcome.deepest);
}

TEST_F(StackGuardTest, DeepRecursionOnAnOsThreadRaisesBeforeTheStackRunsOut) {
    Outcome outcome;
    std::thread([&] { outcome = RecurseUntilStopped(); }).join();
    EXPECT_TRUE(outcome.raised);
    EXPECT_GT(static_cast<std::size_t>(outcome.deepest) * 1024u, outcome.remainingAtStart / 2);
}

// The target of a button's Action, counting its calls.
class ButtonTarget : public platform::Object {
public:
    const platform::ClassRecord& Class() const override {
        static const platform::ClassRecord record{.name = "StackGuardTest.ButtonTarget"};
        return record;
    }
    void Action(const std::shared_ptr<platform::PushButton>&) { ++actions; }
    int actions = 0;
};

using Reports = testsupport::ReportLog;

TEST_F(StackGuardTest, DeepRecursionInAThreadsRunIsReportedByName) {
    Reports reports;
    Outcome outcome;
    const auto deep = testsupport::MakeThread("deep", [&](platform::Thread&) {
        outcome.remainingAtStart = platform::RemainingStack();
        (void)Recurse(0, outcome.deepest); // nothing here catches it
    });
    platform::Thread& thread = *deep.thread;
    thread.Start();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (thread.State() != platform::Thread::NotRunning &&
           std::chrono::steady_clock::now() < deadline) {
        platform::BatonRelease waiting;
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(thread.State(), platform::Thread::NotRunning);
    const auto got = reports.Reports();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].className, "StackOverflowException");
    EXPECT_NE(got[0].where.find("deep"), std::string::npos) << got[0].where;
    EXPECT_GT(static_cast<std::size_t>(outcome.deepest) * 1024u, outcome.remainingAtStart / 2);
}

// The entry into an event handler is checked too: the handler does not run, and the
// exception is reported for that event.
TEST_F(StackGuardTest, TheEntryIntoAnEventHandlerIsChecked) {
    Reports reports;
    auto target = std::make_shared<ButtonTarget>();
    auto button = std::make_shared<platform::PushButton>();
    button->Constructor();
    button->SetName("Deep");
    platform::RuntimeAddEventHandler(
        *button, platform::PushButton::ClassInfo().EventNumber("Action"),
        platform::RuntimeCreateDelegate(&ButtonTarget::Action, target, "( PushButton )"));
    platform::NativeAccess::Click(*button);
    ASSERT_EQ(target->actions, 1);
    platform::FailStackCheckAfter(0);
    platform::NativeAccess::Click(*button);
    EXPECT_EQ(target->actions, 1);
    const auto got = reports.Reports();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].className, "StackOverflowException");
    EXPECT_NE(got[0].where.find("Action"), std::string::npos) << got[0].where;
    platform::NativeAccess::Click(*button);
    EXPECT_EQ(target->actions, 2) << "the hook raised once";
}

TEST_F(StackGuardTest, PlatformOperationsCheckTheStack) {
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"Thread.Start", [] { platform::Thread().Start(); }},
        {"RuntimeBackgroundTask", [] { platform::RuntimeBackgroundTask(); }},
        {"PushButton.Caption", [] { (void)platform::PushButton().Caption(); }},
    };
    for (const auto& [name, operation] : operations) {
        platform::FailStackCheckAfter(0);
        EXPECT_THROW(operation(), StackOverflowException) << name;
        platform::ResetStackCheckForTesting();
    }
}

} // namespace
