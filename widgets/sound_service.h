#pragma once

#include <memory>
#include <vector>

namespace tertulia {

// Sound flags, with their Windows numbers.
constexpr unsigned SND_SYNC = 0x0000;
constexpr unsigned SND_ASYNC = 0x0001;
constexpr unsigned SND_MEMORY = 0x0004;
constexpr unsigned SND_LOOP = 0x0008;

// Plays a whole wave file image held in memory. A new sound stops the one in progress.
class SoundService {
  public:
    virtual ~SoundService() = default;
    // SND_ASYNC returns at once, otherwise when the sound has finished; SND_LOOP repeats it until
    // another sound starts. The service keeps `image` alive for as long as it needs it. False
    // when the sound cannot be played.
    virtual bool PlaySound(std::shared_ptr<const std::vector<unsigned char>> image,
                           unsigned flags) = 0;
};

}  // namespace tertulia
