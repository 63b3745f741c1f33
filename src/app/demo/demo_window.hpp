// The demo window: a stand-in for a real keyboard and a real application.
//
// Keys typed while the window has focus, or pressed on its row of keys with
// the mouse, reach the simulated "Demo Keyboard" as HID values; the pane
// shows what the focused application receives, both as `chordwellctl
// simulate` prints it and as readable text ("Ctrl+A → Copy (Ctrl+C)", "⌃A →
// Copy (⌘C)" on macOS).
#pragma once

#include "engine/observable.hpp"
#include "model/keys.hpp"
#include "platform/sim/sim_world.hpp"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;
class QAbstractButton;

namespace chordwell {
class RawKeyboardListener;
} // namespace chordwell

namespace chordwell::app {

class DemoWindow : public QWidget {
    Q_OBJECT

public:
    /// The product name of the keyboard the window types on.
    static constexpr const char* kKeyboardName = "Demo Keyboard";
    static constexpr const char* kWindowTitle = "Chordwell Demo";
    static constexpr int kMinimumWidth = 420;

    DemoWindow(platform::sim::SimWorld& world, RawKeyboardListener& engine,
               QWidget* parent = nullptr);
    ~DemoWindow() override;

    /// A key of the demo keyboard goes down / up (what typing and the on-screen
    /// keys do). Nothing happens while the keyboard is not attached.
    void pressKey(HidUsage usage);
    void releaseKey(HidUsage usage);
    /// Lets go of every key the window holds down.
    void releaseAll();

    /// Everything the pane shows.
    QString paneText() const;
    void clearPane();
    /// The line saying whether mappings are on, or that a recording runs.
    QString statusText() const;

    /// Called with the typed keys still held when the window loses the
    /// focus (they switched windows: the Alt of Alt+Tab), before they are
    /// let go of.
    void setFocusLossHandler(std::function<void(const std::vector<HidUsage>&)> handler) {
        focusLoss_ = std::move(handler);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The window's rows, top to bottom.
    void addIntro(QVBoxLayout* layout);
    void addStateRow(QVBoxLayout* layout);
    void addLayoutRow(QVBoxLayout* layout);
    void addKeyButtons(QVBoxLayout* layout);
    void addPane(QVBoxLayout* layout);
    void onAppEvent(const platform::sim::AppEvent& event);
    void refreshState();
    void scheduleRefresh();
    std::shared_ptr<platform::sim::SimKeyboard> keyboard() const;
    void appendLine(const QString& line);

    platform::sim::SimWorld& world_;
    RawKeyboardListener& engine_;
    platform::Scheduler::Duration origin_;
    std::vector<HidUsage> held_;
    // What reached the application while the last key-down was delivered.
    std::vector<MacKeySignature> postedDuringKey_;
    bool collecting_ = false;
    bool refreshQueued_ = false;

    QLabel* intro_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* intercept_ = nullptr;
    QComboBox* layoutMenu_ = nullptr;
    QPlainTextEdit* pane_ = nullptr;
    std::vector<std::pair<QAbstractButton*, HidUsage>> modifierButtons_;
    Subscription engineChanges_;
    std::function<void(const std::vector<HidUsage>&)> focusLoss_;
};

} // namespace chordwell::app
