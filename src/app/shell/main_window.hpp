// The main window ("remap"): the keyboards-and-mappings view, a banner for
// platform notices and storage problems, and the "Manage" and Help menus.
// It follows the application's Dock presence and receives the status menu's
// "toggleIntercept".
#pragma once

#include "ports/ports.hpp"
#include "storage/storage_manager.hpp"

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>
#include <optional>
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
        /// Ends the application (File → Quit, Ctrl+Q).
        std::function<void()> quit;
        /// Brings the demo window back; only the demo has one.
        std::function<void()> showDemoWindow;
    };

    MainWindow(KeyboardMappingModel& model, EngineBridge& bridge, platform::AppPresence& presence,
               platform::Desktop& desktop, Actions actions,
               std::shared_ptr<FileChooser> files = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    KeyboardMappingView* mappingView() const { return view_; }
    QMenu* manageMenu() const { return manageMenu_; }
    QMenu* fileMenu() const { return fileMenu_; }
    QAction* importItem() const { return import_; }
    QAction* exportItem() const { return export_; }
    QAction* clearItem() const { return clear_; }
    QAction* quitItem() const { return quit_; }
    /// "Show Demo Window" (the demo only; nullptr otherwise).
    QAction* showDemoItem() const { return showDemo_; }
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
    /// In a short window the banner shows the first sentence of each line,
    /// with a button for the rest.
    bool bannerShortened() const { return bannerShort_ && !bannerExpanded_; }

    /// The menus' titles and enabled states for the current state.
    void updateManageMenu();

    /// Sizes the window for a screen whose free area is `available`: no
    /// larger than that area (less the window frame), at least as large as
    /// the list needs to show five mappings, and the default size when there
    /// is room. Called when the window is first shown and when it moves to
    /// another screen.
    void fitInto(const QRect& available);
    /// The frame a window manager adds around the content (title bar,
    /// borders), allowed for when fitting.
    static constexpr int kFrameAllowance = 48;
    static constexpr int kFrameWidthAllowance = 16;
    static constexpr QSize kDefaultSize{900, 640};

    /// Where the mapping list is on the screen (another window should not
    /// cover it).
    QRect mappingAreaOnScreen() const;

protected:
    bool event(QEvent* event) override;
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
    std::vector<std::pair<class QLabel*, QString>> bannerTexts_;
    class QPushButton* bannerMore_ = nullptr;
    bool bannerShort_ = false;
    bool bannerExpanded_ = false;
    std::function<void(const std::string&)> dismissBanner_;
    std::function<bool(const std::string&)> requestPermission_;
    QMenuBar* menuBar_ = nullptr;
    std::unique_ptr<QMenuBar> globalMenuBar_;
    QMenu* fileMenu_ = nullptr;
    QAction* import_ = nullptr;
    QAction* export_ = nullptr;
    QAction* clear_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* showDemo_ = nullptr;
    QMenu* manageMenu_ = nullptr;
    QAction* manageToggle_ = nullptr;
    QAction* openSettings_ = nullptr;
    QAction* settingsCommand_ = nullptr;
    QAction* help_ = nullptr;
    void applyMinimumFor(const QRect& available);
    void showBannerTexts();

    bool fitted_ = false;
    bool applyingMinimum_ = false;
    QRect available_;
    // Where the window was when it was last hidden: it comes back there.
    std::optional<QPoint> placeWhenHidden_;
};

} // namespace chordwell::app
