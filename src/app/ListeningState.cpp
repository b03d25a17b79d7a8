#include "app/App.h"

void App::Event_Open() {
    const auto upperBound = static_cast<std::int32_t>(
        static_cast<std::int64_t>(static_cast<double>(SamplesPerSecond) * SecondsBeforeSilence));
    platform::Deref(SampleArray, "SampleArray").ResizeTo(upperBound);
    FillSampleArray();
}

void App::FillSampleArray() {
    // The bound is read afresh each step, so the fill always covers the whole window.
    for (std::int64_t i = 0; i <= platform::Deref(SampleArray, "SampleArray").Ubound(); ++i) {
        platform::Deref(SampleArray, "SampleArray")
            .Set(static_cast<std::int32_t>(i), platform::RuntimeCvtSInt64ToCurrency(10));
    }
    // The sum of what was just stored, from the length alone: any drift or NaN is gone.
    const std::int32_t count = platform::Deref(SampleArray, "SampleArray").Ubound() + 1;
    SampleArraySum = static_cast<double>(static_cast<std::int64_t>(count) * 10);
}
