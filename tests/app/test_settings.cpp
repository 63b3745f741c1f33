// The settings window: defaults on a fresh installation, write-through only
// on change, the inverted delete confirmation, the timing sliders and their
// millisecond texts, and launch at login when the system refuses.
#include "test_diagnostics_fakes.hpp"

#include "storage/settings.hpp"

#include "app/app_info.hpp"
#include "app/controls/link_button.hpp"
#include "app/diagnostics/diagnostics_view.hpp"
#include "app/settings/settings_view.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <variant>

namespace chordwell::app {
namespace {

using platform::LoginItemStatus;
using platform::MemoryPreferences;
using testing::CapturedLog;
using testing::FakeLoginItem;
using testing::RecordingDesktop;

DiagnosticsSources noDiagnostics() {
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
    return sources;
}

// Clicks the box's indicator, as a user does (the box may be much wider
// than its text, and only the indicator and text take clicks).
void clickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

struct Harness {
    MemoryPreferences prefs;
    FakeLoginItem login;
    RecordingDesktop desktop;
    std::vector<std::string> actions;

    SettingsModel::ActionRecorder recorder() {
        return [this](const std::string& action) {
            actions.push_back(action);
        };
    }
    SettingsModel model() { return SettingsModel(prefs, login, recorder()); }
    std::unique_ptr<SettingsView> view() {
        return std::make_unique<SettingsView>(
            prefs, login, desktop, noDiagnostics(),
            DiagnosticsIdentity{"Chordwell", "1.0.0 (1)", "support@palvane.com", "Linux"},
            recorder());
    }
    bool stored(const char* key) const { return prefs.value(key).has_value(); }
};

// ------------------------------------------------------------ fresh install

TEST(SettingsView, FreshInstallationShowsDefaultsAndStoresNothing) {
    const struct {
        LoginItemStatus status;
        bool expectLaunchAtLogin;
    } cases[] = {
        {LoginItemStatus::enabled, true},
        {LoginItemStatus::notRegistered, false},
        {LoginItemStatus::requiresApproval, false},
        {LoginItemStatus::notFound, false},
    };
    for (const auto& c : cases) {
        Harness h;
        h.login.current = c.status;
        auto view = h.view();
        view->show();
        EXPECT_EQ(view->launchAtLoginBox()->isChecked(), c.expectLaunchAtLogin);
        EXPECT_TRUE(view->confirmDeleteBox()->isChecked());
        EXPECT_TRUE(view->keyRepeatBox()->isChecked());
        EXPECT_TRUE(view->keyRepeatTimings()->isVisible());
        EXPECT_EQ(view->initialDelayValue()->text(), QStringLiteral("500 ms"));
        EXPECT_EQ(view->intervalValue()->text(), QStringLiteral("200 ms"));
        // Showing a default never writes it.
        for (const char* key : {settings::kSuppressDeleteConfirmation, settings::kKeyRepeatEnabled,
                                settings::kKeyRepeatInitialDelay, settings::kKeyRepeatInterval}) {
            EXPECT_FALSE(h.stored(key)) << key;
        }
        EXPECT_EQ(h.login.registerCalls + h.login.unregisterCalls, 0);
        EXPECT_TRUE(h.actions.empty());
    }
}

TEST(SettingsView, ShowsStoredValuesAndIgnoresValuesOfTheWrongType) {
    Harness h;
    h.prefs.setValue(settings::kKeyRepeatInitialDelay, 1.5);
    h.prefs.setValue(settings::kKeyRepeatInterval, std::string("fast"));
    h.prefs.setValue(settings::kSuppressDeleteConfirmation, true);
    auto view = h.view();
    view->show();
    EXPECT_EQ(view->initialDelayValue()->text(), QStringLiteral("1500 ms"));
    EXPECT_EQ(view->initialDelaySlider()->value(), view->initialDelaySlider()->maximum());
    EXPECT_EQ(view->intervalValue()->text(), QStringLiteral("200 ms"));
    EXPECT_FALSE(view->confirmDeleteBox()->isChecked());
    // Placing the sliders on the stored values wrote nothing back.
    EXPECT_EQ(std::get<std::string>(*h.prefs.value(settings::kKeyRepeatInterval)), "fast");
}

// ------------------------------------------------------ inverted check box

TEST(SettingsModel, ConfirmBeforeDeletingIsTheInverseOfTheStoredKey) {
    const struct {
        const char* name;
        std::optional<bool> storedSuppress;
        bool tick;
        std::optional<bool> expectedSuppress;
        std::size_t expectedActions;
    } cases[] = {
        {"untick on fresh install writes true", std::nullopt, false, true, 1},
        {"tick on fresh install writes nothing", std::nullopt, true, std::nullopt, 0},
        {"tick while suppressed writes false", true, true, false, 1},
        {"untick while suppressed changes nothing", true, false, true, 0},
    };
    for (const auto& c : cases) {
        Harness h;
        if (c.storedSuppress) {
            h.prefs.setValue(settings::kSuppressDeleteConfirmation, *c.storedSuppress);
        }
        SettingsModel model = h.model();
        model.setConfirmBeforeDeleting(c.tick);
        const auto stored = h.prefs.value(settings::kSuppressDeleteConfirmation);
        if (c.expectedSuppress) {
            ASSERT_TRUE(stored.has_value()) << c.name;
            EXPECT_EQ(std::get<bool>(*stored), *c.expectedSuppress) << c.name;
        } else {
            EXPECT_FALSE(stored.has_value()) << c.name;
        }
        EXPECT_EQ(model.confirmBeforeDeleting(), c.tick) << c.name;
        EXPECT_EQ(h.actions.size(), c.expectedActions) << c.name;
    }
}

TEST(SettingsView, UntickingConfirmationStoresSuppressTrue) {
    Harness h;
    auto view = h.view();
    view->show();
    clickBox(view->confirmDeleteBox());
    ASSERT_TRUE(h.prefs.value(settings::kSuppressDeleteConfirmation).has_value());
    EXPECT_TRUE(std::get<bool>(*h.prefs.value(settings::kSuppressDeleteConfirmation)));
    EXPECT_TRUE(settings::suppressDeleteConfirmation(h.prefs));
}

// ----------------------------------------------------------- milliseconds

TEST(SettingsModel, MillisecondsAreTruncatedTowardZero) {
    const struct {
        double seconds;
        const char* expected;
    } cases[] = {
        {0.5, "500 ms"},
        {0.2, "200 ms"},
        {1.5, "1500 ms"},
        {0.05, "50 ms"},
        {0.16999999999999998, "169 ms"}, // 169.99999999999997 ms
        {0.33999999999999997, "339 ms"},
        {0.0009, "0 ms"},
        {-0.0015, "-1 ms"},
        {std::numeric_limits<double>::quiet_NaN(), "0 ms"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingsModel::millisecondsText(c.seconds), c.expected) << c.seconds;
    }
}

TEST(SettingsModel, SliderPositionsAreExactDecimalSteps) {
    const struct {
        const char* name;
        SliderScale scale;
        int lastPosition;
        int firstMs;
        int stepMs;
    } cases[] = {
        {"delay", SettingsModel::kInitialDelayScale, 26, 200, 50},
        {"interval", SettingsModel::kIntervalScale, 45, 50, 10},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.scale.lastPosition(), c.lastPosition) << c.name;
        for (int position = 0; position <= c.lastPosition; ++position) {
            const double value = c.scale.valueAt(position);
            const std::string expected = std::to_string(c.firstMs + position * c.stepMs) + " ms";
            EXPECT_EQ(SettingsModel::millisecondsText(value), expected)
                << c.name << " position " << position;
            EXPECT_EQ(c.scale.positionOf(value), position) << c.name;
        }
        // Values off the scale land on its ends.
        EXPECT_EQ(c.scale.positionOf(-3.0), 0) << c.name;
        EXPECT_EQ(c.scale.positionOf(99.0), c.lastPosition) << c.name;
        EXPECT_EQ(c.scale.positionOf(std::nan("")), 0) << c.name;
        EXPECT_DOUBLE_EQ(c.scale.valueAt(c.lastPosition + 5), c.scale.maximum) << c.name;
    }
}

TEST(SettingsView, MovingASliderWritesTheStepValueAndItsText) {
    Harness h;
    auto view = h.view();
    view->show();
    view->intervalSlider()->setValue(12); // 0.05 + 12 × 0.01
    ASSERT_TRUE(h.prefs.value(settings::kKeyRepeatInterval).has_value());
    EXPECT_EQ(std::get<double>(*h.prefs.value(settings::kKeyRepeatInterval)), 0.17);
    EXPECT_EQ(view->intervalValue()->text(), QStringLiteral("170 ms"));
    EXPECT_DOUBLE_EQ(settings::keyRepeatInterval(h.prefs), 0.17);

    view->initialDelaySlider()->setValue(view->initialDelaySlider()->maximum());
    EXPECT_EQ(std::get<double>(*h.prefs.value(settings::kKeyRepeatInitialDelay)), 1.5);
    EXPECT_EQ(view->initialDelayValue()->text(), QStringLiteral("1500 ms"));

    // The report records where the timings came to rest, once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !h.actions.empty(); }, 3000));
    EXPECT_EQ(h.actions, std::vector<std::string>{"Key repeat timings set to 1500 ms / 170 ms"});
}

// ------------------------------------------------------------- key repeat

TEST(SettingsView, TimingRowsFollowTheKeyRepeatBox) {
    Harness h;
    h.prefs.setValue(settings::kKeyRepeatInterval, 0.1);
    auto view = h.view();
    view->show();
    ASSERT_TRUE(view->keyRepeatTimings()->isVisible());

    clickBox(view->keyRepeatBox());
    EXPECT_FALSE(view->keyRepeatTimings()->isVisible());
    EXPECT_FALSE(view->initialDelaySlider()->isVisible());
    EXPECT_FALSE(view->intervalSlider()->isVisible());
    EXPECT_FALSE(std::get<bool>(*h.prefs.value(settings::kKeyRepeatEnabled)));

    // Changed elsewhere while the rows are hidden: shown when they return.
    h.prefs.setValue(settings::kKeyRepeatInitialDelay, 1.0);
    clickBox(view->keyRepeatBox());
    EXPECT_TRUE(view->keyRepeatTimings()->isVisible());
    EXPECT_TRUE(std::get<bool>(*h.prefs.value(settings::kKeyRepeatEnabled)));
    EXPECT_EQ(view->initialDelayValue()->text(), QStringLiteral("1000 ms"));
    EXPECT_EQ(view->initialDelaySlider()->value(),
              SettingsModel::kInitialDelayScale.positionOf(1.0));
    EXPECT_EQ(view->intervalValue()->text(), QStringLiteral("100 ms"));
    EXPECT_EQ(h.actions,
              (std::vector<std::string>{"Key repeat turned off", "Key repeat turned on"}));
}

// --------------------------------------------------------- launch at login

TEST(SettingsView, RefusedLoginItemKeepsTheBoxAndLogsOneError) {
    CapturedLog captured;
    Harness h;
    h.login.refuse = true;
    auto view = h.view();
    view->show();
    ASSERT_FALSE(view->launchAtLoginBox()->isChecked());

    clickBox(view->launchAtLoginBox());

    EXPECT_EQ(h.login.registerCalls, 1);
    EXPECT_TRUE(view->launchAtLoginBox()->isChecked());
    EXPECT_TRUE(view->model().launchAtLogin());
    const auto lines = captured.inCategory("settings");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.front().level, LogLevel::error);
    EXPECT_EQ(lines.front().message,
              SettingsModel::loginItemErrorPrefix() + "Operation not permitted");
    EXPECT_TRUE(h.actions.empty());

    // Opening the window again shows the system's real state.
    view->hide();
    view->show();
    EXPECT_FALSE(view->launchAtLoginBox()->isChecked());
    EXPECT_EQ(h.login.registerCalls + h.login.unregisterCalls, 1);
}

TEST(SettingsModel, LaunchAtLoginRegistersAndUnregisters) {
    Harness h;
    SettingsModel model = h.model();
    model.setLaunchAtLogin(true);
    EXPECT_EQ(h.login.current, LoginItemStatus::enabled);
    model.setLaunchAtLogin(false);
    EXPECT_EQ(h.login.current, LoginItemStatus::notRegistered);
    EXPECT_EQ(h.login.registerCalls, 1);
    EXPECT_EQ(h.login.unregisterCalls, 1);
    EXPECT_EQ(h.actions, (std::vector<std::string>{"Launch at login turned on",
                                                   "Launch at login turned off"}));
}

// ------------------------------------------------------------------ layout

TEST(SettingsView, EveryControlGetsTheRoomItNeedsAtTheFixedWidth) {
    for (const bool longStatus : {false, true}) {
        Harness h;
        h.desktop.mailClientPresent = false;
        auto view = h.view();
        view->show();
        if (longStatus) {
            // The longest status line appears under the buttons.
            view->diagnostics()->emailButton()->click();
        }
        QApplication::processEvents();
        QApplication::processEvents();
        ASSERT_EQ(view->width(), SettingsView::kContentWidth);
        for (QWidget* child : view->findChildren<QWidget*>()) {
            if (!child->isVisibleTo(view.get()) || child->parentWidget() == nullptr) {
                continue;
            }
            const QString name = QString::fromLatin1(child->metaObject()->className()) +
                                 QStringLiteral(" ") + child->objectName();
            const QRect inView(child->mapTo(view.get(), QPoint(0, 0)), child->size());
            EXPECT_TRUE(view->rect().contains(inView)) << name.toStdString();
            const int neededHeight = child->hasHeightForWidth()
                                         ? child->heightForWidth(child->width())
                                         : child->minimumSizeHint().height();
            EXPECT_GE(child->height(), neededHeight) << name.toStdString();
            if (qobject_cast<QPushButton*>(child) != nullptr) {
                EXPECT_GE(child->width(), child->sizeHint().width()) << name.toStdString();
            }
        }
    }
}

// ------------------------------------------------------------------- about

TEST(SettingsView, AboutLinksOpenTheirPages) {
    Harness h;
    auto view = h.view();
    const struct {
        const char* object;
        QString url;
    } cases[] = {
        {"websiteLink", websiteURL()},
        {"termsLink", termsURL()},
        {"privacyLink", privacyURL()},
    };
    for (const auto& c : cases) {
        auto* link = view->findChild<LinkButton*>(QString::fromLatin1(c.object));
        ASSERT_NE(link, nullptr) << c.object;
        EXPECT_EQ(link->url(), c.url) << c.object;
        // One control, one Tab stop; the keyboard opens it as the mouse does.
        EXPECT_EQ(link->focusPolicy(), Qt::StrongFocus);
        h.desktop.openedURLs.clear();
        link->setFocus();
        QTest::keyClick(link, Qt::Key_Return);
        link->click();
        EXPECT_EQ(h.desktop.openedURLs,
                  (std::vector<std::string>{c.url.toStdString(), c.url.toStdString()}))
            << c.object;
    }
    EXPECT_EQ(view->width(), SettingsView::kContentWidth);
}

} // namespace
} // namespace chordwell::app
