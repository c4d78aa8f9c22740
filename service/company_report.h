#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/sql_database.h"

namespace tertulia {

// What one conversation tells a company's figures.
struct ConversationFacts {
    std::int64_t openedAt = 0;  // seconds since the epoch
    bool open = false;
    bool offline = false;                     // left with the offline form
    std::optional<std::int64_t> firstAnswer;  // seconds from its opening to its first operator line
    std::optional<std::int64_t> length;  // seconds from its opening to its close; none while open
    std::optional<bool> helped;          // the visitor's answer to "were you helped?"
};

// The figures of a set of conversations. Missed ones are those closed without an operator line,
// the offline form's messages apart (those count as offline). Seconds and the percentage are
// none where there is nothing to measure.
struct ReportFigures {
    std::int64_t conversations = 0;
    std::int64_t answered = 0;
    std::int64_t missed = 0;
    std::int64_t offline = 0;
    std::optional<double> firstAnswerMedian;
    std::optional<double> firstAnswerP90;
    std::optional<double> lengthMedian;
    std::optional<double> helpedPercent;  // of those who answered the question
};

ReportFigures SumUp(const std::vector<ConversationFacts>& conversations);

// A company's figures over whole UTC days, each conversation counted on the day it was opened.
struct CompanyReport {
    struct Day {
        std::int64_t start = 0;  // seconds since the epoch of its 00:00 UTC
        ReportFigures figures;
    };
    std::string code;
    std::int64_t firstDay = 0;  // as Day::start
    unsigned dayCount = 0;
    ReportFigures total;
    std::vector<Day> days;  // in order; only those on which a conversation was opened
};

// The last `days` days up to the one of `now` (seconds since the epoch) included; none when
// the company does not exist.
std::optional<CompanyReport> ReadCompanyReport(SqlDatabase& database, const std::string& code,
                                               unsigned days, std::int64_t now);

}  // namespace tertulia
