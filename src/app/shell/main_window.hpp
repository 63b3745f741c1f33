// The main window ("remap"): the keyboards-and-mappings view, a banner for
// platform notices and storage problems, and the "Manage" and Help menus.
// It follows the application's Dock presence and receives the status menu's
// "toggleIntercept".
#pragma once

#include "platform/ports.hpp"
#include "storage/storage_manager.hpp"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;

namespace chordwell {
class RawKeyboardListener;
namespace platform {
class AppPresence;
class Desktop;
} // namespace platform
} // namespace chordwell

namespace chordwell::app {

class EngineBridge;
class FileChooser;
class KeyboardMappingModel;
class KeyboardMappingView;

/// One line of the banner: a message and an optional button opening a URL.
struct BannerMessage {
    std::string text;
    std::string actionLabel;
    std::string actionURL;
    /// Non-empty: the line has a "Dismiss" button, which hands this key to
    /// the window's dismiss handler. The line stays until then.
    std::string dismissKey;
    /// Non-empty: the action button first asks the system for this
    /// permission (the window's permission handler); the URL opens when the
    /// system has answered before.
    std::string requestKey = {};

    friend bool operator==(const BannerMessage&, const BannerMessage&) = default;
};

/// A menu title or item with its mnemonic ("&Manage"); on macOS, which has
/// no mnemonics, the text without the marker.
QString menuText(const QString& text);

/// The banner lines for the platform's notices, a storage failure and the
/// mapping files that could not be read and were kept aside.
std::vector<BannerMessage> bannerMessages(const std::vector<platform::PlatformNotice>& notices,
                                          bool hasStorage, const std::string& storageError,
                                          const std::vector<SetAsideFile>& setAside = {});

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> openSettings;
        std::function<void()> openHelp;
    };

    MainWindow(KeyboardMappingModel& model, EngineBridge& bridge, platform::AppPresence& presence,
               platform::Desktop& desktop, Actions actions,
               std::shared_ptr<FileChooser> files = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    KeyboardMappingView* mappingView() const { return view_; }
    QMenu* manageMenu() const { return manageMenu_; }
    QAction* manageToggleItem() const { return manageToggle_; }
    QAction* openSettingsItem() const { return openSettings_; }
    /// The application menu's standard settings command (macOS only).
    QAction* settingsCommand() const { return settingsCommand_; }
    QMenuBar* windowMenuBar() const { return menuBar_; }
    /// How long a status line stays.
    static constexpr int kStatusMessageMs = 15000;
    QAction* helpItem() const { return help_; }
    QWidget* banner() const { return banner_; }

    /// Shows these lines above the view (none: the banner disappears).
    void setBanner(const std::vector<BannerMessage>& messages);
    /// Asks the system for a banner line's permission; true when it asked.
    void setPermissionRequestHandler(std::function<bool(const std::string&)> handler) {
        requestPermission_ = std::move(handler);
    }
    /// Called with a line's dismissKey when its "Dismiss" button is pressed.
    void setBannerDismissHandler(std::function<void(const std::string&)> handler) {
        dismissBanner_ = std::move(handler);
    }
    const std::vector<BannerMessage>& bannerShown() const { return bannerShown_; }

    /// The "Manage" toggle's title for the current state.
    void updateManageMenu();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildMenus(Actions actions);

    KeyboardMappingModel& model_;
    platform::AppPresence& presence_;
    platform::Desktop& desktop_;
    KeyboardMappingView* view_ = nullptr;
    QWidget* banner_ = nullptr;
    std::vector<BannerMessage> bannerShown_;
    std::function<void(const std::string&)> dismissBanner_;
    std::function<bool(const std::string&)> requestPermission_;
    QMenuBar* menuBar_ = nullptr;
    std::unique_ptr<QMenuBar> globalMenuBar_;
    QMenu* manageMenu_ = nullptr;
    QAction* manageToggle_ = nullptr;
    QAction* openSettings_ = nullptr;
    QAction* settingsCommand_ = nullptr;
    QAction* help_ = nullptr;
};

} // namespace chordwell::app
