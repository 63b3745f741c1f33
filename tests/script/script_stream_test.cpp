// Scripts of any length: read piece by piece, messages that quote only a
// glimpse of what they refuse, waits that cannot print without end, and
// runs of adds saved once.
#include "script/script.hpp"

#include "logging/log.hpp"
#include "model/display_text.hpp"
#include "model/json_codec.hpp"
#include "platform/memory/memory_ports.hpp"
#include "storage/storage_manager.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace chordwell::script {
namespace {

using platform::sim::SimWorld;

std::string formatted(const std::vector<ScriptCommand>& commands) {
    std::string text;
    for (const ScriptCommand& c : commands) {
        text += std::to_string(c.line) + ": " + formatCommand(c) + "\n";
    }
    return text;
}

// Whatever the pieces a script arrives in (a pipe hands over any split, a
// line may straddle pieces, "\r\n" may be cut in two), the reader sees the
// commands and the error that reading the whole text gives.
TEST(ScriptReader, AnySplitIntoPiecesReadsLikeTheWholeText) {
    const std::vector<std::string> lines = {
        "keyboard kb vendor=0x05AC product=591 name=\"Magic \\\"K\\\" #1\" # note",
        "select kb",
        "",
        "# only a comment",
        "  down kb 0xE0\r",
        "map copy 0xE0,0x04 copy",
        "map seq - 8/0x100000,9",
        "wait 20",
        "set key_repeat_interval=0.05",
        "order random 7",
        "up kb 4",
    };
    std::mt19937 random(24);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t count = random() % 30;
        for (std::size_t i = 0; i < count; ++i) {
            text += lines[random() % lines.size()] + "\n";
        }
        if (random() % 4 == 0) {
            text += "wait 1x"; // an error, without a final newline
        } else if (random() % 4 == 0) {
            text += "status"; // a last line without a newline
        }
        const ParsedScript whole = parseScript(text);

        ScriptReader reader;
        std::vector<ScriptCommand> read;
        const auto collect = [&](const ScriptCommand& c) -> std::optional<ScriptError> {
            read.push_back(c);
            return std::nullopt;
        };
        std::optional<ScriptError> error;
        for (std::size_t at = 0; at < text.size() && !error;) {
            const std::size_t size = std::min<std::size_t>(1 + random() % 12, text.size() - at);
            error = reader.feed(std::string_view(text).substr(at, size), collect);
            at += size;
        }
        if (!error) {
            error = reader.finish(collect);
        }
        ASSERT_EQ(formatted(read), formatted(whole.commands)) << text;
        ASSERT_EQ(error.has_value(), whole.error.has_value()) << text;
        if (error) {
            EXPECT_EQ(error->text(), whole.error->text());
        }
    }
}

TEST(ScriptReader, AnErrorOfTheReceiverStopsTheReading) {
    ScriptReader reader;
    int seen = 0;
    const auto stopAtSecond = [&](const ScriptCommand& c) -> std::optional<ScriptError> {
        return ++seen == 2 ? std::optional<ScriptError>(ScriptError{c.line, "no"}) : std::nullopt;
    };
    const auto error = reader.feed("list\nstatus\nlist\n", stopAtSecond);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text(), "line 2: no");
    EXPECT_EQ(seen, 2);
    EXPECT_TRUE(reader.feed("list\n", stopAtSecond)) << "nothing is read after an error";
    EXPECT_EQ(seen, 2);
}

// Messages quote what they refuse, escaped and cut to a glimpse: a line of
// megabytes must not come back as a message of megabytes.
TEST(ScriptReader, MessagesQuoteAGlimpseOfTheText) {
    struct Case {
        std::string script;
        std::string start; // of the message
        std::size_t maxLength;
    };
    const std::string huge(1 << 20, '[');
    const Case cases[] = {
        {huge.substr(0, 60'000) + "\n", "line 1: unknown command \"[[[[", 140},
        {huge + "\n", "line 1: line longer than 65536 bytes", 60},
        {"list\n" + huge, "line 2: line longer than 65536 bytes", 60},
        {"wait " + std::string(5000, '9') + "x", "line 1: bad number \"9999", 140},
        {"keyboard kb name=\"" + huge.substr(0, 4000), "line 1: unterminated string", 40},
        {"select \x1b[2J\xc2\x9b\xe2\x80\xae\n", "line 1: unknown keyboard \"\\u001b[2J", 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        std::optional<ScriptError> error;
        const ParsedScript parsed = parseScript(c.script);
        if (parsed.error) {
            error = parsed.error;
        } else {
            // Errors of running the command quote the same way.
            auto world = std::make_shared<SimWorld>();
            RawKeyboardListener engine(world, std::optional<StorageManager>{});
            ScriptRunner runner(*world, engine, nullptr);
            error = runner.run(parsed.commands);
        }
        ASSERT_TRUE(error);
        const std::string text = error->text();
        EXPECT_EQ(text.rfind(c.start, 0), 0u) << text.substr(0, 200);
        EXPECT_LE(text.size(), c.maxLength) << text.substr(0, 200);
        EXPECT_EQ(terminalSafe(text), text) << "escaped";
    }
}

class ScriptStreamRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
        folder = std::filesystem::temp_directory_path() /
                 ("chordwell-script-test-" + Uuid::random().toString());
        world = std::make_shared<SimWorld>(folder);
        engine = std::make_unique<RawKeyboardListener>(world);
        world->runMainQueue();
        runner = std::make_unique<ScriptRunner>(
            *world, *engine, [this](const std::string& line) { output.push_back(line); });
    }
    void TearDown() override {
        runner.reset();
        engine.reset();
        world.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::optional<ScriptError> play(const std::string& text) {
        const ParsedScript parsed = parseScript(text);
        EXPECT_FALSE(parsed.error) << parsed.error->text();
        for (const ScriptCommand& c : parsed.commands) {
            if (auto error = runner->execute(c)) {
                return error;
            }
        }
        return std::nullopt;
    }

    // The names of the mappings in the model's file, or nothing without one.
    std::optional<std::vector<std::string>> namesOnDisk() const {
        std::ifstream in(engine->storage()->folder() / StorageManager::fileName(0x05AC, 0x024F));
        if (!in) {
            return std::nullopt;
        }
        std::stringstream text;
        text << in.rdbuf();
        auto record = decodeDeviceMappingText(text.str());
        EXPECT_TRUE(record.ok()) << record.error();
        std::vector<std::string> names;
        for (const KeyMapping& m : record.value().mappings) {
            names.push_back(m.name);
        }
        return names;
    }

    std::filesystem::path folder;
    std::shared_ptr<SimWorld> world;
    std::unique_ptr<RawKeyboardListener> engine;
    std::unique_ptr<ScriptRunner> runner;
    std::vector<std::string> output;
};

// A held key whose mapping repeats, over a wait of three hundred years: the
// wait stops after a stated number of events with a line that says why.
TEST_F(ScriptStreamRunTest, AWaitStopsAfterItsShareOfEvents) {
    const auto error =
        play("keyboard kb vendor=0x05AC product=0x024F\nselect kb\nmap c 0x04 copy\nintercept\n"
             "down kb 0x04\nwait 9300000000000\nstatus\n");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, 6);
    EXPECT_NE(error->message.find("more than 100000 events"), std::string::npos) << error->message;
    EXPECT_GT(output.size(), ScriptRunner::kMaxEventsPerWait);
    EXPECT_LE(output.size(), ScriptRunner::kMaxEventsPerWait + 4);
    // Below the share, a long wait with the same key held runs to its end.
    output.clear();
    EXPECT_FALSE(play("up kb 0x04\ndown kb 0x04\nwait 60000\nup kb 0x04\n"));
    EXPECT_EQ(output.back().rfind(std::to_string(runner->elapsedMilliseconds()), 0), 0u);
}

// The runner's own output escapes what names carry: the application prints
// these lines as they are.
TEST_F(ScriptStreamRunTest, ListAndStatusEscapeNames) {
    EXPECT_FALSE(play("keyboard kb name=\"A\\\"\x1b[2J\x07\r\xc2\x85\xc2\x9b\xe2\x80\xae\xff\"\n"
                      "select kb\nlist\nstatus\n"));
    ASSERT_EQ(output.size(), 2u);
    const std::string name = "\"A\\\"\\u001b[2J\\u0007\\r\\u0085\\u009b\\u202e\\xff\"";
    EXPECT_EQ(output[0], "0 keyboard " + name + " vendor=-1 product=-1");
    EXPECT_EQ(output[1], "0 status intercepting=false selected=" + name);
}

// With batched saves a run of adds is written once, when something else
// comes; without, each change is saved at once. Memory holds every add
// either way.
TEST_F(ScriptStreamRunTest, ARunOfAddsIsSavedOnceWhenBatched) {
    using Names = std::vector<std::string>;
    EXPECT_FALSE(play("keyboard kb vendor=0x05AC product=0x024F\nselect kb\nmap a 0x04 copy\n"));
    EXPECT_EQ(namesOnDisk(), Names{"a"}) << "saved at once by default";

    runner->setBatchedSaves(true);
    EXPECT_FALSE(play("map b 0x05 copy\nmap c 0x06 paste\n"));
    EXPECT_TRUE(runner->hasUnsavedChanges());
    EXPECT_EQ(namesOnDisk(), Names{"a"});
    EXPECT_EQ(engine->allDeviceMappings().at(0).mappings.size(), 3u);
    EXPECT_FALSE(play("list\n"));
    EXPECT_FALSE(runner->hasUnsavedChanges());
    EXPECT_EQ(namesOnDisk(), (Names{"a", "b", "c"}));

    // An edit, a delete or the end of the runner saves what waits.
    EXPECT_FALSE(play("map d 0x07 copy\nmap a 0x08 paste\nwait 100\n"));
    EXPECT_EQ(namesOnDisk(), (Names{"a", "b", "c", "d"}));
    EXPECT_FALSE(play("map e 0x09 copy\nunmap b\n"));
    EXPECT_EQ(namesOnDisk(), (Names{"a", "c", "d", "e"}));
    EXPECT_FALSE(play("map f 0x0A copy\n"));
    runner.reset();
    EXPECT_EQ(namesOnDisk(), (Names{"a", "c", "d", "e", "f"}));
}

// Adding and editing by name stays right whatever else changed the record
// (deleting, clearing, loading another model, an edit finishing).
TEST_F(ScriptStreamRunTest, MapFindsMappingsByNameAfterAnyChange) {
    runner->setBatchedSaves(true);
    EXPECT_FALSE(play("keyboard kb vendor=0x05AC product=0x024F location=1\n"
                      "keyboard o vendor=1 product=2 location=2\n"
                      "select kb\nmap a 0x04 copy\nmap b 0x05 copy\nunmap a\nmap a 0x06 copy\n"
                      "map b 0x07 paste\nmap c 0x08 copy\nselect o\nmap a 0x04 copy\n"
                      "select kb\nmap c 0x09 paste\nclear\nmap b 0x0A copy\nmap b 0x0B copy\n"
                      "wait 100\n"));
    const auto& mappings = engine->allDeviceMappings().at(0).mappings;
    ASSERT_EQ(mappings.size(), 1u);
    EXPECT_EQ(mappings[0].name, "b");
    EXPECT_EQ(mappings[0].inputKeyCodes, std::vector<HidUsage>{0x0B});
    EXPECT_EQ(namesOnDisk(), std::vector<std::string>{"b"});
}

} // namespace
} // namespace chordwell::script
