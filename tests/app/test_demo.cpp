// The demo: typed keys reach the simulated keyboard, the pane shows what the
// focused application receives, and the scratch folder keeps the user's own
// data out of reach.
#include "app/demo/demo_keys.hpp"
#include "app/demo/demo_session.hpp"
#include "app/demo/demo_window.hpp"
#include "app/shell/platform_composition.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/sim/sim_world.hpp"

#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using chordwell::app::DemoSession;
using chordwell::app::DemoWindow;

namespace {

const fs::path kDemoResources = fs::path(CHORDWELL_TEST_RESOURCES_DIR) / "demo";

struct DemoWorld {
    DemoWorld() {
        chordwell::logging::configure(std::make_shared<chordwell::platform::NullSystemLog>(),
                                      std::nullopt);
        fs::create_directories(root() / "Mappings");
        fs::copy_file(kDemoResources / "1209-D3E0.json", root() / "Mappings" / "1209-D3E0.json");
        world = std::make_shared<chordwell::platform::sim::SimWorld>(root());
        // As the demo runs: the built-in outputs type this desktop's keys.
        engine = std::make_unique<chordwell::RawKeyboardListener>(
            chordwell::app::simulatedDesktop(world, chordwell::app::BuiltInOutputs::thisDesktop),
            root() / "Mappings");
        chordwell::platform::sim::SimKeyboardProperties demo;
        demo.product = DemoWindow::kKeyboardName;
        demo.vendorID = 0x1209;
        demo.productID = 0xD3E0;
        demo.locationID = 1;
        world->attachKeyboard(demo);
        world->runMainQueue();
        const auto& found = engine->discoveredKeyboards();
        EXPECT_EQ(found.size(), 1u);
        engine->setSelectedDevice(found.front());
        engine->loadMappings(found.front());
        window = std::make_unique<DemoWindow>(*world, *engine);
        window->show();
    }
    ~DemoWorld() {
        window.reset();
        engine.reset();
        chordwell::logging::configure(nullptr, std::nullopt);
    }
    fs::path root() const { return dir.path().toStdString(); }

    QTemporaryDir dir;
    std::shared_ptr<chordwell::platform::sim::SimWorld> world;
    std::unique_ptr<chordwell::RawKeyboardListener> engine;
    std::unique_ptr<DemoWindow> window;
};

} // namespace

TEST(Demo, ControlATypedIntoTheWindowBecomesCopyOnlyWhileIntercepting) {
    DemoWorld d;
    QTest::keyClick(d.window.get(), Qt::Key_A, Qt::ControlModifier);
    const QString passed = d.window->paneText();
    EXPECT_TRUE(passed.contains(QStringLiteral("keyDown A keyCode=0 flags=0x40000")))
        << passed.toStdString();
    EXPECT_FALSE(passed.contains(QStringLiteral("Copy")));

    d.window->clearPane();
    chordwell::toggleInterception(*d.engine);
    ASSERT_TRUE(d.engine->isIntercepting());
    QTest::keyClick(d.window.get(), Qt::Key_A, Qt::ControlModifier);
    const QString mapped = d.window->paneText();
#if defined(__APPLE__)
    EXPECT_TRUE(mapped.contains(QStringLiteral("⌃A → Copy (⌘C)"))) << mapped.toStdString();
    EXPECT_TRUE(mapped.contains(QStringLiteral("keyDown C keyCode=8 flags=0x100000")));
#else
    // In this desktop's words, and what Copy types here.
    EXPECT_TRUE(mapped.contains(QStringLiteral("Ctrl+A → Copy (Ctrl+C)"))) << mapped.toStdString();
    EXPECT_TRUE(mapped.contains(QStringLiteral("keyDown C keyCode=8 flags=0x40000")));
#endif
    EXPECT_FALSE(mapped.contains(QStringLiteral("keyDown A"))) << "the combination is swallowed";
#if !defined(__APPLE__)
    // Every line in Linux words: no Mac modifier glyph anywhere in the pane.
    EXPECT_TRUE(mapped.contains(QStringLiteral("flagsChanged Ctrl keyCode=59")))
        << mapped.toStdString();
    for (const QString& glyph :
         {QStringLiteral("⌃"), QStringLiteral("⌥"), QStringLiteral("⇧"), QStringLiteral("⌘")}) {
        EXPECT_FALSE(mapped.contains(glyph)) << mapped.toStdString();
    }
#endif

    // A key held when the window goes away is let go of, not left down.
    QTest::keyPress(d.window.get(), Qt::Key_S);
    d.window->hide();
    EXPECT_TRUE(d.engine->currentPressedCodes().empty());
}

// The layout menu switches the simulated user's layout: Copy then presses
// the key that types c on it, and the pane names keys by their keycaps.
TEST(Demo, TheLayoutMenuChangesWhatCopyPresses) {
    DemoWorld d;
    auto* menu = d.window->findChild<QComboBox*>(QStringLiteral("demoLayout"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->currentData().toString(), QStringLiteral("us"));
    QStringList names;
    for (int i = 0; i < menu->count(); ++i) {
        names << menu->itemData(i).toString();
    }
    EXPECT_EQ(names, (QStringList{"us", "fr", "de", "dvorak", "ru"}));

    chordwell::toggleInterception(*d.engine);
    struct Case {
        const char* layout;
        const char* copy;
        const char* typedQ; // what the key at the US Q reads
    };
    for (const Case& c : {Case{"dvorak", "keyDown C keyCode=34", "keyDown ' keyCode=12"},
                          Case{"fr", "keyDown C keyCode=8", "keyDown A keyCode=12"},
                          Case{"ru", "keyDown C keyCode=8", "keyDown Q keyCode=12"}}) {
        SCOPED_TRACE(c.layout);
        menu->setCurrentIndex(menu->findData(QString::fromUtf8(c.layout)));
        d.window->clearPane();
        QTest::keyClick(d.window.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(d.window.get(), Qt::Key_Q);
        const QString pane = d.window->paneText();
        EXPECT_TRUE(pane.contains(QString::fromUtf8(c.copy))) << pane.toStdString();
        EXPECT_TRUE(pane.contains(QString::fromUtf8(c.typedQ))) << pane.toStdString();
    }
}

TEST(Demo, TypedKeysBecomeTheUsagesOfARealKeyboard) {
    using chordwell::app::hidUsageForTypedKey;
    struct Case {
        chordwell::app::TypedKey key;
        std::optional<chordwell::HidUsage> usage;
    };
    const Case cases[] = {
        {{Qt::Key_A, 0, 0}, 0x04},
        {{Qt::Key_Z, 0, 0}, 0x1D},
        {{Qt::Key_0, 0, 0}, 0x27},
        {{Qt::Key_9, 0, 0}, 0x26},
        {{Qt::Key_Space, 0, 0}, 0x2C},
        {{Qt::Key_F12, 0, 0}, 0x45},
        {{Qt::Key_Shift, 0, 0}, 0xE1},
        {{Qt::Key_Alt, 0, 0}, 0xE2},
        {{Qt::Key_unknown, 0, 0}, std::nullopt},
#if !defined(__APPLE__)
        {{Qt::Key_Control, 0, 0}, 0xE0},
        {{Qt::Key_Meta, 0, 0}, 0xE3},
#endif
#if defined(CHORDWELL_HAVE_LINUX_ADAPTERS) && !defined(__APPLE__)
        // X11 key codes (evdev + 8) tell the right-hand modifiers apart and
        // do not depend on the layout: 105 is Right Control whatever Qt says.
        {{Qt::Key_Control, 105, 0}, 0xE4},
        {{Qt::Key_Z, 38, 0}, 0x04},
#endif
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hidUsageForTypedKey(c.key), c.usage) << "Qt key " << c.key.qtKey;
    }
}

TEST(Demo, ScratchFolderHoldsTheSamplesAndGoesAwayUnlessKept) {
    std::string error;
    fs::path gone;
    {
        auto session = DemoSession::create(kDemoResources, error);
        ASSERT_TRUE(session) << error;
        gone = session->folder();
        EXPECT_TRUE(fs::is_regular_file(session->folder() / "Mappings" / "1209-D3E0.json"));
        EXPECT_TRUE(fs::is_regular_file(session->script()));
    }
    EXPECT_FALSE(fs::exists(gone));

    fs::path kept;
    {
        auto session = DemoSession::create(kDemoResources, error);
        ASSERT_TRUE(session) << error;
        session->keep(true);
        kept = session->folder();
    }
    EXPECT_TRUE(fs::exists(kept / "Mappings"));
    fs::remove_all(kept);

    EXPECT_FALSE(DemoSession::create(kDemoResources / "missing", error));
    EXPECT_FALSE(error.empty());
}
