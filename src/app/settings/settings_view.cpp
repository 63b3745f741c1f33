#include "app/settings/settings_view.hpp"

#include "app/app_info.hpp"
#include "app/controls/link_button.hpp"
#include "app/controls/symbol_label.hpp"
#include "app/controls/symbols.hpp"
#include "app/controls/text_styles.hpp"
#include "app/diagnostics/diagnostics_view.hpp"
#include "app/settings/observable_preferences.hpp"
#include "logging/breadcrumbs.hpp"
#include "logging/log.hpp"
#include "ports/desktop.hpp"
#include "storage/settings.hpp"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <variant>

namespace chordwell::app {

// ------------------------------------------------------------- SliderScale

int SliderScale::lastPosition() const {
    return static_cast<int>(std::lround((maximum - minimum) / step));
}

double SliderScale::valueAt(int position) const {
    const int clamped = std::clamp(position, 0, lastPosition());
    // minimum + n·step drifts off the decimal grid (0.05 + 12·0.01 is
    // 0.16999…); rounding to micro-seconds lands on the step itself.
    return std::round((minimum + clamped * step) * 1e6) / 1e6;
}

int SliderScale::positionOf(double seconds) const {
    if (!std::isfinite(seconds)) {
        return 0;
    }
    const double position = std::round((seconds - minimum) / step);
    return static_cast<int>(std::clamp(position, 0.0, static_cast<double>(lastPosition())));
}

// ----------------------------------------------------------- SettingsModel

SettingsModel::SettingsModel(platform::Preferences& preferences,
                             platform::LoginItemService& loginItems, ActionRecorder recordAction)
    : preferences_(preferences), loginItems_(loginItems), recordAction_(std::move(recordAction)) {
    if (!recordAction_) {
        recordAction_ = [](const std::string& action) {
            logging::Breadcrumbs::shared().add(action);
        };
    }
    reloadLaunchAtLogin();
}

void SettingsModel::reloadLaunchAtLogin() {
    launchAtLogin_ = loginItems_.status() == platform::LoginItemStatus::enabled;
}

std::string SettingsModel::loginItemErrorPrefix() {
#if defined(__APPLE__)
    return "SMAppService error: ";
#else
    return "Login item error: ";
#endif
}

void SettingsModel::recordAction(const std::string& action) const {
    recordAction_(action);
}

void SettingsModel::setLaunchAtLogin(bool enabled) {
    // The box keeps what the user chose even when the system refuses; the
    // next time the window is built it shows the system's real state.
    launchAtLogin_ = enabled;
    std::string error;
    const bool done = enabled ? loginItems_.registerApp(error) : loginItems_.unregisterApp(error);
    if (!done) {
        log(LogLevel::error, loginItemErrorPrefix() + error, "settings");
        return;
    }
    recordAction(enabled ? "Launch at login turned on" : "Launch at login turned off");
}

bool SettingsModel::resumeMappingsAtLaunch() const {
    return settings::resumeMappingsAtLaunch(preferences_);
}

void SettingsModel::setResumeMappingsAtLaunch(bool resume) {
    if (resume == resumeMappingsAtLaunch()) {
        return;
    }
    writeBool(settings::kResumeMappingsAtLaunch, resumeMappingsAtLaunch(), resume);
    recordAction(resume ? "Resuming mappings at launch turned on"
                        : "Resuming mappings at launch turned off");
}

bool SettingsModel::suppressDeleteConfirmation() const {
    return settings::boolForKey(preferences_, settings::kSuppressDeleteConfirmation,
                                settings::kDefaultSuppressDeleteConfirmation);
}

void SettingsModel::setConfirmBeforeDeleting(bool confirm) {
    const bool suppress = !confirm;
    if (suppress == suppressDeleteConfirmation()) {
        return;
    }
    writeBool(settings::kSuppressDeleteConfirmation, suppressDeleteConfirmation(), suppress);
    recordAction(confirm ? "Delete confirmation turned on" : "Delete confirmation turned off");
}

bool SettingsModel::keyRepeatEnabled() const {
    return settings::boolForKey(preferences_, settings::kKeyRepeatEnabled,
                                settings::kDefaultKeyRepeatEnabled);
}

void SettingsModel::setKeyRepeatEnabled(bool enabled) {
    if (enabled == keyRepeatEnabled()) {
        return;
    }
    writeBool(settings::kKeyRepeatEnabled, keyRepeatEnabled(), enabled);
    recordAction(enabled ? "Key repeat turned on" : "Key repeat turned off");
}

double SettingsModel::storedSeconds(const char* key, double fallback) const {
    const auto value = preferences_.value(key);
    if (!value) {
        return fallback;
    }
    const double* number = std::get_if<double>(&*value);
    return number != nullptr && std::isfinite(*number) ? *number : fallback;
}

double SettingsModel::keyRepeatInitialDelay() const {
    return storedSeconds(settings::kKeyRepeatInitialDelay, settings::kDefaultKeyRepeatInitialDelay);
}

void SettingsModel::setKeyRepeatInitialDelay(double seconds) {
    writeDouble(settings::kKeyRepeatInitialDelay, keyRepeatInitialDelay(), seconds);
}

double SettingsModel::keyRepeatInterval() const {
    return storedSeconds(settings::kKeyRepeatInterval, settings::kDefaultKeyRepeatIntervalShown);
}

void SettingsModel::setKeyRepeatInterval(double seconds) {
    writeDouble(settings::kKeyRepeatInterval, keyRepeatInterval(), seconds);
}

void SettingsModel::writeBool(const char* key, bool shown, bool value) {
    if (shown != value) {
        preferences_.setValue(key, value);
    }
}

void SettingsModel::writeDouble(const char* key, double shown, double value) {
    if (!std::isfinite(value) || shown == value) {
        return;
    }
    preferences_.setValue(key, value);
}

std::string SettingsModel::millisecondsText(double seconds) {
    const double milliseconds = seconds * 1000.0;
    if (!std::isfinite(milliseconds)) {
        return "0 ms";
    }
    // Truncation toward zero, as an integer conversion does.
    const double whole = std::trunc(std::clamp(milliseconds, -1e15, 1e15));
    return std::to_string(static_cast<long long>(whole)) + " ms";
}

// ------------------------------------------------------------ SettingsView

namespace {

// A titled group: the symbol and title above a box holding the content.
QVBoxLayout* addSection(QVBoxLayout* stack, const QString& title, const QString& symbol,
                        QWidget* parent) {
    auto* section = new QVBoxLayout;
    section->setSpacing(4);
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    auto* icon = new SymbolLabel(symbol, 16, parent);
    auto* label = new QLabel(title, parent);
    label->setFont(headlineFont(label->font()));
    header->addWidget(icon);
    header->addWidget(label);
    header->addStretch(1);
    section->addLayout(header);

    auto* box = new QGroupBox(parent);
    box->setObjectName(title);
    auto* content = new QVBoxLayout(box);
    content->setSpacing(8);
    content->setContentsMargins(10, 4 + 6, 10, 10);
    section->addWidget(box);
    stack->addLayout(section);
    return content;
}

QLabel* secondaryText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    makeSecondaryCaption(label);
    return label;
}

LinkButton* link(const QString& text, const QString& url, QWidget* parent) {
    return new LinkButton(text, url, parent);
}

} // namespace

SettingsView::SettingsView(platform::Preferences& preferences,
                           platform::LoginItemService& loginItems, platform::Desktop& desktop,
                           DiagnosticsSources diagnosticsSources, QWidget* parent)
    : SettingsView(preferences, loginItems, desktop, std::move(diagnosticsSources),
                   DiagnosticsIdentity::current(), {}, parent) {}

SettingsView::SettingsView(platform::Preferences& preferences,
                           platform::LoginItemService& loginItems, platform::Desktop& desktop,
                           DiagnosticsSources diagnosticsSources, DiagnosticsIdentity identity,
                           SettingsModel::ActionRecorder recordAction, QWidget* parent)
    : QWidget(parent), model_(preferences, loginItems, std::move(recordAction)),
      preferences_(preferences), desktop_(desktop) {
    const QString displayName = QString::fromStdString(identity.displayName);
    build(displayName, desktop, std::move(diagnosticsSources), std::move(identity));
}

void SettingsView::openLink(const QString& url) {
    if (desktop_.openURL(url.toStdString())) {
        linkStatus_->clear();
        linkStatus_->hide();
        return;
    }
    // Without a browser the click would do nothing at all; the address can
    // at least be copied from here.
    log(LogLevel::warning, "No application could open a link of the settings window", "ui");
    linkStatus_->setText(linkFailureText(url));
    linkStatus_->show();
}

void SettingsView::build(const QString& displayName, platform::Desktop& desktop,
                         DiagnosticsSources diagnosticsSources, DiagnosticsIdentity identity) {
    setFixedWidth(kContentWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(24);
    buildGeneralSection(stack, displayName);
    buildSafetySection(stack);
    buildKeyRepeatSection(stack);
    QVBoxLayout* diagnostics =
        addSection(stack, tr("Diagnostics"), QStringLiteral("ladybug"), this);
    diagnostics_ =
        new DiagnosticsView(desktop, std::move(diagnosticsSources), std::move(identity), this);
    diagnostics->addWidget(diagnostics_);
    buildAboutSection(stack);
    stack->addStretch(1);
    connectControls();
    syncFromModel();
}

void SettingsView::buildGeneralSection(QVBoxLayout* stack, const QString& displayName) {
    QVBoxLayout* general = addSection(stack, tr("General"), QStringLiteral("gearshape"), this);
    launchAtLogin_ = new QCheckBox(tr("Launch at Login"), this);
    general->addWidget(launchAtLogin_);
    general->addWidget(secondaryText(QStringLiteral("Automatically start ") + displayName +
                                         QStringLiteral(" when you log in."),
                                     this));
    resumeAtLaunch_ = new QCheckBox(tr("Resume mappings at launch"), this);
    general->addWidget(resumeAtLaunch_);
    general->addWidget(secondaryText(
        QStringLiteral("Select the last keyboard again when ") + displayName +
            QStringLiteral(" starts, with its mappings on if they were on, as soon as it is "
                           "attached."),
        this));
}

void SettingsView::buildSafetySection(QVBoxLayout* stack) {
    QVBoxLayout* safety =
        addSection(stack, tr("Safety"), QStringLiteral("shield.lefthalf.filled"), this);
    confirmDelete_ = new QCheckBox(tr("Confirm before deleting mappings"), this);
    safety->addWidget(confirmDelete_);
    safety->addWidget(
        secondaryText(tr("Show a confirmation dialog before you delete a mapping."), this));
}

void SettingsView::buildKeyRepeatSection(QVBoxLayout* stack) {
    QVBoxLayout* repeat = addSection(stack, tr("Key Repeat"), QStringLiteral("repeat"), this);
    keyRepeat_ = new QCheckBox(tr("Repeat mapped keys when held"), this);
    repeat->addWidget(keyRepeat_);
    repeat->addWidget(secondaryText(
        tr("Holding a mapped key repeats its output, like a normal keyboard."), this));
    timings_ = new QWidget(this);
    timings_->setObjectName(QStringLiteral("keyRepeatTimings"));
    auto* rows = new QVBoxLayout(timings_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);
    const auto addRow = [&](const QString& title, const SliderScale& scale, QSlider*& slider,
                            QLabel*& value) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(title, timings_));
        slider = new QSlider(Qt::Horizontal, timings_);
        slider->setAccessibleName(title);
        slider->setRange(0, scale.lastPosition());
        slider->setSingleStep(1);
        slider->setPageStep(std::max(1, scale.lastPosition() / 5));
        setPointingHandCursor(slider);
        row->addWidget(slider, 1);
        value = new QLabel(timings_);
        value->setFixedWidth(60);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setFont(monospacedFont(value->font()));
        row->addWidget(value);
        rows->addLayout(row);
    };
    addRow(tr("Delay until repeat"), SettingsModel::kInitialDelayScale, delaySlider_, delayValue_);
    addRow(tr("Repeat interval"), SettingsModel::kIntervalScale, intervalSlider_, intervalValue_);
    repeat->addWidget(timings_);
}

void SettingsView::buildAboutSection(QVBoxLayout* stack) {
    QVBoxLayout* about = addSection(stack, tr("About"), QStringLiteral("info.circle"), this);
    auto* website = link(websiteDomain(), websiteURL(), this);
    website->setObjectName(QStringLiteral("websiteLink"));
    about->addWidget(website);
    auto* legal = new QHBoxLayout;
    legal->setSpacing(12);
    auto* terms = link(tr("Terms of Use"), termsURL(), this);
    terms->setObjectName(QStringLiteral("termsLink"));
    auto* privacy = link(tr("Privacy Policy"), privacyURL(), this);
    privacy->setObjectName(QStringLiteral("privacyLink"));
    for (LinkButton* label : {terms, privacy}) {
        label->setFont(captionFont(label->font()));
        legal->addWidget(label);
    }
    legal->addStretch(1);
    about->addLayout(legal);
    linkStatus_ = secondaryText(QString(), this);
    linkStatus_->setObjectName(QStringLiteral("linkStatus"));
    linkStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    linkStatus_->hide();
    about->addWidget(linkStatus_);
    for (LinkButton* label : {website, terms, privacy}) {
        connect(label, &LinkButton::linkActivated, this, &SettingsView::openLink);
    }
}

void SettingsView::connectControls() {
    // A dragged slider writes continuously; the report records only where
    // the timings came to rest.
    timingCrumb_ = new QTimer(this);
    timingCrumb_->setSingleShot(true);
    timingCrumb_->setInterval(1000);
    connect(timingCrumb_, &QTimer::timeout, this, [this] {
        model_.recordAction("Key repeat timings set to " + model_.initialDelayText() + " / " +
                            model_.intervalText());
    });

    connect(launchAtLogin_, &QCheckBox::toggled, this,
            [this](bool checked) { model_.setLaunchAtLogin(checked); });
    connect(resumeAtLaunch_, &QCheckBox::toggled, this,
            [this](bool checked) { model_.setResumeMappingsAtLaunch(checked); });
    connect(confirmDelete_, &QCheckBox::toggled, this,
            [this](bool checked) { model_.setConfirmBeforeDeleting(checked); });
    connect(keyRepeat_, &QCheckBox::toggled, this, [this](bool checked) {
        model_.setKeyRepeatEnabled(checked);
        syncFromModel();
    });
    connect(delaySlider_, &QSlider::valueChanged, this, [this](int position) {
        model_.setKeyRepeatInitialDelay(SettingsModel::kInitialDelayScale.valueAt(position));
        delayValue_->setText(QString::fromStdString(model_.initialDelayText()));
        timingCrumb_->start();
    });
    connect(intervalSlider_, &QSlider::valueChanged, this, [this](int position) {
        model_.setKeyRepeatInterval(SettingsModel::kIntervalScale.valueAt(position));
        intervalValue_->setText(QString::fromStdString(model_.intervalText()));
        timingCrumb_->start();
    });

    // A preference written elsewhere (the delete dialog's "Do not ask
    // again", the main window) shows at once.
    if (auto* observable = dynamic_cast<ObservablePreferences*>(&preferences_)) {
        connect(observable, &ObservablePreferences::changed, this, [this] { syncFromModel(); });
    }
}

void SettingsView::syncFromModel() {
    const QSignalBlocker blockLogin(launchAtLogin_);
    const QSignalBlocker blockResume(resumeAtLaunch_);
    const QSignalBlocker blockDelete(confirmDelete_);
    const QSignalBlocker blockRepeat(keyRepeat_);
    const QSignalBlocker blockDelay(delaySlider_);
    const QSignalBlocker blockInterval(intervalSlider_);
    launchAtLogin_->setChecked(model_.launchAtLogin());
    resumeAtLaunch_->setChecked(model_.resumeMappingsAtLaunch());
    confirmDelete_->setChecked(model_.confirmBeforeDeleting());
    keyRepeat_->setChecked(model_.keyRepeatEnabled());
    delaySlider_->setValue(
        SettingsModel::kInitialDelayScale.positionOf(model_.keyRepeatInitialDelay()));
    intervalSlider_->setValue(SettingsModel::kIntervalScale.positionOf(model_.keyRepeatInterval()));
    delayValue_->setText(QString::fromStdString(model_.initialDelayText()));
    intervalValue_->setText(QString::fromStdString(model_.intervalText()));
    timings_->setVisible(model_.showsKeyRepeatTimings());
}

void SettingsView::refresh() {
    model_.reloadLaunchAtLogin();
    diagnostics_->reset();
    syncFromModel();
}

int SettingsView::contentHeight() const {
    // Wrapped texts make the height depend on the width; layouts do not
    // carry that up to a window by themselves.
    QLayout* stack = layout();
    if (stack == nullptr) {
        return QWidget::sizeHint().height();
    }
    return stack->hasHeightForWidth() ? stack->totalHeightForWidth(kContentWidth)
                                      : stack->totalSizeHint().height();
}

QSize SettingsView::sizeHint() const {
    return {kContentWidth, contentHeight()};
}

QSize SettingsView::minimumSizeHint() const {
    return sizeHint();
}

void SettingsView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The links draw themselves in the palette's link colour.
}

bool SettingsView::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        // Another program may have changed the store meanwhile.
        syncFromModel();
    }
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        // Shown as a window of its own, it fits its content as the rows
        // and the status line come and go.
        if (isWindow()) {
            setFixedHeight(contentHeight());
        }
    }
    return handled;
}

void SettingsView::showEvent(QShowEvent* event) {
    // Each time the window opens its content starts afresh: the login item
    // as the system has it now, preferences changed elsewhere, no status line.
    if (!event->spontaneous()) {
        refresh();
    }
    QWidget::showEvent(event);
}

} // namespace chordwell::app
