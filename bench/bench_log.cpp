// Caller-side cost of one log line above debug: the system-log handle
// lookup, building the file line and queueing it for the writer thread. No
// file I/O happens on the calling thread.
#include "logging/log.hpp"
#include "logging/log_file.hpp"
#include "platform/memory/memory_ports.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::filesystem::path makeTemporaryFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "chordwell-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    return pattern;
}

void BM_LogInfoLine(benchmark::State& state) {
    const auto folder = makeTemporaryFolder();
    chordwell::logging::configure(std::make_shared<chordwell::platform::NullSystemLog>(), folder);
    for (auto _ : state) {
        chordwell::log(chordwell::LogLevel::info,
                       "Loaded 12 mappings for \u201CMagic Keyboard\u201D", "storage");
    }
    // After the loop: not timed.
    chordwell::logging::flush();
    chordwell::logging::configure(nullptr, std::nullopt);
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}
// Batches of 1000 calls keep the writer's queue short, as real logging does.
BENCHMARK(BM_LogInfoLine)->Iterations(1000)->Repetitions(50)->ReportAggregatesOnly(true);

void BM_LogDebugLine(benchmark::State& state) {
    chordwell::logging::configure(std::make_shared<chordwell::platform::NullSystemLog>(),
                                  std::nullopt);
    for (auto _ : state) {
        chordwell::log(chordwell::LogLevel::debug, "Checking device list", "keyboard");
    }
    chordwell::logging::configure(nullptr, std::nullopt);
}
BENCHMARK(BM_LogDebugLine)->Repetitions(10)->ReportAggregatesOnly(true);

void BM_FormatLine(benchmark::State& state) {
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state) {
        auto line = chordwell::logging::LogFile::formatLine(
            now, chordwell::LogLevel::info, "storage", "Loaded 12 mappings for a keyboard");
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_FormatLine);

} // namespace

BENCHMARK_MAIN();
