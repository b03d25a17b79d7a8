#pragma once

#include <array>
#include <cstdint>

// The design-time property lists of the main window and its three controls.
extern const std::array<std::uint8_t, 360> kMainWindowList;
extern const std::array<std::uint8_t, 388> kStartStopButtonList;
extern const std::array<std::uint8_t, 35> kCheckPlayMusicThreadList;
extern const std::array<std::uint8_t, 31> kSampleTimerList;
