#include "platform/Thread.h"
#include "platform/Baton.h"
#include "platform/ClassRecord.h"
#include "platform/Delegate.h"
#include "platform/Exceptions.h"
#include "platform/Runtime.h"
#include "platform/StackGuard.h"

#include "support/ReportLog.h"
#include "support/RuntimeTest.h"
#include "support/TestThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::Thread;
using Clock = std::chrono::steady_clock;

using testsupport::MakeThread;
using testsupport::TestThread;

// The caller holds the baton, as an event handler would; it is given up only between
// checks, so `done` reads shared state safely and the caller still holds it on return.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        platform::BatonRelease others;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Holds the baton without yielding, long enough for just-started threads to queue for it.
void HoldBaton(std::chrono::milliseconds time = 200ms) {
    std::this_thread::sleep_for(time);
}

using Reports = testsupport::ReportLog;

class ThreadTest : public testsupport::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_TRUE(platform::Baton::Instance().HeldByCurrentThread());
    }
    void TearDown() override {
        EXPECT_TRUE(platform::Baton::Instance().HeldByCurrentThread())
            << "the test thread lost the baton";
        RuntimeTest::TearDown();
    }
};

TEST_F(ThreadTest, TwoThreadsNeverRunSystemCodeAtOnce) {
    // Deliberately not atomic: the baton is the only thing that guards them.
    int counter = 0;
    bool inside = false;
    int overlaps = 0;
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    auto critical = [&] {
        if (inside) {
            ++overlaps;
        }
        inside = true;
        const int seen = counter;
        std::this_thread::yield(); // an OS-level chance for another thread to barge in
        counter = seen + 1;
        inside = false;
    };
    std::vector<TestThread> threads;
    std::atomic<int> finished{0};
    for (int i = 0; i < kThreads; ++i) {
        threads.push_back(MakeThread("worker" + std::to_string(i), [&, i](Thread& self) {
            for (int round = 0; round < kRounds; ++round) {
                critical();
                if ((round + i) % 3 == 0) {
                    self.Sleep(0);
                } else {
                    platform::RuntimeBackgroundTask();
                }
                critical();
            }
            ++finished;
        }));
    }
    for (auto& t : threads) {
        t.thread->Start();
    }
    int mainRounds = 0;
    ASSERT_TRUE(WaitUntil([&] {
        critical(); // the waiting thread takes part too, between its yields
        ++mainRounds;
        return finished == kThreads;
    }));
    for (auto& t : threads) {
        ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::NotRunning; }));
    }
    EXPECT_EQ(overlaps, 0);
    EXPECT_FALSE(inside);
    EXPECT_EQ(counter, kThreads * kRounds * 2 + mainRounds);
}

TEST_F(ThreadTest, StateCodesFollowTheThreadsLife) {
    std::vector<std::int64_t> seenInside;
    std::atomic<bool> sleeping{false};
    auto t = MakeThread("states", [&](Thread& self) {
        seenInside.push_back(self.State());
        sleeping = true;
        self.Sleep(300);
        seenInside.push_back(self.State());
    });
    EXPECT_EQ(t.thread->State(), Thread::NotRunning) << "before the first start";
    t.thread->Start();
    EXPECT_EQ(t.thread->State(), Thread::Waiting) << "started while another holds the baton";
    ASSERT_TRUE(WaitUntil([&] { return sleeping.load(); }));
    EXPECT_EQ(t.thread->State(), Thread::Sleeping);
    ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::NotRunning; }));
    EXPECT_EQ(seenInside, (std::vector<std::int64_t>{Thread::Running, Thread::Running}));
}

TEST_F(ThreadTest, StopEndsASleepingThreadAtOnceAndItRunsNothingAfterwards) {
    std::atomic<bool> asleep{false};
    std::atomic<bool> ranAfterSleep{false};
    auto t = MakeThread("sleeper", [&](Thread& self) {
        asleep = true;
        self.Sleep(10000);
        ranAfterSleep = true;
    });
    t.thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::Sleeping; }));
    ASSERT_TRUE(asleep);
    const auto start = Clock::now();
    t.thread->Stop();
    // Generous: only whether Stop waited out the ten-second sleep.
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(t.thread->State(), Thread::NotRunning);
    {
        platform::BatonRelease giveItAChance;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(ranAfterSleep);
}

TEST_F(ThreadTest, StopOfAThreadThatNeverGotTheBatonRunsNoneOfIt) {
    std::atomic<bool> ran{false};
    auto t = MakeThread("never", [&](Thread&) { ran = true; });
    t.thread->Start();
    HoldBaton(); // it is queued now
    EXPECT_EQ(t.thread->State(), Thread::Waiting);
    t.thread->Stop();
    EXPECT_EQ(t.thread->State(), Thread::NotRunning);
    {
        platform::BatonRelease giveItAChance;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, StopOfAThreadWaitingAtAYieldUnwindsItWithoutTheBaton) {
    int steps = 0;
    auto t = MakeThread("yielder", [&](Thread&) {
        steps = 1;
        platform::RuntimeBackgroundTask();
        steps = 2;
    });
    t.thread->Start();
    HoldBaton(); // queued now
    // One yield of ours lets it run up to its own yield, which hands the baton back.
    platform::RuntimeBackgroundTask();
    ASSERT_EQ(steps, 1);
    EXPECT_EQ(t.thread->State(), Thread::Waiting);
    t.thread->Stop();
    EXPECT_EQ(t.thread->State(), Thread::NotRunning);
    {
        platform::BatonRelease giveItAChance;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(steps, 1);
}

TEST_F(ThreadTest, StopFromInsideRunEndsItQuietly) {
    Reports reports;
    int steps = 0;
    auto t = MakeThread("self-stopper", [&](Thread& self) {
        steps = 1;
        self.Stop();
        steps = 2;
    });
    t.thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return steps == 1 && t.thread->State() == Thread::NotRunning; }));
    EXPECT_EQ(steps, 1);
    EXPECT_TRUE(reports.Reports().empty());
}

TEST_F(ThreadTest, AThreadCanBeStartedAgainAndRunsFromTheBeginning) {
    std::vector<std::string> log;
    auto t = MakeThread("again", [&](Thread& self) {
        log.push_back("begin");
        self.Sleep(10000);
        log.push_back("after sleep");
    });
    for (int run = 0; run < 3; ++run) {
        t.thread->Start();
        ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::Sleeping; }))
            << "run " << run;
        t.thread->Stop();
        ASSERT_EQ(t.thread->State(), Thread::NotRunning);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"begin", "begin", "begin"}));

    // One that ended by itself starts again as well.
    int runs = 0;
    auto quick = MakeThread("quick", [&](Thread&) { ++runs; });
    for (int run = 1; run <= 3; ++run) {
        quick.thread->Start();
        ASSERT_TRUE(WaitUntil([&] { return runs == run; }));
        ASSERT_TRUE(WaitUntil([&] { return quick.thread->State() == Thread::NotRunning; }));
    }
}

TEST_F(ThreadTest, StartWhileStartedRaises) {
    std::atomic<bool> ran{false};
    auto t = MakeThread("busy", [&](Thread& self) {
        ran = true;
        self.Sleep(10000);
    });
    t.thread->Start();
    EXPECT_THROW(t.thread->Start(), platform::RuntimeException) << "waiting for the baton";
    ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::Sleeping; }));
    EXPECT_THROW(t.thread->Start(), platform::RuntimeException) << "sleeping";
    t.thread->Stop();
    EXPECT_TRUE(ran);
}

TEST_F(ThreadTest, AnExceptionLeavingRunIsReportedOnceAndEndsTheThread) {
    const struct {
        const char* className;
        std::function<void()> raise;
    } cases[] = {
        {"OutOfBoundsException", [] { throw platform::OutOfBoundsException("index 9"); }},
        {"NilObjectException", [] { platform::Deref(std::shared_ptr<Thread>(), "thing"); }},
        {"RuntimeException", [] { throw platform::RuntimeException("plain"); }},
    };
    for (const auto& c : cases) {
        Reports reports;
        std::atomic<bool> ranAfter{false};
        auto t = MakeThread("failing", [&](Thread& self) {
            self.Sleep(1);
            c.raise();
            ranAfter = true;
        });
        t.thread->Start();
        ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::NotRunning; }))
            << c.className;
        {
            platform::BatonRelease late; // a second report would come after the first
            std::this_thread::sleep_for(50ms);
        }
        const auto got = reports.Reports();
        ASSERT_EQ(got.size(), 1u) << c.className;
        EXPECT_EQ(got[0].className, c.className);
        EXPECT_NE(got[0].where.find("failing"), std::string::npos) << got[0].where;
        EXPECT_NE(got[0].where.find("Run"), std::string::npos) << got[0].where;
        EXPECT_FALSE(ranAfter);
    }
}

TEST_F(ThreadTest, AnExceptionOfAnotherKindLeavingRunIsReportedOnce) {
    Reports reports;
    auto t = MakeThread("foreign", [](Thread&) { throw std::runtime_error("not ours"); });
    t.thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::NotRunning; }));
    {
        platform::BatonRelease late;
        std::this_thread::sleep_for(50ms);
    }
    const auto got = reports.Reports();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(got[0].where.find("foreign"), std::string::npos) << got[0].where;
    EXPECT_NE(got[0].message.find("not ours"), std::string::npos) << got[0].message;
}

TEST_F(ThreadTest, TheBatonGoesToWaitingThreadsInArrivalOrder) {
    std::vector<int> order;
    std::vector<TestThread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.push_back(
            MakeThread("t" + std::to_string(i), [&order, i](Thread&) { order.push_back(i); }));
    }
    for (auto& t : threads) {
        t.thread->Start();
        HoldBaton(100ms); // each one queued before the next starts
    }
    ASSERT_TRUE(WaitUntil([&] { return order.size() == threads.size(); }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    for (auto& t : threads) {
        ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::NotRunning; }));
    }
}

TEST_F(ThreadTest, AThreadYieldingLetsAWaitingThreadIn) {
    std::vector<std::string> log;
    auto a = MakeThread("a", [&](Thread&) {
        log.push_back("a1");
        platform::RuntimeBackgroundTask();
        log.push_back("a2");
        platform::RuntimeBackgroundTask();
        log.push_back("a3");
    });
    auto b = MakeThread("b", [&](Thread&) {
        log.push_back("b1");
        platform::RuntimeBackgroundTask();
        log.push_back("b2");
    });
    a.thread->Start();
    HoldBaton(100ms);
    b.thread->Start();
    HoldBaton(100ms); // queue: a, b
    ASSERT_TRUE(WaitUntil([&] { return log.size() == 5; }));
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1", "a2", "b2", "a3"}));
    ASSERT_TRUE(WaitUntil([&] {
        return a.thread->State() == Thread::NotRunning && b.thread->State() == Thread::NotRunning;
    }));
}

TEST_F(ThreadTest, TheMainThreadYieldingLetsAWaitingThreadIn) {
    bool ran = false;
    auto t = MakeThread("waiting", [&](Thread&) { ran = true; });
    t.thread->Start();
    HoldBaton(); // queued now
    EXPECT_FALSE(ran);
    platform::RuntimeBackgroundTask();
    EXPECT_TRUE(ran) << "one yield of the main thread lets the queued thread run";
    EXPECT_TRUE(platform::Baton::Instance().HeldByCurrentThread());
    ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::NotRunning; }));
}

TEST_F(ThreadTest, SleepFromAnotherThreadRaises) {
    Thread thread;
    EXPECT_THROW(thread.Sleep(1), platform::RuntimeException);
}

// A running thread whose last owner lets go while it runs: it finishes its Run, and
// nothing is stopped or joined from the OS thread itself.
TEST_F(ThreadTest, ARunningThreadOutlivesItsLastOwner) {
    Reports reports;
    std::atomic<bool> finished{false};
    auto t = MakeThread("orphan", [&](Thread& self) {
        self.Sleep(50);
        finished = true;
    });
    std::weak_ptr<Thread> watch = t.thread;
    t.thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return t.thread->State() == Thread::Sleeping; }));
    t.thread.reset();
    ASSERT_TRUE(WaitUntil([&] { return finished && watch.expired(); }));
    EXPECT_TRUE(reports.Reports().empty());
}

// Releasing the last reference of a started thread that has not yet run stops it.
TEST_F(ThreadTest, ReleasingAQueuedThreadStopsIt) {
    std::atomic<bool> ran{false};
    auto t = MakeThread("dropped", [&](Thread&) { ran = true; });
    t.thread->Start();
    HoldBaton(50ms);
    t.thread.reset();
    {
        platform::BatonRelease giveItAChance;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(ran);
}

} // namespace
