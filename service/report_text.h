#pragma once

#include <string>

#include "service/company_report.h"

namespace tertulia {

// The report as the administrator reads it, in Spanish, a block of figures for the whole period
// and one for each day with conversations.
std::string ReportText(const CompanyReport& report);

// {"total": {...}, "dias": [{"dia": "2026-12-07", ...}]}, the figures under their Spanish keys,
// null where there is nothing to measure.
std::string ReportJson(const CompanyReport& report);

}  // namespace tertulia
