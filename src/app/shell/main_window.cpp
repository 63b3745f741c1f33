#include "app/shell/main_window.hpp"

#include "app/app_info.hpp"
#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/mappings/mapping_editor_view.hpp"
#include "app/shell/app_events.hpp"
#include "app/shell/engine_bridge.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "ports/desktop.hpp"

#include <QAbstractItemView>
#include <QAction>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace chordwell::app {

QString menuText(const QString& text) {
#ifdef __APPLE__
    // macOS menus have no mnemonics; an ampersand would show as itself.
    QString plain = text;
    plain.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    plain.remove(QLatin1Char('&'));
    plain.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return plain;
#else
    return text;
#endif
}

std::vector<BannerMessage> bannerMessages(const std::vector<platform::PlatformNotice>& notices,
                                          bool hasStorage, const std::string& storageError,
                                          const std::vector<SetAsideFile>& setAside) {
    std::vector<BannerMessage> lines;
    if (!hasStorage) {
        lines.push_back(BannerMessage{
            "Mappings cannot be saved: the mappings folder is not available (" + storageError +
                "). Chordwell keeps working, but changes are lost when it quits.",
            "", "", ""});
    }
    for (const SetAsideFile& file : setAside) {
        // Otherwise the user sees an empty list and thinks the mappings gone.
        lines.push_back(BannerMessage{
            "The saved mappings of \u201C" + file.productName +
                "\u201D could not be read, so the list starts empty. The file was kept as " +
                file.keptAt.string() + ".",
            "", "", file.keptAt.string()});
    }
    for (const platform::PlatformNotice& n : notices) {
        lines.push_back(BannerMessage{n.message, n.actionLabel, n.actionURL, "", n.requestKey});
    }
    return lines;
}

MainWindow::MainWindow(KeyboardMappingModel& model, EngineBridge& bridge,
                       platform::AppPresence& presence, platform::Desktop& desktop, Actions actions,
                       std::shared_ptr<FileChooser> files, QWidget* parent)
    : QMainWindow(parent), model_(model), presence_(presence), desktop_(desktop) {
    setObjectName(QStringLiteral("remap"));
    setWindowTitle(appDisplayName());
    setMinimumSize(600, 400);
    resize(kDefaultSize);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    banner_ = new QWidget(central);
    banner_->setObjectName(QStringLiteral("banner"));
    banner_->setAutoFillBackground(true);
    QPalette warm = banner_->palette();
    warm.setColor(QPalette::Window, QColor(0xFF, 0xF4, 0xD6));
    warm.setColor(QPalette::WindowText, QColor(0x4A, 0x3B, 0x00));
    banner_->setPalette(warm);
    auto* bannerLines = new QVBoxLayout(banner_);
    bannerLines->setContentsMargins(0, 0, 0, 0);
    bannerLines->setSpacing(0);
    banner_->hide();
    layout->addWidget(banner_);
    view_ = new KeyboardMappingView(model_, bridge, std::move(files), central);
    layout->addWidget(view_, 1);
    setCentralWidget(central);
    // Failures of actions started here (a banner button whose address no
    // application takes) are said in this window, in a line that shows only
    // while it has something to say.
    statusBar()->setObjectName(QStringLiteral("statusLine"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->hide();
    connect(statusBar(), &QStatusBar::messageChanged, this,
            [this](const QString& message) { statusBar()->setVisible(!message.isEmpty()); });
    // What an import or export did is said here, where it was asked for.
    connect(view_, &KeyboardMappingView::statusMessage, this,
            [this](const QString& text) { statusBar()->showMessage(text, kStatusMessageMs); });
    // A new mapping is added at the end of the list: show it there.
    connect(view_->editor(), &MappingEditorView::newMappingSaved, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (QAbstractItemView* table = view_->table()) {
                    table->scrollToBottom();
                }
            },
            Qt::QueuedConnection);
    });

    buildMenus(std::move(actions));
    // The status menu's toggle reaches interception through this window for
    // as long as it exists, shown or closed to the status item.
    connect(&AppEvents::instance(), &AppEvents::toggleIntercept, this,
            [this] { model_.toggleInterception(!model_.engine().isIntercepting()); });
    connect(&bridge, &EngineBridge::changed, this, [this] { updateManageMenu(); });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive) {
                    model_.applicationResignedActive();
                }
            });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus(Actions actions) {
#ifdef __APPLE__
    // On macOS the menu bar belongs to the application, not to a window: a
    // menu bar without parent stays while the settings or help window is in
    // front.
    globalMenuBar_ = std::make_unique<QMenuBar>(nullptr);
    menuBar_ = globalMenuBar_.get();
#else
    menuBar_ = menuBar();
#endif
    // The desktop's usual first menu: the file operations and Quit (on
    // macOS Qt moves Quit into the application menu).
    fileMenu_ = menuBar_->addMenu(menuText(QStringLiteral("&File")));
    import_ = fileMenu_->addAction(menuText(QStringLiteral("&Import…")), this, [this] {
        view_->importClicked(model_.mappingPaneState() != MappingPaneState::mappings);
    });
    import_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    export_ = fileMenu_->addAction(menuText(QStringLiteral("&Export…")), this,
                                   [this] { view_->exportClicked(); });
    export_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    clear_ = fileMenu_->addAction(menuText(QStringLiteral("&Clear All…")), this,
                                  [this] { view_->clearAllClicked(); });
    if (actions.showDemoWindow) {
        fileMenu_->addSeparator();
        showDemo_ = fileMenu_->addAction(menuText(QStringLiteral("Show &Demo Window")), this,
                                         [show = actions.showDemoWindow] { show(); });
    }
    fileMenu_->addSeparator();
    quit_ = fileMenu_->addAction(menuText(QStringLiteral("&Quit")), this, [quit = actions.quit] {
        if (quit) {
            quit();
        } else {
            QCoreApplication::quit();
        }
    });
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setMenuRole(QAction::QuitRole);
    connect(fileMenu_, &QMenu::aboutToShow, this, [this] { updateManageMenu(); });

    manageMenu_ = menuBar_->addMenu(menuText(QStringLiteral("&Manage")));
    manageToggle_ = manageMenu_->addAction(QString(), this, [this] {
        model_.toggleInterception(!model_.engine().isIntercepting());
        updateManageMenu();
    });
    const auto openSettings = [open = actions.openSettings] {
        if (open) {
            open();
        }
    };
    openSettings_ =
        manageMenu_->addAction(menuText(QStringLiteral("Open &Settings")), this, openSettings);
    openSettings_->setMenuRole(QAction::NoRole);
#ifdef __APPLE__
    // The standard command of the application menu ("Settings…", ⌘,): Qt
    // moves an action with this role there, out of "Manage".
    settingsCommand_ = manageMenu_->addAction(QStringLiteral("Settings…"), this, openSettings);
    settingsCommand_->setMenuRole(QAction::PreferencesRole);
    settingsCommand_->setShortcut(QKeySequence::Preferences);
#endif
    QMenu* helpMenu = menuBar_->addMenu(menuText(QStringLiteral("&Help")));
    help_ = helpMenu->addAction(menuText(QStringLiteral("&Help")), this, [open = actions.openHelp] {
        if (open) {
            open();
        }
    });
    help_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Question));
    help_->setShortcutContext(Qt::ApplicationShortcut);
    connect(manageMenu_, &QMenu::aboutToShow, this, [this] { updateManageMenu(); });
    updateManageMenu();
#ifndef __APPLE__
    // F10 opens the menu bar, as on the rest of the desktop.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this,
            [this] { menuBar_->setActiveAction(manageMenu_->menuAction()); });
#endif
}

void MainWindow::updateManageMenu() {
    const RawKeyboardListener& engine = model_.engine();
    const bool hasKeyboard = engine.selectedDevice().has_value();
    manageToggle_->setText(
        menuText(engine.isIntercepting() ? QStringLiteral("&Deactivate ")
                                         : QStringLiteral("&Activate ")) +
        QString(appDisplayName()).replace(QLatin1Char('&'), QStringLiteral("&&")));
    // Where the desktop greys a command that would do nothing, it is greyed
    // without a keyboard, as the tray menu's is; otherwise always enabled
    // (the routine then does nothing).
    manageToggle_->setEnabled(hasKeyboard || !model_.conventions().toggleNeedsKeyboard);
    openSettings_->setEnabled(true);
    const bool hasMappings = model_.mappingPaneState() == MappingPaneState::mappings;
    const bool editable = model_.controlsEnabled();
    import_->setEnabled(hasKeyboard && (editable || !hasMappings));
    export_->setEnabled(hasMappings);
    clear_->setEnabled(hasMappings && editable);
}

void MainWindow::setBanner(const std::vector<BannerMessage>& messages) {
    if (messages == bannerShown_) {
        return;
    }
    bannerShown_ = messages;
    bannerTexts_.clear();
    bannerMore_ = nullptr;
    QLayout* layout = banner_->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->deleteLater();
        }
        delete item;
    }
    for (const BannerMessage& m : messages) {
        auto* row = new QWidget(banner_);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(10, 3, 10, 3);
        auto* text = new QLabel(QString::fromStdString(m.text), row);
        text->setObjectName(QStringLiteral("bannerText"));
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        rowLayout->addWidget(text, 1);
        bannerTexts_.emplace_back(text, QString::fromStdString(m.text));
        if (bannerMore_ == nullptr) {
            bannerMore_ = new QPushButton(row);
            bannerMore_->setObjectName(QStringLiteral("bannerMore"));
            connect(bannerMore_, &QPushButton::clicked, this, [this] {
                bannerExpanded_ = !bannerExpanded_;
                showBannerTexts();
            });
            rowLayout->addWidget(bannerMore_, 0, Qt::AlignTop);
        }
        if (!m.actionLabel.empty() && !m.actionURL.empty()) {
            auto* button = new QPushButton(QString::fromStdString(m.actionLabel), row);
            button->setObjectName(QStringLiteral("bannerAction"));
            const std::string url = m.actionURL;
            const std::string request = m.requestKey;
            connect(button, &QPushButton::clicked, this, [this, url, request] {
                if (!request.empty() && requestPermission_ && requestPermission_(request)) {
                    return; // the system shows its own prompt
                }
                if (!desktop_.openURL(url)) {
                    statusBar()->showMessage(QStringLiteral("No application could open ") +
                                                 QString::fromStdString(url) +
                                                 QStringLiteral(". Open it yourself."),
                                             kStatusMessageMs);
                }
            });
            rowLayout->addWidget(button, 0, Qt::AlignTop);
        }
        if (!m.dismissKey.empty()) {
            auto* button = new QPushButton(QStringLiteral("Dismiss"), row);
            button->setObjectName(QStringLiteral("bannerDismiss"));
            const std::string key = m.dismissKey;
            connect(button, &QPushButton::clicked, this, [this, key] {
                if (dismissBanner_) {
                    dismissBanner_(key);
                }
            });
            rowLayout->addWidget(button, 0, Qt::AlignTop);
        }
        layout->addWidget(row);
    }
    showBannerTexts();
    banner_->setVisible(!messages.empty());
    if (available_.isValid()) {
        // The banner takes height from the list: the arrangement follows.
        applyMinimumFor(available_);
    }
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::LayoutRequest && available_.isValid() && !applyingMinimum_) {
        // What the content needs changes (the editor appears, a banner
        // line, the lock note): the smallest size follows.
        applyMinimumFor(available_);
    }
    return handled;
}

void MainWindow::applyMinimumFor(const QRect& available) {
    applyingMinimum_ = true;
    available_ = available;
    const int roomWidth = std::max(320, available.width() - kFrameWidthAllowance);
    const int roomHeight = std::max(240, available.height() - kFrameAllowance);
    // Stacked when everything fits above five rows of the list, with the
    // banner whole or else cut to its first sentences; otherwise the upper
    // panes move beside the list.
    const auto fitsStacked = [&](bool shortBanner) {
        if (shortBanner != bannerShort_) {
            bannerShort_ = shortBanner;
            showBannerTexts();
        }
        int chrome = 0;
#ifndef __APPLE__
        chrome += menuBar_->sizeHint().height();
#endif
        if (banner_->isVisibleTo(this)) {
            // Wrapped lines: as tall as the window's width makes them.
            banner_->layout()->activate();
            const int across = isVisible() ? width() : std::min(kDefaultSize.width(), roomWidth);
            chrome += banner_->layout()->hasHeightForWidth()
                          ? banner_->layout()->totalHeightForWidth(across)
                          : banner_->sizeHint().height();
        }
        return chrome + view_->regularMinimumHeight() <= roomHeight;
    };
    const bool stacked = fitsStacked(false) || fitsStacked(true);
    view_->setCompact(!stacked);
    centralWidget()->layout()->activate();
    // The smallest size that still shows five mappings in the list.
    QSize needed = minimumSizeHint();
    const int minimumWidth = std::min(std::max(needed.width(), 600), roomWidth);
    if (banner_->isVisibleTo(this) && banner_->layout()->hasHeightForWidth()) {
        // A wrapped banner is taller at the smallest width than its hint says.
        needed.rheight() += std::max(0, banner_->layout()->totalHeightForWidth(minimumWidth) -
                                            banner_->minimumSizeHint().height());
    }
    setMinimumSize(minimumWidth, std::min(std::max(needed.height(), 240), roomHeight));
    applyingMinimum_ = false;
}

void MainWindow::fitInto(const QRect& available) {
    if (!available.isValid()) {
        return;
    }
    fitted_ = true;
    applyMinimumFor(available);
    const int roomWidth = std::max(320, available.width() - kFrameWidthAllowance);
    const int roomHeight = std::max(240, available.height() - kFrameAllowance);
    const QSize wanted(std::min(kDefaultSize.width(), roomWidth),
                       std::min(kDefaultSize.height(), roomHeight));
    resize(wanted.expandedTo(minimumSize()));
    // Inside the free area, frame included.
    const QRect frame = frameGeometry();
    QPoint place = pos();
    place.setX(std::clamp(place.x(), available.left(),
                          std::max(available.left(), available.right() + 1 - frame.width())));
    place.setY(std::clamp(place.y(), available.top(),
                          std::max(available.top(), available.bottom() + 1 - frame.height())));
    move(place);
}

QRect MainWindow::mappingAreaOnScreen() const {
    const QWidget* pane = view_->mappingPane();
    return QRect(pane->mapToGlobal(QPoint(0, 0)), pane->size());
}

void MainWindow::showBannerTexts() {
    const bool shortened = bannerShortened();
    for (const auto& [label, full] : bannerTexts_) {
        QString shown = full;
        if (shortened) {
            // The first sentence says what is wrong; the rest what to do.
            const qsizetype end = full.indexOf(QStringLiteral(". "));
            if (end > 0) {
                shown = full.left(end + 1) + QStringLiteral(" …");
            }
        }
        label->setText(shown);
        label->setToolTip(shortened ? full : QString());
    }
    if (bannerMore_ != nullptr) {
        bannerMore_->setVisible(bannerShort_);
        bannerMore_->setText(bannerExpanded_ ? QStringLiteral("Less") : QStringLiteral("More…"));
        bannerMore_->setAccessibleName(bannerExpanded_ ? QStringLiteral("Show less")
                                                       : QStringLiteral("Show the whole message"));
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    if (!fitted_) {
        fitted_ = true;
        if (const QScreen* screen = this->screen()) {
            fitInto(screen->availableGeometry());
        }
    }
    if (placeWhenHidden_) {
        // Back where it was, as the user left it (window managers place a
        // window shown again anew).
        move(*placeWhenHidden_);
        placeWhenHidden_.reset();
    }
    QMainWindow::showEvent(event);
    presence_.setActivationPolicy(platform::ActivationPolicy::regular);
}

void MainWindow::hideEvent(QHideEvent* event) {
    if (!isMinimized()) {
        placeWhenHidden_ = pos();
    }
    QMainWindow::hideEvent(event);
    // A recording nobody can see would keep swallowing every key press.
    model_.stopCapturesIfRunning();
    if (!isMinimized()) {
        presence_.setActivationPolicy(platform::ActivationPolicy::accessory);
    }
}

} // namespace chordwell::app
