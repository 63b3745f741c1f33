// Scripts of chordwellctl simulate: a script of a million lines read and run
// line by line (time and peak memory of the whole command, in a child
// process of its own), and runs of `map` commands, whose cost per command
// must not grow with the number of mappings already in the record.
#include "cli/commands.hpp"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace chordwell {
namespace {

namespace fs = std::filesystem;

fs::path scratchFile(const std::string& name) {
    return fs::temp_directory_path() /
           ("chordwell-bench-" + std::to_string(::getpid()) + "-" + name);
}

// A keyboard with a Control+A copy mapping, intercepted, then blocks of
// typing: Control+A (the mapping fires), a plain B, and waits.
fs::path millionLineScript() {
    static const fs::path path = [] {
        const fs::path file = scratchFile("million.txt");
        std::ofstream out(file);
        out << "keyboard kb vendor=0x05AC product=0x024F name=\"Magic Keyboard\"\n"
               "select kb\nmap copy 0xE0,0x04 copy\nintercept\n";
        std::size_t lines = 4;
        while (lines < 1'000'000) {
            out << "down kb 0xE0\ndown kb 0x04\nwait 1\nup kb 0x04\nup kb 0xE0\n"
                   "down kb 0x05\nup kb 0x05\nwait 1\n";
            lines += 8;
        }
        return file;
    }();
    return path;
}

int runSimulate(std::vector<std::string> args, std::ostream& out) {
    static char program[] = "chordwellctl";
    std::vector<char*> argv{program};
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::istringstream in;
    std::ostringstream err;
    return cli::runCli(static_cast<int>(argv.size() - 1), argv.data(), in, out, err);
}

// The whole command on a million lines, in a child process so that its peak
// memory is its own. Counters: peak_rss_MiB, lines_per_second.
void BM_SimulateMillionLines(benchmark::State& state) {
    const fs::path script = millionLineScript();
    long peakKiB = 0;
    for (auto _ : state) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::ofstream devNull("/dev/null");
            ::_exit(runSimulate({"simulate", script.string()}, devNull));
        }
        int status = 0;
        struct rusage usage {};
        if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("chordwellctl simulate failed");
            return;
        }
        peakKiB = std::max(peakKiB, usage.ru_maxrss);
    }
    state.counters["peak_rss_MiB"] = static_cast<double>(peakKiB) / 1024.0;
    state.counters["lines_per_second"] = benchmark::Counter(
        1'000'000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SimulateMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// N `map` commands in a row, each adding a mapping of its own: the time per
// command (items_per_second) should not fall as N grows.
void BM_SimulateMaps(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const fs::path script = scratchFile("maps-" + std::to_string(count) + ".txt");
    {
        std::ofstream out(script);
        out << "keyboard kb vendor=0x05AC product=0x024F name=\"Magic Keyboard\"\nselect kb\n";
        char line[64];
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(line, sizeof line, "map m%zu 0xE0,0x%zX 8/0x100000\n", i, 4 + i % 200);
            out << line;
        }
    }
    for (auto _ : state) {
        std::ostringstream out;
        if (runSimulate({"simulate", script.string()}, out) != 0) {
            state.SkipWithError("chordwellctl simulate failed");
            break;
        }
    }
    fs::remove(script);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}
BENCHMARK(BM_SimulateMaps)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
} // namespace chordwell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove(chordwell::scratchFile("million.txt"), ignored);
    return 0;
}
