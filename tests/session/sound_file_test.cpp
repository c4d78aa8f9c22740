#include "session/sound_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temporary_directory.h"

namespace tertulia {
namespace {

namespace fs = std::filesystem;

// Lays out an installation under a temporary folder: "prefix/bin" is the program's folder,
// "prefix/share/tertulia" the data folder beside it, "elsewhere" the data folder it was built for.
class SoundFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Bin());
        fs::create_directories(Data());
        fs::create_directories(Configured());
    }

    fs::path Bin() const { return root_ / "prefix/bin"; }
    fs::path Data() const { return root_ / "prefix/share/tertulia"; }
    fs::path Configured() const { return root_ / "elsewhere"; }
    static void Put(const fs::path& folder) { std::ofstream(folder / "sonido.wav") << "RIFF"; }
    std::string Find() const {
        return FindSoundFile(Bin().string(), "../share/tertulia", Configured().string());
    }

    testing::TemporaryDirectory temporary_{"tertulia-sound-test"};
    const fs::path root_ = temporary_.path();
};

TEST_F(SoundFileTest, FirstFolderHoldingTheSoundWins) {
    struct Row {
        const char* name;
        std::vector<fs::path> holders;
        fs::path expected;  // empty: not found
    };
    const std::vector<Row> rows = {
        {"beside the program before the installation's data", {Bin(), Data()}, Bin()},
        {"installation's data before the built-in folder", {Data(), Configured()}, Data()},
        {"built-in folder when the installation has none", {Configured()}, Configured()},
        {"nowhere", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const fs::path& folder : {Bin(), Data(), Configured()}) {
            fs::remove(folder / "sonido.wav");
        }
        for (const fs::path& folder : row.holders) Put(folder);
        const std::string expected =
            row.expected.empty() ? "" : (row.expected / "sonido.wav").string();
        EXPECT_EQ(Find(), expected);
    }
}

TEST_F(SoundFileTest, AFolderNamedLikeTheSoundIsPassedOver) {
    fs::create_directory(Bin() / "sonido.wav");
    Put(Data());
    EXPECT_EQ(Find(), (Data() / "sonido.wav").string());
}

TEST_F(SoundFileTest, ThisBuildLooksInTheDataFolderBesideItsBinFolder) {
    Put(Data());
    EXPECT_EQ(FindSoundFile(Bin().string()), (Data() / "sonido.wav").string());
}

}  // namespace
}  // namespace tertulia
