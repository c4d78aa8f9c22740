#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <vector>

#include "direct_connection.h"
#include "fresh_database.h"
#include "service/company_report.h"
#include "service/report_text.h"
#include "tests/support/command_run.h"
#include "tests/support/table_rows.h"

namespace tertulia::testing {
namespace {

constexpr std::int64_t kDecember6 = 1'796'515'200;  // 2026-12-06 00:00 UTC
constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;

// A conversation as the database is to hold it, its times in seconds from its opening.
struct Known {
    std::int64_t opened;
    std::vector<std::int64_t> operatorLines;
    std::optional<std::int64_t> closed;
    bool offline = false;
    const char* helped = "NULL";
};

// A company's conversations on two days, with one of another company beside them.
class CompanyReportTest : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        if (!database_.Skip().empty()) GTEST_SKIP() << database_.Skip();
        storage_ = Storage::Open(database_.location(), [this] { return now_.load(); });
        ASSERT_TRUE(storage_->companies.AddCompany("demo", "DIGEST"));
        ASSERT_TRUE(storage_->companies.AddCompany("otra", "DIGEST"));
        storage_->conversations.WatchFirstAnswers(
            [this](std::int64_t seconds) { firstAnswers_.push_back(seconds); });
        const Known known[] = {
            {kDecember6 + 10 * kHour, {30}, 300, false, "1"},
            {kDecember6 + 11 * kHour, {90}, 600, false, "0"},
            {kDecember6 + 12 * kHour, {}, 120},
            {kDecember6 + kDay + 9 * kHour, {10, 50}, 200, false, "1"},
            {kDecember6 + kDay + 10 * kHour, {}, 5, true},
            {kDecember6 + kDay + 11 * kHour, {}, std::nullopt},
        };
        for (const Known& conversation : known) Store("demo", conversation);
        Store("otra", {kDecember6 + 10 * kHour, {1}, 2});
        now_ = kDecember6 + kDay + 18 * kHour;
    }

    void Store(const std::string& code, const Known& known) {
        const std::int64_t company =
            *storage_->database->Read([&](SqlConnection& db) { return Companies::IdOf(db, code); });
        now_ = known.opened;
        const std::int32_t id =
            storage_->conversations.OpenConversation(code, "Ana", 0).conversation.id;
        for (const std::int64_t after : known.operatorLines) {
            now_ = known.opened + after;
            storage_->conversations.AddOperatorLine(company, id, "hola", {});
        }
        if (known.closed) {
            now_ = known.opened + *known.closed;
            storage_->conversations.Close(company, id);
        }
        const std::string update =
            "UPDATE conversations SET offline = " + std::to_string(known.offline ? 1 : 0) +
            ", helped = " + known.helped + " WHERE id = " + std::to_string(id);
        ASSERT_TRUE(DirectConnection(GetParam(), database_.location()).Run(update.c_str()));
    }

    std::atomic<std::int64_t> now_ = 0;
    FreshDatabase database_{GetParam()};
    std::unique_ptr<Storage> storage_;
    std::vector<std::int64_t> firstAnswers_;
};

void ExpectFigures(const ReportFigures& figures, const ReportFigures& expected) {
    EXPECT_EQ(figures.conversations, expected.conversations);
    EXPECT_EQ(figures.answered, expected.answered);
    EXPECT_EQ(figures.missed, expected.missed);
    EXPECT_EQ(figures.offline, expected.offline);
    EXPECT_EQ(figures.firstAnswerMedian, expected.firstAnswerMedian);
    EXPECT_EQ(figures.firstAnswerP90, expected.firstAnswerP90);
    EXPECT_EQ(figures.lengthMedian, expected.lengthMedian);
    EXPECT_EQ(figures.helpedPercent, expected.helpedPercent);
}

const ReportFigures kDecember6Figures{3, 2, 1, 0, 60, 90, 300, 50};
const ReportFigures kDecember7Figures{3, 1, 0, 1, 10, 10, 102.5, 100};

TEST_P(CompanyReportTest, counts_and_medians_by_day_and_in_total) {
    EXPECT_EQ(firstAnswers_, (std::vector<std::int64_t>{30, 90, 10, 1}))
        << "one for each answered conversation, at its first operator line";
    struct Row {
        const char* name;
        unsigned days;
        ReportFigures total;
        std::size_t dayCount;
    };
    const Row rows[] = {
        {"both_days", 2, {6, 3, 1, 1, 30, 90, 200, 66.7}, 2},
        {"a_month", 30, {6, 3, 1, 1, 30, 90, 200, 66.7}, 2},
        {"today_alone", 1, kDecember7Figures, 1},
    };
    ForEachRow(rows, [&](const Row& row) {
        const auto report = ReadCompanyReport(*storage_->database, "demo", row.days, now_);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->firstDay, kDecember6 + kDay - (row.days - 1) * kDay);
        ExpectFigures(report->total, row.total);
        ASSERT_EQ(report->days.size(), row.dayCount);
        EXPECT_EQ(report->days.back().start, kDecember6 + kDay);
        ExpectFigures(report->days.back().figures, kDecember7Figures);
    });
    const auto both = ReadCompanyReport(*storage_->database, "demo", 2, now_);
    ExpectFigures(both->days.front().figures, kDecember6Figures);

    const auto empty = ReadCompanyReport(*storage_->database, "otra", 1, now_);
    ASSERT_TRUE(empty);
    ExpectFigures(empty->total,
                  {0, 0, 0, 0, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    EXPECT_TRUE(empty->days.empty());
    EXPECT_FALSE(ReadCompanyReport(*storage_->database, "nadie", 30, now_));
}

// The command prints the report; the system's clock is past these days, so the longest period
// holds them.
TEST_P(CompanyReportTest, the_command_writes_text_and_json) {
    const std::string command = std::string("'") + TERTULIA_SERVICE_BINARY +
                                "' report demo --days 3660 --db '" + database_.location() + "'";
    const CommandRun json = RunCommand(command + " --json", database_.directory());
    EXPECT_EQ(json.status, 0) << json.err;
    const std::string figures =
        "\"conversaciones\": 3, \"atendidas\": 1, \"perdidas\": 0, \"fuera_de_linea\": 1, "
        "\"primera_respuesta_mediana_s\": 10, \"primera_respuesta_p90_s\": 10, "
        "\"duracion_mediana_s\": 102.5, \"ayudados_porcentaje\": 100";
    EXPECT_EQ(json.out,
              "{\"total\": {\"conversaciones\": 6, \"atendidas\": 3, \"perdidas\": 1, "
              "\"fuera_de_linea\": 1, \"primera_respuesta_mediana_s\": 30, "
              "\"primera_respuesta_p90_s\": 90, \"duracion_mediana_s\": 200, "
              "\"ayudados_porcentaje\": 66.7}, \"dias\": [{\"dia\": \"2026-12-06\", "
              "\"conversaciones\": 3, \"atendidas\": 2, \"perdidas\": 1, \"fuera_de_linea\": 0, "
              "\"primera_respuesta_mediana_s\": 60, \"primera_respuesta_p90_s\": 90, "
              "\"duracion_mediana_s\": 300, \"ayudados_porcentaje\": 50}, {\"dia\": "
              "\"2026-12-07\", " +
                  figures + "}]}\n");

    const CommandRun text = RunCommand(command, database_.directory());
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(text.out.starts_with("Empresa «demo», del ")) << text.out;
    const std::string lastDay =
        "2026-12-07\n"
        "  Conversaciones:                      3\n"
        "  Atendidas:                           1\n"
        "  Perdidas:                            0\n"
        "  Mensajes fuera de línea:             1\n"
        "  Primera respuesta (mediana):         10 s\n"
        "  Primera respuesta (percentil 90):    10 s\n"
        "  Duración (mediana):                  102,5 s\n"
        "  Ayudados:                            100 %\n";
    EXPECT_TRUE(text.out.ends_with(lastDay)) << text.out;

    const CommandRun unknown = RunCommand(std::string("'") + TERTULIA_SERVICE_BINARY +
                                              "' report nadie --db '" + database_.location() + "'",
                                          database_.directory());
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("no existe ninguna empresa con el código «nadie»"),
              std::string::npos)
        << unknown.err;
}

INSTANTIATE_TEST_SUITE_P(Engines, CompanyReportTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

}  // namespace
}  // namespace tertulia::testing
