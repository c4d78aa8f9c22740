#include "service/ready_answers.h"

#include <algorithm>

#include "service/change_feed.h"
#include "service/companies.h"

namespace tertulia {

namespace {

// Counts the change in the company's row and tells the services on the database of it.
void CountChange(SqlConnection& db, std::int64_t company) {
    db.Run("UPDATE companies SET answers_version = answers_version + 1 WHERE id = ?", {company});
    AnnounceAnswers(db, company);
}

// Byte order, the same on both engines whatever the database's collation.
std::vector<StoredAnswer> SortedAnswers(SqlRows& rows) {
    std::vector<StoredAnswer> answers;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        answers.push_back({rows.TakeText(row, 0), rows.TakeText(row, 1)});
    }
    std::sort(answers.begin(), answers.end(),
              [](const StoredAnswer& a, const StoredAnswer& b) { return a.shortcut < b.shortcut; });
    return answers;
}

constexpr const char* kAnswersOf = "SELECT shortcut, text FROM ready_answers WHERE company_id = ?";

}  // namespace

bool ReadyAnswers::Set(const std::string& code, const std::string& shortcut,
                       const std::string& text) {
    return database_.Write([&](SqlConnection& db) {
        const auto company = Companies::IdOf(db, code);
        if (!company) return false;
        db.Run(
            "INSERT INTO ready_answers (company_id, shortcut, text) VALUES (?, ?, ?) "
            "ON CONFLICT (company_id, shortcut) DO UPDATE SET text = excluded.text",
            {*company, std::string_view(shortcut), std::string_view(text)});
        CountChange(db, *company);
        return true;
    });
}

AnswerRemoval ReadyAnswers::Remove(const std::string& code, const std::string& shortcut) {
    return database_.Write([&](SqlConnection& db) {
        const auto company = Companies::IdOf(db, code);
        if (!company) return AnswerRemoval::NoCompany;
        const SqlRows removed = db.Run(
            "DELETE FROM ready_answers WHERE company_id = ? AND shortcut = ? RETURNING shortcut",
            {*company, std::string_view(shortcut)});
        if (removed.empty()) return AnswerRemoval::NoAnswer;
        CountChange(db, *company);
        return AnswerRemoval::Removed;
    });
}

std::optional<std::vector<StoredAnswer>> ReadyAnswers::Of(const std::string& code) {
    auto rows = database_.Read([&](SqlConnection& db) -> std::optional<SqlRows> {
        const auto company = Companies::IdOf(db, code);
        if (!company) return std::nullopt;
        return db.Run(kAnswersOf, {*company});
    });
    if (!rows) return std::nullopt;
    return SortedAnswers(*rows);
}

std::vector<StoredAnswer> ReadyAnswers::Of(std::int64_t companyId) {
    SqlRows rows =
        database_.Read([&](SqlConnection& db) { return db.Run(kAnswersOf, {companyId}); });
    return SortedAnswers(rows);
}

std::int64_t ReadyAnswers::Version(std::int64_t companyId) {
    const SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run("SELECT answers_version FROM companies WHERE id = ?", {companyId});
    });
    return rows.empty() ? 0 : rows.Int(0, 0);
}

}  // namespace tertulia
