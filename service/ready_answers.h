#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/sql_database.h"

namespace tertulia {

// One of a company's ready answers as stored: its shortcut in lower case, its text UTF-8 with
// "\n" between lines.
struct StoredAnswer {
    std::string shortcut;
    std::string text;
    bool operator==(const StoredAnswer&) const = default;
};

enum class AnswerRemoval { Removed, NoCompany, NoAnswer };

// The ready answers that a company's operators share. Every change counts in the company's
// answers version and is announced on the change feed, so that the event streams of every
// service on the database tell their consoles.
class ReadyAnswers {
  public:
    explicit ReadyAnswers(SqlDatabase& database) : database_(database) {}

    // Stores the answer, replacing one with the same shortcut; false when there is no such
    // company. The shortcut and text are taken as they are (see company_setup.h).
    bool Set(const std::string& code, const std::string& shortcut, const std::string& text);
    AnswerRemoval Remove(const std::string& code, const std::string& shortcut);
    // Sorted by shortcut; nothing when there is no such company.
    std::optional<std::vector<StoredAnswer>> Of(const std::string& code);
    std::vector<StoredAnswer> Of(std::int64_t companyId);
    // Grows with every change of the company's answers.
    std::int64_t Version(std::int64_t companyId);

  private:
    SqlDatabase& database_;
};

}  // namespace tertulia
