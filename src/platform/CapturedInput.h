#pragma once

#include "platform/AudioInputDevice.h"

#include <chrono>
#include <memory>

namespace platform {

// An input device that runs a blocking device (PortAudio's blocking reads, or a test's
// scripted one) on a capture thread of its own, into a ring of the newest frames. Its calls
// never wait on the blocking device for long:
// - Read hands over the newest frameCount frames when the newest arrived within the last
//   100 ms (servers deliver in blocks of tens of ms, so frames may be handed over twice).
//   Otherwise, while the capture delivers, it waits for frames until 750 ms after the last
//   delivery; when the capture has not delivered yet since it started, or has stopped
//   delivering, it fails at once (paTimedOut). So the first reads after Start fail fast
//   until the first frames are in, and a stalled or dead device costs one wait.
// - Open, Start and Stop wait a bounded time for the device's answer; Close and release
//   do not wait for a device call that is already stuck.
// When the device fails, the capture closes it, says once that the microphone is gone, and
// reopens it after a pause, again and again, until it delivers; then it says once that it
// is back. A first open that fails with paUnanticipatedHostError (the device is there but
// out of reach, its sound server gone) is treated alike: Open succeeds and Start does not
// wait. Any other failed first open is returned and not retried. A device call that never
// returns is abandoned on its thread (never joined nor closed): a new device from
// `blockingDevices` takes its place. At most a few abandoned captures live at once, so a
// device that wedges again and again cannot make memory grow.
std::unique_ptr<AudioInputDevice> MakeCapturedInput(AudioInputDeviceFactory blockingDevices);

// The times above, for the tests.
struct CaptureTimes {
    static constexpr std::chrono::milliseconds kReadDeadline{750};
    static constexpr std::chrono::milliseconds kRetryPause{1000};
    static constexpr std::chrono::milliseconds kFreshFor{100};
    // A device call that runs this long has wedged: its capture is abandoned. The first
    // frames of a new recording may take longer.
    static constexpr std::chrono::milliseconds kWedgeLimit{1500};
    static constexpr std::chrono::milliseconds kFirstFramesLimit{5000};
    // A device call that runs this long is not waited for at Stop, Close or release: a
    // healthy read returns within one period.
    static constexpr std::chrono::milliseconds kSlowCall{250};
};

} // namespace platform
