#include "detector/Level.h"
#include "platform/Array.h"
#include "platform/Currency.h"
#include "platform/Exceptions.h"
#include "platform/MemoryBlock.h"
#include "platform/Random.h"
#include "platform/StackGuard.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using platform::Currency;
using platform::OutOfBoundsException;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

class ValuesTest : public ::testing::Test {
protected:
    void SetUp() override { platform::ResetStackCheckForTesting(); }
};

// ---- Currency -------------------------------------------------------------------------

struct IntCase {
    std::int64_t value;
    std::int64_t count;
};

TEST_F(ValuesTest, CurrencyFromIntegerIsExactAndSaturates) {
    const IntCase cases[] = {
        {0, 0},
        {1, 10000},
        {-1, -10000},
        {123456789, 1234567890000},
        // The last integers whose count still fits.
        {922337203685477, 9223372036854770000},
        {-922337203685477, -9223372036854770000},
        {922337203685478, kMax},
        {-922337203685478, kMin},
        {kMax, kMax},
        {kMin, kMin},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::RuntimeCvtSInt64ToCurrency(c.value).Count(), c.count)
            << "from " << c.value;
    }
}

struct FloatCase {
    float value;
    std::int64_t count;
    const char* why;
};

TEST_F(ValuesTest, CurrencyFromFloatRoundsToNearestWithHalvesAwayFromZero) {
    // The only floats whose product with 10 000 is exactly a half are odd multiples of
    // 1/32 (10 000 = 2^4 * 5^4): 1/32 * 10 000 = 312.5.
    const float half = 0.03125f;
    const FloatCase cases[] = {
        {0.0f, 0, "zero"},
        {-0.0f, 0, "negative zero"},
        {1.0f, 10000, "one"},
        {-1.0f, -10000, "minus one"},
        {0.1f, 1000, "0.1f is 0.100000001490116..."},
        {half, 313, "312.5 away from zero"},
        {-half, -313, "-312.5 away from zero"},
        {0.09375f, 938, "937.5 away from zero"},
        {-0.09375f, -938, "-937.5 away from zero"},
        {1.03125f, 10313, "10312.5 away from zero"},
        {std::nextafter(half, 0.0f), 312, "just below a half: 312.49998..."},
        {std::nextafter(half, 1.0f), 313, "just above a half"},
        {std::nextafter(-half, 0.0f), -312, "just above minus a half"},
        // 0.00005f is 4.99999987e-05: 0.4999999874, though a float product rounds to 0.5.
        {0.00005f, 0, "below a half only in exact arithmetic"},
        {-0.00005f, 0, "above minus a half only in exact arithmetic"},
        {std::numeric_limits<float>::denorm_min(), 0, "smallest subnormal"},
        {-std::numeric_limits<float>::denorm_min(), 0, "smallest negative subnormal"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::RuntimeCvtReal32ToCurrency(c.value).Count(), c.count) << c.why;
    }
}

TEST_F(ValuesTest, CurrencyFromFloatSaturatesAtTheRangeAndMapsNanToZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const FloatCase cases[] = {
        // The float nearest below 2^63 / 10^4 converts exactly; the next one up saturates.
        {922337180385280.0f, 9223371803852800000, "largest float in range"},
        {922337247494144.0f, kMax, "smallest float past the top"},
        {-922337180385280.0f, -9223371803852800000, "lowest float in range"},
        {-922337247494144.0f, kMin, "largest float past the bottom"},
        {1e30f, kMax, "far past the top"},
        {-1e30f, kMin, "far past the bottom"},
        {std::numeric_limits<float>::max(), kMax, "FLT_MAX"},
        {std::numeric_limits<float>::lowest(), kMin, "-FLT_MAX"},
        {inf, kMax, "+inf"},
        {-inf, kMin, "-inf"},
        {nan, 0, "NaN"},
        {-nan, 0, "negative NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::RuntimeCvtReal32ToCurrency(c.value).Count(), c.count) << c.why;
    }
}

TEST_F(ValuesTest, CurrencyToDoubleIsTheCountDividedByTenThousand) {
    // A correctly rounded division gives the double nearest to the decimal, which is what
    // the literal is; multiplying by 0.0001 would not (3 * 0.0001 != 0.0003).
    const struct {
        std::int64_t count;
        double value;
    } cases[] = {
        {0, 0.0},
        {1, 0.0001},
        {3, 0.0003},
        {-3, -0.0003},
        {7, 0.0007},
        {12345, 1.2345},
        {25000, 2.5},
        {-10000, -1.0},
        {kMax, 922337203685477.5807},
        {kMin, -922337203685477.5808},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::RuntimeCvtCurrencyToReal64(Currency::FromCount(c.count)), c.value)
            << "count " << c.count;
    }
}

// ---- Array ----------------------------------------------------------------------------

std::vector<int> Contents(const platform::Array<int>& a) {
    std::vector<int> out;
    for (std::int32_t i = 0; i <= a.Ubound(); ++i) {
        out.push_back(a.Get(i));
    }
    return out;
}

TEST_F(ValuesTest, ArrayUpperBoundIsMinusOneWhenEmpty) {
    platform::Array<int> empty;
    EXPECT_EQ(empty.Ubound(), -1);
    EXPECT_EQ(platform::CreateArray<int>()->Ubound(), -1);
    platform::Array<int> sized(2);
    EXPECT_EQ(sized.Ubound(), 2);
    sized.ResizeTo(-1);
    EXPECT_EQ(sized.Ubound(), -1);
}

TEST_F(ValuesTest, ArrayResizeInsertRemoveGetSet) {
    platform::Array<int> a;
    a.ResizeTo(2);
    EXPECT_EQ(Contents(a), (std::vector<int>{0, 0, 0}));
    a.Set(0, 10);
    a.Set(1, 20);
    a.Set(2, 30);
    a.Insert(1, 15);
    EXPECT_EQ(Contents(a), (std::vector<int>{10, 15, 20, 30}));
    a.Insert(4, 40); // at the count: an append
    a.Insert(0, 5);
    EXPECT_EQ(Contents(a), (std::vector<int>{5, 10, 15, 20, 30, 40}));
    a.Remove(0);
    a.Remove(2);
    a.Remove(a.Ubound());
    EXPECT_EQ(Contents(a), (std::vector<int>{10, 15, 30}));
    a.ResizeTo(1); // shrinking keeps the first elements
    EXPECT_EQ(Contents(a), (std::vector<int>{10, 15}));
    a.ResizeTo(3); // growing adds default values
    EXPECT_EQ(Contents(a), (std::vector<int>{10, 15, 0, 0}));
}

TEST_F(ValuesTest, ArrayIndexOutOfRangeRaisesAndChangesNothing) {
    constexpr std::int32_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kHigh = std::numeric_limits<std::int32_t>::max();
    const struct {
        const char* op;
        std::int32_t index;
    } cases[] = {
        {"get", -1},       {"get", 3},        {"get", kLow},    {"get", kHigh},    {"set", -1},
        {"set", 3},        {"set", kLow},     {"set", kHigh},   {"remove", -1},    {"remove", 3},
        {"remove", kLow},  {"remove", kHigh}, {"insert", -1},   {"insert", 4},     {"insert", kLow},
        {"insert", kHigh}, {"resize", -2},    {"resize", kLow}, {"resize", kHigh},
    };
    const std::map<std::string, std::function<void(platform::Array<int>&, std::int32_t)>> ops = {
        {"get", [](auto& a, std::int32_t i) { (void)a.Get(i); }},
        {"set", [](auto& a, std::int32_t i) { a.Set(i, 99); }},
        {"remove", [](auto& a, std::int32_t i) { a.Remove(i); }},
        {"insert", [](auto& a, std::int32_t i) { a.Insert(i, 99); }},
        {"resize", [](auto& a, std::int32_t i) { a.ResizeTo(i); }},
    };
    for (const auto& c : cases) {
        platform::Array<int> a;
        a.Insert(0, 1);
        a.Insert(1, 2);
        a.Insert(2, 3);
        EXPECT_THROW(ops.at(c.op)(a, c.index), OutOfBoundsException) << c.op << " " << c.index;
        EXPECT_EQ(Contents(a), (std::vector<int>{1, 2, 3})) << c.op << " " << c.index;
    }
    platform::Array<int> empty;
    EXPECT_THROW((void)empty.Get(0), OutOfBoundsException);
    EXPECT_THROW(empty.Remove(0), OutOfBoundsException);
    EXPECT_THROW(empty.Insert(1, 0), OutOfBoundsException);
}

// ---- MemoryBlock ----------------------------------------------------------------------

TEST_F(ValuesTest, MemoryBlockReadsNativeFloatsUpToItsLastWholeFloat) {
    platform::MemoryBlock block(16);
    ASSERT_EQ(block.Size(), 16);
    EXPECT_EQ(block.SingleValue(0), 0.0) << "a new block is zeroed";
    const float values[] = {0.1f, -2.5f, 1e-40f /* subnormal */, 3.0e38f};
    std::memcpy(block.Data(), values, sizeof values);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(block.SingleValue(4 * i), static_cast<double>(values[i])) << "float " << i;
    }
    // Unaligned: bytes 1..4 as one float.
    float unaligned = 0;
    std::memcpy(&unaligned, static_cast<const char*>(block.Data()) + 1, sizeof unaligned);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(block.SingleValue(1)),
              std::bit_cast<std::uint64_t>(static_cast<double>(unaligned)));
}

TEST_F(ValuesTest, MemoryBlockOffsetsPastTheLastWholeFloatRaise) {
    const struct {
        std::int64_t size;
        std::int64_t offset;
        bool ok;
    } cases[] = {
        {16, 12, true},
        {16, 13, false},
        {16, 16, false},
        {16, -1, false},
        {16, std::numeric_limits<std::int64_t>::max(), false},
        {16, std::numeric_limits<std::int64_t>::min(), false},
        {4, 0, true},
        {4, 1, false},
        {3, 0, false},
        {0, 0, false},
    };
    for (const auto& c : cases) {
        const platform::MemoryBlock block(c.size);
        if (c.ok) {
            EXPECT_NO_THROW((void)block.SingleValue(c.offset)) << c.size << "@" << c.offset;
        } else {
            EXPECT_THROW((void)block.SingleValue(c.offset), OutOfBoundsException)
                << c.size << "@" << c.offset;
        }
    }
    EXPECT_THROW(platform::MemoryBlock(-1), OutOfBoundsException);
}

// ---- Random ---------------------------------------------------------------------------

TEST_F(ValuesTest, RandomInRangeIsInclusiveAtBothEndsAndSwapsReversedBounds) {
    auto random = platform::System::Random();
    ASSERT_NE(random, nullptr);
    EXPECT_EQ(random, platform::System::Random()) << "one shared generator";
    for (auto [a, b] : {std::pair<std::int64_t, std::int64_t>{3, 5}, {5, 3}, {-1, 1}}) {
        std::set<std::int64_t> seen;
        for (int i = 0; i < 2000; ++i) {
            const std::int64_t v = random->InRange(a, b);
            ASSERT_GE(v, std::min(a, b)) << a << ".." << b;
            ASSERT_LE(v, std::max(a, b)) << a << ".." << b;
            seen.insert(v);
        }
        EXPECT_EQ(seen.size(), 3u) << a << ".." << b << ": both ends and the middle come up";
    }
    EXPECT_EQ(random->InRange(7, 7), 7);
    EXPECT_EQ(random->InRange(kMax, kMax), kMax);
    EXPECT_EQ(random->InRange(kMin, kMin), kMin);
    (void)random->InRange(kMin, kMax); // the whole range is valid
    (void)random->InRange(kMax, kMin);
}

TEST_F(ValuesTest, RandomSeedRepeatsTheSequence) {
    platform::Random random;
    auto draw = [&] {
        std::vector<std::int64_t> out;
        for (int i = 0; i < 16; ++i) {
            out.push_back(random.InRange(0, 1000000));
        }
        return out;
    };
    random.Seed(42);
    const auto first = draw();
    random.Seed(42);
    EXPECT_EQ(draw(), first);
}

// ---- Level sum ------------------------------------------------------------------------

float Sum(const std::vector<float>& samples) {
    return SumOfMagnitudes(static_cast<std::int64_t>(samples.size()),
                           [&](std::int64_t k) { return samples[static_cast<std::size_t>(k)]; });
}

TEST_F(ValuesTest, LevelSumAddsMagnitudesInOrderInSinglePrecision) {
    const float tiny = std::ldexp(1.0f, -25); // a quarter of an ulp of 1.0f
    const float ulp = std::ldexp(1.0f, -23);
    const float nan = std::numeric_limits<float>::quiet_NaN();

    std::vector<float> oneFirst(400, tiny);
    oneFirst[0] = 1.0f;
    EXPECT_EQ(Sum(oneFirst), 1.0f) << "each tiny sample vanishes against 1.0";

    std::vector<float> oneLast(400, tiny);
    oneLast[399] = 1.0f;
    // 399 * 2^-25 = 99.75 ulp, summed exactly, then rounded once to 100 ulp.
    EXPECT_EQ(Sum(oneLast), 1.0f + 100.0f * ulp);

    std::vector<float> negativeTiny(400, -tiny);
    negativeTiny[0] = -1.0f;
    EXPECT_EQ(Sum(negativeTiny), 1.0f);

    EXPECT_EQ(Sum(std::vector<float>(400, -1.0f)), 400.0f);
    EXPECT_EQ(Sum({}), 0.0f);

    const float zeros = Sum({0.0f, -0.0f, 0.5f, -0.0f, 0.0f, -0.25f});
    EXPECT_EQ(zeros, 0.75f);
    EXPECT_FALSE(std::signbit(Sum({-0.0f, -0.0f}))) << "magnitudes are never negative";

    std::vector<float> withNan(400, 0.5f);
    withNan[200] = nan;
    EXPECT_TRUE(std::isnan(Sum(withNan)));
    EXPECT_TRUE(std::isnan(Sum({-nan})));
}

} // namespace
