#include "app/demo/demo_window.hpp"

#include "app/controls/window_role.hpp"
#include "app/conventions.hpp"
#include "app/demo/demo_keys.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "model/key_labels.hpp"
#include "script/script.hpp"

#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace chordwell::app {

namespace {

// Bounded, so that a key held for an hour cannot grow the window's memory.
constexpr int kPaneLines = 400;

// The keys the sample mappings use, modifiers first (they stay down until
// clicked again, so that a combination can be built with the mouse).
constexpr HidUsage kKeyButtons[] = {0xE0, 0xE1, 0xE2, 0xE3, 0x04, 0x16, 0x1D, 0x0B, 0x14, 0x2C};
constexpr int kButtonsPerRow = 5;

bool isModifier(HidUsage usage) {
    return usage >= 0xE0 && usage <= 0xE7;
}

KeyNames shownKeyNames() {
    return thisDesktop().keyNames;
}

QString keyText(std::int64_t keyCode, EventFlags flags, const KeyLayout* layout = nullptr) {
    return QString::fromStdString(
        signatureText(MacKeySignature::masked(keyCode, flags), shownKeyNames(), layout));
}

// A key button's label: the desktop's name of the key ("Ctrl"; on macOS
// its symbol and name, "⌃ Control").
QString buttonLabel(HidUsage usage) {
    const std::int64_t code = hidToMacKeyCode(usage).value_or(0);
    if (shownKeyNames() == KeyNames::macSymbols && isModifier(usage)) {
        return QString::fromStdString(keyLabel(code) + " " + keyLabel(code, KeyNames::macWords));
    }
    return QString::fromStdString(keyLabel(code, shownKeyNames()));
}

QString readable(const platform::sim::AppEvent& event, const KeyLayout& layout) {
    return keyText(event.keyCode, event.flags, &layout);
}

// The layouts of the layout menu, by the names the simulated world knows.
struct LayoutChoice {
    std::string_view name;
    const char* title;
};
constexpr LayoutChoice kLayoutChoices[] = {
    {"us", "English (US)"},         {"fr", "French (AZERTY)"}, {"de", "German (QWERTZ)"},
    {"dvorak", "English (Dvorak)"}, {"ru", "Russian"},
};

// One event as --simulate prints it, but with the key in this desktop's
// words: that output keeps one spelling for scripts to compare, while a
// Linux user reading the pane should see "Ctrl", not the Mac's glyph.
QString paneLine(const platform::sim::AppEvent& event, platform::Scheduler::Duration origin,
                 const KeyLayout& layout) {
    std::string line = script::formatAppEvent(event, origin, layout);
    const std::string printed = keyLabel(event.keyCode, layout);
    const std::string shown = keyLabel(event.keyCode, shownKeyNames(), &layout);
    // "<ms> <type> <key> keyCode=..."
    const std::size_t type = line.find(' ');
    const std::size_t key = type == std::string::npos ? type : line.find(' ', type + 1);
    if (key != std::string::npos && line.compare(key + 1, printed.size(), printed) == 0) {
        line.replace(key + 1, printed.size(), shown);
    }
    return QString::fromStdString(line);
}

} // namespace

DemoWindow::DemoWindow(platform::sim::SimWorld& world, RawKeyboardListener& engine, QWidget* parent)
    : QWidget(parent, Qt::Window), world_(world), engine_(engine),
      origin_(world.scheduler().now()) {
    // First: a screen reader may ask what the window is as soon as it has a title.
    announceAsWindow(this);
    setObjectName(QStringLiteral("demo"));
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QString::fromUtf8(kWindowTitle));

    auto* layout = new QVBoxLayout(this);
    addIntro(layout);
    addStateRow(layout);
    addLayoutRow(layout);
    addKeyButtons(layout);
    addPane(layout);
    // Narrow enough to stand beside the main window; the texts are as tall
    // as that width makes them, so the smallest window still shows them.
    setMinimumWidth(kMinimumWidth);
    const QMargins margins = layout->contentsMargins();
    intro_->setMinimumHeight(
        intro_->heightForWidth(kMinimumWidth - margins.left() - margins.right()));
    resize(560, 420);

    world_.setAppEventSink([this](const platform::sim::AppEvent& event) { onAppEvent(event); });
    engineChanges_ = engine_.subscribeWillChange([this] { scheduleRefresh(); });
    refreshState();
}

void DemoWindow::addIntro(QVBoxLayout* layout) {
    const auto control = [](std::int64_t code) {
        return keyText(code, kMaskControl);
    };
    auto* intro = new QLabel(
        QStringLiteral("Keys typed here come from “%1”. Turn mappings on and try %2 (Copy), "
                       "%3 (Paste), %4 (Search), %5 (Undo), %6 (types “Hi”) or %7 "
                       "(blocked). To record, click “From” in the main window and type here.")
            .arg(QString::fromUtf8(kKeyboardName), control(0), control(1), control(49), control(6),
                 control(4), control(12)),
        this);
    intro->setObjectName(QStringLiteral("demoIntro"));
    intro->setWordWrap(true);
    intro_ = intro;
    layout->addWidget(intro);
}

void DemoWindow::addStateRow(QVBoxLayout* layout) {
    auto* stateRow = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("demoStatus"));
    status_->setWordWrap(true);
    intercept_ = new QPushButton(this);
    intercept_->setObjectName(QStringLiteral("demoIntercept"));
    intercept_->setFocusPolicy(Qt::TabFocus);
    connect(intercept_, &QPushButton::clicked, this, [this] {
        releaseAll();
        toggleInterception(engine_);
        refreshState();
        setFocus();
    });
    stateRow->addWidget(status_, 1);
    stateRow->addWidget(intercept_);
    layout->addLayout(stateRow);
}

void DemoWindow::addLayoutRow(QVBoxLayout* layout) {
    // The layout the simulated user types with: Copy, Paste, Search and the
    // catalog's shortcuts follow it, recorded keys do not.
    auto* layoutRow = new QHBoxLayout;
    auto* layoutLabel = new QLabel(QStringLiteral("Keyboard layout:"), this);
    layoutMenu_ = new QComboBox(this);
    layoutMenu_->setObjectName(QStringLiteral("demoLayout"));
    layoutMenu_->setFocusPolicy(Qt::TabFocus);
    layoutMenu_->setAccessibleName(QStringLiteral("Keyboard layout"));
    layoutLabel->setBuddy(layoutMenu_);
    for (const LayoutChoice& choice : kLayoutChoices) {
        layoutMenu_->addItem(
            QString::fromUtf8(choice.title),
            QString::fromUtf8(choice.name.data(), static_cast<qsizetype>(choice.name.size())));
    }
    const std::string current = world_.layout().activeLayout()->name();
    layoutMenu_->setCurrentIndex(
        std::max(0, layoutMenu_->findData(QString::fromStdString(current))));
    connect(layoutMenu_, &QComboBox::currentIndexChanged, this, [this](int index) {
        releaseAll();
        world_.layout().select(layoutMenu_->itemData(index).toString().toStdString());
        appendLine(QStringLiteral("Keyboard layout: %1").arg(layoutMenu_->itemText(index)));
        setFocus();
    });
    layoutRow->addWidget(layoutLabel);
    layoutRow->addWidget(layoutMenu_, 1);
    layout->addLayout(layoutRow);
}

void DemoWindow::addKeyButtons(QVBoxLayout* layout) {
    // Two rows, so that the window stays narrow enough to stand beside the
    // main window.
    auto* keys = new QGridLayout;
    int index = 0;
    for (const HidUsage usage : kKeyButtons) {
        auto* button = new QPushButton(buttonLabel(usage), this);
        button->setObjectName(QStringLiteral("demoKey%1").arg(usage, 2, 16, QLatin1Char('0')));
        button->setFocusPolicy(Qt::NoFocus); // typing stays with the window
        if (isModifier(usage)) {
            button->setCheckable(true);
            button->setAccessibleDescription(QStringLiteral("Held while checked"));
            connect(button, &QPushButton::toggled, this, [this, usage](bool on) {
                if (on) {
                    pressKey(usage);
                } else {
                    releaseKey(usage);
                }
            });
            modifierButtons_.emplace_back(button, usage);
        } else {
            connect(button, &QPushButton::pressed, this, [this, usage] { pressKey(usage); });
            connect(button, &QPushButton::released, this, [this, usage] { releaseKey(usage); });
        }
        keys->addWidget(button, index / kButtonsPerRow, index % kButtonsPerRow);
        ++index;
    }
    layout->addLayout(keys);
}

void DemoWindow::addPane(QVBoxLayout* layout) {
    auto* paneTitle = new QLabel(QStringLiteral("What the focused application receives:"), this);
    layout->addWidget(paneTitle);
    pane_ = new QPlainTextEdit(this);
    pane_->setObjectName(QStringLiteral("demoPane"));
    pane_->setReadOnly(true);
    pane_->setFocusPolicy(Qt::NoFocus);
    pane_->setMaximumBlockCount(kPaneLines);
    pane_->setMinimumHeight(pane_->fontMetrics().lineSpacing() * 3 + 12);
    pane_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pane_->setAccessibleName(paneTitle->text());
    paneTitle->setBuddy(pane_);
    layout->addWidget(pane_, 1);
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setFocusPolicy(Qt::TabFocus);
    connect(clear, &QPushButton::clicked, this, [this] {
        clearPane();
        setFocus();
    });
    layout->addWidget(clear, 0, Qt::AlignRight);
}

DemoWindow::~DemoWindow() {
    world_.setAppEventSink(nullptr);
}

std::shared_ptr<platform::sim::SimKeyboard> DemoWindow::keyboard() const {
    for (const auto& k : world_.attachedKeyboards()) {
        if (k->properties().product == kKeyboardName) {
            return k;
        }
    }
    return nullptr;
}

void DemoWindow::pressKey(HidUsage usage) {
    const auto target = keyboard();
    if (!target || std::find(held_.begin(), held_.end(), usage) != held_.end()) {
        return;
    }
    held_.push_back(usage);
    postedDuringKey_.clear();
    collecting_ = true;
    world_.keyDown(*target, usage);
    collecting_ = false;

    // When the keys now held complete a mapping, say what it did in words.
    if (engine_.isIntercepting() && !isModifier(usage)) {
        if (const KeyMapping* mapping = engine_.findMapping(engine_.currentPressedCodes())) {
            EventFlags flags = 0;
            for (HidUsage h : held_) {
                flags |= platform::sim::modifierFlagOfUsage(h);
            }
            const auto code = platform::sim::simOsKeyCode(usage);
            const QString from =
                code ? keyText(*code, flags, engine_.keyboardLayout().get()) : QStringLiteral("?");
            QString line = from + QStringLiteral(" → ") +
                           QString::fromStdString(mapping->outputBehavior.displayLabel());
            if (!postedDuringKey_.empty()) {
                line += QStringLiteral(" (") +
                        QString::fromStdString(signatureText(postedDuringKey_, shownKeyNames(),
                                                             engine_.keyboardLayout().get())) +
                        QStringLiteral(")");
            }
            appendLine(line);
        }
    }
}

void DemoWindow::releaseKey(HidUsage usage) {
    const auto it = std::find(held_.begin(), held_.end(), usage);
    if (it == held_.end()) {
        return;
    }
    held_.erase(it);
    if (const auto target = keyboard()) {
        world_.keyUp(*target, usage);
    }
    for (auto& [button, u] : modifierButtons_) {
        if (u == usage && button->isChecked()) {
            const QSignalBlocker block(button);
            button->setChecked(false);
        }
    }
}

void DemoWindow::releaseAll() {
    while (!held_.empty()) {
        releaseKey(held_.back());
    }
}

QString DemoWindow::statusText() const {
    if (keyboard() == nullptr) {
        return QStringLiteral("“%1” is not attached.").arg(kKeyboardName);
    }
    if (engine_.isIntercepting()) {
        return QStringLiteral("Mappings are on: mapped combinations are replaced.");
    }
    if (engine_.isCapturingInput()) {
        // The way out, for someone whose only keyboard the recording takes.
        const std::vector<MacKeySignature> chord = {{51, 0}, {53, 0}, {36, 0}};
        const KeyNames words =
            shownKeyNames() == KeyNames::macSymbols ? KeyNames::macWords : shownKeyNames();
        return QStringLiteral("Recording for the main window: the keys you type here are "
                              "recorded. To stop, click the field again or press %1 together.")
            .arg(QString::fromStdString(combinationText(chord, words)));
    }
    return QStringLiteral("Mappings are off: keys pass unchanged.");
}

QString DemoWindow::paneText() const {
    return pane_->toPlainText();
}

void DemoWindow::clearPane() {
    pane_->clear();
}

void DemoWindow::onAppEvent(const platform::sim::AppEvent& event) {
    const KeyLayout& layout = *world_.layout().activeLayout();
    QString line = paneLine(event, origin_, layout);
    if (event.type == platform::EventType::keyDown) {
        line += QStringLiteral("   %1").arg(readable(event, layout));
        if (collecting_ && event.synthetic) {
            postedDuringKey_.push_back(MacKeySignature::masked(event.keyCode, event.flags));
        }
    }
    appendLine(line);
}

void DemoWindow::appendLine(const QString& line) {
    pane_->appendPlainText(line);
}

void DemoWindow::keyPressEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        return; // the engine repeats mapped output itself
    }
    const auto usage =
        hidUsageForTypedKey({event->key(), event->nativeScanCode(), event->nativeVirtualKey()});
    if (!usage) {
        QWidget::keyPressEvent(event);
        return;
    }
    pressKey(*usage);
    event->accept();
}

void DemoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A wrapped text is as tall as its width makes it; a small window must
    // not squeeze it.
    for (QLabel* label : {intro_, status_}) {
        const int needed = label->heightForWidth(label->width());
        if (needed > label->minimumHeight()) {
            label->setMinimumHeight(needed);
        }
    }
}

void DemoWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        return;
    }
    const auto usage =
        hidUsageForTypedKey({event->key(), event->nativeScanCode(), event->nativeVirtualKey()});
    if (!usage) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    releaseKey(*usage);
    event->accept();
}

void DemoWindow::focusOutEvent(QFocusEvent* event) {
    // Keys released while another window has focus never reach us; letting go
    // of them now keeps the demo keyboard from holding keys for ever. Keys
    // held with the mouse (modifier buttons) stay held.
    std::vector<HidUsage> typed;
    for (HidUsage u : held_) {
        const bool fromButton =
            std::any_of(modifierButtons_.begin(), modifierButtons_.end(),
                        [u](const auto& b) { return b.second == u && b.first->isChecked(); });
        if (!fromButton) {
            typed.push_back(u);
        }
    }
    if (!typed.empty() && focusLoss_ && engine_.isCapturingInput() && !engine_.isIntercepting()) {
        focusLoss_(typed);
    }
    for (HidUsage u : typed) {
        releaseKey(u);
    }
    QWidget::focusOutEvent(event);
}

void DemoWindow::hideEvent(QHideEvent* event) {
    releaseAll();
    QWidget::hideEvent(event);
}

void DemoWindow::scheduleRefresh() {
    if (refreshQueued_) {
        return;
    }
    refreshQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshQueued_ = false;
            refreshState();
        },
        Qt::QueuedConnection);
}

void DemoWindow::refreshState() {
    const bool attached = keyboard() != nullptr;
    const bool on = engine_.isIntercepting();
    status_->setText(statusText());
    intercept_->setText(on ? QStringLiteral("Turn Mappings Off")
                           : QStringLiteral("Turn Mappings On"));
    intercept_->setEnabled(attached && engine_.selectedDevice().has_value());
}

} // namespace chordwell::app
