#include "widgets/sdl/sdl_sound_service.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace tertulia {

namespace {

// How often a synchronous play looks whether its sound has finished.
constexpr Uint32 kSyncPollMilliseconds = 5;
constexpr Uint16 kDeviceBufferFrames = 1024;

}  // namespace

struct SdlSoundService::Playback {
    bool audioStarted = false;
    SDL_AudioDeviceID device = 0;
    SDL_AudioSpec format{};

    // Fields below are read by the audio thread; change them only under the device lock.
    std::vector<Uint8> samples;
    std::size_t position = 0;
    bool loop = false;
    bool playing = false;
    unsigned passes = 0;

    static void SDLCALL Fill(void* userdata, Uint8* stream, int length) {
        auto& self = *static_cast<Playback*>(userdata);
        auto wanted = static_cast<std::size_t>(length);
        while (wanted > 0 && self.playing) {
            const std::size_t n = std::min(wanted, self.samples.size() - self.position);
            std::memcpy(stream, self.samples.data() + self.position, n);
            stream += n;
            wanted -= n;
            self.position += n;
            if (self.position == self.samples.size()) {
                ++self.passes;
                self.position = 0;
                self.playing = self.loop;
            }
        }
        std::memset(stream, self.format.silence, wanted);
    }

    bool Start() {
        // SDL would otherwise take SIGINT and SIGTERM for its own event queue, which nobody
        // reads here: the program could no longer be ended by them.
        if (!audioStarted) {
            SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
            audioStarted = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        }
        return audioStarted;
    }

    // The device is opened in the first sound's format, or whatever SDL offers instead.
    bool Open(const SDL_AudioSpec& wave) {
        if (device != 0) return true;
        SDL_AudioSpec wanted = wave;
        wanted.samples = kDeviceBufferFrames;
        wanted.callback = &Playback::Fill;
        wanted.userdata = this;
        device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &format, SDL_AUDIO_ALLOW_ANY_CHANGE);
        if (device == 0) return false;
        SDL_PauseAudioDevice(device, 0);
        return true;
    }

    std::optional<std::vector<Uint8>> ToDeviceFormat(const SDL_AudioSpec& wave, const Uint8* data,
                                                     Uint32 length) const {
        SDL_AudioCVT cvt;
        const int needed = SDL_BuildAudioCVT(&cvt, wave.format, wave.channels, wave.freq,
                                             format.format, format.channels, format.freq);
        if (needed < 0) return std::nullopt;
        std::vector<Uint8> out(data, data + length);
        if (needed == 0) return out;
        out.resize(static_cast<std::size_t>(length) * static_cast<std::size_t>(cvt.len_mult));
        cvt.buf = out.data();
        cvt.len = static_cast<int>(length);
        if (SDL_ConvertAudio(&cvt) != 0) return std::nullopt;
        out.resize(static_cast<std::size_t>(cvt.len_cvt));
        return out;
    }

    // The frames of a sample block rounded down, so a loop never splits a frame.
    std::size_t WholeFrames(std::size_t bytes) const {
        const std::size_t frame = SDL_AUDIO_BITSIZE(format.format) / 8 * format.channels;
        return frame == 0 ? bytes : bytes - bytes % frame;
    }
};

SdlSoundService::SdlSoundService() : playback_(std::make_unique<Playback>()) {}

SdlSoundService::~SdlSoundService() {
    // Closing waits for the audio thread, which reads the playback state.
    if (playback_->device != 0) SDL_CloseAudioDevice(playback_->device);
    if (playback_->audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlSoundService::PlaySound(std::shared_ptr<const std::vector<unsigned char>> image,
                                unsigned flags) {
    Playback& p = *playback_;
    if (image == nullptr || image->empty() || !p.Start()) return false;
    SDL_RWops* source = SDL_RWFromConstMem(image->data(), static_cast<int>(image->size()));
    if (source == nullptr) return false;
    SDL_AudioSpec wave;
    Uint8* data = nullptr;
    Uint32 length = 0;
    if (SDL_LoadWAV_RW(source, 1, &wave, &data, &length) == nullptr) return false;
    std::optional<std::vector<Uint8>> samples;
    if (p.Open(wave)) samples = p.ToDeviceFormat(wave, data, length);
    SDL_FreeWAV(data);
    if (!samples) return false;
    samples->resize(p.WholeFrames(samples->size()));

    SDL_LockAudioDevice(p.device);
    p.samples.swap(*samples);
    p.position = 0;
    p.loop = (flags & SND_LOOP) != 0 && !p.samples.empty();
    p.playing = !p.samples.empty();
    p.passes = 0;
    SDL_UnlockAudioDevice(p.device);

    if ((flags & SND_ASYNC) == 0) {
        // A looping sound is waited for through its first pass; it then goes on in the
        // background until another sound starts.
        for (;;) {
            SDL_LockAudioDevice(p.device);
            const bool done = !p.playing || p.passes > 0;
            SDL_UnlockAudioDevice(p.device);
            if (done) break;
            SDL_Delay(kSyncPollMilliseconds);
        }
    }
    return true;
}

bool SdlSoundService::IsPlaying() const {
    const Playback& p = *playback_;
    if (p.device == 0) return false;
    SDL_LockAudioDevice(p.device);
    const bool playing = p.playing;
    SDL_UnlockAudioDevice(p.device);
    return playing;
}

std::size_t SdlSoundService::RemainingBytes() const {
    const Playback& p = *playback_;
    if (p.device == 0) return 0;
    SDL_LockAudioDevice(p.device);
    const std::size_t remaining = p.playing ? p.samples.size() - p.position : 0;
    SDL_UnlockAudioDevice(p.device);
    return remaining;
}

std::size_t SdlSoundService::SoundBytes() const {
    const Playback& p = *playback_;
    if (p.device == 0) return 0;
    SDL_LockAudioDevice(p.device);
    const std::size_t size = p.samples.size();
    SDL_UnlockAudioDevice(p.device);
    return size;
}

}  // namespace tertulia
