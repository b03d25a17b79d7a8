// PortAudioStream over a scripted device: what reaches the device, in which order, and
// what comes back.
#include "platform/PortAudioStream.h"
#include "platform/Exceptions.h"
#include "platform/StackGuard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
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
constexpr std::int64_t kInt16 = 8;

class MockDevice : public platform::AudioInputDevice {
public:
    MOCK_METHOD(std::int64_t, Open,
                (std::int64_t, std::int64_t, std::int64_t, double, std::int64_t, std::int64_t),
                (override));
    MOCK_METHOD(std::int64_t, Start, (), (override));
    MOCK_METHOD(bool, IsActive, (), (const, override));
    MOCK_METHOD(std::int64_t, Read, (void*, std::int64_t), (override));
    MOCK_METHOD(std::int64_t, ReadAvailable, (), (const, override));
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
        EXPECT_CALL(device(), ReadAvailable()).WillOnce(Return(0));
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
        EXPECT_CALL(device(), ReadAvailable()).WillOnce(Return(0));
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
        EXPECT_CALL(device(), ReadAvailable()).WillOnce(Return(0));
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

// A capture that runs ahead of its reader: frame i holds the value i in every channel,
// `backlog` frames wait unread, and the device never blocks.
class BacklogDevice : public platform::AudioInputDevice {
public:
    std::int64_t backlog = 0;
    std::int64_t channels = 1;
    std::int64_t bytesPerSample = 4;
    std::int64_t nextFrame = 0; // the oldest unread frame
    std::int64_t readCalls = 0;

    std::int64_t Open(std::int64_t inputChannels, std::int64_t, std::int64_t sampleFormat, double,
                      std::int64_t, std::int64_t) override {
        channels = inputChannels;
        bytesPerSample = sampleFormat == kInt16 ? 2 : 4;
        return 0;
    }
    std::int64_t Start() override { return 0; }
    bool IsActive() const override { return true; }
    std::int64_t Read(void* buffer, std::int64_t frameCount) override {
        ++readCalls;
        auto* out = static_cast<unsigned char*>(buffer);
        for (std::int64_t f = 0; f < frameCount; ++f) {
            for (std::int64_t c = 0; c < channels; ++c) {
                Store(out, nextFrame + f);
                out += bytesPerSample;
            }
        }
        nextFrame += frameCount;
        backlog = std::max<std::int64_t>(0, backlog - frameCount);
        return 0;
    }
    std::int64_t ReadAvailable() const override { return backlog; }
    std::int64_t Stop() override { return 0; }
    std::int64_t Close() override { return 0; }

private:
    void Store(unsigned char* at, std::int64_t value) const {
        if (bytesPerSample == 2) {
            const auto sample = static_cast<std::int16_t>(value);
            std::memcpy(at, &sample, sizeof sample);
        } else {
            const auto sample = static_cast<float>(value);
            std::memcpy(at, &sample, sizeof sample);
        }
    }
};

struct BacklogCase {
    std::int64_t backlog;
    std::int64_t channels;
    std::int64_t format;
};
void PrintTo(const BacklogCase& c, std::ostream* os) {
    *os << c.backlog << " frames behind, " << c.channels << " channel(s), format " << c.format;
}

class PortAudioStreamFreshness : public DeviceFactoryTest<BacklogDevice>,
                                 public ::testing::WithParamInterface<BacklogCase> {};

// A reading must describe the room now: the frames handed over are the newest ones but a
// read's worth of slack, contiguous, whatever the backlog and the frame layout.
TEST_P(PortAudioStreamFreshness, HandsOverTheNewestFrames) {
    const BacklogCase& c = GetParam();
    constexpr std::int64_t kFrames = 400;
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(c.channels, 0, c.format, 44100.0, 400, 0), 0);
    device().backlog = c.backlog;
    const std::int64_t newest = c.backlog - 1;

    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(kFrames * c.channels * device().bytesPerSample));
    ASSERT_EQ(stream.Read(buffer.data(), kFrames), 0);

    auto value = [&](std::int64_t frame, std::int64_t channel) -> std::int64_t {
        const auto* at = buffer.data() + (frame * c.channels + channel) * device().bytesPerSample;
        if (c.format == kInt16) {
            std::int16_t v;
            std::memcpy(&v, at, sizeof v);
            return v;
        }
        float v;
        std::memcpy(&v, at, sizeof v);
        return static_cast<std::int64_t>(v);
    };
    const std::int64_t first = value(0, 0);
    for (std::int64_t f = 0; f < kFrames; ++f) {
        for (std::int64_t ch = 0; ch < c.channels; ++ch) {
            ASSERT_EQ(value(f, ch), first + f) << "frame " << f << " channel " << ch;
        }
    }
    const std::int64_t last = first + kFrames - 1;
    if (c.backlog <= kFrames) {
        EXPECT_EQ(first, 0) << "frames were dropped though the reader was not behind";
    } else {
        EXPECT_LE(newest - last, kFrames) << "the reading is older than a read's worth";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Backlogs, PortAudioStreamFreshness,
    ::testing::Values(BacklogCase{0, 1, kFloat32}, BacklogCase{700, 1, kFloat32},
                      BacklogCase{1914, 1, kFloat32}, BacklogCase{22050, 1, kFloat32},
                      // Several seconds: more than one drop at a time.
                      BacklogCase{5 * 44100, 1, kFloat32}, BacklogCase{30000, 2, kInt16},
                      BacklogCase{30000, 2, kFloat32}));

using PortAudioStreamBacklog = DeviceFactoryTest<BacklogDevice>;

// A device that reports the same backlog whatever is read must not hold Read forever.
TEST_F(PortAudioStreamBacklog, EndlessBacklogStillReturns) {
    class EndlessBacklog : public BacklogDevice {
    public:
        std::int64_t ReadAvailable() const override { return 1'000'000'000; }
    };
    platform::SetAudioInputDeviceFactoryForTesting(
        [] { return std::make_unique<EndlessBacklog>(); });
    platform::PortAudioStream stream;
    ASSERT_EQ(stream.OpenDefaultStream(1, 0, kFloat32, 44100.0, 400, 0), 0);
    float frames[400];
    EXPECT_EQ(stream.Read(frames, 400), 0);
}

} // namespace
