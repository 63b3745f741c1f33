// The settings window's content: launch at login, the delete confirmation,
// key repeat with its two timings, the diagnostics section and the about
// links. Every control writes through at once; there is no Save button.
#pragma once

#include "app/diagnostics/diagnostics_model.hpp"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace chordwell::platform {
class Preferences;
class LoginItemService;
class Desktop;
} // namespace chordwell::platform

class QCheckBox;
class QLabel;
class QSlider;
class QTimer;
class QVBoxLayout;

namespace chordwell::app {

class DiagnosticsView;

/// A slider over seconds with a fixed step, on an integer position scale.
struct SliderScale {
    double minimum;
    double maximum;
    double step;

    /// The last position (positions run from 0).
    int lastPosition() const;
    /// The value of a position: an exact step of the scale, so that a step
    /// of 0.17 s is stored as 0.17 and never as 0.16999….
    double valueAt(int position) const;
    /// The nearest position of a value, clamped to the scale.
    int positionOf(double seconds) const;
};

/// The state and operations of the settings window, without widgets.
class SettingsModel {
public:
    static constexpr SliderScale kInitialDelayScale{0.2, 1.5, 0.05};
    static constexpr SliderScale kIntervalScale{0.05, 0.5, 0.01};

    /// Records a user action for the diagnostics report.
    using ActionRecorder = std::function<void(const std::string&)>;

    /// Reads the login item's state now; `recordAction` defaults to the
    /// process-wide breadcrumbs.
    SettingsModel(platform::Preferences& preferences, platform::LoginItemService& loginItems,
                  ActionRecorder recordAction = {});

    /// Reads the login item's state again, as when the window's content is
    /// built afresh.
    void reloadLaunchAtLogin();

    bool launchAtLogin() const { return launchAtLogin_; }
    /// Registers or unregisters the login item. On failure the error is
    /// logged and the shown value stays what the user chose.
    void setLaunchAtLogin(bool enabled);

    /// "Resume mappings at launch": on unless turned off.
    bool resumeMappingsAtLaunch() const;
    void setResumeMappingsAtLaunch(bool resume);

    bool suppressDeleteConfirmation() const;
    /// The check box "Confirm before deleting mappings": the inverse of
    /// suppressDeleteConfirmation.
    bool confirmBeforeDeleting() const { return !suppressDeleteConfirmation(); }
    void setConfirmBeforeDeleting(bool confirm);

    bool keyRepeatEnabled() const;
    void setKeyRepeatEnabled(bool enabled);
    /// The two timing rows show only while key repeat is on.
    bool showsKeyRepeatTimings() const { return keyRepeatEnabled(); }

    double keyRepeatInitialDelay() const;
    void setKeyRepeatInitialDelay(double seconds);
    double keyRepeatInterval() const;
    void setKeyRepeatInterval(double seconds);

    std::string initialDelayText() const { return millisecondsText(keyRepeatInitialDelay()); }
    std::string intervalText() const { return millisecondsText(keyRepeatInterval()); }

    /// Whole milliseconds, truncated toward zero, and " ms".
    static std::string millisecondsText(double seconds);

    /// The log line's prefix for a refused login-item change.
    static std::string loginItemErrorPrefix();

    void recordAction(const std::string& action) const;

private:
    double storedSeconds(const char* key, double fallback) const;
    /// Writes `value` unless the window already shows it.
    void writeBool(const char* key, bool shown, bool value);
    void writeDouble(const char* key, double shown, double value);

    platform::Preferences& preferences_;
    platform::LoginItemService& loginItems_;
    ActionRecorder recordAction_;
    bool launchAtLogin_ = false;
};

class SettingsView : public QWidget {
    Q_OBJECT

public:
    SettingsView(platform::Preferences& preferences, platform::LoginItemService& loginItems,
                 platform::Desktop& desktop, DiagnosticsSources diagnosticsSources,
                 QWidget* parent = nullptr);
    /// For tests: a given display name, action recorder and report identity.
    SettingsView(platform::Preferences& preferences, platform::LoginItemService& loginItems,
                 platform::Desktop& desktop, DiagnosticsSources diagnosticsSources,
                 DiagnosticsIdentity identity, SettingsModel::ActionRecorder recordAction,
                 QWidget* parent = nullptr);

    static constexpr int kContentWidth = 380;

    SettingsModel& model() { return model_; }

    /// Reads everything again from the preferences and the login item and
    /// forgets the diagnostics status line, as a freshly built window does.
    void refresh();

    /// Opens a link of the About section; when no application takes it, a
    /// status line under the links says so.
    void openLink(const QString& url);
    QLabel* linkStatus() const { return linkStatus_; }

    QCheckBox* launchAtLoginBox() const { return launchAtLogin_; }
    QCheckBox* resumeAtLaunchBox() const { return resumeAtLaunch_; }
    QCheckBox* confirmDeleteBox() const { return confirmDelete_; }
    QCheckBox* keyRepeatBox() const { return keyRepeat_; }
    QWidget* keyRepeatTimings() const { return timings_; }
    QSlider* initialDelaySlider() const { return delaySlider_; }
    QSlider* intervalSlider() const { return intervalSlider_; }
    QLabel* initialDelayValue() const { return delayValue_; }
    QLabel* intervalValue() const { return intervalValue_; }
    DiagnosticsView* diagnostics() const { return diagnostics_; }

    /// Fixed width; the height its content needs at that width.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build(const QString& displayName, platform::Desktop& desktop,
               DiagnosticsSources diagnosticsSources, DiagnosticsIdentity identity);
    // The window's sections, top to bottom, then what their controls do.
    void buildGeneralSection(QVBoxLayout* stack, const QString& displayName);
    void buildSafetySection(QVBoxLayout* stack);
    void buildKeyRepeatSection(QVBoxLayout* stack);
    void buildAboutSection(QVBoxLayout* stack);
    void connectControls();
    void syncFromModel();
    int contentHeight() const;

    SettingsModel model_;
    platform::Preferences& preferences_;
    platform::Desktop& desktop_;
    QLabel* linkStatus_ = nullptr;
    QCheckBox* launchAtLogin_ = nullptr;
    QCheckBox* resumeAtLaunch_ = nullptr;
    QCheckBox* confirmDelete_ = nullptr;
    QCheckBox* keyRepeat_ = nullptr;
    QWidget* timings_ = nullptr;
    QSlider* delaySlider_ = nullptr;
    QSlider* intervalSlider_ = nullptr;
    QLabel* delayValue_ = nullptr;
    QLabel* intervalValue_ = nullptr;
    DiagnosticsView* diagnostics_ = nullptr;
    QTimer* timingCrumb_ = nullptr;
};

} // namespace chordwell::app
