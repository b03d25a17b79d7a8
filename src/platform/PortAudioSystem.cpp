#include "platform/PortAudioSystem.h"

#include "platform/Diagnostics.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <thread>

// PortAudio's hook for its own error print, in its static library but in no installed
// header.
extern "C" void PaUtil_SetDebugPrintFunction(void (*print)(const char*));

namespace platform::detail {
namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJackMessage(const char*) {}
void IgnorePortAudioMessage(const char*) {}

// Device probing opens every ALSA device and JACK server it can think of and prints each
// failure on stderr, and PortAudio and ALSA's plugins print again whenever a sound server
// goes away under a stream: the failures that matter come back as PortAudio error codes.
// Set before initialising and again after it, for the whole run: a library may install
// its own.
void SilenceAudioLibraries() {
    PaUtil_SetDebugPrintFunction(&IgnorePortAudioMessage);
    snd_lib_error_set_handler(&IgnoreAlsaMessage);
    jack_set_error_function(&IgnoreJackMessage);
    jack_set_info_function(&IgnoreJackMessage);
}

// ALSA unloads its plugins when PortAudio terminates; LeakSanitizer then reports what they
// (and the libpulse they use) still held as allocations of an unknown module. Pinning the
// loaded plugins keeps those reports attributable to the libraries that own them.
void PinAlsaPlugins() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            if (info->dlpi_name != nullptr &&
                std::strstr(info->dlpi_name, "/alsa-lib/libasound_module_") != nullptr) {
                // The handle is kept on purpose: the plugin stays loaded until exit.
                (void)dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}

struct Registry {
    std::mutex mutex;
    bool tried = false;
    int error = paNoError;
    bool initialised = false;
    std::chrono::steady_clock::time_point listedAt{};
    std::shared_ptr<PortAudioSystem> system; // the process-wide lease, dropped at exit
};

// Listing the devices again probes every one of them: a second or more.
constexpr auto kListAgainAfter = std::chrono::seconds(3);

// Never destroyed: a capture thread abandoned in a client library may still come back into
// Acquire while the process exits.
Registry& TheRegistry() {
    static Registry* const registry = std::make_unique<Registry>().release();
    return *registry;
}

// Drops the process-wide lease at exit. A thread that holds the registry then is stuck in
// initialising (a sound server that froze): the process ends without terminating PortAudio,
// as it does while an abandoned capture holds its own lease.
struct LeaseAtExit {
    ~LeaseAtExit() {
        Registry& registry = TheRegistry();
        std::unique_lock lock(registry.mutex, std::try_to_lock);
        if (lock.owns_lock()) {
            const auto lease = std::move(registry.system);
            lock.unlock();
        }
    }
};

} // namespace

StreamList::Hold::Hold(StreamList& list, Use use) : list_(list) {
    std::unique_lock lock(list.mutex_);
    while (list.held_) {
        if (!list.closingSince_) {
            list.free_.wait(lock);
            continue;
        }
        const auto over = *list.closingSince_ + kCloseHold;
        if (Clock::now() >= over) {
            break; // that close is past the list, and may never return
        }
        list.free_.wait_until(lock, over);
    }
    list.held_ = true;
    turn_ = ++list.lastTurn_;
    list.closingSince_ =
        use == Use::Close ? std::optional(Clock::now()) : std::optional<Clock::time_point>();
}

StreamList::Hold::~Hold() {
    const std::lock_guard lock(list_.mutex_);
    // A close that was passed by has no hold left to give up.
    if (list_.lastTurn_ == turn_) {
        list_.held_ = false;
        list_.closingSince_.reset();
        list_.free_.notify_all();
    }
}

std::shared_ptr<PortAudioSystem> PortAudioSystem::Acquire(int& error) {
    static LeaseAtExit atExit;
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    if (!registry.tried) {
        registry.tried = true;
        SilenceAudioLibraries();
        registry.error = Pa_Initialize();
        SilenceAudioLibraries();
        registry.initialised = registry.error == paNoError;
        registry.listedAt = std::chrono::steady_clock::now();
        if (registry.error == paNoError) {
            registry.system = std::make_shared<PortAudioSystem>(Token{});
        } else {
            Say(std::string("sound cannot start on this machine (") +
                Pa_GetErrorText(registry.error) + "): Zelim listens to silence and plays nothing");
        }
    }
    error = registry.error;
    return registry.system;
}

void PortAudioSystem::ListAgainIfNone(bool input) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    // The registry's lease and the caller's: no stream is open, and no one gets a lease
    // while the registry is held.
    if (!registry.system || registry.system.use_count() > 2) {
        return;
    }
    if (registry.initialised &&
        (input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice()) != paNoDevice) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - registry.listedAt < kListAgainAfter) {
        return;
    }
    registry.listedAt = now;
    if (registry.initialised) {
        PinAlsaPlugins();
        (void)Pa_Terminate();
    }
    SilenceAudioLibraries();
    registry.initialised = Pa_Initialize() == paNoError;
    SilenceAudioLibraries();
}

bool PortAudioSystem::CanOpen(int device, bool input) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    const PaHostApiInfo* host = info == nullptr ? nullptr : Pa_GetHostApiInfo(info->hostApi);
    if (host == nullptr || host->type != paALSA) {
        return true;
    }
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, info->name, input ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
                     SND_PCM_NONBLOCK) < 0) {
        return true; // not an ALSA name of its own: PortAudio's open decides
    }
    const int descriptors = snd_pcm_poll_descriptors_count(pcm);
    snd_pcm_close(pcm);
    return descriptors > 0;
}

void PortAudioSystem::PrepareInBackground() {
    // Detached: the registry outlives it, and exit never waits for a probe that hangs.
    std::thread([] {
        int error = paNoError;
        (void)Acquire(error);
    }).detach();
}

PortAudioSystem::~PortAudioSystem() {
    // The registry is not held here: the last lease is only dropped where no one can list
    // the devices again (the caller of a listing holds one).
    if (!TheRegistry().initialised) {
        return; // a listing again that could not initialise left nothing to end
    }
    PinAlsaPlugins();
    if (const PaError error = Pa_Terminate(); error != paNoError) {
        Say(std::string("sound did not shut down cleanly (") + Pa_GetErrorText(error) + ")");
    }
}

} // namespace platform::detail
