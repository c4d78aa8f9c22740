#include "session/temp_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "tests/support/temporary_directory.h"

namespace tertulia {
namespace {

// Points TMPDIR at a directory of the test's own for the test's duration.
class TempFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        ::setenv("TMPDIR", directory_.c_str(), 1);
    }

    void TearDown() override {
        if (hadOld_) {
            ::setenv("TMPDIR", old_.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        ::chmod(directory_.c_str(), 0700);
    }

    testing::TemporaryDirectory temporary_{"tertulia-temp-test"};
    const std::string directory_ = temporary_.path();

  private:
    bool hadOld_ = false;
    std::string old_;
};

TEST_F(TempFileTest, DirectoryComesFromTheEnvironmentWithTrailingSlash) {
    EXPECT_EQ(TempDirectory(), directory_ + "/");
    ::setenv("TMPDIR", (directory_ + "/").c_str(), 1);
    EXPECT_EQ(TempDirectory(), directory_ + "/");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(TempDirectory(), "/tmp/");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(TempDirectory(), "/tmp/");
}

TEST_F(TempFileTest, TwoCallsGiveTwoNewEmptyOwnerOnlyFiles) {
    const std::string first = TempFileName();
    const std::string second = TempFileName();
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        EXPECT_EQ(name.rfind(directory_ + "/~tm", 0), 0u) << name;
        struct stat info {};
        ASSERT_EQ(::stat(name.c_str(), &info), 0) << name;
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_size, 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

TEST_F(TempFileTest, UnwritableOrMissingDirectoryFails) {
    if (::geteuid() != 0) {
        ::chmod(directory_.c_str(), 0500);
        EXPECT_THROW(TempFileName(), std::runtime_error);
    }
    const std::string plainFile = directory_ + "/plain";
    std::fclose(std::fopen(plainFile.c_str(), "w"));
    for (const std::string& bad : {directory_ + "/missing", plainFile}) {
        ::setenv("TMPDIR", bad.c_str(), 1);
        try {
            TempFileName();
            ADD_FAILURE() << "no failure for " << bad;
        } catch (const std::runtime_error& failure) {
            EXPECT_STREQ(failure.what(), "Error al crear archivo temporal");
        }
    }
}

}  // namespace
}  // namespace tertulia
