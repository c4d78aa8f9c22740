#include "service/process_metrics.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tertulia {

namespace {

double SecondsOf(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

std::optional<ProcessFigures> ReadProcessFigures() {
    std::ifstream file("/proc/self/stat");
    std::string stat;
    if (!std::getline(file, stat)) return std::nullopt;
    // The command name, in parentheses, may hold blanks and parentheses of its own.
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream rest(stat.substr(nameEnd + 1));
    std::vector<std::string> fields;  // from the third, the state, on
    for (std::string field; rest >> field;) fields.push_back(field);
    // Fields by their number in proc(5), counted from 1.
    const auto field = [&](std::size_t number) { return std::stod(fields.at(number - 3)); };
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    ProcessFigures figures;
    try {
        figures.cpuSeconds = (field(14) + field(15)) / ticks;
        figures.threads = static_cast<std::uint64_t>(field(20));
        // The start is counted from the boot; CLOCK_BOOTTIME tells when that was without
        // /proc/stat, which a sandbox may hide.
        const double boot = SecondsOf(CLOCK_REALTIME) - SecondsOf(CLOCK_BOOTTIME);
        figures.startTime = boot + field(22) / ticks;
        figures.virtualBytes = field(23);
        figures.residentBytes = field(24) * static_cast<double>(sysconf(_SC_PAGESIZE));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++figures.openFds;
    }
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) figures.maxFds = files.rlim_cur;
    return figures;
}

void WriteProcessFigures(MetricsPage& page, const ProcessFigures& figures) {
    page.Family("process_cpu_seconds_total", "counter",
                "Segundos de procesador de usuario y de sistema que lleva gastados el proceso.");
    page.Sample("process_cpu_seconds_total", figures.cpuSeconds);
    page.Family("process_resident_memory_bytes", "gauge", "Memoria residente en bytes.");
    page.Sample("process_resident_memory_bytes", figures.residentBytes);
    page.Family("process_virtual_memory_bytes", "gauge", "Memoria virtual en bytes.");
    page.Sample("process_virtual_memory_bytes", figures.virtualBytes);
    page.Family("process_open_fds", "gauge", "Descriptores de archivo abiertos.");
    page.Sample("process_open_fds", static_cast<double>(figures.openFds));
    page.Family("process_max_fds", "gauge", "Máximo de descriptores de archivo abiertos.");
    page.Sample("process_max_fds", static_cast<double>(figures.maxFds));
    page.Family("process_start_time_seconds", "gauge",
                "Momento en que empezó el proceso, en segundos desde la época Unix.");
    page.Sample("process_start_time_seconds", figures.startTime);
    page.Family("process_threads", "gauge", "Hilos del proceso.");
    page.Sample("process_threads", static_cast<double>(figures.threads));
}

}  // namespace tertulia
