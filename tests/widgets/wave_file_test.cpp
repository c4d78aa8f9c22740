#include "widgets/wave_file.h"

#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"
#include "widgets/sdl/sdl_sound_service.h"

namespace tertulia {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// A 16-bit PCM wave file image holding a quiet tone.
std::string MakeWave(int rate, int channels, double seconds) {
    const int frames = static_cast<int>(rate * seconds);
    std::string samples;
    for (int i = 0; i < frames; ++i) {
        const auto value = static_cast<std::int16_t>(3000 * std::sin(2 * M_PI * 660.0 * i / rate));
        for (int c = 0; c < channels; ++c) {
            samples.push_back(static_cast<char>(value & 0xFF));
            samples.push_back(static_cast<char>((value >> 8) & 0xFF));
        }
    }
    std::string out;
    auto u32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&out](std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    };
    out += "RIFF";
    u32(static_cast<std::uint32_t>(36 + samples.size()));
    out += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(static_cast<std::uint16_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * channels * 2));
    u16(static_cast<std::uint16_t>(channels * 2));
    u16(16);
    out += "data";
    u32(static_cast<std::uint32_t>(samples.size()));
    return out + samples;
}

const std::string kAssetSound = std::string(TERTULIA_ASSETS_DIR) + "/sonido.wav";

void Load(TWaveFile& player, const std::string& bytes) {
    MemoryStream stream(bytes);
    player.LoadFromStream(stream);
}

std::string Saved(const TWaveFile& player) {
    MemoryStream stream;
    player.SaveToStream(stream);
    return stream.Bytes();
}

class DerivedWaveFile : public TWaveFile {
  public:
    using TWaveFile::TWaveFile;
};

class WaveFileTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 0); }

    SdlSoundService sound;
    TWaveFile player{sound};
    int plays = 0;
};

TEST_F(WaveFileTest, EmptyPlayerRaisesNoWaveDataWithoutOnPlay) {
    player.OnPlay = [this](TWaveFile&) { ++plays; };
    EXPECT_TRUE(player.IsEmpty());
    EXPECT_THAT([&] { player.Play(); }, ThrowsMessage<EWaveError>(StrEq("No wave data")));
    EXPECT_EQ(plays, 0);
    EXPECT_FALSE(sound.IsPlaying());
}

TEST_F(WaveFileTest, OnPlayRunsBeforeTheSoundStarts) {
    player.LoadFromFile(kAssetSound);
    bool playingDuringOnPlay = true;
    player.OnPlay = [&](TWaveFile& sender) {
        EXPECT_EQ(&sender, &player);
        playingDuringOnPlay = sound.IsPlaying();
    };
    player.Play();
    EXPECT_FALSE(playingDuringOnPlay);
    EXPECT_TRUE(sound.IsPlaying());
}

TEST_F(WaveFileTest, SecondQuickPlayRestartsTheSoundInsteadOfQueueingIt) {
    player.LoadFromFile(kAssetSound);
    player.OnPlay = [this](TWaveFile&) { ++plays; };
    player.Play();
    SDL_Delay(100);
    player.Play();
    EXPECT_EQ(plays, 2);
    ASSERT_TRUE(sound.IsPlaying());
    // At most a couple of device buffers have gone out since the restart.
    EXPECT_LE(sound.RemainingBytes(), sound.SoundBytes());
    EXPECT_GT(sound.RemainingBytes(), sound.SoundBytes() * 3 / 4);
}

TEST_F(WaveFileTest, PauseAndLoopDecideHowPlayEnds) {
    Load(player, MakeWave(22050, 1, 0.05));
    player.SetWavePause(wpsSync);
    player.Play();
    EXPECT_FALSE(sound.IsPlaying()) << "a synchronous play returns when the sound is over";

    player.SetWavePause(wpAsync);
    player.SetWaveLoop(wlLoop);
    player.Play();
    SDL_Delay(200);
    EXPECT_TRUE(sound.IsPlaying()) << "a looping sound outlasts its length";

    player.SetWavePause(wpsSync);
    player.SetWaveLoop(wlNoLoop);
    player.Play();
    EXPECT_FALSE(sound.IsPlaying()) << "a new sound ends the loop";
}

TEST_F(WaveFileTest, SoundInAnotherFormatIsConvertedToTheDevice) {
    Load(player, MakeWave(22050, 1, 0.05));
    player.Play();
    const std::size_t monoBytes = sound.SoundBytes();
    Load(player, MakeWave(44100, 2, 0.05));
    player.Play();
    // Same length in time, so about the same size in the device's format.
    EXPECT_NEAR(static_cast<double>(sound.SoundBytes()), static_cast<double>(monoBytes),
                monoBytes * 0.05);
}

TEST_F(WaveFileTest, UndecodableBytesRaiseErrorPlayingSoundAfterOnPlay) {
    Load(player, "RIFF but not really a wave file");
    player.OnPlay = [this](TWaveFile&) { ++plays; };
    EXPECT_THAT([&] { player.Play(); }, ThrowsMessage<EWaveError>(StrEq("Error playing sound")));
    EXPECT_EQ(plays, 1);
}

TEST(WaveFileAudioTest, NoAudioDriverRaisesErrorPlayingSound) {
    const std::string previous =
        std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    {
        SdlSoundService sound;
        TWaveFile player(sound);
        Load(player, MakeWave(22050, 1, 0.05));
        EXPECT_THROW(player.Play(), EWaveError);
    }
    setenv("SDL_AUDIODRIVER", previous.empty() ? "dummy" : previous.c_str(), 1);
}

// SDL would take these signals for its own event queue, which nobody reads: the program could
// then no longer be ended by them.
TEST_F(WaveFileTest, PlayingLeavesSigintAndSigtermToTheProgram) {
    Load(player, MakeWave(22050, 1, 0.05));
    player.Play();
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        ASSERT_EQ(sigaction(signal, nullptr, &action), 0);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << strsignal(signal);
    }
}

TEST_F(WaveFileTest, DataValueRoundTrip) {
    player.LoadFromFile(kAssetSound);
    const std::string wave = testing::ReadWholeFile(kAssetSound);
    MemoryStream form;
    player.WriteDataValue(form);
    const std::string& bytes = form.Bytes();
    ASSERT_EQ(bytes.size(), 5 + wave.size());
    EXPECT_EQ(bytes[0], 10);
    const std::uint32_t count =
        static_cast<unsigned char>(bytes[1]) | static_cast<unsigned char>(bytes[2]) << 8 |
        static_cast<unsigned char>(bytes[3]) << 16 |
        static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4])) << 24;
    EXPECT_EQ(count, wave.size());
    EXPECT_EQ(bytes.substr(5), wave);

    form.Seek(0);
    TWaveFile copy(sound);
    copy.ReadDataValue(form);
    EXPECT_TRUE(copy.SameAs(player));
    EXPECT_EQ(form.Position(), form.Size());
}

TEST_F(WaveFileTest, EmptyPlayerStoresNoDataAndReadsBackEmpty) {
    EXPECT_FALSE(player.HasData(nullptr));
    MemoryStream form;
    player.WriteDataValue(form);
    EXPECT_EQ(form.Bytes(), std::string("\x0a\0\0\0\0", 5));
    form.Seek(0);
    TWaveFile copy(sound);
    Load(copy, "something");
    copy.ReadDataValue(form);
    EXPECT_TRUE(copy.IsEmpty());
}

TEST_F(WaveFileTest, MalformedDataValueIsRefusedAndChangesNothing) {
    Load(player, "old");
    struct Row {
        const char* name;
        std::string form;
        const char* message;
    };
    const Row rows[] = {
        {"wrong value type", std::string("\x06\x01\0\0\0x", 6), "Invalid property value"},
        {"count beyond the form",
         std::string("\x0a\xff\xff\xff\x7f"
                     "abc",
                     8),
         "Stream read error"},
        {"cut head", std::string("\x0a\x01", 2), "Stream read error"},
    };
    for (const Row& row : rows) {
        MemoryStream form(row.form);
        try {
            player.ReadDataValue(form);
            ADD_FAILURE() << row.name << ": no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), row.message) << row.name;
        }
        EXPECT_EQ(Saved(player), "old") << row.name;
    }
}

TEST_F(WaveFileTest, HasDataComparesWithTheAncestor) {
    TWaveFile same(sound);
    TWaveFile other(sound);
    TWaveFile empty(sound);
    DerivedWaveFile derived(sound);
    Load(player, "sound");
    Load(same, "sound");
    Load(other, "other");
    Load(derived, "sound");
    struct Row {
        const char* name;
        const TWaveFile& writing;
        std::optional<TWaveFile::Ancestor> ancestor;
        bool expected;
    };
    const Row rows[] = {
        {"no ancestor, loaded", player, std::nullopt, true},
        {"no ancestor, empty", empty, std::nullopt, false},
        {"ancestor with the same sound", player, TWaveFile::Ancestor{&same}, false},
        {"ancestor with another sound", player, TWaveFile::Ancestor{&other}, true},
        {"ancestor of a derived class", player, TWaveFile::Ancestor{&derived}, true},
        {"ancestor of another component class", player, TWaveFile::Ancestor{nullptr}, true},
        {"both empty", empty, TWaveFile::Ancestor{&empty}, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.writing.HasData(row.ancestor ? &*row.ancestor : nullptr), row.expected)
            << row.name;
    }
}

TEST_F(WaveFileTest, SameAsComparesSoundsAndClasses) {
    TWaveFile emptyPlayer(sound);
    DerivedWaveFile emptyDerived(sound);
    TWaveFile loaded(sound);
    TWaveFile sameBytes(sound);
    TWaveFile otherBytes(sound);
    TWaveFile longer(sound);
    DerivedWaveFile derivedSameBytes(sound);
    Load(loaded, "abc");
    Load(sameBytes, "abc");
    Load(otherBytes, "abd");
    Load(longer, "abcd");
    Load(derivedSameBytes, "abc");
    struct Row {
        const char* name;
        const TWaveFile& a;
        const TWaveFile& b;
        bool expected;
    };
    const Row rows[] = {
        {"two empty players of different classes", emptyPlayer, emptyDerived, true},
        {"empty and loaded", emptyPlayer, loaded, false},
        {"loaded and empty", loaded, emptyPlayer, false},
        {"same bytes", loaded, sameBytes, true},
        {"different bytes", loaded, otherBytes, false},
        {"prefix", loaded, longer, false},
        {"same bytes, derived class", loaded, derivedSameBytes, false},
    };
    for (const Row& row : rows) EXPECT_EQ(row.a.SameAs(row.b), row.expected) << row.name;
}

TEST_F(WaveFileTest, LoadFailureKeepsTheOldSound) {
    Load(player, "old sound");
    const std::string missing = "/nonexistent-dir/sonido.wav";
    EXPECT_THAT([&] { player.LoadFromFile(missing); },
                ThrowsMessage<std::runtime_error>(
                    StrEq("Cannot open file \"" + missing + "\". No such file or directory")));
    EXPECT_EQ(Saved(player), "old sound");
}

TEST_F(WaveFileTest, LoadFromStreamTakesTheStreamsWholeSize) {
    MemoryStream empty;
    Load(player, "old");
    player.LoadFromStream(empty);
    EXPECT_TRUE(player.IsEmpty());

    // Read from the current position; what the stream does not deliver stays zero.
    MemoryStream stream(std::string("0123456789"));
    stream.Seek(4);
    player.LoadFromStream(stream);
    EXPECT_EQ(Saved(player), std::string("456789\0\0\0\0", 10));
}

TEST_F(WaveFileTest, WaveNameKeepsTheFileNameAndLoadsExistingFiles) {
    const testing::TemporaryDirectory temporary;
    const std::filesystem::path dir = temporary.path();
    const std::string existing = (dir / "sonido.wav").string();
    { std::ofstream(existing, std::ios::binary) << "file bytes"; }

    player.SetWaveName(existing);
    EXPECT_EQ(player.WaveName(), "sonido.wav");
    EXPECT_EQ(Saved(player), "file bytes");

    struct Row {
        std::string value;
        std::string name;
    };
    for (const Row& row :
         {Row{"C:\\Sonidos\\aviso.wav", "aviso.wav"}, Row{"A:otro.wav", "otro.wav"},
          Row{"plain.wav", "plain.wav"}, Row{dir.string() + "/missing.wav", "missing.wav"}}) {
        player.SetWaveName(row.value);
        EXPECT_EQ(player.WaveName(), row.name) << row.value;
        EXPECT_EQ(Saved(player), "file bytes") << row.value << ": no such file, sound stays";
    }

    TWaveFile reading(sound);
    reading.SetLoading(true);
    reading.SetWaveName(existing);
    EXPECT_EQ(reading.WaveName(), "sonido.wav");
    EXPECT_TRUE(reading.IsEmpty()) << "while a form is read the name alone is taken";

    player.SetWaveName("");
    EXPECT_EQ(player.WaveName(), "");
    EXPECT_TRUE(player.IsEmpty());
}

}  // namespace
}  // namespace tertulia
