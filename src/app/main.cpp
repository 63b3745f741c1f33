// Entry point of the Chordwell application.
#include "app/controls/symbols.hpp"
#include "app/shell/chordwell_app.hpp"
#include "app/shell/single_instance.hpp"
#include "platform/ports.hpp"

#include <QApplication>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifndef CHORDWELL_VERSION
#define CHORDWELL_VERSION ""
#endif

int main(int argc, char** argv) {
#ifdef CHORDWELL_DEVELOPMENT_RESOURCES
    // Running from the build folder: the catalog is the source tree's. The
    // installed program is built without this.
    chordwell::platform::setDevelopmentResourceDirectory(CHORDWELL_DEVELOPMENT_RESOURCES);
#endif
    QApplication application(argc, argv);
    // The application's name is what the main window's title and the window
    // searches of the status menu agree on; on macOS the bundle's
    // Info.plist gives the same names.
    QApplication::setApplicationName(QStringLiteral("Chordwell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Chordwell"));
    QApplication::setOrganizationName(QStringLiteral("Palvane"));
    QApplication::setOrganizationDomain(QStringLiteral("palvane.com"));
    QApplication::setApplicationVersion(QStringLiteral(CHORDWELL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("chordwell"));
    // A menu-bar utility: closing the last window leaves the status item.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(chordwell::app::applicationIcon());

    std::vector<std::string> arguments;
    const QStringList all = QApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) {
        arguments.push_back(all[i].toStdString());
    }
    std::string error;
    const auto options = chordwell::app::parseArguments(arguments, error);
    if (!options) {
        std::cerr << "chordwell: " << error << "\n" << chordwell::app::usageText();
        return 2;
    }
    if (options->help) {
        std::cout << chordwell::app::usageText();
        return 0;
    }
    // One instance per user; simulated and demo runs are independent of it.
    std::unique_ptr<chordwell::app::SingleInstance> instance;
    if (!options->simulateScript && !options->demo) {
        using Claim = chordwell::app::SingleInstance::Claim;
        instance = std::make_unique<chordwell::app::SingleInstance>(
            chordwell::app::SingleInstance::defaultFolder());
        switch (instance->claim()) {
        case Claim::primary:
            break;
        case Claim::handedOver:
            return 0; // the running instance shows its window
        case Claim::unanswered:
            std::cerr << "chordwell: another Chordwell is running (lock "
                      << instance->lockPath().toStdString() << ") but does not answer\n";
            return 1;
        }
    }
    chordwell::app::ChordwellApp app(*options);
    if (instance) {
        QObject::connect(instance.get(), &chordwell::app::SingleInstance::activationRequested, &app,
                         [&app] { app.showMainWindow(); });
    }
    if (!app.start(error)) {
        std::cerr << "chordwell: " << error << "\n";
        return app.exitCode();
    }
    const int status = QApplication::exec();
    return status != 0 ? status : app.exitCode();
}
