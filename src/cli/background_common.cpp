#include "cli/background_common.hpp"

#include "cli/terminal_text.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace chordwell::cli::background {

bool readSelector(int argc, char** argv, std::string& selector) {
    bool haveSelector = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--keyboard" && i + 1 < argc) {
            selector = argv[++i];
            haveSelector = true;
        } else if (argument.rfind("--keyboard=", 0) == 0) {
            selector = std::string(argument.substr(std::strlen("--keyboard=")));
            haveSelector = true;
        } else {
            return false;
        }
    }
    return haveSelector;
}

std::string curlyQuoted(const std::string& text) {
    return "\u201C" + terminalSafe(text) + "\u201D";
}

std::string identifiers(const KeyboardDevice& device) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04llx:%04llx",
                  static_cast<unsigned long long>(device.vendorID & 0xFFFF),
                  static_cast<unsigned long long>(device.productID & 0xFFFF));
    return buffer;
}

std::size_t mappingCount(RawKeyboardListener& engine, const KeyboardDevice& device) {
    for (const DeviceMapping& record : engine.allDeviceMappings()) {
        if (record.vendorID == device.vendorID && record.productID == device.productID) {
            return record.mappings.size();
        }
    }
    return 0;
}

void say(std::ostream& out, const std::string& text) {
    log(LogLevel::info, text, "keyboard");
    out << text << "\n" << std::flush;
}

} // namespace chordwell::cli::background
