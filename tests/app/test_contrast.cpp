// Every text the windows draw reaches WCAG AA contrast (4.5:1, 3:1 for the
// outlines of controls) against the background it stands on, in the light
// palette of the style, in the dark palette, and in any sane palette a
// desktop theme may hand over. The ratios are computed from the palette
// through the same functions the widgets paint with.
#include "app/controls/big_power_toggle.hpp"
#include "app/controls/item_rows.hpp"
#include "app/controls/run_stop_button.hpp"
#include "app/controls/theme.hpp"
#include "app/mappings/keyboard_list.hpp"
#include "app/mappings/recording_field.hpp"

#include <QStyle>
#include <QStyleFactory>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace theme = chordwell::app::theme;
using chordwell::app::BigPowerToggle;
using chordwell::app::KeyboardListDelegate;
using chordwell::app::RecordingField;
using chordwell::app::RunStopButton;

namespace {

struct Pair {
    std::string what;
    QColor text;
    QColor background;
    double needed;
};

// What the windows draw, text over background, for one palette.
std::vector<Pair> drawnPairs(const QPalette& raw) {
    const QPalette p = theme::withReadableText(raw);
    const double body = theme::kNormalTextContrast;
    const double control = theme::kLargeTextContrast;
    std::vector<Pair> pairs;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor window = p.color(group, QPalette::Window);
        const QColor base = p.color(group, QPalette::Base);
        const QColor alternate = p.color(group, QPalette::AlternateBase);
        const std::string g = group == QPalette::Active ? " (active)" : " (inactive)";
        pairs.push_back({"window text" + g, p.color(group, QPalette::WindowText), window, body});
        pairs.push_back({"field text" + g, p.color(group, QPalette::Text), base, body});
        pairs.push_back({"button text" + g, p.color(group, QPalette::ButtonText),
                         p.color(group, QPalette::Button), body});
        pairs.push_back({"selected text" + g, p.color(group, QPalette::HighlightedText),
                         p.color(group, QPalette::Highlight), body});
        for (const auto& [name, background] :
             {std::pair{"window", window}, {"field", base}, {"alternate row", alternate}}) {
            pairs.push_back({std::string("dimmed label / placeholder on ") + name + g,
                             p.color(group, QPalette::PlaceholderText), background, body});
        }
        for (const auto& [name, background] : {std::pair{"window", window}, {"field", base}}) {
            pairs.push_back({std::string("link on ") + name + g, p.color(group, QPalette::Link),
                             background, body});
        }
        // The mapping table's rows (the raw HID numbers are their second
        // line) and the keyboard list (drawn on the window).
        const bool active = group == QPalette::Active;
        const auto row = chordwell::app::rowTextColors(p, true, false, active);
        for (const auto& [name, background] :
             {std::pair{"row", base}, {"alternate row", alternate}}) {
            pairs.push_back(
                {std::string("table main line on ") + name + g, row.main, background, body});
            pairs.push_back(
                {std::string("table second line on ") + name + g, row.secondary, background, body});
        }
        const auto selected = chordwell::app::rowTextColors(p, true, true, active);
        pairs.push_back({"selected row second line" + g, selected.secondary,
                         p.color(group, QPalette::Highlight), body});
        const auto keyboard = KeyboardListDelegate::colorsFor(p, true, false, active);
        pairs.push_back({"keyboard name" + g, keyboard.title, window, body});
        pairs.push_back({"keyboard vendor and product" + g, keyboard.detail, window, body});
    }
    const QColor window = p.color(QPalette::Active, QPalette::Window);
    pairs.push_back({"\"ON\"", BigPowerToggle::stateWordColour(p, true, true), window, body});
    pairs.push_back({"\"OFF\"", BigPowerToggle::stateWordColour(p, false, true), window, body});
    pairs.push_back({"switch caption", BigPowerToggle::captionColour(p, true), window, body});
    pairs.push_back(
        {"recording placeholder", RecordingField::secondaryColour(p, true), window, body});
    pairs.push_back({"\"Delete\" on its button", theme::destructiveColour(p),
                     p.color(QPalette::Active, QPalette::Button), body});
    pairs.push_back({"\"Clear All\" on the window", theme::destructiveColour(p), window, body});
    pairs.push_back({"tooltip", p.color(QPalette::Active, QPalette::ToolTipText),
                     p.color(QPalette::Active, QPalette::ToolTipBase), body});
    pairs.push_back({"recording outline", RecordingField::recordingColour(p), window, control});
    pairs.push_back({"run outline", RunStopButton::stoppedBorderColour(p), window, control});
    pairs.push_back({"stop outline", RunStopButton::runningBorderColour(p), window, control});
    return pairs;
}

void expectReadable(const QPalette& palette, const std::string& name) {
    for (const Pair& pair : drawnPairs(palette)) {
        const double ratio = theme::contrastRatio(pair.text, pair.background);
        EXPECT_GE(ratio, pair.needed)
            << name << ": " << pair.what << " " << pair.text.name(QColor::HexArgb).toStdString()
            << " on " << pair.background.name().toStdString() << " is " << ratio << ":1";
    }
}

QPalette lightPalette() {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

} // namespace

TEST(Contrast, RatiosFollowTheWcagFormula) {
    struct Case {
        QColor a, b;
        double ratio;
    };
    const Case cases[] = {
        {Qt::black, Qt::white, 21.0},
        {Qt::white, Qt::white, 1.0},
        {QColor(0x76, 0x76, 0x76), Qt::white, 4.54},
        {QColor(0x59, 0x59, 0x59), QColor(0xEF, 0xEF, 0xEF), 6.09},
        // Half-transparent black over white is a mid grey.
        {QColor(0, 0, 0, 128), Qt::white, 4.00},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(theme::contrastRatio(c.a, c.b), c.ratio, 0.02);
        if (c.a.alpha() == 255) {
            EXPECT_NEAR(theme::contrastRatio(c.b, c.a), c.ratio, 0.02) << "symmetric";
        }
    }
}

TEST(Contrast, EveryTextIsReadableInTheLightAndDarkPalettes) {
    expectReadable(lightPalette(), "light");
    expectReadable(theme::darkPalette(), "dark");
    // The accents as they used to be drawn fail there: what passes above is
    // their mended form.
    const QColor oldRed(0xD9, 0x2C, 0x20);
    const QColor oldGreen(0x34, 0xC7, 0x59);
    EXPECT_LT(theme::contrastRatio(oldRed, theme::darkPalette().color(QPalette::Button)),
              theme::kNormalTextContrast);
    EXPECT_LT(theme::contrastRatio(oldGreen, lightPalette().color(QPalette::Window)),
              theme::kNormalTextContrast);
}

TEST(Contrast, AnySanePaletteADesktopHandsOverIsMadeReadable) {
    // Themes of every lightness: the text reads on the backgrounds (a theme
    // that gets even that wrong cannot be mended), everything else may be off.
    std::mt19937 random(2612);
    std::uniform_int_distribution<int> channel(0, 255);
    int checked = 0;
    while (checked < 300) {
        const QColor window(channel(random), channel(random), channel(random));
        const int shift = channel(random) % 24 - 12;
        const QColor base = window.lighter(100 + shift);
        const QColor alternate = base.darker(103);
        const bool dark = theme::relativeLuminance(window) < 0.18;
        const QColor text = dark ? QColor(0xF4, 0xF4, 0xF4) : QColor(0x14, 0x14, 0x14);
        if (theme::contrastRatio(text, window) < 7.0 || theme::contrastRatio(text, base) < 7.0 ||
            theme::contrastRatio(text, alternate) < 7.0) {
            continue;
        }
        QPalette p;
        p.setColor(QPalette::Window, window);
        p.setColor(QPalette::Base, base);
        p.setColor(QPalette::AlternateBase, alternate);
        p.setColor(QPalette::Button, window);
        p.setColor(QPalette::ToolTipBase, base);
        for (const QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText}) {
            p.setColor(role, text);
        }
        p.setColor(QPalette::Highlight, QColor(channel(random), channel(random), channel(random)));
        p.setColor(QPalette::HighlightedText, dark ? Qt::white : Qt::black);
        p.setColor(QPalette::Link, QColor(channel(random), channel(random), channel(random)));
        QColor faint = text;
        faint.setAlpha(channel(random));
        p.setColor(QPalette::PlaceholderText, faint);
        expectReadable(p, "random palette " + std::to_string(checked));
        ++checked;
    }
}
