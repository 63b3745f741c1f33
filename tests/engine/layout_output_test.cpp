// Outputs that mean characters, on every layout of the simulated world and
// in every mode of it: what the application reads from the keys a built-in
// or a catalog shortcut posts is that shortcut's character with its
// modifiers; a character the layout cannot type keeps its US key.
#include "engine_fixture.hpp"

#include "storage/settings.hpp"
#include "storage/shortcuts.hpp"

#include <filesystem>

namespace chordwell::testing {
namespace {

using platform::sim::DeliveryOrder;
using platform::sim::PostingMode;

struct Entry {
    std::string name;
    OutputBehavior output;                // what the mapping stores
    std::vector<MacKeySignature> meaning; // US keys: what it means
};

std::vector<ShortcutGroup> catalog(const std::filesystem::path& path) {
    return ShortcutsLoader(path).load();
}

// Whether any key of the layout's active group types `c`, plain or shifted.
bool layoutTypes(const KeyLayout& layout, char32_t c) {
    for (std::int64_t code = 0; code < static_cast<std::int64_t>(KeyLayout::kKeyCodeCount);
         ++code) {
        for (auto level : {KeyLayout::Level::plain, KeyLayout::Level::shift}) {
            if (layout.character(0, code, level) == c) {
                return true;
            }
        }
    }
    return false;
}

// The application got `got` for the US key `meant`: does it read the same?
::testing::AssertionResult meansTheSame(const KeyLayout& layout, const MacKeySignature& meant,
                                        const MacKeySignature& got) {
    const auto c = usCharacter(meant.keyCode);
    if (!c || !layoutTypes(layout, *c)) {
        // No character, or one this layout cannot type: the US key.
        if (got == meant) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "expected the US key " << meant.keyCode << " flags " << meant.modifiers
               << ", got " << got.keyCode << " flags " << got.modifiers;
    }
    // The same modifiers, but for a Shift the layout needs to type it.
    const EventFlags others = ~kMaskShift;
    const bool shiftKept = (meant.modifiers & kMaskShift) == 0 || (got.modifiers & kMaskShift);
    if ((got.modifiers & others) != (meant.modifiers & others) || !shiftKept) {
        return ::testing::AssertionFailure()
               << "modifiers " << got.modifiers << " for " << meant.modifiers;
    }
    // The key types it at the level the flags choose; a shortcut that holds
    // Shift itself may also name the key by its plain character.
    const bool typed = layout.typedCharacter(got.keyCode, got.modifiers) == *c ||
                       ((meant.modifiers & kMaskShift) &&
                        layout.typedCharacter(got.keyCode, got.modifiers & others) == *c);
    if (!typed) {
        return ::testing::AssertionFailure() << "key " << got.keyCode << " does not type U+"
                                             << std::hex << static_cast<std::uint32_t>(*c);
    }
    return ::testing::AssertionSuccess();
}

class LayoutOutputTest : public EngineTest, public ::testing::WithParamInterface<WorldMode> {
protected:
    // Control+A bound to `output`; pressed once, the keys it posted.
    std::vector<MacKeySignature> post(SimKeyboard& kb, const OutputBehavior& output) {
        engine().mutateAllDeviceMappings([&](std::vector<DeviceMapping>& records) {
            records.front().mappings = {makeMapping({0xE0, 0x04}, output)};
        });
        world_->runMainQueue();
        world_->clearAppEvents();
        world_->keyDown(kb, 0xE0);
        world_->keyDown(kb, 0x04);
        world_->keyUp(kb, 0x04);
        world_->keyUp(kb, 0xE0);
        world_->runMainQueue();
        std::vector<MacKeySignature> posted;
        for (const AppEvent& e : world_->appEvents()) {
            if (e.synthetic && e.type == platform::EventType::keyDown) {
                posted.push_back(MacKeySignature{e.keyCode, e.flags});
            }
        }
        return posted;
    }
};

TEST_P(LayoutOutputTest, BuiltInsAndEveryCatalogEntryMeanTheirCharacterOnEveryLayout) {
    setPreference(settings::kKeyRepeatEnabled, false);
    addRecord({});
    auto kb = attach();
    intercept(listed(kb));
    world_->setPostingMode(GetParam().posting);
    world_->setDeliveryOrder(GetParam().order, 11);

    std::vector<Entry> entries;
    for (const OutputBehavior& builtIn :
         {OutputBehavior::openSearchBar(), OutputBehavior::copyOperation(),
          OutputBehavior::pasteOperation()}) {
        const auto stroke = *world_->eventPoster().builtInShortcut(builtIn.kind());
        entries.push_back(
            Entry{"built-in", builtIn, {MacKeySignature{stroke.keyCode, stroke.flags}}});
    }
    const std::filesystem::path resources(CHORDWELL_TEST_RESOURCES_DIR);
    std::size_t catalogItems = 0;
    for (const auto& path :
         {resources / "shortcuts.json", resources / "linux" / "shortcuts.json"}) {
        for (const ShortcutGroup& group : catalog(path)) {
            for (const ShortcutItem& item : group.items) {
                ++catalogItems;
                entries.push_back(Entry{item.name, item.outputBehavior(), item.signatures()});
            }
        }
    }
    ASSERT_GT(catalogItems, 100u);

    for (std::string_view name : platform::sim::simLayoutNames()) {
        ASSERT_TRUE(world_->layout().select(name));
        world_->runMainQueue();
        const KeyLayout& layout = *engine().keyboardLayout();
        ASSERT_EQ(layout.name(), name);
        for (const Entry& entry : entries) {
            SCOPED_TRACE(std::string(name) + ": " + entry.name);
            // What the editor stores when the entry is picked; built-ins
            // are stored as they are and resolved when posted.
            OutputBehavior stored = entry.output;
            if (stored.kind() == OutputBehavior::Kind::customKeySequence) {
                stored = OutputBehavior::customKeySequence(
                    stored.name(), engine().resolvedForKeyboardLayout(stored.signatures()));
            }
            const auto posted = post(*kb, stored);
            ASSERT_EQ(posted.size(), entry.meaning.size());
            for (std::size_t i = 0; i < posted.size(); ++i) {
                EXPECT_TRUE(meansTheSame(layout, entry.meaning[i], posted[i])) << "key " << i;
                if (name == "us") {
                    EXPECT_EQ(posted[i], entry.meaning[i]);
                }
            }
        }
        EXPECT_EQ(world_->keysDownAtApplication(), 0u);
    }
}

TEST_P(LayoutOutputTest, CopyAndPasteFollowTheLayoutAsItChanges) {
    setPreference(settings::kKeyRepeatEnabled, false);
    addRecord({});
    auto kb = attach();
    intercept(listed(kb));
    world_->setPostingMode(GetParam().posting);
    world_->setDeliveryOrder(GetParam().order, 5);
    struct Case {
        const char* layout;
        std::int64_t copy;
        std::int64_t paste;
    };
    // Dvorak types c at the US I and v at the US period; AZERTY and QWERTZ
    // keep both; Russian types neither, so the US keys stand.
    for (const Case& c : {Case{"dvorak", 34, 47}, Case{"fr", 8, 9}, Case{"ru", 8, 9},
                          Case{"de", 8, 9}, Case{"dvorak", 34, 47}, Case{"us", 8, 9}}) {
        SCOPED_TRACE(c.layout);
        ASSERT_TRUE(world_->layout().select(c.layout));
        EXPECT_EQ(post(*kb, OutputBehavior::copyOperation()),
                  (std::vector<MacKeySignature>{{c.copy, kMaskCommand}}));
        EXPECT_EQ(post(*kb, OutputBehavior::pasteOperation()),
                  (std::vector<MacKeySignature>{{c.paste, kMaskCommand}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, LayoutOutputTest, ::testing::ValuesIn(kEveryWorldMode));

// A changed layout is announced, once, and only when it changed.
TEST_F(EngineTest, ALayoutChangeIsAnnouncedOnce) {
    int announced = 0;
    auto watch = engine().subscribeChanges([&](const EngineChanges& changes) {
        announced += changes.contains(EngineChange::keyboardLayout) ? 1 : 0;
    });
    world_->layout().select("us");
    EXPECT_EQ(announced, 0);
    world_->layout().select("fr");
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(engine().keyboardLayout()->name(), "fr");
    const auto copy = engine().builtInStroke(OutputBehavior::Kind::copyOperation);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->keyCode, 8);
    EXPECT_EQ(copy->flags, kMaskCommand);
    EXPECT_FALSE(world_->layout().select("xx"));
    EXPECT_EQ(announced, 1);
}

} // namespace
} // namespace chordwell::testing
