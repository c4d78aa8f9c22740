#include "service/report_text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "service/json_text.h"

namespace tertulia {

namespace {

// YYYY-MM-DD of the UTC day starting at `start` seconds since the epoch.
std::string DayText(std::int64_t start) {
    const std::chrono::sys_days day{std::chrono::days{start / 86400}};
    const std::chrono::year_month_day date{day};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

// Whole numbers without a fraction, others with one decimal.
std::string Number(double value, char decimalPoint) {
    if (value == std::trunc(value)) return std::to_string(static_cast<long long>(value));
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string written = text;
    for (char& c : written) {
        if (c == '.') c = decimalPoint;
    }
    return written;
}

std::string JsonValue(const std::optional<double>& value) {
    return value ? Number(*value, '.') : "null";
}

std::string JsonFigures(const ReportFigures& figures) {
    return "\"conversaciones\": " + std::to_string(figures.conversations) +
           ", \"atendidas\": " + std::to_string(figures.answered) +
           ", \"perdidas\": " + std::to_string(figures.missed) +
           ", \"fuera_de_linea\": " + std::to_string(figures.offline) +
           ", \"primera_respuesta_mediana_s\": " + JsonValue(figures.firstAnswerMedian) +
           ", \"primera_respuesta_p90_s\": " + JsonValue(figures.firstAnswerP90) +
           ", \"duracion_mediana_s\": " + JsonValue(figures.lengthMedian) +
           ", \"ayudados_porcentaje\": " + JsonValue(figures.helpedPercent);
}

std::string Seconds(const std::optional<double>& value) {
    return value ? Number(*value, ',') + " s" : "sin datos";
}

// "  Label:   value", the values lined up whatever the labels' accents.
std::string Line(std::string_view label, const std::string& value) {
    constexpr std::size_t kWidth = 36;
    std::size_t shown = 0;
    for (const char c : label) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++shown;
    }
    return "  " + std::string(label) + ":" +
           std::string(kWidth - std::min(shown, kWidth - 1), ' ') + value + "\n";
}

std::string TextFigures(const std::string& title, const ReportFigures& figures) {
    return title + "\n" + Line("Conversaciones", std::to_string(figures.conversations)) +
           Line("Atendidas", std::to_string(figures.answered)) +
           Line("Perdidas", std::to_string(figures.missed)) +
           Line("Mensajes fuera de línea", std::to_string(figures.offline)) +
           Line("Primera respuesta (mediana)", Seconds(figures.firstAnswerMedian)) +
           Line("Primera respuesta (percentil 90)", Seconds(figures.firstAnswerP90)) +
           Line("Duración (mediana)", Seconds(figures.lengthMedian)) +
           Line("Ayudados", figures.helpedPercent ? Number(*figures.helpedPercent, ',') + " %"
                                                  : std::string("sin respuestas"));
}

}  // namespace

std::string ReportText(const CompanyReport& report) {
    const std::int64_t lastDay =
        report.firstDay + (static_cast<std::int64_t>(report.dayCount) - 1) * 86400;
    std::string text = "Empresa «" + report.code + "», del " + DayText(report.firstDay) + " al " +
                       DayText(lastDay) + " (días UTC)\n\n" + TextFigures("Total", report.total);
    for (const CompanyReport::Day& day : report.days) {
        text += "\n" + TextFigures(DayText(day.start), day.figures);
    }
    return text;
}

std::string ReportJson(const CompanyReport& report) {
    std::string json = "{\"total\": {" + JsonFigures(report.total) + "}, \"dias\": [";
    const char* separator = "";
    for (const CompanyReport::Day& day : report.days) {
        json += separator;
        separator = ", ";
        json +=
            "{\"dia\": " + JsonString(DayText(day.start)) + ", " + JsonFigures(day.figures) + "}";
    }
    return json + "]}\n";
}

}  // namespace tertulia
