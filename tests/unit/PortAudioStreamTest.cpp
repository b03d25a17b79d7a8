// PortAudioStream over a scripted device: what reaches the device, in which order, and
// what comes back.
#include "platform/PortAudioStream.h"
#include "platform/CapturedInput.h"
#include "platform/Diagnostics.h"
#include "platform/Exceptions.h"
#include "platform/StackGuard.h"

#include "support/SaidLines.h"
#include <gmock/gmock.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::StrictMock;

// PortAudio's codes (portaudio.h), spelt out: the tests see only the platform's headers.
constexpr std::int64_t kInputOverflowed = -9981;
constexpr std::int64_t kDeviceUnavailable = -9985;
constexpr std::int64_t kStreamIsStopped = -9983;
constexpr std::int64_t kInternalError = -9986;
constexpr std::int64_t kUnanticipatedHostError = -9999;

constexpr std::int64_t kFloat32 = 1;

class MockDevice : public platform::AudioInputDevice {
public:
    MOCK_METHOD(std::int64_t, Open,
                (std::int64_t, std::int64_t, std::int64_t, double, std::int64_t, std::int64_t),
                (override));
    MOCK_METHOD(std::int64_t, Start, (), (override));
    MOCK_METHOD(bool, IsActive, (), (const, override));
    MOCK_METHOD(std::int64_t, Read, (void*, std::int64_t), (override));
    MOCK_METHOD(std::int64_t, Stop, (), (override));
    MOCK_METHOD(std::int64_t, Close, (), (override));
};

// Hands the next stream a device made here, and keeps a pointer to it for expectations.
template <class Device> class DeviceFactoryTest : public ::testing::Test {
protected:
    DeviceFactoryTest() {
        auto owned = std::make_unique<Device>();
        device_ = owned.get();
        pending_ = std::move(owned);
        platform::SetAudioInputDeviceFactoryForTesting(
            [this]() -> std::unique_ptr<platform::AudioInputDevice> {
                return std::move(pending_);
            });
    }
    ~DeviceFactoryTest() override {
        platform::SetAudioInputDeviceFactoryForTesting({});
        platform::ResetStackCheckForTesting();
    }

    Device& device() { return *device_; }

private:
    Device* device_ = nullptr;
    std::unique_ptr<Device> pending_;
};

using PortAudioStreamCalls = DeviceFactoryTest<StrictMock<MockDevice>>;

TEST_F(PortAudioStreamCalls, ForwardsEachOperationInOrderWithItsArguments) {
    float frames[400] = {};
    {
        InSequence order;
        EXPECT_CALL(device(), Open(1, 0, kFloat32, 44100.0, 10240, 0)).WillOnce(Return(0));
        EXPECT_CALL(device(), Start()).WillOnce(Return(0));
        EXPECT_CALL(device(), IsActive()).WillOnce(Return(true));
        EXPECT_CALL(device(), Read(frames, 400)).WillOnce(Invoke([](void* buffer, std::int64_t n) {
            auto* out = static_cast<float*>(buffer);
            for (std::int64_t i = 0; i < n; ++i) {
                out[i] = 0.25f * static_cast<float>(i % 4);
            }
            return std::int64_t{0};
        }));
        EXPECT_CALL(device(), Stop()).WillOnce(Return(0));
        EXPECT_CALL(device(), Close()).WillOnce(Return(0));
    }
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
    EXPECT_EQ(stream.Start(), 0);
    EXPECT_TRUE(stream.IsStreamActive());
    EXPECT_EQ(stream.Read(frames, 400), 0);
    EXPECT_FLOAT_EQ(frames[0], 0.0f);
    EXPECT_FLOAT_EQ(frames[3], 0.75f);
    EXPECT_FLOAT_EQ(frames[399], 0.75f);
    EXPECT_EQ(stream.Stop(), 0);
    EXPECT_EQ(stream.Close(), 0);
}

struct CodeCase {
    const char* operation;
    std::int64_t deviceCode;
    std::int64_t expected;
};
void PrintTo(const CodeCase& c, std::ostream* os) {
    *os << c.operation << " with device code " << c.deviceCode;
}

class PortAudioStreamCodes : public DeviceFactoryTest<StrictMock<MockDevice>>,
                             public ::testing::WithParamInterface<CodeCase> {};

TEST_P(PortAudioStreamCodes, PassesTheDeviceCodeThrough) {
    const CodeCase& c = GetParam();
    const std::string operation = c.operation;
    EXPECT_CALL(device(), Open(_, _, _, _, _, _)).WillOnce(Return(0));
    EXPECT_CALL(device(), Close()).WillRepeatedly(Return(operation == "Close" ? c.deviceCode : 0));
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), 0);
    std::int64_t code = 0;
    if (operation == "Start") {
        EXPECT_CALL(device(), Start()).WillOnce(Return(c.deviceCode));
        code = stream.Start();
    } else if (operation == "Read") {
        float frames[16] = {};
        EXPECT_CALL(device(), Read(frames, 16)).WillOnce(Return(c.deviceCode));
        code = stream.Read(frames, 16);
    } else if (operation == "Stop") {
        EXPECT_CALL(device(), Stop()).WillOnce(Return(c.deviceCode));
        code = stream.Stop();
    } else if (operation == "Close") {
        code = stream.Close();
    }
    EXPECT_EQ(code, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortAudioStreamCodes,
    ::testing::Values(CodeCase{"Start", kDeviceUnavailable, kDeviceUnavailable},
                      CodeCase{"Start", 0, 0},
                      CodeCase{"Read", kUnanticipatedHostError, kUnanticipatedHostError},
                      CodeCase{"Read", kStreamIsStopped, kStreamIsStopped},
                      // The frames of an overflowed read are valid: it is a success.
                      CodeCase{"Read", kInputOverflowed, 0},
                      CodeCase{"Stop", kInternalError, kInternalError},
                      CodeCase{"Close", kInternalError, kInternalError}),
    [](const ::testing::TestParamInfo<CodeCase>& info) {
        return std::string(info.param.operation) + "_" + std::to_string(info.index);
    });

TEST_F(PortAudioStreamCalls, FailedOpenIsPassedThroughAndLeavesTheStreamUnopened) {
    EXPECT_CALL(device(), Open(_, _, _, _, _, _)).WillOnce(Return(kDeviceUnavailable));
    platform::PortAudioStream stream;
    EXPECT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), kDeviceUnavailable);
    float frames[4] = {};
    // No further device call: the strict mock fails on any.
    EXPECT_NE(stream.Read(frames, 4), 0);
    EXPECT_NE(stream.Stop(), 0);
    EXPECT_FALSE(stream.IsStreamActive());
}

TEST_F(PortAudioStreamCalls, NeverOpenedStreamAnswersNonZeroWithoutTouchingTheDevice) {
    platform::PortAudioStream stream;
    float frames[4] = {1.5f, 1.5f, 1.5f, 1.5f};
    EXPECT_NE(stream.Read(frames, 4), 0);
    EXPECT_NE(stream.Stop(), 0);
    EXPECT_NE(stream.Start(), 0);
    EXPECT_NE(stream.Close(), 0);
    EXPECT_FALSE(stream.IsStreamActive());
    EXPECT_FLOAT_EQ(frames[0], 1.5f) << "Read on a never-opened stream wrote the buffer";
}

TEST_F(PortAudioStreamCalls, ReleasingAnOpenStreamClosesItOnce) {
    EXPECT_CALL(device(), Open(_, _, _, _, _, _)).WillOnce(Return(0));
    EXPECT_CALL(device(), Start()).WillOnce(Return(0));
    EXPECT_CALL(device(), Close()).Times(1).WillOnce(Return(0));
    auto stream = std::make_unique<platform::PortAudioStream>();
    ASSERT_EQ(stream->OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), 0);
    ASSERT_EQ(stream->Start(), 0);
    stream.reset();
}

TEST_F(PortAudioStreamCalls, ReleasingAClosedStreamDoesNotCloseItAgain) {
    EXPECT_CALL(device(), Open(_, _, _, _, _, _)).WillOnce(Return(0));
    EXPECT_CALL(device(), Close()).Times(1).WillOnce(Return(0));
    auto stream = std::make_unique<platform::PortAudioStream>();
    ASSERT_EQ(stream->OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), 0);
    EXPECT_EQ(stream->Close(), 0);
    EXPECT_NE(stream->Close(), 0);
    stream.reset();
}

TEST_F(PortAudioStreamCalls, ReopeningClosesThePreviousDeviceStreamFirst) {
    {
        InSequence order;
        EXPECT_CALL(device(), Open(1, 0, kFloat32, 44100.0, 400, 0)).WillOnce(Return(0));
        EXPECT_CALL(device(), Close()).WillOnce(Return(0));
        EXPECT_CALL(device(), Open(2, 0, kFloat32, 48000.0, 400, 0)).WillOnce(Return(0));
        EXPECT_CALL(device(), Close()).WillOnce(Return(0));
    }
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), 0);
    ASSERT_EQ(stream.OpenDefaultStream(2, 0, kFloat32, 48000.0, 400, 0), 0);
}

TEST_F(PortAudioStreamCalls, StoppingTwiceLeavesTheStreamUsable) {
    float frames[8] = {};
    {
        InSequence order;
        EXPECT_CALL(device(), Open(_, _, _, _, _, _)).WillOnce(Return(0));
        EXPECT_CALL(device(), Start()).WillOnce(Return(0));
        EXPECT_CALL(device(), Stop()).WillOnce(Return(0));
        EXPECT_CALL(device(), Stop()).WillOnce(Return(0));
        EXPECT_CALL(device(), Start()).WillOnce(Return(0));
        EXPECT_CALL(device(), Read(frames, 8)).WillOnce(Return(0));
        EXPECT_CALL(device(), Close()).WillOnce(Return(0));
    }
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), 0);
    ASSERT_EQ(stream.Start(), 0);
    EXPECT_EQ(stream.Stop(), 0);
    EXPECT_EQ(stream.Stop(), 0);
    EXPECT_EQ(stream.Start(), 0);
    EXPECT_EQ(stream.Read(frames, 8), 0);
}

// Every public operation checks the stack before it does anything.
TEST_F(PortAudioStreamCalls, EveryOperationRaisesStackOverflowBeforeTouchingTheDevice) {
    EXPECT_CALL(device(), Open(_, _, _, _, _, _)).WillOnce(Return(0));
    EXPECT_CALL(device(), Close()).WillOnce(Return(0));
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), 0);
    float frames[4] = {};
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"OpenDefaultStream", [&] { stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 4, 0); }},
        {"Start", [&] { stream.Start(); }},
        {"IsStreamActive", [&] { stream.IsStreamActive(); }},
        {"Read", [&] { stream.Read(frames, 4); }},
        {"Stop", [&] { stream.Stop(); }},
        {"Close", [&] { stream.Close(); }},
        {"constructor", [] { platform::PortAudioStream another; }},
    };
    for (const auto& [name, operation] : operations) {
        platform::FailStackCheckAfter(0);
        EXPECT_THROW(operation(), platform::StackOverflowException) << name;
        platform::ResetStackCheckForTesting();
    }
}

} // namespace

// --- The captured input: a blocking device run on a capture thread. ---

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// What the scripted blocking devices of one test do, shared by every device the capture
// makes (a replacement device reads the same script).
struct Script {
    enum class Mode { Deliver, Fail, Stall, Wedge };
    std::mutex mutex;
    std::condition_variable changed;
    Mode mode = Mode::Deliver;
    bool openFails = false;
    bool closeWedges = false;                      // Close never returns until released
    std::int64_t openFailure = kDeviceUnavailable; // the code of a failing open
    // The first Read of each opened device waits this long: a host that is slow to start.
    Clock::duration firstReadDelay{};
    std::int64_t readCode = 0; // code of a delivering read: 0, or an overflow
    std::int64_t produced = 0; // frame i holds the value i
    int opens = 0;
    int closes = 0;
    int wedged = 0; // reads blocked in Wedge right now
    bool released = false;

    void Set(Mode m) {
        const std::lock_guard lock(mutex);
        mode = m;
        changed.notify_all();
    }
    // Lets every blocked call go, so that the test's threads end.
    void Release() {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    std::int64_t Produced() {
        const std::lock_guard lock(mutex);
        return produced;
    }
};

class ScriptedBlockingDevice : public platform::AudioInputDevice {
public:
    explicit ScriptedBlockingDevice(std::shared_ptr<Script> script) : script_(std::move(script)) {}

    std::int64_t Open(std::int64_t, std::int64_t, std::int64_t, double rate, std::int64_t,
                      std::int64_t) override {
        const std::lock_guard lock(script_->mutex);
        ++script_->opens;
        rate_ = rate;
        firstRead_ = true;
        return script_->openFails ? script_->openFailure : 0;
    }
    std::int64_t Start() override { return 0; }
    bool IsActive() const override { return true; }
    std::int64_t Read(void* buffer, std::int64_t frameCount) override {
        std::unique_lock lock(script_->mutex);
        if (firstRead_) {
            firstRead_ = false;
            script_->changed.wait_for(lock, script_->firstReadDelay,
                                      [&] { return script_->released; });
        }
        using Mode = Script::Mode;
        script_->changed.wait(lock,
                              [&] { return script_->released || script_->mode != Mode::Stall; });
        if (script_->mode == Mode::Wedge) {
            ++script_->wedged;
            script_->changed.wait(lock, [&] { return script_->released; });
            --script_->wedged;
        }
        if (script_->released || script_->mode == Mode::Fail) {
            return kUnanticipatedHostError;
        }
        lock.unlock();
        // Frames arrive at the device's rate.
        std::this_thread::sleep_for(
            std::chrono::duration<double>(static_cast<double>(frameCount) / rate_));
        lock.lock();
        auto* out = static_cast<float*>(buffer);
        for (std::int64_t i = 0; i < frameCount; ++i) {
            out[i] = static_cast<float>(script_->produced++);
        }
        return script_->readCode;
    }
    std::int64_t Stop() override { return 0; }
    std::int64_t Close() override {
        std::unique_lock lock(script_->mutex);
        ++script_->closes;
        script_->changed.wait(lock, [&] { return script_->released || !script_->closeWedges; });
        return 0;
    }

private:
    std::shared_ptr<Script> script_;
    double rate_ = 44100;
    bool firstRead_ = true;
};

using testsupport::SaidLines;

bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + 5s;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Streams made here capture from scripted blocking devices.
class CapturedStream : public ::testing::Test {
protected:
    CapturedStream() {
        platform::SetAudioInputDeviceFactoryForTesting([script = script_] {
            return platform::MakeCapturedInput(
                [script] { return std::make_unique<ScriptedBlockingDevice>(script); });
        });
        stream_ = std::make_unique<platform::PortAudioStream>();
    }
    ~CapturedStream() override {
        script_->Release();
        platform::SetAudioInputDeviceFactoryForTesting({});
    }

    void OpenAndStart() {
        ASSERT_EQ(stream_->OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), 0);
        ASSERT_EQ(stream_->Start(), 0);
    }
    // Reads as the system's timer does until a read succeeds or `timeout` passes.
    bool ReadsSucceedWithin(Clock::duration timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            if (stream_->Read(frames_.data(), 400) == 0) {
                return true;
            }
            std::this_thread::sleep_for(16ms);
        }
        return false;
    }
    // The longest single Read of `reads` reads at the timer's pace, all of which must fail.
    double LongestFailingRead(int reads) {
        double longest = 0;
        for (int i = 0; i < reads; ++i) {
            const auto begin = Clock::now();
            EXPECT_NE(stream_->Read(frames_.data(), 400), 0) << "read " << i;
            longest = std::max(longest, Seconds(Clock::now() - begin));
            std::this_thread::sleep_for(16ms);
        }
        return longest;
    }

    std::shared_ptr<Script> script_ = std::make_shared<Script>();
    std::unique_ptr<platform::PortAudioStream> stream_;
    std::vector<float> frames_ = std::vector<float>(400, -1.0f);
};

// A reading describes the room now: the newest 400 frames, contiguous; a read right after
// another does not wait for new frames (a server delivers in blocks).
TEST_F(CapturedStream, HandsOverTheNewestFrames) {
    OpenAndStart();
    ASSERT_TRUE(ReadsSucceedWithin(2s));
    std::this_thread::sleep_for(300ms); // about 13000 frames arrive meanwhile
    const std::int64_t before = script_->Produced();
    ASSERT_EQ(stream_->Read(frames_.data(), 400), 0);
    for (int i = 1; i < 400; ++i) {
        ASSERT_EQ(frames_[i], frames_[i - 1] + 1) << "frame " << i;
    }
    const auto last = static_cast<std::int64_t>(frames_[399]);
    // The capture pushes a chunk of 706 frames just after producing it.
    EXPECT_GE(last, before - 1 - 706) << "the reading is older than the newest frames";
    const float previousLast = frames_[399];
    const auto again = Clock::now();
    ASSERT_EQ(stream_->Read(frames_.data(), 400), 0);
    EXPECT_LT(Seconds(Clock::now() - again), 0.01);
    EXPECT_GE(frames_[399], previousLast);
}

// Every delivered chunk counts, overflowed ones too: their frames are valid.
TEST_F(CapturedStream, AnOverflowStillDeliversValidFramesAndReadsZero) {
    script_->readCode = kInputOverflowed;
    OpenAndStart();
    ASSERT_TRUE(ReadsSucceedWithin(2s));
    for (int i = 1; i < 400; ++i) {
        ASSERT_EQ(frames_[i], frames_[i - 1] + 1);
    }
}

// Just after Start no frame is in: the first reads fail at once instead of waiting for the
// host's first period, so no tick holds the caller.
TEST_F(CapturedStream, ReadsBeforeTheFirstFramesFailAtOnce) {
    script_->firstReadDelay = 600ms;
    const auto begin = Clock::now();
    OpenAndStart();
    EXPECT_LT(Seconds(Clock::now() - begin), 0.5) << "Open and Start waited for the capture";
    EXPECT_LT(LongestFailingRead(10), 0.05);
    EXPECT_TRUE(ReadsSucceedWithin(3s));
}

// A device that stops delivering without an error costs one wait of at most 750 ms; the
// reads after it fail at once, and reading goes on when frames come again.
TEST_F(CapturedStream, AStalledDeviceFailsReadsWithinTheDeadline) {
    OpenAndStart();
    ASSERT_TRUE(ReadsSucceedWithin(2s));
    script_->Set(Script::Mode::Stall);
    // A chunk in flight still arrives, and a reading may take frames 100 ms old.
    std::this_thread::sleep_for(200ms);
    const auto begin = Clock::now();
    const std::int64_t code = stream_->Read(frames_.data(), 400);
    const double waited = Seconds(Clock::now() - begin);
    EXPECT_NE(code, 0);
    EXPECT_LT(waited, 0.75 + 0.25);
    EXPECT_LT(LongestFailingRead(5), 0.05) << "each failing read waited again";
    script_->Set(Script::Mode::Deliver);
    EXPECT_TRUE(ReadsSucceedWithin(3s));
}

// A client library that deadlocks: the device's read never returns. Reads fail within the
// deadline, a new device takes over, and the wedged thread is never waited for.
TEST_F(CapturedStream, AWedgedDeviceIsAbandonedAndANewOneTakesOver) {
    SaidLines said;
    OpenAndStart();
    ASSERT_TRUE(ReadsSucceedWithin(2s));
    script_->Set(Script::Mode::Wedge);
    ASSERT_TRUE(Eventually([&] {
        const std::lock_guard lock(script_->mutex);
        return script_->wedged == 1;
    }));
    script_->Set(Script::Mode::Deliver); // the next client gets through; this one stays
    // Reads at the timer's pace: they fail, none of them for long, until a new device
    // delivers.
    double longest = 0;
    int failed = 0;
    const auto deadline = Clock::now() + 4s;
    for (;;) {
        const auto begin = Clock::now();
        const std::int64_t code = stream_->Read(frames_.data(), 400);
        longest = std::max(longest, Seconds(Clock::now() - begin));
        if (code == 0 && failed > 0) {
            break;
        }
        failed += code != 0 ? 1 : 0;
        ASSERT_LT(Clock::now(), deadline) << "no new device took over the wedged one";
        std::this_thread::sleep_for(16ms);
    }
    EXPECT_LT(longest, 0.75 + 0.25);
    EXPECT_EQ(said.Count("the microphone is gone"), 1);
    EXPECT_EQ(said.Count("the microphone is back"), 1);
    {
        const std::lock_guard lock(script_->mutex);
        EXPECT_EQ(script_->wedged, 1) << "the wedged read was given up on";
        EXPECT_EQ(script_->opens, 2);
    }
    // Wedge the new device too: release must not wait for it.
    script_->Set(Script::Mode::Wedge);
    ASSERT_TRUE(Eventually([&] {
        const std::lock_guard lock(script_->mutex);
        return script_->wedged == 2;
    }));
    std::this_thread::sleep_for(300ms);
    const auto begin = Clock::now();
    stream_->Stop();
    stream_.reset();
    EXPECT_LT(Seconds(Clock::now() - begin), 0.1) << "Stop and release waited for a wedged read";
}

// The device fails (the server went away): reads fail, it is said once, reopening waits
// a pause between attempts, and when the device is back reading resumes within 3 s.
TEST_F(CapturedStream, AFailedDeviceIsReopenedWithAPauseAndReadingResumes) {
    SaidLines said;
    OpenAndStart();
    ASSERT_TRUE(ReadsSucceedWithin(2s));
    {
        const std::lock_guard lock(script_->mutex);
        script_->mode = Script::Mode::Fail;
        script_->openFails = true;
    }
    std::this_thread::sleep_for(50ms);
    stream_->Read(frames_.data(), 400);              // a chunk in flight still arrives
    EXPECT_LT(LongestFailingRead(100), 0.75 + 0.25); // 2.4 s of ticks
    {
        const std::lock_guard lock(script_->mutex);
        EXPECT_GE(script_->closes, 1) << "the failed device was not closed";
        EXPECT_LE(script_->opens, 1 + 4) << "reopening did not pause";
        EXPECT_GE(script_->opens, 2) << "no reopen was tried";
        script_->mode = Script::Mode::Deliver;
        script_->openFails = false;
    }
    const auto back = Clock::now();
    EXPECT_TRUE(ReadsSucceedWithin(3s));
    std::printf("reading resumed %.2f s after the device came back\n",
                Seconds(Clock::now() - back));
    EXPECT_EQ(said.Count("the microphone is gone"), 1);
    EXPECT_EQ(said.Count("the microphone is back"), 1);
}

TEST_F(CapturedStream, NeverOpenedOrFailedOpenReadsAndStopsNothing) {
    float frames[4] = {2.0f, 2.0f, 2.0f, 2.0f};
    EXPECT_NE(stream_->Read(frames, 4), 0);
    EXPECT_NE(stream_->Stop(), 0);
    script_->openFails = true;
    EXPECT_EQ(stream_->OpenDefaultStream(1, 0, kFloat32, 44100.0, 10240, 0), kDeviceUnavailable);
    EXPECT_NE(stream_->Read(frames, 4), 0);
    EXPECT_NE(stream_->Stop(), 0);
    EXPECT_EQ(frames[0], 2.0f);
    std::this_thread::sleep_for(1500ms);
    const std::lock_guard lock(script_->mutex);
    EXPECT_EQ(script_->opens, 1) << "a failed first open is retried";
}

// A first open that finds the device there but out of reach (its server is gone, as when
// Start is pressed while the server restarts): the stream opens and starts without waiting,
// says so once, fails its reads at once, retries with a pause, and reads once it opens.
TEST_F(CapturedStream, AFirstOpenOutOfReachIsRetriedUntilTheDeviceOpens) {
    SaidLines said;
    script_->openFails = true;
    script_->openFailure = kUnanticipatedHostError;
    const auto begin = Clock::now();
    OpenAndStart();
    EXPECT_LT(Seconds(Clock::now() - begin), 0.5) << "Open or Start waited for the device";
    EXPECT_TRUE(stream_->IsStreamActive());
    EXPECT_LT(LongestFailingRead(100), 0.75 + 0.25); // 1.6 s of ticks at least
    {
        const std::lock_guard lock(script_->mutex);
        EXPECT_GE(script_->opens, 2) << "no reopen was tried";
        EXPECT_LE(script_->opens, 3) << "reopening did not pause";
        script_->openFails = false;
    }
    EXPECT_TRUE(ReadsSucceedWithin(3s));
    EXPECT_EQ(said.Count("the microphone is gone"), 1);
    EXPECT_EQ(said.Count("the microphone is back"), 1);
}

// A stopped stream whose device's close never returns (libpulse after its server died): its
// release waits for the close no longer than for any device call that may never return.
TEST_F(CapturedStream, ReleaseDoesNotWaitLongForAWedgedClose) {
    OpenAndStart();
    ASSERT_TRUE(ReadsSucceedWithin(2s));
    ASSERT_EQ(stream_->Stop(), 0);
    {
        const std::lock_guard lock(script_->mutex);
        script_->closeWedges = true;
    }
    const auto begin = Clock::now();
    stream_.reset();
    const double took = Seconds(Clock::now() - begin);
    EXPECT_LT(took, Seconds(platform::CaptureTimes::kSlowCall) + 0.25)
        << "release waited for the wedged close";
    const std::lock_guard lock(script_->mutex);
    EXPECT_EQ(script_->closes, 1) << "the close was not tried";
}

// Stopped, a stream hands over nothing; started again, it reads fresh frames.
TEST_F(CapturedStream, StopEndsReadingAndStartResumesIt) {
    OpenAndStart();
    ASSERT_TRUE(ReadsSucceedWithin(2s));
    EXPECT_EQ(stream_->Stop(), 0);
    EXPECT_FALSE(stream_->IsStreamActive());
    EXPECT_NE(stream_->Read(frames_.data(), 400), 0);
    EXPECT_EQ(stream_->Stop(), 0);
    ASSERT_EQ(stream_->Start(), 0);
    EXPECT_TRUE(stream_->IsStreamActive());
    EXPECT_TRUE(ReadsSucceedWithin(2s));
}

} // namespace
