// make soak: random walks with random seeds until the step budget is spent.
// Prints the seed of any failing walk and the script it shrinks to.
//
//   chordwell_walk_soak [--steps N] [--length N] [--seed S] [--every-mode 0|1]
//                       [--world sim|mac] [--script FILE]
//
// With --script it replays one script (a shrunk walk, say) under the walk's
// checks instead.
#include "walk.hpp"

#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    using namespace chordwell;
    std::uint64_t total = 10'000'000;
    std::uint64_t length = 100'000;
    std::optional<std::uint64_t> onlySeed;
    std::string scriptFile;
    bool everyMode = true;
    walk::WalkWorld world = walk::WalkWorld::simulated;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--script") {
            scriptFile = argv[i + 1];
            continue;
        }
        if (flag == "--world") {
            world = std::string(argv[i + 1]) == "mac" ? walk::WalkWorld::macModel
                                                      : walk::WalkWorld::simulated;
            continue;
        }
        const std::uint64_t value = std::strtoull(argv[i + 1], nullptr, 0);
        if (flag == "--steps") {
            total = value;
        } else if (flag == "--length") {
            length = value;
        } else if (flag == "--seed") {
            onlySeed = value;
        } else if (flag == "--every-mode") {
            everyMode = value != 0;
        } else {
            std::cerr << "usage: chordwell_walk_soak [--steps N] [--length N] [--seed S] "
                         "[--every-mode 0|1] [--world sim|mac] [--script FILE]\n";
            return 2;
        }
    }
    logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
    if (!scriptFile.empty()) {
        std::ifstream in(scriptFile);
        if (!in) {
            std::cerr << "cannot read " << scriptFile << "\n";
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        const auto parsed = script::parseScript(text.str());
        if (parsed.error) {
            std::cerr << parsed.error->text() << "\n";
            return 2;
        }
        if (auto failure = walk::playWalk(parsed.commands, world)) {
            std::cout << "FAIL at step " << failure->step << ": " << failure->message << "\n";
            return 1;
        }
        std::cout << "holds\n";
        return 0;
    }
    std::random_device device;
    std::uint64_t done = 0;
    int failures = 0;
    while (done < total) {
        const std::uint64_t seed =
            onlySeed ? *onlySeed : (std::uint64_t{device()} << 32 | device());
        const auto commands = walk::generateWalk(seed, length, everyMode);
        if (auto failure = walk::playWalk(commands, world)) {
            ++failures;
            std::cout << "FAIL seed " << seed << " (--length " << length << " --every-mode "
                      << everyMode << ") at step " << failure->step << ": " << failure->message
                      << "\n";
            const auto shrunk = walk::shrinkWalk(commands, 400, world);
            std::cout << "--- script (" << shrunk.size() << " commands) ---\n"
                      << walk::walkScript(shrunk) << "---\n"
                      << std::flush;
        }
        done += length;
        if (onlySeed) {
            break;
        }
        std::cout << done << " steps, " << failures << " failing walks\n" << std::flush;
    }
    return failures == 0 ? 0 : 1;
}
