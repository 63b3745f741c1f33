// keyboards: the keyboards the Linux adapter sees, and whether this user may
// read them and create the virtual keyboard, for diagnosing permissions.
#ifdef __linux__

#include "cli/commands.hpp"
#include "cli/terminal_text.hpp"
#include "platform/linux/device_identity.hpp"
#include "platform/linux/input_context.hpp"
#include "platform/linux/udev_hid_manager.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace chordwell::cli {

namespace {

std::string quoted(const std::string& text) {
    return quotedForTerminal(text);
}

std::string hex4(const std::optional<std::int64_t>& value) {
    if (!value) {
        return "-";
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%04llX", static_cast<unsigned long long>(*value));
    return buffer;
}

int runKeyboards(int argc, char** argv, std::istream&, std::ostream& out, std::ostream& err) {
    (void)argv;
    if (argc != 1) {
        printCommandUsage(*findCliCommand("keyboards"), err);
        return kExitUsage;
    }
    const auto keyboards = platform::lnx::listKeyboards();
    bool unreadable = false;
    out << "Keyboards: " << keyboards.size() << "\n";
    std::size_t number = 0; // what `chordwellctl run --keyboard NUMBER` takes
    for (const auto& keyboard : keyboards) {
        const auto& info = keyboard.info;
        const std::string place = platform::lnx::placeName(info.bus, info.phys, info.idPath);
        out << "  " << ++number << ". " << quoted(info.name.empty() ? "Unknown" : info.name) << "\n"
            << "    " << (place.empty() ? "" : place + ", ") << "vendor " << hex4(info.vendor)
            << ", product " << hex4(info.product) << ", location "
            << (info.location ? std::to_string(*info.location) : "-") << "\n"
            << "    " << terminalSafe(info.devnode) << ", "
            << (keyboard.readable ? "readable" : "NOT readable by this user") << "\n";
        unreadable = unreadable || !keyboard.readable;
    }
    const bool uinputExists = ::access("/dev/uinput", F_OK) == 0;
    const bool uinputWritable = ::access("/dev/uinput", W_OK) == 0;
    out << "Virtual keyboard (/dev/uinput): "
        << (!uinputExists    ? "missing"
            : uinputWritable ? "writable"
                             : "NOT writable by this user")
        << "\n";
    out << "udev daemon: " << (platform::lnx::udevDaemonRunning() ? "running" : "not running")
        << "\n";
    using platform::lnx::PlatformProblem;
    if (unreadable) {
        out << "\n" << platform::lnx::noticeText(PlatformProblem::cannotReadKeyboards) << "\n";
    }
    if (!uinputExists) {
        out << "\n" << platform::lnx::noticeText(PlatformProblem::uinputMissing) << "\n";
    } else if (!uinputWritable) {
        out << "\n"
            << platform::lnx::noticeText(PlatformProblem::cannotCreateVirtualKeyboard) << "\n";
    }
    return kExitOk;
}

} // namespace

extern const CliCommand keyboardsCommand;
const CliCommand keyboardsCommand{
    "keyboards", "keyboards", &runKeyboards,
    "list the keyboards Chordwell can see and whether they can be read"};

} // namespace chordwell::cli

#endif // __linux__
