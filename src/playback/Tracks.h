#pragma once

#include "platform/Sound.h"

#include <memory>

// Each track is loaded from the Resources folder on its first call only, failed or not,
// and kept for the rest of the run. nil when the folder is missing or the file does not
// decode; a file missing from an existing folder raises NilObjectException.
std::shared_ptr<platform::Sound> Local_Forecast_Elevator();
std::shared_ptr<platform::Sound> Elevator_Bossa_Nova();

// A track that still plays, started before a "Stop" by an earlier run of the monitor
// thread, or nil. Loads nothing.
std::shared_ptr<platform::Sound> PlayingTrack();

namespace x_Local_Forecast_Elevator {
extern std::shared_ptr<platform::Sound> permaSound;
extern bool loaded;
} // namespace x_Local_Forecast_Elevator

namespace x_Elevator_Bossa_Nova {
extern std::shared_ptr<platform::Sound> permaSound;
extern bool loaded;
} // namespace x_Elevator_Bossa_Nova

// The track modules' initialiser: nil and false, and their release at exit.
void InitTrackModules();
