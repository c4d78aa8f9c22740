// Rendering of a large transcript against the literal step-by-step reference: time, the ratio
// between them, and peak memory per input byte at growing sizes (it must stay flat).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <string>

#include "protocol/transcript_rendering.h"
#include "tests/protocol/transcript_reference.h"

namespace {

// Heap accounting for the peak-memory counter.
std::atomic<std::size_t> gLiveBytes{0};
std::atomic<std::size_t> gPeakBytes{0};

void* Allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    const std::size_t live = gLiveBytes += malloc_usable_size(p);
    std::size_t peak = gPeakBytes.load();
    while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
    }
    return p;
}

void Release(void* p) {
    if (p == nullptr) return;
    gLiveBytes -= malloc_usable_size(p);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}

namespace {

// A transcript as the service writes it: a bold speaker and time, Spanish text with its
// accents as entities, now and then quotes, ampersands, "<" and an encoded entity, "<br>" at
// the end of every line.
std::string RealisticTranscript(std::size_t size) {
    static const char* const kSpeakers[] = {"<b>Operador (10:32:15)</b>: ",
                                            "<b>Visitante (10:32:40)</b>: "};
    static const char* const kPhrases[] = {
        "Hola, &iquest;en qu&eacute; puedo ayudarle? ",
        "Quer&iacute;a saber el estado de mi pedido n&uacute;mero 4711. ",
        "El env&iacute;o sali&oacute; ayer &amp; llegar&aacute; ma&ntilde;ana. ",
        "&iexcl;Muchas gracias! ",
        "La factura dice &quot;pendiente&quot;, &iquest;es correcto? ",
        "S&iacute;, el importe es 25&nbsp;&euro; &lt; 30 &euro;. ",
        "Escriba a soporte@example.com para la devoluci&oacute;n. ",
        "Un momento, por favor... ",
        "El c&oacute;digo &amp;lt;ABC&amp;gt; no aparece. ",
        "Perfecto, que tenga un buen d&iacute;a. ",
    };
    std::mt19937 random(42);
    std::uniform_int_distribution<int> phrases(1, 3);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPhrases) - 1);
    std::string text;
    text.reserve(size + 512);
    for (int line = 0; text.size() < size; ++line) {
        text += kSpeakers[line % 2];
        for (int i = phrases(random); i > 0; --i) text += kPhrases[pick(random)];
        text += "<br>";
    }
    text.resize(size);
    return text;
}

constexpr std::size_t kMiB = 1024 * 1024;

template <std::string (*Render)(std::string_view)>
void RenderBenchmark(benchmark::State& state) {
    const std::string transcript = RealisticTranscript(static_cast<std::size_t>(state.range(0)));
    const std::size_t baseline = gLiveBytes.load();
    gPeakBytes = baseline;
    for (auto _ : state) {
        std::string rendered = Render(transcript);
        benchmark::DoNotOptimize(rendered.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * transcript.size()));
    state.counters["peak_heap_per_input_byte"] =
        static_cast<double>(gPeakBytes.load() - baseline) / static_cast<double>(transcript.size());
}

BENCHMARK_TEMPLATE(RenderBenchmark, tertulia::RenderizarTranscripcion)
    ->Name("Rendering")
    ->RangeMultiplier(2)
    ->Range(1 * kMiB, 8 * kMiB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(RenderBenchmark, tertulia::reference::RenderizarTranscripcion)
    ->Name("Reference")
    ->Arg(8 * kMiB)
    ->Unit(benchmark::kMillisecond);

// Keeps the console output and remembers each run's time, to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            times_[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatio() const {
        const std::string size = "/" + std::to_string(8 * kMiB);
        const auto ours = times_.find("Rendering" + size);
        const auto reference = times_.find("Reference" + size);
        if (ours == times_.end() || reference == times_.end()) return;
        // CPU time is the fairer figure on a machine that other work shares.
        std::printf(
            "8 MiB transcript, reference time / rendering time: %.1fx (CPU), %.1fx (wall)\n",
            reference->second.cpu / ours->second.cpu, reference->second.real / ours->second.real);
    }

  private:
    struct Times {
        double real;
        double cpu;
    };
    std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio();
    benchmark::Shutdown();
    return 0;
}
