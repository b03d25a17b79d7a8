#include "platform/Sound.h"

#include "platform/PortAudioSystem.h"
#include "platform/StackGuard.h"

#include <algorithm>
#include <chrono>
#include <portaudio.h>
#include <sndfile.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

constexpr double kOutputLatency = 0.5; // seconds

// Frames decoded and written per step: the only sound data held in memory, and the
// longest a destructor waits for the playback thread to notice it.
constexpr sf_count_t kBlockFrames = 2048;

struct SndfileCloser {
    void operator()(SNDFILE* file) const {
        if (const int error = sf_close(file); error != 0) {
            std::fprintf(stderr, "Sound: closing a sound file failed: %s\n",
                         sf_error_number(error));
        }
    }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

SndfilePtr OpenFile(const std::filesystem::path& file, SF_INFO& info) {
    info = SF_INFO{};
    return SndfilePtr(sf_open(file.c_str(), SFM_READ, &info));
}

// A sound that cannot play is usually asked to play again and again: each distinct
// complaint is made once per process.
void ReportOnce(const std::string& message) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::lock_guard lock(mutex);
    if (reported.insert(message).second) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
}

// An output stream with the lease that keeps PortAudio initialised while it exists.
struct OutputStream {
    std::shared_ptr<detail::PortAudioSystem> system;
    PaStream* stream = nullptr;

    OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;
    ~OutputStream() {
        if (stream != nullptr) {
            const std::lock_guard lock(system->StreamMutex());
            if (const PaError error = Pa_CloseStream(stream); error != paNoError) {
                std::fprintf(stderr, "Sound: closing the output stream failed: %s\n",
                             Pa_GetErrorText(error));
            }
        }
    }
};

} // namespace

struct Sound::Impl {
    std::filesystem::path file;

    std::mutex mutex; // Play against Play and the destructor
    std::thread player;
    std::atomic<bool> playing{false};
    std::atomic<bool> stopRequested{false};

    // The error message of a failed start, or empty with output ready to play.
    std::string OpenOutput(OutputStream& output, const SF_INFO& info) const;
    void PlayToEnd(SndfilePtr decoder, int channels, std::unique_ptr<OutputStream> output);
};

std::shared_ptr<Sound> Sound::Open(const std::filesystem::path& file) {
    CheckStack();
    SF_INFO info;
    SndfilePtr decoder = OpenFile(file, info);
    if (!decoder || info.channels <= 0 || info.samplerate <= 0) {
        return nullptr;
    }
    // A header alone is not a sound: the first block must decode.
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames) *
                             static_cast<std::size_t>(info.channels));
    if (sf_readf_float(decoder.get(), block.data(), kBlockFrames) <= 0 ||
        sf_error(decoder.get()) != SF_ERR_NO_ERROR) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->file = file;
    return std::make_shared<Sound>(Token{}, std::move(impl));
}

Sound::Sound(Token, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Sound::~Sound() {
    const std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = true;
    if (impl_->player.joinable()) {
        impl_->player.join();
    }
}

const std::filesystem::path& Sound::File() const {
    CheckStack();
    return impl_->file;
}

bool Sound::IsPlaying() const {
    CheckStack();
    return impl_->playing;
}

void Sound::Play() {
    CheckStack();
    Impl& impl = *impl_;
    const std::lock_guard lock(impl.mutex);
    if (impl.playing) {
        return;
    }
    if (impl.player.joinable()) {
        impl.player.join(); // the previous play has ended
    }
    SF_INFO info;
    SndfilePtr decoder = OpenFile(impl.file, info);
    if (!decoder) {
        ReportOnce("Sound: cannot play " + impl.file.string() + ": " + sf_strerror(nullptr));
        return;
    }
    auto output = std::make_unique<OutputStream>();
    if (const std::string error = impl.OpenOutput(*output, info); !error.empty()) {
        ReportOnce(error);
        return;
    }
    impl.stopRequested = false;
    impl.playing = true;
    impl.player =
        std::thread(&Impl::PlayToEnd, &impl, std::move(decoder), info.channels, std::move(output));
}

std::string Sound::Impl::OpenOutput(OutputStream& output, const SF_INFO& info) const {
    const std::string cannot = "Sound: cannot play " + file.string() + ": ";
    int initError = paNoError;
    output.system = detail::PortAudioSystem::Acquire(initError);
    if (!output.system) {
        return cannot + "PortAudio cannot initialise: " + Pa_GetErrorText(initError);
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* deviceInfo = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (deviceInfo == nullptr) {
        // Not per file: without a device no sound plays, and one line says so.
        return "Sound: no audio output device: PortAudio found no default output device "
               "(is a sound server or sound card available?); sounds stay silent";
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = info.channels;
    parameters.sampleFormat = paFloat32;
    // Playback favours smoothness over latency.
    // A track plays for a minute or more and nothing waits on its timing: a deep buffer
    // lets the playback thread wake a few times a second instead of hundreds.
    parameters.suggestedLatency = std::max(deviceInfo->defaultHighOutputLatency, kOutputLatency);
    parameters.hostApiSpecificStreamInfo = nullptr;
    {
        const std::lock_guard lock(output.system->StreamMutex());
        if (const PaError error =
                Pa_OpenStream(&output.stream, nullptr, &parameters, info.samplerate,
                              paFramesPerBufferUnspecified, paNoFlag, nullptr, nullptr);
            error != paNoError) {
            output.stream = nullptr;
            return cannot + "opening the output stream failed: " + Pa_GetErrorText(error);
        }
    }
    if (const PaError error = Pa_StartStream(output.stream); error != paNoError) {
        return cannot + "starting the output stream failed: " + Pa_GetErrorText(error);
    }
    return {};
}

void Sound::Impl::PlayToEnd(SndfilePtr decoder, int channels,
                            std::unique_ptr<OutputStream> output) {
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames) *
                             static_cast<std::size_t>(channels));
    while (!stopRequested) {
        const sf_count_t frames = sf_readf_float(decoder.get(), block.data(), kBlockFrames);
        if (frames <= 0) {
            if (sf_error(decoder.get()) != SF_ERR_NO_ERROR) {
                ReportOnce("Sound: decoding " + file.string() +
                           " failed: " + sf_strerror(decoder.get()));
            }
            break;
        }
        const PaError error =
            Pa_WriteStream(output->stream, block.data(), static_cast<unsigned long>(frames));
        // An underflow is a gap already heard; the frames were still taken.
        if (error != paNoError && error != paOutputUnderflowed) {
            ReportOnce("Sound: playing " + file.string() + " failed: " + Pa_GetErrorText(error));
            break;
        }
    }
    // What was written is still in the device's buffer; not every host drains it on stop
    // (ALSA's pulse plugin does not), so the end is waited for here.
    if (!stopRequested) {
        const PaStreamInfo* info = Pa_GetStreamInfo(output->stream);
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration<double>(info ? info->outputLatency : 0.0);
        while (!stopRequested && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    const PaError error =
        stopRequested ? Pa_AbortStream(output->stream) : Pa_StopStream(output->stream);
    if (error != paNoError) {
        ReportOnce("Sound: ending playback of " + file.string() +
                   " failed: " + Pa_GetErrorText(error));
    }
    output.reset();
    decoder.reset();
    playing = false;
}

} // namespace platform
