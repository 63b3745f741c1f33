// The application's command line and the real-time player of simulate
// scripts.
#include "app/shell/chordwell_app.hpp"
#include "app/shell/simulation_player.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/qt/qt_scheduler.hpp"
#include "platform/sim/sim_world.hpp"
#include "script/script.hpp"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using chordwell::app::AppOptions;
using chordwell::app::parseArguments;
using chordwell::app::SimulationPlayer;

TEST(AppArguments, AcceptedAndRefusedCommandLines) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        std::string scriptOrError;
    };
    const std::vector<Case> cases = {
        {{}, true, ""},
        {{"--simulate", "demo.txt"}, true, "demo.txt"},
        {{"--simulate=demo.txt", "--exit-when-done", "--verbose"}, true, "demo.txt"},
        {{"--simulate", "d", "--screenshot-dir", "out"}, true, "d"},
        {{"--simulate"}, false, "--simulate needs a script file"},
        {{"--simulate="}, false, "--simulate needs a script file"},
        {{"--screenshot-dir", "out"},
         false,
         "--screenshot-dir and --exit-when-done need --simulate or --demo"},
        {{"--exit-when-done"},
         false,
         "--screenshot-dir and --exit-when-done need --simulate or --demo"},
        {{"--demo", "--keep", "--exit-when-done"}, true, ""},
        {{"--keep"}, false, "--keep needs --demo"},
        {{"--demo", "--simulate", "s"}, false, "--demo and --simulate cannot be combined"},
        {{"--frobnicate"}, false, "unknown option: --frobnicate"},
    };
    for (const Case& c : cases) {
        std::string error;
        const std::optional<AppOptions> options = parseArguments(c.args, error);
        ASSERT_EQ(options.has_value(), c.ok) << error;
        if (c.ok) {
            const std::string script =
                options->simulateScript ? options->simulateScript->string() : "";
            EXPECT_EQ(script, c.scriptOrError);
        } else {
            EXPECT_EQ(error, c.scriptOrError);
        }
    }
    std::string error;
    const auto full =
        parseArguments({"--simulate=s", "--screenshot-dir=shots", "--verbose"}, error);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->screenshotDir, std::filesystem::path("shots"));
    EXPECT_TRUE(full->verbose);
    EXPECT_FALSE(full->exitWhenScriptEnds);
    EXPECT_FALSE(full->help);
    for (const char* asked : {"--help", "-h"}) {
        const auto help = parseArguments({asked}, error);
        ASSERT_TRUE(help) << asked;
        EXPECT_TRUE(help->help) << asked;
    }
}

namespace {

struct RealTimeWorld {
    RealTimeWorld() {
        chordwell::logging::configure(std::make_shared<chordwell::platform::NullSystemLog>(),
                                      std::nullopt);
        world = std::make_shared<chordwell::platform::sim::SimWorld>(
            scheduler, std::filesystem::path(dir.path().toStdString()));
        engine = std::make_unique<chordwell::RawKeyboardListener>(
            world, std::filesystem::path(dir.path().toStdString()) / "Mappings");
    }
    ~RealTimeWorld() { chordwell::logging::configure(nullptr, std::nullopt); }

    /// Plays the script and returns the printed lines without their times.
    std::vector<std::string> play(const std::string& text, std::optional<std::string>& error) {
        auto parsed = chordwell::script::parseScript(text);
        EXPECT_FALSE(parsed.error);
        std::vector<std::string> lines;
        SimulationPlayer player(*world, *engine, parsed.commands, [&](const std::string& line) {
            lines.push_back(line.substr(line.find(' ') + 1));
        });
        player.start();
        EXPECT_FALSE(player.isFinished()) << "nothing runs before the event loop does";
        EXPECT_TRUE(QTest::qWaitFor([&] { return player.isFinished(); }, 10000));
        error = player.error();
        return lines;
    }

    QTemporaryDir dir;
    std::shared_ptr<chordwell::platform::qt::QtScheduler> scheduler =
        std::make_shared<chordwell::platform::qt::QtScheduler>();
    std::shared_ptr<chordwell::platform::sim::SimWorld> world;
    std::unique_ptr<chordwell::RawKeyboardListener> engine;
};

} // namespace

TEST(SimulationPlayer, PlaysAScriptInRealTimeAndPrintsWhatReachesTheApplication) {
    RealTimeWorld r;
    std::optional<std::string> error;
    QElapsedTimer clock;
    clock.start();
    const auto lines = r.play("keyboard kb vendor=1 product=2 name=\"Board\"\n"
                              "list\n"
                              "select kb\n"
                              "down kb 0x04\n"
                              "wait 60\n"
                              "up kb 0x04\n"
                              "status\n",
                              error);
    EXPECT_FALSE(error);
    EXPECT_GE(clock.elapsed(), 60) << "wait really waits";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "keyboard \"Board\" vendor=1 product=2",
                         "keyDown A keyCode=0 flags=0x0",
                         "keyUp A keyCode=0 flags=0x0",
                         "status intercepting=false selected=\"Board\"",
                     }));
}

TEST(SimulationPlayer, StopsAtTheFirstFailingCommand) {
    RealTimeWorld r;
    std::optional<std::string> error;
    const auto lines = r.play("keyboard kb\nselect nobody\nlist\n", error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->rfind("line 2: ", 0), 0u) << *error;
    EXPECT_TRUE(lines.empty()) << "the list after the error never ran";
}
