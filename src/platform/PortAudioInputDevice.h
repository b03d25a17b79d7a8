#pragma once

#include "platform/AudioInputDevice.h"

#include <memory>

namespace platform::detail {

// The default input device through PortAudio's blocking interface. Its Read blocks (for
// ever, should a client library deadlock): it is meant for a capture thread.
std::unique_ptr<AudioInputDevice> MakePortAudioInputDevice();

} // namespace platform::detail
