#include "app/App.h"
#include "platform/Random.h"
#include "platform/Sound.h"
#include "playback/Tracks.h"
#include "window/MainWindow.h"

using platform::Deref;

void MainWindow::checkPlayMusicThread_Run(const std::shared_ptr<platform::Thread>& thread) {
    platform::Thread& self = Deref(thread, "thread");
    self.Sleep(2000, false);
    self.Sleep(50, false);
    std::shared_ptr<platform::Sound> track;
    while (true) {
        if (Deref(App::Instance(), "App").PlayMusicFlag) {
            // Never two tracks at once: one still playing from before a "Stop" is waited
            // out as if it were this pick's own.
            if (auto playing = PlayingTrack()) {
                track = std::move(playing);
            } else {
                const std::int64_t pick = Deref(platform::System::Random(), "Random").InRange(0, 1);
                if (pick == 1) {
                    track = Local_Forecast_Elevator();
                } else if (pick == 0) {
                    track = Elevator_Bossa_Nova();
                }
                Deref(track, "track").Play();
            }
            while (track->IsPlaying()) {
                self.Sleep(1000, false);
                platform::RuntimeBackgroundTask();
            }
            ResetSampleArray();
            // Whatever the quiet test did to the flag while the track played is overwritten.
            Deref(App::Instance(), "App").PlayMusicFlag = false;
        }
        platform::RuntimeBackgroundTask();
        self.Sleep(50, false);
    }
}
