// The hold on PortAudio's list of open streams: opens and closes take turns, and a close
// that never returns keeps the others waiting only a moment.
#include "platform/PortAudioSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <thread>

namespace {

using platform::detail::StreamList;
using namespace std::chrono_literals;
using Use = StreamList::Use;

// A hold taken on a thread of its own, kept until Let() is called.
class HoldOnThread {
public:
    HoldOnThread(StreamList& list, Use use)
        : thread_([this, &list, use] {
              const StreamList::Hold hold(list, use);
              taken_.set_value();
              letGo_.wait();
          }) {}
    ~HoldOnThread() {
        Let();
        thread_.join();
    }
    HoldOnThread(const HoldOnThread&) = delete;
    HoldOnThread& operator=(const HoldOnThread&) = delete;

    // Whether the hold was taken within `wait`.
    bool TakenWithin(std::chrono::milliseconds wait) {
        return takenFuture_.wait_for(wait) == std::future_status::ready;
    }
    void Let() {
        if (!let_) {
            let_ = true;
            letPromise_.set_value();
        }
    }

private:
    std::promise<void> taken_;
    std::future<void> takenFuture_ = taken_.get_future();
    std::promise<void> letPromise_;
    std::future<void> letGo_ = letPromise_.get_future();
    bool let_ = false;
    std::thread thread_; // last: it starts once the rest is made
};

struct Case {
    const char* name;
    Use first;
    bool passedBy; // whether a second hold gets past a first that is never let go
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class StreamListTurns : public ::testing::TestWithParam<Case> {};

TEST_P(StreamListTurns, ASecondHoldWaitsForTheFirstOrPassesAWedgedClose) {
    StreamList list;
    HoldOnThread first(list, GetParam().first);
    EXPECT_TRUE(first.TakenWithin(5s));
    HoldOnThread second(list, Use::Open);
    if (GetParam().passedBy) {
        EXPECT_TRUE(second.TakenWithin(StreamList::kCloseHold + 5s)) << "a wedged close held on";
        first.Let(); // the threads end whatever the checks found
    } else {
        EXPECT_FALSE(second.TakenWithin(StreamList::kCloseHold * 2)) << "two opens at once";
        first.Let();
        EXPECT_TRUE(second.TakenWithin(5s)) << "the list was not given back";
    }
}

INSTANTIATE_TEST_SUITE_P(StreamList, StreamListTurns,
                         ::testing::Values(Case{"AnOpen", Use::Open, false},
                                           Case{"AClose", Use::Close, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A close that was passed by and returns late gives back nothing: the hold that passed it
// still keeps a third one waiting.
TEST(StreamList, AClosePassedByGivesBackNothingWhenItReturns) {
    StreamList list;
    HoldOnThread wedged(list, Use::Close);
    EXPECT_TRUE(wedged.TakenWithin(5s));
    HoldOnThread passing(list, Use::Open);
    EXPECT_TRUE(passing.TakenWithin(StreamList::kCloseHold + 5s)) << "a wedged close held on";
    wedged.Let();
    HoldOnThread third(list, Use::Open);
    EXPECT_FALSE(third.TakenWithin(StreamList::kCloseHold * 2)) << "two holds at once";
    passing.Let();
    EXPECT_TRUE(third.TakenWithin(5s)) << "the list was not given back";
}

} // namespace
