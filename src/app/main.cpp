// Entry point of the Chordwell application.
#include "app/controls/symbols.hpp"
#include "app/shell/chordwell_app.hpp"
#include "app/shell/single_instance.hpp"
#include "platform/ports.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifndef CHORDWELL_VERSION
#define CHORDWELL_VERSION ""
#endif

int main(int argc, char** argv) {
    // Asked for the usage, it prints it and quits, also in a terminal
    // without a display (the windowing system is not needed for that).
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            std::cout << chordwell::app::usageText();
            return 0;
        }
    }
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
    // One demo at a time as well, apart from the real instance: a second
    // `--demo` brings the running demo forward instead of starting another
    // world beside it. Runs that only take pictures or play to the end (the
    // tests) stay independent.
    const bool interactiveDemo =
        options->demo && !options->screenshotDir && !options->exitWhenScriptEnds;
    if (interactiveDemo) {
        using Claim = chordwell::app::SingleInstance::Claim;
        const QString folder =
            chordwell::app::SingleInstance::defaultFolder() + QStringLiteral("/chordwell-demo");
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        instance = std::make_unique<chordwell::app::SingleInstance>(folder);
        switch (instance->claim()) {
        case Claim::primary:
            break;
        case Claim::handedOver:
            std::cout << "chordwell: a Chordwell demo is already running; its windows were "
                         "brought forward.\n";
            return 0;
        case Claim::unanswered:
            std::cerr << "chordwell: a Chordwell demo is already running (lock "
                      << instance->lockPath().toStdString() << ") but does not answer\n";
            return 1;
        }
    }
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
                         [&app] {
                             app.showMainWindow();
                             app.showDemoWindow();
                         });
    }
    if (!app.start(error)) {
        std::cerr << "chordwell: " << error << "\n";
        return app.exitCode();
    }
    const int status = QApplication::exec();
    return status != 0 ? status : app.exitCode();
}
