// MD5 digest text throughput over text in memory and over a memory stream.

#include <benchmark/benchmark.h>

#include <string>

#include "base/md5.h"
#include "base/stream.h"

namespace {

void Md5OfString(benchmark::State& state) {
    const std::string text(static_cast<std::size_t>(state.range(0)), '\xA5');
    for (auto _ : state) benchmark::DoNotOptimize(tertulia::Md5TextOfString(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(Md5OfString)->Arg(32)->Arg(64 * 1024)->Arg(16 * 1024 * 1024);

void Md5OfStream(benchmark::State& state) {
    tertulia::MemoryStream stream(std::string(16 * 1024 * 1024, '\x5A'));
    for (auto _ : state) {
        stream.Seek(0);
        benchmark::DoNotOptimize(tertulia::Md5TextOfStream(stream));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.Size()));
}
BENCHMARK(Md5OfStream);

}  // namespace

BENCHMARK_MAIN();
