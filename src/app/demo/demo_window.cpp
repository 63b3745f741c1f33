#include "app/demo/demo_window.hpp"

#include "app/demo/demo_keys.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "model/key_labels.hpp"
#include "script/script.hpp"

#include <QFontDatabase>
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

struct KeyButton {
    const char* label;
    HidUsage usage;
    bool modifier;
};

// The keys the sample mappings use, modifiers first (they stay down until
// clicked again, so that a combination can be built with the mouse).
constexpr KeyButton kKeyButtons[] = {
    {"⌃ Control", 0xE0, true}, {"⇧ Shift", 0xE1, true}, {"⌥ Option", 0xE2, true},
    {"⌘ Command", 0xE3, true}, {"A", 0x04, false},      {"S", 0x16, false},
    {"Z", 0x1D, false},        {"H", 0x0B, false},      {"Q", 0x14, false},
    {"Space", 0x2C, false},
};

bool isModifier(HidUsage usage) {
    return usage >= 0xE0 && usage <= 0xE7;
}

QString readable(const platform::sim::AppEvent& event) {
    const std::string text = signatureText(MacKeySignature::masked(event.keyCode, event.flags));
    return QString::fromStdString(text);
}

} // namespace

DemoWindow::DemoWindow(platform::sim::SimWorld& world, RawKeyboardListener& engine, QWidget* parent)
    : QWidget(parent, Qt::Window), world_(world), engine_(engine),
      origin_(world.scheduler().now()) {
    setObjectName(QStringLiteral("demo"));
    setWindowTitle(QStringLiteral("Chordwell Demo"));
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Chordwell Demo"));

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral("Keys typed here come from the simulated “%1”. Turn interception on "
                       "and try ⌃A (Copy), ⌃S (Paste), ⌃Space (Search), ⌃Z (Undo), ⌃H "
                       "(types “Hi”) or ⌃Q (blocked). Recording in the main window works "
                       "from here too.")
            .arg(QString::fromUtf8(kKeyboardName)),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* stateRow = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("demoStatus"));
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

    auto* keys = new QHBoxLayout;
    for (const KeyButton& k : kKeyButtons) {
        auto* button = new QPushButton(QString::fromUtf8(k.label), this);
        button->setObjectName(QStringLiteral("demoKey%1").arg(k.usage, 2, 16, QLatin1Char('0')));
        button->setFocusPolicy(Qt::NoFocus); // typing stays with the window
        const HidUsage usage = k.usage;
        if (k.modifier) {
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
        keys->addWidget(button);
    }
    layout->addLayout(keys);

    auto* paneTitle = new QLabel(QStringLiteral("What the focused application receives:"), this);
    layout->addWidget(paneTitle);
    pane_ = new QPlainTextEdit(this);
    pane_->setObjectName(QStringLiteral("demoPane"));
    pane_->setReadOnly(true);
    pane_->setFocusPolicy(Qt::NoFocus);
    pane_->setMaximumBlockCount(kPaneLines);
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
    resize(640, 420);

    world_.setAppEventSink([this](const platform::sim::AppEvent& event) { onAppEvent(event); });
    engineChanges_ = engine_.subscribeWillChange([this] { scheduleRefresh(); });
    refreshState();
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
            const std::string from =
                code ? signatureText(MacKeySignature::masked(*code, flags)) : std::string("?");
            std::string line = from + " → " + mapping->outputBehavior.displayLabel();
            if (!postedDuringKey_.empty()) {
                line += " (" + signatureText(postedDuringKey_) + ")";
            }
            appendLine(QString::fromStdString(line));
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

QString DemoWindow::paneText() const {
    return pane_->toPlainText();
}

void DemoWindow::clearPane() {
    pane_->clear();
}

void DemoWindow::onAppEvent(const platform::sim::AppEvent& event) {
    QString line = QString::fromStdString(script::formatAppEvent(event, origin_));
    if (event.type == platform::EventType::keyDown) {
        line += QStringLiteral("   %1").arg(readable(event));
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
    if (!attached) {
        status_->setText(QStringLiteral("“%1” is not attached.").arg(kKeyboardName));
    } else if (on) {
        status_->setText(QStringLiteral("Intercepting: mapped combinations are replaced."));
    } else {
        status_->setText(QStringLiteral("Not intercepting: keys pass unchanged."));
    }
    intercept_->setText(on ? QStringLiteral("Stop Intercepting")
                           : QStringLiteral("Start Intercepting"));
    intercept_->setEnabled(attached && engine_.selectedDevice().has_value());
}

} // namespace chordwell::app
