#pragma once

#include "platform/AudioInputDevice.h"

#include <memory>

namespace platform::detail {

// The default input device through PortAudio's blocking interface. Its Read blocks as
// PortAudio's does (for ever on a dead server, at worst): it is meant for a capture thread.
std::unique_ptr<AudioInputDevice> MakePortAudioInputDevice();

} // namespace platform::detail
