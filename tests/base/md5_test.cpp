#include "base/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/stream.h"

namespace tertulia {
namespace {

struct Row {
    const char* name;
    std::string text;
    const char* digest;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class Md5Test : public testing::TestWithParam<Row> {};

TEST_P(Md5Test, StringAndStreamGiveTheDigestText) {
    EXPECT_EQ(Md5TextOfString(GetParam().text), GetParam().digest);
    MemoryStream stream(GetParam().text);
    EXPECT_EQ(Md5TextOfStream(stream), GetParam().digest);
    EXPECT_EQ(stream.Position(), stream.Size());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Md5Test,
    testing::Values(
        Row{"empty", "", "D41D8CD98F00B204E9800998ECF8427E"},
        Row{"rfc_a", "a", "0CC175B9C0F1B6A831C399E269772661"},
        Row{"rfc_abc", "abc", "900150983CD24FB0D6963F7D28E17F72"},
        Row{"rfc_message_digest", "message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        Row{"rfc_alphabet", "abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        Row{"rfc_eighty_digits",
            "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57EDF4A22BE3C955AC49DA2E2107B67A"},
        Row{"padding_fits_one_block_55", std::string(55, 'a'), "EF1772B6DFF9A122358552954AD0DF65"},
        Row{"padding_needs_second_block_56", std::string(56, 'a'),
            "3B0C8AC703F828B04C6C197006D17218"},
        Row{"one_block_less_one_63", std::string(63, 'a'), "B06521F39153D618550606BE297466D5"},
        Row{"exact_block_64", std::string(64, 'a'), "014842D480B571495A4A0363793F7367"},
        Row{"block_and_one_65", std::string(65, 'a'), "C743A45E0D2E6A95CB859ADAE0248435"},
        Row{"enye_is_byte_241", "\xF1", "EDB907361219FB8D50279EABAB0B83B1"}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(Md5StreamTest, StartsAtTheStreamsPosition) {
    MemoryStream stream(
        "0123456789"
        "3456789"
        "0123456789");
    stream.Seek(10);
    EXPECT_EQ(Md5TextOfStream(stream), "18E5CF08FDAA3E01E70BE8CB9BE2C783");
}

TEST(Md5StringTest, ViewWithoutStorageIsTheEmptyMessage) {
    EXPECT_EQ(Md5TextOfString(std::string_view()), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(Md5StreamTest, DigestTextIsUpperCaseOnly) {
    const std::string digest = Md5TextOfString("abc");
    EXPECT_NE(digest, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_TRUE(std::all_of(digest.begin(), digest.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    }));
}

// Hands out its bytes a few at a time, as a slow source would.
class TrickleStream : public MemoryStream {
  public:
    TrickleStream(std::string bytes, std::size_t most)
        : MemoryStream(std::move(bytes)), most_(most) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        return MemoryStream::Read(buffer, std::min(count, most_));
    }

  private:
    std::size_t most_;
};

TEST(Md5StreamTest, ShortReadsGiveTheSameDigest) {
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    const std::string expected = Md5TextOfString(bytes);
    for (std::size_t most : {1, 7, 63, 64, 65, 1000}) {
        TrickleStream stream(bytes.substr(0, 200000), most);
        EXPECT_EQ(Md5TextOfStream(stream), Md5TextOfString(bytes.substr(0, 200000))) << most;
    }
    MemoryStream whole(bytes);
    EXPECT_EQ(Md5TextOfStream(whole), expected);
}

class FailingStream : public MemoryStream {
  public:
    std::size_t Read(void*, std::size_t) override { throw std::runtime_error("Cannot read"); }
};

TEST(Md5StreamTest, ReadFailureReachesTheCaller) {
    FailingStream stream;
    EXPECT_THROW(Md5TextOfStream(stream), std::runtime_error);
}

}  // namespace
}  // namespace tertulia
