#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/stream.h"
#include "widgets/sound_service.h"

namespace tertulia {

class EWaveError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum TWavePause : std::uint8_t { wpAsync = 0, wpsSync = 1 };
enum TWaveLoop : std::uint8_t { wlNoLoop = 0, wlLoop = 1 };

// Value type of a binary property in a form stream.
constexpr std::uint8_t kBinaryValueType = 10;

// Holds the complete bytes of one wave sound file in memory and plays them through the sound
// service, which must outlive the player. The bytes are never parsed here: whether they play is
// the service's decision.
class TWaveFile {
  public:
    explicit TWaveFile(SoundService& sound) : sound_(sound) {}
    virtual ~TWaveFile() = default;
    TWaveFile(const TWaveFile&) = delete;
    TWaveFile& operator=(const TWaveFile&) = delete;

    bool IsEmpty() const { return data_ == nullptr; }
    // Whether both hold the same sound; two empty players always do, two loaded ones only when
    // they are of exactly the same class.
    bool SameAs(const TWaveFile& other) const;

    // Throws "Cannot open file "NAME". REASON" when the file cannot be opened; the old sound
    // then stays. WaveName is not changed.
    void LoadFromFile(const std::string& fileName);
    // Replaces the sound with a block as large as the stream, read from its current position;
    // bytes the stream does not deliver stay zero.
    void LoadFromStream(Stream& stream);
    void SaveToStream(Stream& stream) const;

    // Throws EWaveError "No wave data" when empty, "Error playing sound" when the service
    // refuses (OnPlay has then already run).
    void Play();

    const std::string& WaveName() const { return waveName_; }
    // Keeps the file-name part; loads the file when it exists, unless a form is being read.
    // An empty name clears the sound.
    void SetWaveName(const std::string& value);
    void SetWavePause(TWavePause value) { wavePause_ = value; }
    void SetWaveLoop(TWaveLoop value) { waveLoop_ = value; }

    std::function<void(TWaveFile& sender)> OnPlay;
    // Kept with the form; nothing calls it.
    std::function<void(TWaveFile& sender)> OnStop;

    // Set while a form is being read into the player.
    void SetLoading(bool loading) { loading_ = loading; }

    // The "Data" property. ReadData and WriteData work on the property's bytes; HasData decides
    // whether a form writer stores them.
    void ReadData(Stream& stream) { LoadFromStream(stream); }
    void WriteData(Stream& stream) const { SaveToStream(stream); }
    // What the writer knows of an ancestor form: its corresponding component, which is a player
    // or, when `player` is null, a component of another class.
    struct Ancestor {
        const TWaveFile* player = nullptr;
    };
    // `ancestor` is null when the form has no ancestor.
    bool HasData(const Ancestor* ancestor) const;
    // The property's value in a form stream: value-type byte 10, the byte count as 32-bit
    // little-endian, then the bytes.
    void WriteDataValue(Stream& form) const;
    // Reads that value at the form stream's position into the player.
    void ReadDataValue(Stream& form);

  private:
    SoundService& sound_;
    std::shared_ptr<const std::vector<unsigned char>> data_;
    std::string waveName_;
    TWavePause wavePause_ = wpAsync;
    TWaveLoop waveLoop_ = wlNoLoop;
    bool loading_ = false;
};

// The file-name part of a path: what follows its last "\", ":" or "/".
std::string WaveFileNamePart(const std::string& path);

}  // namespace tertulia
