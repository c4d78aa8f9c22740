#include "protocol/service_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <random>
#include <string>

namespace tertulia {

std::ostream& operator<<(std::ostream& os, const LoginReply& r) {
    return os << "{kind " << static_cast<int>(r.kind) << ", idSesion '" << r.idSesion << "'}";
}

std::ostream& operator<<(std::ostream& os, const NewsReply& r) {
    os << "{kind " << static_cast<int>(r.kind) << ", entries [";
    for (const NewsEntry& e : r.entries) os << e.idSesionClt << "=" << e.nombre << "|";
    os << "], stopped " << r.stoppedAtBadId << " '" << r.badIdText << "', lines [";
    for (const VisitorLines& l : r.visitorLines) os << l.idSesionClt << ":" << l.count << ";";
    return os << "]}";
}

std::ostream& operator<<(std::ostream& os, const UpdateReply& r) {
    return os << "{outdated " << r.outdated << ", '" << r.digest << "', '" << r.address << "'}";
}

namespace {

constexpr const char* kBase = "http://localhost:8080";

TEST(RequestUrlTest, ExactConcatenationWithNothingEncoded) {
    EXPECT_EQ(LoginUrl(kBase, "EMP&1#", "900150983CD24FB0D6963F7D28E17F72"),
              "http://localhost:8080/tertulia.php?accion=do_login&idempresa=EMP&1#"
              "&contrasena=900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(NewsUrl(kBase, "EMP", ""),
              "http://localhost:8080/tertulia.php?accion=get_news&idempresa=EMP&idsesion=");
    EXPECT_EQ(TranscriptUrl(kBase, "EMP", "s=1", -42),
              "http://localhost:8080/tertulia.php?accion=getchat&idempresa=EMP&idsesion=s=1"
              "&idsesionclt=-42");
    EXPECT_EQ(SendLineUrl(kBase, "EMP", "abc", 2147483647, "Hola%20"),
              "http://localhost:8080/tertulia.php?accion=getchat&idempresa=EMP&idsesion=abc"
              "&idsesionclt=2147483647&mensaje=Hola%20");
    EXPECT_EQ(CloseConversationUrl(kBase, "EMP", "abc", INT32_MIN),
              "http://localhost:8080/tertulia.php?accion=dropclt&idempresa=EMP&idsesion=abc"
              "&idsesionclt=-2147483648");
    EXPECT_EQ(LogoutUrl(kBase, "EMP", "s=1"),
              "http://localhost:8080/tertulia.php?accion=do_logout&idempresa=EMP&idsesion=s=1");
    EXPECT_EQ(TypingUrl(kBase, "EMP", "abc", 7),
              "http://localhost:8080/tertulia.php?accion=escribiendo&idempresa=EMP&idsesion=abc"
              "&idsesionclt=7");
    EXPECT_EQ(ReadyAnswersUrl(kBase, "EMP", "s=1"),
              "http://localhost:8080/tertulia.php?accion=respuestas&idempresa=EMP&idsesion=s=1");
    EXPECT_EQ(HandOnUrl(kBase, "EMP", "abc", -3),
              "http://localhost:8080/tertulia.php?accion=ceder&idempresa=EMP&idsesion=abc"
              "&idsesionclt=-3");
    EXPECT_EQ(OtherConsolesUrl(kBase, "EMP", "abc"),
              "http://localhost:8080/tertulia.php?accion=consolas&idempresa=EMP&idsesion=abc");
    EXPECT_EQ(UpdateCheckUrl(kBase),
              "http://localhost:8080/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1");
}

TEST(RequestUrlTest, TheConsoleKeyFollowsTheLoginsOwnParameters) {
    const std::string plain = LoginUrl(kBase, "EMP", "D1");
    EXPECT_EQ(LoginUrl(kBase, "EMP", "D1", ""), plain);
    EXPECT_EQ(LoginUrl(kBase, "EMP", "D1", "0123456789abcdef0123456789ABCDEF"),
              plain + "&consola=0123456789abcdef0123456789ABCDEF");
}

TEST(ConsoleKeyTest, ThirtyTwoHexadecimalDigits) {
    EXPECT_TRUE(IsConsoleKey("0123456789abcdef0123456789ABCDEF"));
    EXPECT_FALSE(IsConsoleKey("0123456789abcdef0123456789abcde")) << "31 digits";
    EXPECT_FALSE(IsConsoleKey("0123456789abcdef0123456789abcdef0")) << "33 digits";
    EXPECT_FALSE(IsConsoleKey("0123456789abcdef0123456789abcdeg"));
    EXPECT_FALSE(IsConsoleKey("0123456789abcdef0123456789abc&ef"));
    EXPECT_FALSE(IsConsoleKey(""));
}

TEST(EmpiezaConTest, ExactPrefixLetterCaseIncluded) {
    EXPECT_TRUE(EmpiezaCon("OK=1", "OK"));
    EXPECT_TRUE(EmpiezaCon("OK", "OK"));
    EXPECT_FALSE(EmpiezaCon("O", "OK"));
    EXPECT_FALSE(EmpiezaCon("ok=1", "OK"));
    EXPECT_FALSE(EmpiezaCon("", "OK"));
    EXPECT_TRUE(EmpiezaCon("x", ""));
}

struct IdRow {
    const char* name;
    std::string text;
    std::optional<std::int32_t> expected;
};

void PrintTo(const IdRow& row, std::ostream* os) {
    *os << row.name;
}

class IdTest : public testing::TestWithParam<IdRow> {};

TEST_P(IdTest, ReadsSigned32BitIdsOnly) {
    EXPECT_EQ(ReadConversationId(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, IdTest,
    testing::Values(
        IdRow{"decimal", "5", 5}, IdRow{"leading_spaces", "   12", 12}, IdRow{"plus_sign", "+7", 7},
        IdRow{"minus_sign", "-7", -7}, IdRow{"leading_zeros", "0000000000000000000042", 42},
        IdRow{"largest", "2147483647", INT32_MAX}, IdRow{"smallest", "-2147483648", INT32_MIN},
        IdRow{"just_too_large", "2147483648", std::nullopt},
        IdRow{"just_too_small", "-2147483649", std::nullopt},
        IdRow{"far_too_long", "99999999999999999999999999", std::nullopt},
        IdRow{"dollar_hex", "$1F", 31}, IdRow{"x_hex", "xff", 255},
        IdRow{"capital_x_hex", "XFF", 255}, IdRow{"zero_x_hex", "0x10", 16},
        IdRow{"signed_hex", "-$10", -16}, IdRow{"hex_uses_all_32_bits", "$FFFFFFFF", -1},
        IdRow{"hex_overflow", "$100000000", std::nullopt},
        IdRow{"hex_long_overflow", "$FFFFFFFFFFFFFFFFFFFF", std::nullopt},
        IdRow{"zero_capital_x_is_not_a_prefix", "0X10", std::nullopt},
        IdRow{"empty", "", std::nullopt}, IdRow{"only_spaces", "   ", std::nullopt},
        IdRow{"lone_sign", "-", std::nullopt}, IdRow{"lone_prefix", "$", std::nullopt},
        IdRow{"sign_and_prefix_only", "+0x", std::nullopt},
        IdRow{"trailing_space", "5 ", std::nullopt}, IdRow{"space_after_sign", "- 5", std::nullopt},
        IdRow{"letters", "z", std::nullopt}, IdRow{"hex_digit_without_prefix", "1F", std::nullopt},
        IdRow{"two_signs", "--5", std::nullopt},
        IdRow{"nul_after_digits", std::string("5\0", 2), std::nullopt},
        IdRow{"high_byte", "5\xB9", std::nullopt}),
    [](const testing::TestParamInfo<IdRow>& info) { return std::string(info.param.name); });

// The service takes ids only as it writes them.
TEST(ServiceIdTest, PositiveDecimalDigitsOnly) {
    const IdRow rows[] = {
        {"decimal", "5", 5},
        {"leading_zeros", "007", 7},
        {"largest", "2147483647", INT32_MAX},
        {"too_large", "2147483648", std::nullopt},
        {"zero", "0", std::nullopt},
        {"negative", "-7", std::nullopt},
        {"plus_sign", "+7", std::nullopt},
        {"leading_space", " 7", std::nullopt},
        {"hex", "x1", std::nullopt},
        {"dollar_hex", "$1F", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const IdRow& row : rows) {
        EXPECT_EQ(ServiceConversationId(row.text), row.expected) << row.name;
    }
}

TEST(InvalidIdMessageTest, QuotesTheText) {
    EXPECT_EQ(InvalidIdMessage("z"), "'z' is not a valid integer value");
    EXPECT_EQ(InvalidIdMessage(""), "'' is not a valid integer value");
}

TEST(LoginReplyTest, ClassifiesAndTakesTheSessionId) {
    using K = LoginReply::Kind;
    EXPECT_EQ(ReadLoginReply("OK=abc123"), (LoginReply{K::Ok, "abc123"}));
    EXPECT_EQ(ReadLoginReply("OK"), (LoginReply{K::Ok, ""}));
    EXPECT_EQ(ReadLoginReply("OK=a=b"), (LoginReply{K::Ok, "a=b"}));
    EXPECT_EQ(ReadLoginReply("OK sesion = x \r\n"), (LoginReply{K::Ok, " x \r\n"}));
    EXPECT_EQ(ReadLoginReply("ERROR.Clave incorrecta"), (LoginReply{K::Error, ""}));
    EXPECT_EQ(ReadLoginReply("ok=a"), (LoginReply{K::Refused, ""}));
    EXPECT_EQ(ReadLoginReply(""), (LoginReply{K::Refused, ""}));
}

struct NewsRow {
    const char* name;
    std::string reply;
    NewsReply expected;
};

void PrintTo(const NewsRow& row, std::ostream* os) {
    *os << row.name;
}

class NewsTest : public testing::TestWithParam<NewsRow> {};

TEST_P(NewsTest, ReadsTheListInOrder) {
    EXPECT_EQ(ReadNewsReply(GetParam().reply), GetParam().expected);
}

NewsReply List(std::vector<NewsEntry> entries) {
    NewsReply reply;
    reply.kind = NewsReply::Kind::List;
    reply.entries = std::move(entries);
    return reply;
}

NewsReply Stopped(std::vector<NewsEntry> entries, std::string badIdText) {
    NewsReply reply = List(std::move(entries));
    reply.stoppedAtBadId = true;
    reply.badIdText = std::move(badIdText);
    return reply;
}

NewsReply WithLines(NewsReply reply, std::vector<VisitorLines> lines) {
    reply.visitorLines = std::move(lines);
    return reply;
}

NewsReply WithClosed(NewsReply reply, std::vector<std::int32_t> closed) {
    reply.closed = std::move(closed);
    return reply;
}

NewsReply OfKind(NewsReply::Kind kind) {
    NewsReply reply;
    reply.kind = kind;
    return reply;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, NewsTest,
    testing::Values(
        NewsRow{"two_entries", "OK noticias,5=Ana|7=Eva|", List({{5, "Ana"}, {7, "Eva"}})},
        NewsRow{"comma_right_after_ok", "OK,5=Ana|", List({{5, "Ana"}})},
        NewsRow{"no_comma_no_entries", "OK", List({})},
        NewsRow{"no_closing_bar_no_entries", "OK,5=Ana", List({})},
        NewsRow{"text_after_last_bar_unread", "OK,5=Ana|zz", List({{5, "Ana"}})},
        NewsRow{"stops_at_bad_id", "OK,5=Ana|7|z=y|9=Luis|", Stopped({{5, "Ana"}, {7, ""}}, "z")},
        NewsRow{"empty_entry_stops", "OK,||", Stopped({}, "")},
        NewsRow{"duplicates_kept", "OK,5=Ana|5=Eva|", List({{5, "Ana"}, {5, "Eva"}})},
        NewsRow{"name_keeps_further_equals", "OK,5=a=b|", List({{5, "a=b"}})},
        NewsRow{"name_bytes_verbatim", std::string("OK,5=\xD1o\0\r\n|", 12),
                List({{5, std::string("\xD1o\0\r\n", 5)}})},
        NewsRow{"overflowing_id_stops", "OK,2147483648=X|", Stopped({}, "2147483648")},
        NewsRow{"line_counts_read", "OK lineas=5:3;7:0,5=Ana|7=Eva|",
                WithLines(List({{5, "Ana"}, {7, "Eva"}}), {{5, 3}, {7, 0}})},
        NewsRow{"line_counts_of_empty_list", "OK lineas=,", List({})},
        NewsRow{"line_counts_without_list", "OK lineas=5:2", WithLines(List({}), {{5, 2}})},
        NewsRow{"line_counts_negative_id", "OK lineas=-4:1,-4=A|",
                WithLines(List({{-4, "A"}}), {{-4, 1}})},
        NewsRow{"malformed_counts_left_out", "OK lineas=5:x;:2;6;7:-1;8:;9:4,9=Luis|",
                WithLines(List({{9, "Luis"}}), {{9, 4}})},
        NewsRow{"huge_count_left_out", "OK lineas=5:99999999999999999999;6:1,",
                WithLines(List({}), {{6, 1}})},
        NewsRow{"other_head_gives_no_counts", "OK noticias=5:3,5=Ana|", List({{5, "Ana"}})},
        NewsRow{"closed_read_among_counts", "OK lineas=5:3;cerrada=8;6:1;cerrada=-2,5=Ana|",
                WithClosed(WithLines(List({{5, "Ana"}}), {{5, 3}, {6, 1}}), {8, -2})},
        NewsRow{"malformed_closed_left_out", "OK lineas=cerrada=x;cerrada=;cerrada=9:1;cerrada=4,",
                WithClosed(List({}), {4})},
        NewsRow{"closed_only_in_the_counts_head", "OK cerrada=4,", List({})},
        NewsRow{"counts_after_comma_not_read", "OK,lineas=5:3|", Stopped({}, "lineas")},
        NewsRow{"error_status", "ERROR.x", OfKind(NewsReply::Kind::ErrorStatus)},
        NewsRow{"error", "ERRORx", OfKind(NewsReply::Kind::Error)},
        NewsRow{"lower_case_ok_is_other", "ok,5=Ana|", OfKind(NewsReply::Kind::Other)},
        NewsRow{"empty_is_other", "", OfKind(NewsReply::Kind::Other)}),
    [](const testing::TestParamInfo<NewsRow>& info) { return std::string(info.param.name); });

TEST(CloseReplyTest, OnlyOkCloses) {
    EXPECT_TRUE(ReadCloseReply("OK").ok);
    EXPECT_TRUE(ReadCloseReply("OK cerrada").ok);
    EXPECT_FALSE(ReadCloseReply("ERROR.No existe").ok);
    EXPECT_FALSE(ReadCloseReply("Ok").ok);
    EXPECT_FALSE(ReadCloseReply("").ok);
}

TEST(LogoutReplyTest, OnlyOkEnds) {
    EXPECT_TRUE(ReadLogoutReply("OK").ok);
    EXPECT_FALSE(ReadLogoutReply("ERROR. La sesion no existe").ok);
    EXPECT_FALSE(ReadLogoutReply("ERROR: Acci\xF3n desconocida.").ok) << "an older service";
}

TEST(LineHeaderTest, OnlyItsOwnValueSaysTheLineWasNotStored) {
    EXPECT_TRUE(LineaNoGuardada("no-guardada"));
    EXPECT_FALSE(LineaNoGuardada("")) << "an older service sends none";
    EXPECT_FALSE(LineaNoGuardada("guardada"));
    EXPECT_FALSE(LineaNoGuardada("No-Guardada"));
}

TEST(UpdateReplyTest, StatusWordDigestAndAddress) {
    EXPECT_EQ(ReadUpdateReply("DESACTUALIZADA.0123ABCD,http://h/x.exe?a=1,2"),
              (UpdateReply{true, "0123ABCD", "http://h/x.exe?a=1,2"}));
    EXPECT_EQ(ReadUpdateReply("DESACTUALIZADA.,"), (UpdateReply{true, "", ""}));
    // Without a separator the rest, and then the digest and the address, are the whole text.
    EXPECT_EQ(ReadUpdateReply("DESACTUALIZADA.ABC"), (UpdateReply{true, "ABC", "ABC"}));
    EXPECT_EQ(ReadUpdateReply("DESACTUALIZADA"),
              (UpdateReply{true, "DESACTUALIZADA", "DESACTUALIZADA"}));
    EXPECT_EQ(ReadUpdateReply("ACTUALIZADA.x,y"), UpdateReply{});
    EXPECT_EQ(ReadUpdateReply("desactualizada.x,y"), UpdateReply{});
    EXPECT_EQ(ReadUpdateReply(" DESACTUALIZADA.x,y"), UpdateReply{});
    EXPECT_EQ(ReadUpdateReply(""), UpdateReply{});
}

TEST(AnyBytesTest, ReadersTakeAnyBytes) {
    // Runs under the sanitizer build too: no reply can make a reader misbehave.
    static const std::string kPieces[] = {"OK",
                                          "ERROR",
                                          ".",
                                          ",",
                                          "|",
                                          "=",
                                          "$",
                                          "x",
                                          "0x",
                                          "-",
                                          "+",
                                          " ",
                                          "9",
                                          "F",
                                          "DESACTUALIZADA",
                                          std::string(1, '\0'),
                                          "\xFF",
                                          "2147483648",
                                          "99999999999"};
    std::mt19937 random(5);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(0, 30);
    for (int round = 0; round < 5000; ++round) {
        std::string reply;
        for (int i = length(random); i > 0; --i) reply += kPieces[pick(random)];
        const NewsReply news = ReadNewsReply(reply);
        EXPECT_LE(news.entries.size(),
                  static_cast<std::size_t>(std::count(reply.begin(), reply.end(), '|')));
        ReadLoginReply(reply);
        ReadCloseReply(reply);
        ReadUpdateReply(reply);
        if (const auto id = ReadConversationId(reply)) {
            EXPECT_EQ(ReadConversationId(std::to_string(*id)), id);
        }
    }
}

}  // namespace
}  // namespace tertulia
