// The activate controls, the hover-label buttons, the symbols and the
// application's identity, on the offscreen platform.
#include "app/app_info.hpp"
#include "app/controls/big_power_toggle.hpp"
#include "app/controls/hover_label_button.hpp"
#include "app/controls/run_stop_button.hpp"
#include "app/controls/symbols.hpp"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace chordwell::app {
namespace {

void sendEnter(QWidget& widget) {
    const QPointF inside(widget.width() / 2.0, widget.height() / 2.0);
    QEnterEvent enter(inside, inside, widget.mapToGlobal(inside));
    QApplication::sendEvent(&widget, &enter);
}

void sendLeave(QWidget& widget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&widget, &leave);
}

// ------------------------------------------------------------ RunStopButton

struct RunStopCase {
    const char* name;
    bool running;
    bool useKeyboard;
    int expectedRuns;
    int expectedStops;
    const char* expectedText;
    const char* expectedSymbol;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const RunStopCase& c, std::ostream* os) {
    *os << c.name;
}

class RunStopPress : public ::testing::TestWithParam<RunStopCase> {};

TEST_P(RunStopPress, CallsOnlyTheMatchingActionOncePerPress) {
    const RunStopCase& c = GetParam();
    RunStopButton button;
    button.setRunning(c.running);
    button.resize(button.sizeHint());
    button.show();
    QSignalSpy runs(&button, &RunStopButton::runRequested);
    QSignalSpy stops(&button, &RunStopButton::stopRequested);

    EXPECT_EQ(button.text(), QString::fromUtf8(c.expectedText));
    EXPECT_EQ(button.symbol(), QString::fromUtf8(c.expectedSymbol));

    if (c.useKeyboard) {
        button.setFocus();
        QTest::keyClick(&button, Qt::Key_Space);
    } else {
        QTest::mouseClick(&button, Qt::LeftButton);
    }

    EXPECT_EQ(runs.count(), c.expectedRuns);
    EXPECT_EQ(stops.count(), c.expectedStops);
    // The button shows the host's state; a press alone changes nothing.
    EXPECT_EQ(button.isRunning(), c.running);
    EXPECT_EQ(button.text(), QString::fromUtf8(c.expectedText));
}

INSTANTIATE_TEST_SUITE_P(
    Controls, RunStopPress,
    ::testing::Values(RunStopCase{"runningMouse", true, false, 0, 1, "Stop", "stop.fill"},
                      RunStopCase{"stoppedMouse", false, false, 1, 0, "Run", "play.fill"},
                      RunStopCase{"runningKeyboard", true, true, 0, 1, "Stop", "stop.fill"},
                      RunStopCase{"stoppedKeyboard", false, true, 1, 0, "Run", "play.fill"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(RunStopButton, DisabledButtonRequestsNothing) {
    RunStopButton button;
    button.setRunning(true);
    button.resize(button.sizeHint());
    button.setEnabled(false);
    button.show();
    QSignalSpy runs(&button, &RunStopButton::runRequested);
    QSignalSpy stops(&button, &RunStopButton::stopRequested);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(runs.count() + stops.count(), 0);
}

TEST(RunStopButton, FollowsTheStateTheHostPasses) {
    RunStopButton button;
    QSignalSpy runs(&button, &RunStopButton::runRequested);
    QSignalSpy stops(&button, &RunStopButton::stopRequested);
    // The host starts on run and passes the new state back.
    QObject::connect(&button, &RunStopButton::runRequested, &button,
                     [&button] { button.setRunning(true); });
    button.resize(button.sizeHint());
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(button.isRunning());
    EXPECT_EQ(button.text(), QStringLiteral("Stop"));
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(runs.count(), 1);
    EXPECT_EQ(stops.count(), 1);
}

// -------------------------------------------------------- hover-only labels

struct HoverCase {
    const char* name;
    bool labelOnlyOnHover;
    bool labelBeforeHover;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const HoverCase& c, std::ostream* os) {
    *os << c.name;
}

class HoverLabel : public ::testing::TestWithParam<HoverCase> {};

TEST_P(HoverLabel, LabelFadesInWhilePointedAtOnlyWhenAsked) {
    const HoverCase& c = GetParam();
    RunStopButton button;
    button.setShowLabelOnlyOnHover(c.labelOnlyOnHover);
    button.resize(button.sizeHint());
    button.show();
    const int widthBefore = button.sizeHint().width();

    EXPECT_EQ(button.isLabelShown(), c.labelBeforeHover);
    EXPECT_DOUBLE_EQ(button.labelReveal(), c.labelBeforeHover ? 1.0 : 0.0);

    sendEnter(button);
    EXPECT_TRUE(button.isHovering());
    EXPECT_TRUE(button.isLabelShown());
    ASSERT_TRUE(QTest::qWaitFor([&] { return button.labelReveal() >= 1.0; }, 3000));
    if (c.labelOnlyOnHover) {
        // The label takes room once it is there.
        EXPECT_GT(button.sizeHint().width(), widthBefore);
    } else {
        EXPECT_EQ(button.sizeHint().width(), widthBefore);
    }

    sendLeave(button);
    EXPECT_FALSE(button.isHovering());
    EXPECT_EQ(button.isLabelShown(), c.labelBeforeHover);
    const qreal settled = c.labelBeforeHover ? 1.0 : 0.0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return button.labelReveal() == settled; }, 3000));
    EXPECT_EQ(button.sizeHint().width(), widthBefore);
}

INSTANTIATE_TEST_SUITE_P(Controls, HoverLabel,
                         ::testing::Values(HoverCase{"onlyOnHover", true, false},
                                           HoverCase{"always", false, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(HoverLabelButton, FadeIsUnderwayHalfwayRatherThanInstant) {
    HoverLabelButton button(QStringLiteral("tray.and.arrow.down"), QStringLiteral("Import"),
                            QStringLiteral("Import mappings"));
    button.setShowLabelOnlyOnHover(true);
    button.show();
    sendEnter(button);
    // Right after the pointer enters the label has not jumped to full view.
    EXPECT_LT(button.labelReveal(), 1.0);
    EXPECT_EQ(button.toolTip(), QStringLiteral("Import mappings"));
    EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
}

// ------------------------------------------------------------ BigPowerToggle

struct ToggleCase {
    const char* name;
    bool hostAccepts;
    bool expectedOn;
    const char* word;
    const char* caption;
    const char* symbol;
};

// Test names print the case name rather than raw bytes.
[[maybe_unused]] void PrintTo(const ToggleCase& c, std::ostream* os) {
    *os << c.name;
}

class TogglePress : public ::testing::TestWithParam<ToggleCase> {};

TEST_P(TogglePress, ShowsWhatTheHostDecidedNotWhatWasWished) {
    const ToggleCase& c = GetParam();
    BigPowerToggle toggle;
    toggle.setLabelText(QStringLiteral("Chordwell is:"));
    toggle.resize(toggle.sizeHint());
    toggle.show();
    QSignalSpy wishes(&toggle, &BigPowerToggle::toggleRequested);
    QObject::connect(&toggle, &BigPowerToggle::toggleRequested, &toggle,
                     [&toggle, &c](bool wished) {
                         if (c.hostAccepts) {
                             toggle.setOn(wished);
                         }
                     });

    QTest::mouseClick(&toggle, Qt::LeftButton);

    ASSERT_EQ(wishes.count(), 1);
    EXPECT_TRUE(wishes.at(0).at(0).toBool());
    EXPECT_EQ(toggle.isOn(), c.expectedOn);
    EXPECT_EQ(toggle.stateWord(), QString::fromUtf8(c.word));
    EXPECT_EQ(toggle.captionText(), QString::fromUtf8(c.caption));
    EXPECT_EQ(toggle.stateSymbolName(), QString::fromUtf8(c.symbol));
    const qreal settled = c.expectedOn ? 1.0 : 0.0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return toggle.onProgress() == settled; }, 3000));
}

INSTANTIATE_TEST_SUITE_P(Controls, TogglePress,
                         ::testing::Values(ToggleCase{"refused", false, false, "OFF",
                                                      "Click to Activate it", "power.circle"},
                                           ToggleCase{"accepted", true, true, "ON",
                                                      "Click to Deactivate it",
                                                      "checkmark.circle.fill"}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(BigPowerToggle, WishIsTheOppositeOfTheShownState) {
    BigPowerToggle toggle;
    toggle.setOn(true);
    toggle.resize(toggle.sizeHint());
    toggle.show();
    QSignalSpy wishes(&toggle, &BigPowerToggle::toggleRequested);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    ASSERT_EQ(wishes.count(), 2);
    // Nobody answered, so both presses still wish to switch off.
    EXPECT_FALSE(wishes.at(0).at(0).toBool());
    EXPECT_FALSE(wishes.at(1).at(0).toBool());
    EXPECT_TRUE(toggle.isOn());
    // Checkable for assistive technology, checked exactly as shown.
    EXPECT_TRUE(toggle.isCheckable());
    EXPECT_TRUE(toggle.isChecked());
}

TEST(BigPowerToggle, SpringSettlesAtOneAfterASmallOvershoot) {
    EXPECT_DOUBLE_EQ(BigPowerToggle::springEasing(0.0), 0.0);
    EXPECT_DOUBLE_EQ(BigPowerToggle::springEasing(1.0), 1.0);
    qreal peak = 0.0;
    qreal previous = 0.0;
    bool risingAtStart = true;
    for (int i = 1; i < 100; ++i) {
        const qreal value = BigPowerToggle::springEasing(i / 100.0);
        if (i < 20 && value <= previous) {
            risingAtStart = false;
        }
        peak = std::max(peak, value);
        previous = value;
    }
    EXPECT_TRUE(risingAtStart);
    // A damping fraction of 0.7 overshoots by about 4.6 %, then settles.
    EXPECT_GT(peak, 1.03);
    EXPECT_LT(peak, 1.06);
    EXPECT_NEAR(BigPowerToggle::springEasing(0.99), 1.0, 0.002);
}

// ------------------------------------------------------------------ symbols

TEST(Symbols, EverySymbolTheViewsNameIsBundledAndDrawsInItsTint) {
    const QColor tint(0x12, 0x80, 0xE0);
    const QStringList names = knownSymbolNames();
    for (const char* wanted :
         {"keyboard", "checkmark", "pencil", "trash", "xmark", "play.fill", "stop.fill",
          "record.circle.fill", "circle", "tray.and.arrow.down", "square.and.arrow.up", "gearshape",
          "shield.lefthalf.filled", "repeat", "ladybug", "info.circle", "checkmark.circle.fill",
          "power.circle"}) {
        EXPECT_TRUE(names.contains(QString::fromLatin1(wanted))) << wanted;
    }
    for (const QString& name : names) {
        const QIcon icon = symbolIcon(name, tint);
        ASSERT_FALSE(icon.isNull()) << name.toStdString();
        const QImage image = icon.pixmap(QSize(32, 32)).toImage();
        int opaque = 0;
        int offTint = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255) {
                    ++opaque;
                    // Overlapping antialiased edges may round a unit off.
                    if (std::abs(pixel.red() - tint.red()) > 2 ||
                        std::abs(pixel.green() - tint.green()) > 2 ||
                        std::abs(pixel.blue() - tint.blue()) > 2) {
                        ++offTint;
                    }
                }
            }
        }
        EXPECT_GT(opaque, 10) << name.toStdString() << " draws nothing";
        EXPECT_EQ(offTint, 0) << name.toStdString() << " ignores its tint";
    }
}

TEST(Symbols, UnknownNamesGiveNoIconAndTheAppIconExists) {
    EXPECT_TRUE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(symbolIcon(QStringLiteral("../chordwell")).isNull());
    EXPECT_FALSE(applicationIcon().isNull());
    EXPECT_FALSE(applicationIcon().pixmap(QSize(64, 64)).isNull());
}

// ---------------------------------------------------------------- app info

TEST(AppInfo, VersionStringMarksMissingParts) {
    const struct {
        const char* shortVersion;
        const char* build;
        const char* expected;
    } cases[] = {
        {"1.0.0", "42", "1.0.0 (42)"},
        {"", "42", "? (42)"},
        {"1.0.0", "", "1.0.0 (?)"},
        {"", "", "? (?)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            formatVersionString(QString::fromUtf8(c.shortVersion), QString::fromUtf8(c.build)),
            QString::fromUtf8(c.expected))
            << c.shortVersion << "/" << c.build;
    }
}

TEST(AppInfo, DisplayNamePrefersTheDisplayNameOverTheName) {
    const QString savedName = QApplication::applicationName();
    const QString savedDisplay = QGuiApplication::applicationDisplayName();
    QApplication::setApplicationName(QStringLiteral("Chordwell"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Chordwell Beta"));
    EXPECT_EQ(appDisplayName(), QStringLiteral("Chordwell Beta"));
    EXPECT_EQ(appBundleName(), QStringLiteral("Chordwell"));
    QGuiApplication::setApplicationDisplayName(QString());
    EXPECT_EQ(appDisplayName(), QStringLiteral("Chordwell"));
    QApplication::setApplicationName(savedName);
    QGuiApplication::setApplicationDisplayName(savedDisplay);
}

} // namespace
} // namespace chordwell::app
