#include "playback/Tracks.h"

#include "platform/Exceptions.h"
#include "platform/FolderItem.h"
#include "platform/Runtime.h"

#include <string_view>

namespace x_Local_Forecast_Elevator {
std::shared_ptr<platform::Sound> permaSound;
bool loaded = false;
} // namespace x_Local_Forecast_Elevator

namespace x_Elevator_Bossa_Nova {
std::shared_ptr<platform::Sound> permaSound;
bool loaded = false;
} // namespace x_Elevator_Bossa_Nova

namespace {

std::shared_ptr<platform::Sound> LoadOnce(std::shared_ptr<platform::Sound>& permaSound,
                                          bool& loaded, std::string_view fileName) {
    if (loaded) {
        return permaSound;
    }
    // Marked before the attempt: a failed load is never retried.
    loaded = true;
    const auto resources = platform::GetApplicationBundleResources();
    if (!resources) {
        return permaSound;
    }
    const auto file = resources->Child(fileName, true);
    if (!file) {
        throw platform::NilObjectException(
            "cannot play " + (resources->Path() / fileName).string() + ": the file is missing");
    }
    permaSound = file->OpenAsSound();
    return permaSound;
}

} // namespace

std::shared_ptr<platform::Sound> Local_Forecast_Elevator() {
    return LoadOnce(x_Local_Forecast_Elevator::permaSound, x_Local_Forecast_Elevator::loaded,
                    "Local_Forecast_Elevator.mp3");
}

std::shared_ptr<platform::Sound> Elevator_Bossa_Nova() {
    return LoadOnce(x_Elevator_Bossa_Nova::permaSound, x_Elevator_Bossa_Nova::loaded,
                    "Elevator_Bossa_Nova.mp3");
}

std::shared_ptr<platform::Sound> PlayingTrack() {
    for (const auto* sound :
         {&x_Local_Forecast_Elevator::permaSound, &x_Elevator_Bossa_Nova::permaSound}) {
        if (*sound && (*sound)->IsPlaying()) {
            return *sound;
        }
    }
    return nullptr;
}

void InitTrackModules() {
    x_Local_Forecast_Elevator::permaSound = nullptr;
    x_Local_Forecast_Elevator::loaded = false;
    x_Elevator_Bossa_Nova::permaSound = nullptr;
    x_Elevator_Bossa_Nova::loaded = false;
    // Released with the runtime, once they have played to their end, before the audio
    // library goes.
    platform::RuntimeAddFinalizer([] {
        x_Local_Forecast_Elevator::permaSound = nullptr;
        x_Elevator_Bossa_Nova::permaSound = nullptr;
    });
}
