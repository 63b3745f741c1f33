// The keyboard the application comes back to: what one run remembers (the
// selected keyboard, whether it intercepted) is restored by the next, at once
// when the keyboard is attached and as soon as it comes otherwise; the
// setting "Resume mappings at launch" turns that off. The main window says
// what it waits for.
#include "app_test_support.hpp"
#include "test_diagnostics_fakes.hpp"

#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/settings/settings_view.hpp"
#include "app/shell/engine_bridge.hpp"
#include "app/shell/keyboard_memory.hpp"
#include "app/shell/main_window.hpp"
#include "platform/qt/qt_desktop.hpp"
#include "storage/settings.hpp"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <variant>

namespace chordwell::app {
namespace {

using testing::makeMapping;
using testing::makeRecord;
using testing::ModelWorld;

// One run of the application: a world, its engine and the memory of the
// keyboard, with preferences carried over from the run before.
struct AppRun {
    explicit AppRun(const platform::MemoryPreferences* before = nullptr) {
        if (before != nullptr) {
            for (const char* key : {settings::kLastKeyboard, settings::kResumeMappingsAtLaunch}) {
                if (auto value = before->value(key)) {
                    w.preferences.setValue(key, *value);
                }
            }
        }
        w.writeMappingFile(
            0x05AC, 0x024F,
            makeRecord("Magic Keyboard", 0x05AC, 0x024F, {makeMapping("Copy", {0xE0, 0x04})}));
        memory = std::make_unique<KeyboardMemory>(*w.engine, w.preferences);
    }
    std::shared_ptr<platform::sim::SimKeyboard> attachMagic() {
        return w.attach("Magic Keyboard", 0x05AC, 0x024F, 7);
    }
    // Control+A typed: whether it became Copy, and whether the A got through.
    std::pair<bool, bool> typeControlA(platform::sim::SimKeyboard& kb) {
        w.world->clearAppEvents();
        w.world->keyDown(kb, 0xE0);
        w.world->keyDown(kb, 0x04);
        w.world->keyUp(kb, 0x04);
        w.world->keyUp(kb, 0xE0);
        w.settle();
        bool copied = false;
        bool a = false;
        for (const auto& e : w.world->appEvents()) {
            if (e.type == platform::EventType::keyDown) {
                copied = copied || (e.synthetic && e.keyCode == 8);
                a = a || (!e.synthetic && e.keyCode == 0);
            }
        }
        return {copied, a};
    }

    ModelWorld w;
    std::unique_ptr<KeyboardMemory> memory;
};

TEST(KeyboardMemory, TheNextLaunchResumesWhatTheLastOneLeft) {
    struct Case {
        const char* name;
        bool intercepting;                 // in the first run, at quit
        std::optional<bool> resumeSetting; // as stored (nothing: an earlier version's file)
        bool attachedAtLaunch;             // else it comes a moment later
        bool expectSelected;
        bool expectIntercepting;
    };
    const Case cases[] = {
        {"intercepting, attached, earlier version's file", true, std::nullopt, true, true, true},
        {"intercepting, attached later", true, true, false, true, true},
        {"selected only", false, std::nullopt, true, true, false},
        {"selected only, attached later", false, true, false, true, false},
        {"resuming turned off", true, false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::MemoryPreferences carried;
        {
            AppRun first;
            auto kb = first.attachMagic();
            first.w.model->selectKeyboard(first.w.device(kb));
            if (c.intercepting) {
                first.w.model->toggleInterception(true);
            }
            first.w.settle();
            const auto remembered = first.memory->remembered();
            ASSERT_TRUE(remembered.has_value());
            EXPECT_EQ(remembered->keyboard.productName, "Magic Keyboard");
            EXPECT_EQ(remembered->keyboard.locationID, std::optional<std::int64_t>(7));
            EXPECT_EQ(remembered->intercepting, c.intercepting);
            if (c.resumeSetting) {
                settings::setResumeMappingsAtLaunch(first.w.preferences, *c.resumeSetting);
            }
            for (const char* key : {settings::kLastKeyboard, settings::kResumeMappingsAtLaunch}) {
                if (auto value = first.w.preferences.value(key)) {
                    carried.setValue(key, *value);
                }
            }
        }
        AppRun second(&carried);
        std::shared_ptr<platform::sim::SimKeyboard> kb;
        if (c.attachedAtLaunch) {
            kb = second.attachMagic();
        }
        second.memory->restoreAtLaunch();
        second.w.settle();
        if (!c.attachedAtLaunch) {
            EXPECT_EQ(second.w.model->waitingText().empty(), c.expectSelected ? false : true);
            kb = second.attachMagic();
        }
        const auto& selected = second.w.engine->selectedDevice();
        EXPECT_EQ(selected.has_value() && selected->deviceRef.get() == kb.get(), c.expectSelected);
        EXPECT_EQ(second.w.engine->isIntercepting(), c.expectIntercepting);
        EXPECT_TRUE(second.w.model->waitingText().empty());
        if (c.expectSelected) {
            // The window shows the keyboard's mappings.
            EXPECT_EQ(second.w.model->mappingRows().size(), 1u);
        }
        const auto [copied, a] = second.typeControlA(*kb);
        EXPECT_EQ(copied, c.expectIntercepting);
        EXPECT_EQ(a, !c.expectIntercepting);
    }
}

TEST(KeyboardMemory, AKeyboardThatWentAwayIsStillTheOneToComeBackTo) {
    AppRun run;
    auto kb = run.attachMagic();
    run.w.model->selectKeyboard(run.w.device(kb));
    run.w.model->toggleInterception(true);
    run.w.settle();
    run.w.world->detachKeyboard(kb);
    run.w.settle();
    // Quitting now comes back to it, intercepting, with its place.
    auto remembered = run.memory->remembered();
    ASSERT_TRUE(remembered.has_value());
    EXPECT_TRUE(remembered->intercepting);
    EXPECT_EQ(remembered->keyboard.locationID, std::optional<std::int64_t>(7));
    // Turned off while away: still that keyboard, not intercepting.
    run.w.model->toggleInterception(false);
    run.w.settle();
    remembered = run.memory->remembered();
    ASSERT_TRUE(remembered.has_value());
    EXPECT_FALSE(remembered->intercepting);
    EXPECT_EQ(remembered->keyboard.productName, "Magic Keyboard");
    EXPECT_EQ(remembered->keyboard.locationID, std::optional<std::int64_t>(7));
}

TEST(KeyboardMemory, StoredFormReadsBackAndRefusesWhatIsNotARecord) {
    const RememberedKeyboard full{KeyboardIdentity{0x05AC, 0x024F, "Magic \"K\"", 0x14200000},
                                  true};
    const RememberedKeyboard bare{KeyboardIdentity{0, 0, "Keys-To-Go", std::nullopt}, false};
    for (const auto& r : {full, bare}) {
        EXPECT_EQ(decodeRememberedKeyboard(encodeRememberedKeyboard(r)), r);
    }
    for (const char* text : {"", "{}", "[1]", "{\"productName\":1,\"vendorID\":1,\"productID\":2}",
                             "{\"productName\":\"A\",\"vendorID\":1.5,\"productID\":2}",
                             "{\"productName\":\"A\",\"vendorID\":1,\"productID\":2,"
                             "\"intercepting\":\"yes\"}"}) {
        EXPECT_FALSE(decodeRememberedKeyboard(text).has_value()) << text;
    }
}

// ------------------------------------------------------------------ widgets

TEST(LaunchRestoreWidgets, SettingsBoxIsTickedByDefaultAndStoresItsOwnKey) {
    platform::MemoryPreferences prefs;
    testing::FakeLoginItem login;
    testing::RecordingDesktop desktop;
    DiagnosticsSources sources;
    sources.readLog = [] {
        return std::string();
    };
    sources.currentLogFile = [] {
        return std::optional<std::filesystem::path>();
    };
    sources.recentActions = [](std::int64_t) {
        return std::string("(none)");
    };
    SettingsView view(prefs, login, desktop, sources,
                      DiagnosticsIdentity{"Chordwell", "1.0.0 (1)", "support@palvane.com", "Linux"},
                      [](const std::string&) {});
    view.show();
    QCheckBox* box = view.resumeAtLaunchBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Resume mappings at launch"));
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(prefs.value(settings::kResumeMappingsAtLaunch).has_value());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    EXPECT_FALSE(box->isChecked());
    ASSERT_TRUE(prefs.value(settings::kResumeMappingsAtLaunch).has_value());
    EXPECT_FALSE(std::get<bool>(*prefs.value(settings::kResumeMappingsAtLaunch)));
    EXPECT_FALSE(settings::resumeMappingsAtLaunch(prefs));
    view.refresh();
    EXPECT_FALSE(box->isChecked());
}

TEST(LaunchRestoreWidgets, TheMainWindowSaysWhatItWaitsFor) {
    AppRun run;
    EngineBridge bridge(*run.w.engine);
    platform::qt::NoopAppPresence presence;
    testing::RecordingDesktop desktop;
    MainWindow window(*run.w.model, bridge, presence, desktop, MainWindow::Actions{});
    window.show();
    const auto pump = [&] {
        for (int i = 0; i < 3; ++i) {
            run.w.settle();
            QCoreApplication::processEvents();
        }
    };
    // A launch that waits for its keyboard.
    run.w.preferences.setValue(
        settings::kLastKeyboard,
        encodeRememberedKeyboard({KeyboardIdentity{0x05AC, 0x024F, "Magic Keyboard", 7}, true}));
    ASSERT_TRUE(run.memory->restoreAtLaunch());
    pump();
    QLabel* waiting = window.mappingView()->waitingLabel();
    ASSERT_NE(waiting, nullptr);
    EXPECT_TRUE(waiting->isVisible());
    EXPECT_EQ(waiting->text(), QStringLiteral("Waiting for Magic Keyboard to come back\u2026"));
    auto kb = run.attachMagic();
    pump();
    EXPECT_FALSE(waiting->isVisible());
    EXPECT_TRUE(run.w.engine->isIntercepting());
    run.w.world->detachKeyboard(kb);
    pump();
    EXPECT_TRUE(waiting->isVisible());
}

} // namespace
} // namespace chordwell::app
