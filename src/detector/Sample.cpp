#include "app/App.h"
#include "platform/MemoryBlock.h"
#include "platform/MessageBox.h"
#include "platform/Thread.h"
#include "window/MainWindow.h"

#include "detector/Level.h"

using platform::Deref;

namespace {

constexpr std::int64_t kFrames = 400;
constexpr double kThreshold = 0.5;

platform::Array<platform::Currency>& Readings() {
    return Deref(Deref(App::Instance(), "App").SampleArray, "SampleArray");
}

} // namespace

void MainWindow::SampleTimer_Action(const std::shared_ptr<platform::Timer>&) {
    Sample();
}

void MainWindow::Sample() {
    try {
        platform::CheckStack();
        auto buffer = New<platform::MemoryBlock>(kFrames * 4);
        Deref(sr, "sr");
        const std::int64_t code = sr->Read(buffer->Data(), kFrames);

        // The monitor thread may run at each of these yields, all before the rolling
        // window is touched; from the shift to the flag the reading is one step.
        const float level =
            code == 0
                ? SumOfMagnitudes(kFrames,
                                  [&](std::int64_t k) {
                                      const auto x = static_cast<float>(buffer->SingleValue(4 * k));
                                      platform::RuntimeBackgroundTask();
                                      return x;
                                  })
                : 0.0f;

        const std::int32_t last = Readings().Ubound();
        const platform::Currency old = Readings().Get(last);
        Readings().Remove(last);
        Readings().Insert(0, platform::RuntimeCvtReal32ToCurrency(level));

        App& app = Deref(App::Instance(), "App");
        app.SampleArraySum = static_cast<double>(level) +
                             (app.SampleArraySum - platform::RuntimeCvtCurrencyToReal64(old));
        const double quotient =
            Deref(App::Instance(), "App").SampleArraySum /
            (Deref(App::Instance(), "App").SecondsBeforeSilence *
             static_cast<double>(Deref(App::Instance(), "App").SamplesPerSecond));

        if (quotient < kThreshold) {
            bool loudEntry = false;
            if (const auto readings = Deref(App::Instance(), "App").SampleArray) {
                for (std::int32_t i = 0; i <= readings->Ubound(); ++i) {
                    if (platform::RuntimeCvtCurrencyToReal64(readings->Get(i)) > kThreshold) {
                        loudEntry = true;
                        break;
                    }
                }
            }
            Deref(App::Instance(), "App").PlayMusicFlag = !loudEntry;
        }
    } catch (const platform::StackOverflowException&) {
        platform::MessageBox("Stack Overflow Exception");
    }
}

void MainWindow::ResetSampleArray() {
    Deref(App::Instance(), "App").FillSampleArray();
}
