#include "service/company_report.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "service/companies.h"

namespace tertulia {

namespace {

constexpr std::int64_t kDay = 86400;

// The middle value, or the mean of the two middle ones.
std::optional<double> Median(std::vector<std::int64_t> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    if (values.size() % 2 == 1) return static_cast<double>(values[half]);
    return (static_cast<double>(values[half - 1]) + static_cast<double>(values[half])) / 2;
}

// The nearest-rank percentile: the least value with at least `percent` of them at or below it.
std::optional<double> Percentile(std::vector<std::int64_t> values, int percent) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t rank = (values.size() * static_cast<std::size_t>(percent) + 99) / 100;
    return static_cast<double>(values[std::max<std::size_t>(rank, 1) - 1]);
}

// A nullable integer column read through COALESCE(column, -1): none for -1.
std::optional<std::int64_t> Nullable(const SqlRows& rows, std::size_t row, std::size_t column) {
    const std::int64_t value = rows.Int(row, column);
    if (value < 0) return std::nullopt;
    return value;
}

}  // namespace

ReportFigures SumUp(const std::vector<ConversationFacts>& conversations) {
    ReportFigures figures;
    std::vector<std::int64_t> firstAnswers;
    std::vector<std::int64_t> lengths;
    std::int64_t answers = 0;
    std::int64_t helped = 0;
    for (const ConversationFacts& facts : conversations) {
        ++figures.conversations;
        if (facts.offline) ++figures.offline;
        if (facts.firstAnswer) {
            ++figures.answered;
            firstAnswers.push_back(*facts.firstAnswer);
        } else if (!facts.open && !facts.offline) {
            ++figures.missed;
        }
        if (facts.length) lengths.push_back(*facts.length);
        if (facts.helped) {
            ++answers;
            if (*facts.helped) ++helped;
        }
    }
    figures.firstAnswerMedian = Median(firstAnswers);
    figures.firstAnswerP90 = Percentile(firstAnswers, 90);
    figures.lengthMedian = Median(lengths);
    if (answers > 0) {
        // To a tenth of a point, as it is shown.
        figures.helpedPercent =
            std::round(1000.0 * static_cast<double>(helped) / static_cast<double>(answers)) / 10;
    }
    return figures;
}

std::optional<CompanyReport> ReadCompanyReport(SqlDatabase& database, const std::string& code,
                                               unsigned days, std::int64_t now) {
    CompanyReport report;
    report.code = code;
    report.dayCount = days;
    const std::int64_t end = (now / kDay + 1) * kDay;
    report.firstDay = end - static_cast<std::int64_t>(days) * kDay;
    // Times are never negative, so -1 stands for NULL. A closed conversation's length runs to its
    // close, or to its last line where an older one has no time of closing.
    const std::optional<SqlRows> rows =
        database.Read([&](SqlConnection& db) -> std::optional<SqlRows> {
            const std::optional<std::int64_t> company = Companies::IdOf(db, code);
            if (!company) return std::nullopt;
            return db.Run(
                "SELECT c.opened_at, c.open, c.offline, COALESCE(c.helped, -1), "
                "COALESCE((SELECT MIN(m.sent_at) FROM messages m "
                "WHERE m.conversation_id = c.id AND m.from_operator = 1), -1), "
                "CASE WHEN c.open = 1 THEN -1 ELSE COALESCE(c.closed_at, (SELECT MAX(m.sent_at) "
                "FROM messages m WHERE m.conversation_id = c.id), c.opened_at) END "
                "FROM conversations c "
                "WHERE c.company_id = ? AND c.opened_at >= ? AND c.opened_at < ? "
                "ORDER BY c.opened_at",
                {*company, report.firstDay, end});
        });
    if (!rows) return std::nullopt;
    std::map<std::int64_t, std::vector<ConversationFacts>> byDay;
    std::vector<ConversationFacts> all;
    for (std::size_t row = 0; row < rows->size(); ++row) {
        ConversationFacts facts;
        facts.openedAt = rows->Int(row, 0);
        facts.open = rows->Int(row, 1) != 0;
        facts.offline = rows->Int(row, 2) != 0;
        if (const auto helped = Nullable(*rows, row, 3)) facts.helped = *helped != 0;
        // A clock set back between two writes leaves no negative span.
        if (const auto answered = Nullable(*rows, row, 4)) {
            facts.firstAnswer = std::max<std::int64_t>(*answered - facts.openedAt, 0);
        }
        if (const auto closed = Nullable(*rows, row, 5)) {
            facts.length = std::max<std::int64_t>(*closed - facts.openedAt, 0);
        }
        byDay[facts.openedAt / kDay * kDay].push_back(facts);
        all.push_back(facts);
    }
    report.total = SumUp(all);
    for (const auto& [start, facts] : byDay) report.days.push_back({start, SumUp(facts)});
    return report;
}

}  // namespace tertulia
