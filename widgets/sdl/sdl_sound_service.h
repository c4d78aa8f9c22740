#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "widgets/sound_service.h"

namespace tertulia {

// Plays wave file images through SDL2 audio. SDL decodes the image in memory; the samples are
// converted to the device's format and fed to the device from its callback, which repeats them
// for a looping sound. The audio subsystem and the device are opened at the first sound and kept
// until the service is destroyed.
class SdlSoundService : public SoundService {
  public:
    SdlSoundService();
    ~SdlSoundService() override;
    SdlSoundService(const SdlSoundService&) = delete;
    SdlSoundService& operator=(const SdlSoundService&) = delete;

    // False when SDL cannot open audio or cannot decode the image.
    bool PlaySound(std::shared_ptr<const std::vector<unsigned char>> image,
                   unsigned flags) override;

    // Whether a sound is still being handed to the device.
    bool IsPlaying() const;
    // Bytes of the current sound, in the device's format, not yet handed to the device.
    std::size_t RemainingBytes() const;
    // Size in the device's format of the sound started last.
    std::size_t SoundBytes() const;

  private:
    // The device and what it is playing; shared with SDL's audio thread under the device lock.
    struct Playback;
    std::unique_ptr<Playback> playback_;
};

}  // namespace tertulia
