#include "chat/transcript_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"

namespace tertulia {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;

class TranscriptFileTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory temporary_{"tertulia-transcript-test"};
    const fs::path dir_ = temporary_.path();
};

TEST_F(TranscriptFileTest, WritesTheTextsBytesWithCrLfBreaksAndNothingAdded) {
    struct Row {
        const char* proves;
        std::string text;
        std::string bytes;
    };
    const Row rows[] = {
        {"CR LF stays, no final break added", "Ana: hola\r\nYo: \xBFqu\xE9?",
         "Ana: hola\r\nYo: \xBFqu\xE9?"},
        {"a final break that the area holds stays", "a\r\n", "a\r\n"},
        {"lone LF and lone CR become CR LF", "a\nb\rc\r\n", "a\r\nb\r\nc\r\n"},
        {"empty transcript gives an empty file", "", ""},
    };
    for (const Row& row : rows) {
        const fs::path file = dir_ / "copia.txt";
        WriteTranscriptFile(file.string(), row.text);
        EXPECT_EQ(ReadWholeFile(file), row.bytes) << row.proves;
    }
}

TEST_F(TranscriptFileTest, ReplacesAnExistingFileKeepingItsPermissionsAndLeavesNoPartFile) {
    const fs::path file = dir_ / "copia.txt";
    std::ofstream(file) << "an older and much longer transcript";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    WriteTranscriptFile(file.string(), "nuevo");
    EXPECT_EQ(ReadWholeFile(file), "nuevo");
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(TranscriptFileTest, AFileThatMayNotBeWrittenIsNotReplaced) {
    const fs::path file = dir_ / "copia.txt";
    std::ofstream(file) << "protegida";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // Root may write anything: the attempt is made as an ordinary user who owns the directory.
    const bool root = ::geteuid() == 0;
    const uid_t user = root ? 65534 : ::geteuid();
    if (root) {
        ASSERT_EQ(::chown(dir_.c_str(), user, user), 0);
        ASSERT_EQ(::chown(file.c_str(), user, user), 0);
    }
    EXPECT_EXIT(
        {
            if (root &&
                (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)) {
                std::_Exit(2);
            }
            try {
                WriteTranscriptFile(file.string(), "nuevo");
            } catch (const std::runtime_error& failure) {
                std::fputs(failure.what(), stderr);
                std::_Exit(0);
            }
            std::_Exit(1);
        },
        ::testing::ExitedWithCode(0), "Cannot create file \".*\". Permission denied");
    EXPECT_EQ(ReadWholeFile(file), "protegida");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(TranscriptFileTest, AMissingDirectoryFailsWithTheSystemsReason) {
    const fs::path file = dir_ / "missing" / "copia.txt";
    try {
        WriteTranscriptFile(file.string(), "x");
        FAIL() << "no failure";
    } catch (const std::runtime_error& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "Cannot create file \"" + file.string() + "\". No such file or directory");
    }
}

TEST_F(TranscriptFileTest, AWriteThatFailsHalfwayLeavesTheOldFileWholeAndNoPartFile) {
    const fs::path file = dir_ / "copia.txt";
    std::ofstream(file) << "old transcript";
    // A file size limit makes the write fail after some bytes, even for root.
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 8;
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::string message;
    try {
        WriteTranscriptFile(file.string(), std::string(100, 'x'));
    } catch (const std::runtime_error& failure) {
        message = failure.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);
    EXPECT_EQ(message, "Cannot write file \"" + file.string() + "\". File too large");
    EXPECT_EQ(ReadWholeFile(file), "old transcript");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tertulia
