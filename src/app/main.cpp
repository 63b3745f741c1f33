// Entry point of the Chordwell application.
#include "app/controls/symbols.hpp"
#include "app/shell/chordwell_app.hpp"
#include "app/shell/single_instance.hpp"
#include "ports/ports.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef CHORDWELL_VERSION
#define CHORDWELL_VERSION ""
#endif

namespace {

using chordwell::app::AppOptions;
using chordwell::app::SingleInstance;
using Claim = SingleInstance::Claim;

// Asked for the usage, it prints it and quits, also in a terminal without a
// display (the windowing system is not needed for that).
bool askedForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            return true;
        }
    }
    return false;
}

void nameApplication() {
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
}

std::optional<AppOptions> readOptions(std::string& error) {
    std::vector<std::string> arguments;
    const QStringList all = QApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) {
        arguments.push_back(all[i].toStdString());
    }
    return chordwell::app::parseArguments(arguments, error);
}

// One demo at a time as well, apart from the real instance: a second `--demo`
// brings the running demo forward instead of starting another world beside
// it. The exit status when this process is not the demo.
std::optional<int> claimDemo(std::unique_ptr<SingleInstance>& instance) {
    const QString folder = SingleInstance::defaultFolder() + QStringLiteral("/chordwell-demo");
    QDir().mkpath(folder);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    instance = std::make_unique<SingleInstance>(folder);
    switch (instance->claim()) {
    case Claim::primary:
        return std::nullopt;
    case Claim::handedOver:
        std::cout << "chordwell: a Chordwell demo is already running; its windows were "
                     "brought forward.\n";
        return 0;
    case Claim::unanswered:
        std::cerr << "chordwell: a Chordwell demo is already running (lock "
                  << instance->lockPath().toStdString() << ") but does not answer\n";
        return 1;
    }
    return std::nullopt;
}

// One instance per user. The exit status when another one runs.
std::optional<int> claimUserInstance(std::unique_ptr<SingleInstance>& instance) {
    instance = std::make_unique<SingleInstance>(SingleInstance::defaultFolder());
    switch (instance->claim()) {
    case Claim::primary:
        return std::nullopt;
    case Claim::handedOver:
        return 0; // the running instance shows its window
    case Claim::unanswered:
        std::cerr << "chordwell: another Chordwell is running (lock "
                  << instance->lockPath().toStdString() << ") but does not answer\n";
        return 1;
    }
    return std::nullopt;
}

// Simulated and demo runs are independent of the user's instance; runs that
// only take pictures or play to the end (the tests) are independent of the
// demo's too.
std::optional<int> claimInstance(const AppOptions& options,
                                 std::unique_ptr<SingleInstance>& instance) {
    if (options.demo && !options.screenshotDir && !options.exitWhenScriptEnds) {
        if (const std::optional<int> status = claimDemo(instance)) {
            return status;
        }
    }
    if (!options.simulateScript && !options.demo) {
        return claimUserInstance(instance);
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (askedForHelp(argc, argv)) {
        std::cout << chordwell::app::usageText();
        return 0;
    }
#ifdef CHORDWELL_DEVELOPMENT_RESOURCES
    // Running from the build folder: the catalog is the source tree's. The
    // installed program is built without this.
    chordwell::platform::setDevelopmentResourceDirectory(CHORDWELL_DEVELOPMENT_RESOURCES);
#endif
    QApplication application(argc, argv);
    nameApplication();
    std::string error;
    const std::optional<AppOptions> options = readOptions(error);
    if (!options) {
        std::cerr << "chordwell: " << error << "\n" << chordwell::app::usageText();
        return 2;
    }
    if (options->help) {
        std::cout << chordwell::app::usageText();
        return 0;
    }
    std::unique_ptr<SingleInstance> instance;
    if (const std::optional<int> status = claimInstance(*options, instance)) {
        return *status;
    }
    chordwell::app::ChordwellApp app(*options);
    if (instance) {
        QObject::connect(instance.get(), &SingleInstance::activationRequested, &app, [&app] {
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
