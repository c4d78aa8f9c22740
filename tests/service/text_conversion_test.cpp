#include <gtest/gtest.h>

#include "protocol/transcript_rendering.h"
#include "service/bad_request.h"
#include "service/charset.h"
#include "service/client_address.h"
#include "service/form_fields.h"
#include "service/options.h"
#include "service/rate_limits.h"
#include "service/service_log.h"
#include "service/visitor_name.h"
#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

using testing::ForEachRow;

TEST(Charset, every_windows_1252_byte_survives_the_trip_through_utf8) {
    // The five undefined bytes stand for the control characters with their numbers, as on the
    // desktop: one rule for the whole program.
    const std::string undefined = "\x81\x8D\x8F\x90\x9D";
    for (int b = 1; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        if (undefined.find(byte) != std::string::npos) {
            EXPECT_EQ(Utf8FromWindows1252(byte), std::string("\xC2") + byte) << b;
        }
        EXPECT_EQ(Windows1252FromUtf8(Utf8FromWindows1252(byte)), byte) << b;
    }
}

struct CharsetRow {
    const char* name;
    std::string windows1252;
    std::string utf8;
};

TEST(Charset, the_bytes_128_to_159_are_windows_1252_not_latin1_controls) {
    const std::vector<CharsetRow> rows = {
        {"euro", "\x80", "€"},
        {"single_low_quote", "\x82", "‚"},
        {"ellipsis", "\x85", "…"},
        {"s_caron", "\x8A", "Š"},
        {"curly_quotes", "\x93\x94", "“”"},
        {"trade_mark", "\x99", "™"},
        {"y_diaeresis_capital", "\x9F", "Ÿ"},
        {"latin1_range", "\xA0\xBF\xD1\xF1\xFF", "\u00A0¿Ññÿ"},
    };
    ForEachRow(rows, [&](const CharsetRow& row) {
        EXPECT_EQ(Utf8FromWindows1252(row.windows1252), row.utf8);
        EXPECT_EQ(Windows1252FromUtf8(row.utf8), row.windows1252);
    });
}

TEST(Charset, what_windows_1252_cannot_hold_becomes_a_question_mark) {
    EXPECT_EQ(Windows1252FromUtf8("日本 Ω \u0080 😀 a"), "?? ? ? ? a");
}

struct StoredLineRow {
    const char* name;
    std::string written;
    std::string stored;
};

// A line keeps every character a reader sees and nothing that changes how the rest is shown.
TEST(Charset, lines_are_stored_without_controls_overrides_or_invisible_characters) {
    const std::vector<StoredLineRow> rows = {
        {"spanish_text_unchanged", "¡Hola! ¿Qué tal? «sí» año pingüino €",
         "¡Hola! ¿Qué tal? «sí» año pingüino €"},
        {"c1_controls", "a\u0085b\u009Bc\u0080", "a\uFFFDb\uFFFDc\uFFFD"},
        {"direction_override", "pago \u202Efdp.exe", "pago \uFFFDfdp.exe"},
        {"embeddings_and_isolates", "\u202Aa\u202C\u2066b\u2069", "\uFFFDa\uFFFD\uFFFDb\uFFFD"},
        {"line_and_paragraph_separators", "uno\u2028dos\u2029tres", "uno\uFFFDdos\uFFFDtres"},
        {"zero_width_characters_removed", "Op\u200Be\u200Cr\u200Da\u200Ed\u200For", "Operador"},
        {"neighbours_of_the_ranges_kept", "\u00A0\u200A\u2010\u2027\u202F\u2065\u206A",
         "\u00A0\u200A\u2010\u2027\u202F\u2065\u206A"},
        {"bytes_not_utf8_left_for_the_caller", "a\xC2\xFF", "a\xC2\xFF"},
    };
    ForEachRow(rows,
               [](const StoredLineRow& row) { EXPECT_EQ(StorableLine(row.written), row.stored); });
}

TEST(Charset, the_operators_undefined_bytes_are_dropped_from_its_lines) {
    EXPECT_EQ(Utf8LineFromWindows1252("a\x81"
                                      "b\x8D\x8F\x90\x9D"
                                      "c"),
              "abc");
    EXPECT_EQ(Utf8LineFromWindows1252("\x81\x9D"), "");
    const std::string spanish = "\xA1\xE1\xE9\xED\xF3\xFA\xF1\xFC\xBF\xAB\xBB\x80\x85";
    EXPECT_EQ(Utf8LineFromWindows1252(spanish), Utf8FromWindows1252(spanish));
}

struct NameRow {
    const char* name;
    std::string visitorName;
    std::optional<std::string> refusal;
};

TEST(VisitorName, names_that_read_as_operador_or_tertulia_are_refused) {
    const std::string operador =
        "El nombre «Operador» está reservado para quien le atiende; elija otro.";
    const std::string tertulia =
        "El nombre «Tertulia» está reservado para los avisos del servicio; elija otro.";
    const std::vector<NameRow> rows = {
        {"as_written", "Operador", operador},
        {"any_letter_case", "oPERADOR", operador},
        {"cyrillic_capital_o", "\u041Eperador", operador},
        {"cyrillic_small_letters", "\u043E\u0440\u0435r\u0430dor", operador},
        {"greek_omicron", "\u03BFperador", operador},
        {"digit_zero", "0PERAD0R", operador},
        {"full_stop", "Operador.", operador},
        {"punctuation_around_and_inside", "¡«O.pe-ra·dor»!", operador},
        {"full_width_letters", "\uFF2F\uFF50\uFF45\uFF52\uFF41\uFF44\uFF4F\uFF52", operador},
        {"accents_and_blanks", " \u00A0Óperadór ", operador},
        {"combining_accent", "Opera\u0301dor", operador},
        {"tertulia", "Tertulia", tertulia},
        {"tertulia_capitals_with_i_as_l", "TERTULlA", tertulia},
        {"tertulia_cyrillic_capital_te", "\u0422ertulia", tertulia},
        {"tertulia_accented", "Tertulía...", tertulia},
        {"a_longer_word", "Operadora", std::nullopt},
        {"within_a_sentence", "El operador nuevo", std::nullopt},
        {"another_word", "Tertuliano", std::nullopt},
        {"spaced_inside", "Opera dor", std::nullopt},
        {"spanish_name", "María José Núñez-Güell", std::nullopt},
        {"initial_with_full_stop", "Ana M.", std::nullopt},
        {"cyrillic_name", "\u041E\u043B\u044C\u0433\u0430", std::nullopt},
        {"zero_width_character", "Op\u200Berador",
         "El nombre contiene caracteres invisibles de formato o de separación."},
    };
    ForEachRow(rows,
               [](const NameRow& row) { EXPECT_EQ(NameRefusal(row.visitorName), row.refusal); });
}

struct Utf8Row {
    const char* name;
    std::string text;
    std::optional<std::size_t> length;
};

TEST(Charset, utf8_is_checked_strictly) {
    const std::vector<Utf8Row> rows = {
        {"ascii", "abc", 3},
        {"two_three_and_four_bytes", "ñ€😀", 3},
        {"empty", "", 0},
        {"lone_continuation", "\x80", std::nullopt},
        {"truncated", "\xE2\x82", std::nullopt},
        {"overlong_slash", "\xC0\xAF", std::nullopt},
        {"overlong_three_bytes", "\xE0\x80\xAF", std::nullopt},
        {"surrogate", "\xED\xA0\x80", std::nullopt},
        {"past_u10ffff", "\xF4\x90\x80\x80", std::nullopt},
        {"latin1_byte", "Jos\xE9", std::nullopt},
    };
    ForEachRow(rows, [](const Utf8Row& row) { EXPECT_EQ(Utf8Length(row.text), row.length); });
}

// What a client sent reaches the log as text only: no line break, no terminal command.
TEST(ServiceLog, control_characters_and_bytes_that_are_not_utf8_are_escaped) {
    struct Row {
        const char* name;
        std::string text;
        std::string logged;
    };
    const Row rows[] = {
        {"plain and accented text stays", "empresa «acme» ñ €", "empresa «acme» ñ €"},
        {"C0 controls and DEL", "a\r\nb\x1B[2J\x7F", "a\\x0D\\x0Ab\\x1B[2J\\x7F"},
        {"C1 controls written in UTF-8",
         "\xC2\x9D"
         "0;x\xC2\x85",
         "\\xC2\\x9D0;x\\xC2\\x85"},
        {"raw bytes of Windows-1252 text", "\x8D\x90\x9D", "\\x8D\\x90\\x9D"},
        {"cut and overlong sequences", "\xE2\x82 \xC0\xAF", "\\xE2\\x82 \\xC0\\xAF"},
        {"a backslash cannot forge an escape", "\\x41", "\\\\x41"},
    };
    ForEachRow(rows, [](const Row& row) { EXPECT_EQ(EscapedForLog(row.text), row.logged); });
}

struct FormRow {
    const char* name;
    std::string encoded;
    std::string field;
    std::optional<std::string> value;
};

TEST(FormFields, decoding) {
    const std::vector<FormRow> rows = {
        {"plain", "a=1&b=2", "b", "2"},
        {"plus_is_space", "a=x+y", "a", "x y"},
        {"escapes_either_case", "a=%4a%4B", "a", "JK"},
        {"escaped_separators", "a=%26b%3Dc", "a", "&b=c"},
        {"byte_escape", "a=%F1", "a", "\xF1"},
        {"no_value", "a&b=1", "a", ""},
        {"empty_value", "a=", "a", ""},
        {"later_equals_kept", "a=b=c", "a", "b=c"},
        {"empty_pairs_ignored", "&&a=1&", "a", "1"},
        {"missing", "a=1", "b", std::nullopt},
    };
    ForEachRow(rows, [&](const FormRow& row) {
        EXPECT_EQ(FormFields::Parse(row.encoded).Find(row.field), row.value);
    });
}

TEST(FormFields, refusals) {
    for (const char* bad : {"a=%", "a=%4", "a=%4G", "a=%%41", "%zz=1", "a=1&a=1", "a=1&a=2"}) {
        EXPECT_THROW(FormFields::Parse(bad), BadRequest) << bad;
    }
    EXPECT_THROW(FormFields::Parse("a=1").Get("b"), BadRequest);
    EXPECT_EQ(QueryOfTarget("/tertulia.php?accion=x?y"), "accion=x?y");
    EXPECT_EQ(QueryOfTarget("/tertulia.php"), "");
}

TEST(CommandLine, serve_and_add_company) {
    const auto serve = std::get<ServeCommand>(ParseCommandLine({}));
    EXPECT_EQ(serve.host, "127.0.0.1");
    EXPECT_EQ(serve.port, 8080);
    EXPECT_EQ(serve.database, "");
    EXPECT_EQ(serve.keepDays, 30u);

    const auto full = std::get<ServeCommand>(ParseCommandLine(
        {"--listen", "[::1]:0", "--db", "x.db", "--update-file", "f", "--update-version", "1.2",
         "--keep-days", "0", "--metrics-listen", "[::1]:9100"}));
    EXPECT_EQ(full.keepDays, 0u);
    EXPECT_EQ(full.host, "::1");
    EXPECT_EQ(full.port, 0);
    ASSERT_TRUE(full.metrics);
    EXPECT_EQ(full.metrics->host, "::1");
    EXPECT_EQ(full.metrics->port, 9100);
    EXPECT_FALSE(serve.metrics) << "none unless asked for";
    EXPECT_EQ(full.database, "x.db");
    EXPECT_EQ(full.updateFile, "f");
    EXPECT_EQ(full.updateVersion, "1.2");

    const auto add = std::get<AddCompanyCommand>(
        ParseCommandLine({"add-company", "acme", "clave secreta", "--db", "y.db"}));
    EXPECT_EQ(add.code, "acme");
    EXPECT_EQ(add.password, "clave secreta");
    EXPECT_EQ(add.database, "y.db");

    EXPECT_TRUE(std::holds_alternative<HelpCommand>(ParseCommandLine({"--help"})));

    const auto reply = std::get<ReadyAnswerCommand>(
        ParseCommandLine({"company-reply", "acme", "remove", "Salu-2", "--db", "y.db"}));
    EXPECT_EQ(reply.action, ReadyAnswerCommand::Action::Remove);
    EXPECT_EQ(reply.shortcut, "salu-2") << "case-insensitive";

    const auto month = std::get<ReportCommand>(ParseCommandLine({"report", "acme"}));
    EXPECT_EQ(month.days, 30u);
    EXPECT_FALSE(month.json);
    const auto week = std::get<ReportCommand>(
        ParseCommandLine({"report", "--json", "acme", "--days", "7", "--db", "y.db"}));
    EXPECT_EQ(week.code, "acme");
    EXPECT_EQ(week.days, 7u);
    EXPECT_TRUE(week.json);
    EXPECT_EQ(week.database, "y.db");
}

TEST(CommandLine, refusals) {
    const std::vector<std::vector<std::string>> rows = {
        {"--listen", "127.0.0.1"},
        {"--listen", "127.0.0.1:99999"},
        {"--listen", "127.0.0.1:80x"},
        {"--listen"},
        {"--metrics-listen", "9100"},
        {"--metrics-listen", "a:1", "--metrics-listen", "b:2"},
        {"--db", "a", "--db", "b"},
        {"--update-file", "f"},
        {"--update-version", "1.2"},
        {"--puerto", "1"},
        {"--keep-days", "-1"},
        {"--keep-days", "36501"},
        {"add-company"},
        {"add-company", "acme", "clave", "de más"},
        {"set-password"},
        {"set-password", "a&b"},
        {"remove-company", "acme", "otra"},
        {"add-company", "a&b", "clave"},
        {"add-company", std::string(61, 'a'), "clave"},
        {"add-company", "acme", ""},
        {"report"},
        {"report", "acme", "otra"},
        {"report", "a&b"},
        {"report", "acme", "--days", "0"},
        {"report", "acme", "--days", "3661"},
        {"report", "acme", "--days", "1", "--days", "2"},
        {"report", "acme", "--csv"},
        {"company-reply", "acme", "add"},
        {"company-reply", "acme", "add", "hola", "adios"},
        {"company-reply", "acme", "add", "ñu"},
        {"company-replies"},
    };
    for (const auto& row : rows) {
        EXPECT_THROW(ParseCommandLine(row), std::runtime_error) << row[0];
    }
}

TEST(CommandLine, default_database_under_the_xdg_data_directory) {
    EXPECT_EQ(DefaultDatabasePath("/datos", "/home/ana"), "/datos/tertulia/service.db");
    EXPECT_EQ(DefaultDatabasePath(nullptr, "/home/ana"),
              "/home/ana/.local/share/tertulia/service.db");
    EXPECT_EQ(DefaultDatabasePath("relativo", "/home/ana"),
              "/home/ana/.local/share/tertulia/service.db");
}

}  // namespace
}  // namespace tertulia

namespace tertulia {
namespace {

using testing::ForEachRow;

TEST(CommandLine, limits_proxies_and_the_demo) {
    const auto serve = std::get<ServeCommand>(ParseCommandLine(
        {"--demo", "--max-connections-per-address", "0", "--head-timeout", "5",
         "--lines-per-conversation", "7", "--trusted-proxy", "::ffff:10.0.0.1", "--trusted-proxy",
         "2001:DB8::1", "--access-log", "-", "--stream-buffer-bytes", "1048576"}));
    EXPECT_TRUE(serve.demo);
    EXPECT_EQ(serve.http.connectionsPerAddress, 0u);
    EXPECT_EQ(serve.http.headSeconds, 5u);
    EXPECT_EQ(serve.visitors.perConversation.lines, 7u);
    EXPECT_EQ(serve.visitors.linesPerAddress, 60u) << "the default stays";
    EXPECT_EQ(serve.http.streamBufferBytes, 1u << 20);
    EXPECT_EQ(std::get<ServeCommand>(ParseCommandLine({})).http.streamBufferBytes, 64u << 20);
    EXPECT_EQ(serve.trustedProxies, (std::set<std::string>{"10.0.0.1", "2001:db8::1"}));
    EXPECT_EQ(serve.accessLog, "-");
}

struct ClientRow {
    const char* name;
    std::string peer;
    std::string forwardedFor;
    std::string client;
};

// Three a minute per key; a key idle for a minute is forgotten, without walking all the others.
TEST(TokenBuckets, a_bucket_refills_and_is_forgotten_once_full) {
    TokenBuckets buckets(3, 60);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(buckets.Take("a", 100));
    EXPECT_FALSE(buckets.Take("a", 100)) << "empty";
    EXPECT_TRUE(buckets.Take("a", 120)) << "a token every 20 s";
    EXPECT_FALSE(buckets.Take("a", 121));
    for (int key = 0; key < 1000; ++key) buckets.Take("k" + std::to_string(key), 150);
    EXPECT_EQ(buckets.Keys(), 1001u);
    EXPECT_TRUE(buckets.Take("b", 181)) << "a minute after a's last take";
    EXPECT_EQ(buckets.Keys(), 1001u) << "a is full, so gone; the others are not yet";
    EXPECT_TRUE(buckets.Take("b", 210));
    EXPECT_EQ(buckets.Keys(), 1u) << "only b is left";
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(buckets.Take("a", 210)) << "a starts full again";
}

TEST(ClientAddress, forwarded_for_counts_only_behind_a_trusted_proxy) {
    const std::set<std::string> proxies = {"10.0.0.1", "10.0.0.2"};
    const std::vector<ClientRow> rows = {
        {"direct_client_header_ignored", "192.0.2.7", "198.51.100.1", "192.0.2.7"},
        {"proxy_adds_the_client", "10.0.0.1", "198.51.100.1", "198.51.100.1"},
        {"what_the_client_wrote_before_is_not_believed", "10.0.0.1", "203.0.113.9, 198.51.100.1",
         "198.51.100.1"},
        {"two_trusted_proxies", "10.0.0.1", "198.51.100.1, 10.0.0.2", "198.51.100.1"},
        {"ipv6_client", "10.0.0.1", " 2001:DB8:0:0::5 ", "2001:db8::5"},
        {"no_header_leaves_the_proxy", "10.0.0.1", "", "10.0.0.1"},
        {"malformed_leaves_the_proxy", "10.0.0.1", "198.51.100.1, nonsense", "10.0.0.1"},
    };
    ForEachRow(rows, [&](const ClientRow& row) {
        EXPECT_EQ(ClientAddress(row.peer, row.forwardedFor, proxies), row.client);
    });
    EXPECT_EQ(LimitKey("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(LimitKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
}

}  // namespace
}  // namespace tertulia
