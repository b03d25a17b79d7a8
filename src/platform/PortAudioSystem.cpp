#include "platform/PortAudioSystem.h"

#include "platform/Diagnostics.h"

#include <alsa/error.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>

namespace platform::detail {
namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJackMessage(const char*) {}

// A function of a library that PortAudio already loaded, or nil. Looked up instead of
// linked: the project takes on no link dependency of its own on ALSA or JACK, and a
// PortAudio built without one of them simply has nothing to silence.
template <class Function> Function* LoadedFunction(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_DEFAULT, name));
}

// Device probing opens every ALSA device and JACK server it can think of and prints each
// failure on stderr, and ALSA's plugins print again whenever a sound server goes away
// under a stream: the failures that matter come back as PortAudio error codes. Set before
// initialising and again after it, for the whole run: a library may install its own.
void SilenceAudioLibraries() {
    if (auto* setHandler =
            LoadedFunction<decltype(snd_lib_error_set_handler)>("snd_lib_error_set_handler")) {
        setHandler(&IgnoreAlsaMessage);
    }
    if (auto* setError =
            LoadedFunction<decltype(jack_set_error_function)>("jack_set_error_function")) {
        setError(&IgnoreJackMessage);
    }
    if (auto* setInfo =
            LoadedFunction<decltype(jack_set_info_function)>("jack_set_info_function")) {
        setInfo(&IgnoreJackMessage);
    }
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
    std::shared_ptr<PortAudioSystem> system; // the process-wide lease, dropped at exit
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

} // namespace

std::shared_ptr<PortAudioSystem> PortAudioSystem::Acquire(int& error) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    if (!registry.tried) {
        registry.tried = true;
        SilenceAudioLibraries();
        registry.error = Pa_Initialize();
        SilenceAudioLibraries();
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

PortAudioSystem::~PortAudioSystem() {
    PinAlsaPlugins();
    if (const PaError error = Pa_Terminate(); error != paNoError) {
        Say(std::string("sound did not shut down cleanly (") + Pa_GetErrorText(error) + ")");
    }
}

} // namespace platform::detail
