#pragma once

#include "platform/Application.h"
#include "platform/Array.h"
#include "platform/Currency.h"

#include <cstdint>
#include <memory>
#include <string_view>

// The application object: one for the whole run, holding the listening state.
class App : public platform::Application {
public:
    static const platform::ClassRecord& ClassInfo();
    const platform::ClassRecord& Class() const override { return ClassInfo(); }

    // The object registered at start-up (nil before it is registered).
    static std::shared_ptr<App> Instance();

    bool IsEventImplemented(std::string_view event) override;

    // Sizes the rolling window and fills it with 10 before any reading is taken.
    void Event_Open();
    void Constructor() {}
    // Every reading becomes 10 and the running sum matches them; the flag is untouched.
    void FillSampleArray();

    // Listening state, shared by the main thread and the monitor thread. Both touch it
    // only while they hold the framework's baton, so no lock of its own is needed.
    bool PlayMusicFlag = false;
    std::int64_t SamplesPerSecond = 60;
    double SecondsBeforeSilence = 5.0;
    std::shared_ptr<platform::Array<platform::Currency>> SampleArray =
        platform::CreateArray<platform::Currency>();
    double SampleArraySum = 0.0; // first set by Event_Open
};

void RegisterAppClass();
