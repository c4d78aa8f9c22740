#include "service/metrics.h"

#include <algorithm>

namespace tertulia {

void RequestMetrics::Answered(std::string_view route, int status, double seconds) {
    const auto bucket = std::lower_bound(kBuckets.begin(), kBuckets.end(), seconds);
    std::lock_guard lock(mutex_);
    auto it = routes_.find(route);
    if (it == routes_.end()) it = routes_.emplace(std::string(route), Route{}).first;
    Route& counted = it->second;
    ++counted.statuses[status];
    if (bucket != kBuckets.end()) ++counted.buckets[bucket - kBuckets.begin()];
    ++counted.count;
    counted.seconds += seconds;
}

void RequestMetrics::Write(MetricsPage& page) const {
    std::lock_guard lock(mutex_);
    page.Family("tertulia_http_requests_total", "counter",
                "Peticiones HTTP respondidas, por ruta y código de estado.");
    for (const auto& [route, counted] : routes_) {
        for (const auto& [status, count] : counted.statuses) {
            const std::string code = std::to_string(status);
            page.Sample("tertulia_http_requests_total", {{"route", route}, {"code", code}},
                        static_cast<double>(count));
        }
    }
    page.Family("tertulia_http_request_duration_seconds", "histogram",
                "Segundos desde la cabecera completa de la petición hasta la entrega de su "
                "respuesta, por ruta.");
    for (const auto& [route, counted] : routes_) {
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i < kBuckets.size(); ++i) {
            cumulative += counted.buckets[i];
            const std::string bound = MetricNumber(kBuckets[i]);
            page.Sample("tertulia_http_request_duration_seconds_bucket",
                        {{"route", route}, {"le", bound}}, static_cast<double>(cumulative));
        }
        page.Sample("tertulia_http_request_duration_seconds_bucket",
                    {{"route", route}, {"le", "+Inf"}}, static_cast<double>(counted.count));
        page.Sample("tertulia_http_request_duration_seconds_sum", {{"route", route}},
                    counted.seconds);
        page.Sample("tertulia_http_request_duration_seconds_count", {{"route", route}},
                    static_cast<double>(counted.count));
    }
}

void FirstResponseMetrics::Answered(double seconds) {
    const auto bucket = std::lower_bound(kBuckets.begin(), kBuckets.end(), seconds);
    std::lock_guard lock(mutex_);
    if (bucket != kBuckets.end()) ++buckets_[bucket - kBuckets.begin()];
    ++count_;
    seconds_ += seconds;
}

void FirstResponseMetrics::Write(MetricsPage& page) const {
    std::lock_guard lock(mutex_);
    page.Family("tertulia_first_response_seconds", "histogram",
                "Segundos desde que se abre una conversación hasta la primera línea de un "
                "operador, de las respondidas por este servicio.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        cumulative += buckets_[i];
        page.Sample("tertulia_first_response_seconds_bucket", {{"le", MetricNumber(kBuckets[i])}},
                    static_cast<double>(cumulative));
    }
    page.Sample("tertulia_first_response_seconds_bucket", {{"le", "+Inf"}},
                static_cast<double>(count_));
    page.Sample("tertulia_first_response_seconds_sum", seconds_);
    page.Sample("tertulia_first_response_seconds_count", static_cast<double>(count_));
}

void WriteServiceFigures(MetricsPage& page, const ServiceFigures& figures) {
    page.Family("tertulia_open_streams", "gauge",
                "Flujos de eventos abiertos, de visitantes y de consolas de operador.");
    page.Sample("tertulia_open_streams", {{"kind", "visitante"}},
                static_cast<double>(figures.visitorStreams));
    page.Sample("tertulia_open_streams", {{"kind", "operador"}},
                static_cast<double>(figures.operatorStreams));
    if (figures.waitingConversations) {
        page.Family("tertulia_waiting_conversations", "gauge",
                    "Conversaciones abiertas, de todas las empresas de la base de datos, en las "
                    "que ningún operador ha escrito todavía.");
        page.Sample("tertulia_waiting_conversations",
                    static_cast<double>(*figures.waitingConversations));
    }
    page.Family("tertulia_logins_refused_total", "counter",
                "Inicios de sesión de operador rechazados, por motivo: credenciales (empresa o "
                "contraseña incorrectas), espera (tras fallos seguidos), ocupado (demasiadas "
                "comprobaciones de contraseña a la vez).");
    page.Sample("tertulia_logins_refused_total", {{"reason", "credenciales"}},
                static_cast<double>(figures.refusedCredentials));
    page.Sample("tertulia_logins_refused_total", {{"reason", "espera"}},
                static_cast<double>(figures.refusedWaiting));
    page.Sample("tertulia_logins_refused_total", {{"reason", "ocupado"}},
                static_cast<double>(figures.refusedBusy));
    page.Family("tertulia_database_errors_total", "counter",
                "Transacciones con la base de datos que han fallado, las que no han respondido a "
                "tiempo incluidas.");
    page.Sample("tertulia_database_errors_total", static_cast<double>(figures.databaseFailures));
    page.Family("tertulia_database_reconnections_total", "counter",
                "Conexiones con la base de datos hechas de nuevo tras perderse o abandonarse, la "
                "que escucha las notificaciones incluida.");
    page.Sample("tertulia_database_reconnections_total",
                static_cast<double>(figures.databaseReconnections));
}

}  // namespace tertulia
