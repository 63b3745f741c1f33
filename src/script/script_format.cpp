// Writing scripts back: a parsed command as the line that parses to it
// again, and the application's key events as the runner prints them.
#include "script/script.hpp"
#include "script/script_detail.hpp"

#include "model/key_labels.hpp"

#include <cstdio>
#include <locale>
#include <sstream>

namespace chordwell::script {

using detail::wholeMilliseconds;
using platform::EventType;
using platform::Scheduler;
using platform::sim::AppEvent;

namespace {

std::string hexUpper(std::uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
    return buffer;
}

const char* eventTypeName(EventType type) {
    switch (type) {
    case EventType::keyDown:
        return "keyDown";
    case EventType::keyUp:
        return "keyUp";
    case EventType::flagsChanged:
        return "flagsChanged";
    case EventType::tapDisabledByTimeout:
    case EventType::tapDisabledByUserInput:
        break;
    }
    return "other";
}

std::string formatKeyboard(const ScriptCommand& command) {
    std::string line = "keyboard " + command.name;
    auto number = [&](const char* key, const std::optional<std::int64_t>& v) {
        if (v) {
            line += std::string(" ") + key + "=" + std::to_string(*v);
        }
    };
    number("vendor", command.vendor);
    number("product", command.product);
    number("location", command.location);
    if (command.productName) {
        std::string escaped;
        for (char c : *command.productName) {
            if (c == '"' || c == '\\') {
                escaped.push_back('\\');
            }
            escaped.push_back(c);
        }
        line += " name=\"" + escaped + "\"";
    }
    return line;
}

std::string formatOrder(const ScriptCommand& command) {
    using platform::sim::DeliveryOrder;
    switch (command.order) {
    case DeliveryOrder::hidFirst:
        return "order hid-first";
    case DeliveryOrder::tapFirst:
        return "order tap-first";
    case DeliveryOrder::random:
        break;
    }
    return "order random " + std::to_string(command.seed);
}

std::string formatSet(const ScriptCommand& command) {
    std::string value;
    if (const bool* b = std::get_if<bool>(&command.value)) {
        value = *b ? "true" : "false";
    } else if (const double* d = std::get_if<double>(&command.value)) {
        std::ostringstream out;
        out.imbue(std::locale::classic());
        out.precision(17);
        out << *d;
        value = out.str();
    } else {
        value = std::get<std::string>(command.value);
    }
    return "set " + command.key + "=" + value;
}

std::string formatMapOutput(const OutputBehavior& behavior) {
    std::string output;
    switch (behavior.kind()) {
    case OutputBehavior::Kind::none:
        output = "none";
        break;
    case OutputBehavior::Kind::copyOperation:
        output = "copy";
        break;
    case OutputBehavior::Kind::pasteOperation:
        output = "paste";
        break;
    case OutputBehavior::Kind::openSearchBar:
        output = "search";
        break;
    case OutputBehavior::Kind::customKeySequence:
        for (const MacKeySignature& k : behavior.signatures()) {
            output += (output.empty() ? "" : ",") + std::to_string(k.keyCode);
            if (k.modifiers != 0) {
                output += "/" + hexUpper(k.modifiers);
            }
        }
        if (output.empty()) {
            output = "-"; // parses back as an empty sequence
        }
        break;
    }
    return output;
}

std::string formatMap(const ScriptCommand& command) {
    std::string usages;
    for (HidUsage u : command.usages) {
        usages += (usages.empty() ? "" : ",") + hexUpper(u);
    }
    return "map " + command.name + " " + (usages.empty() ? "-" : usages) + " " +
           formatMapOutput(command.output);
}

} // namespace

std::string formatCommand(const ScriptCommand& command) {
    using K = ScriptCommand::Kind;
    switch (command.kind) {
    case K::keyboard:
        return formatKeyboard(command);
    case K::remove:
        return "remove " + command.name;
    case K::select:
        return "select " + command.name;
    case K::intercept:
        return "intercept";
    case K::down:
    case K::up:
        return std::string(command.kind == K::down ? "down " : "up ") + command.name + " " +
               hexUpper(command.usage);
    case K::wait:
        return "wait " + std::to_string(command.milliseconds);
    case K::list:
        return "list";
    case K::status:
        return "status";
    case K::posting:
        return command.posting == platform::sim::PostingMode::async ? "posting async"
                                                                    : "posting sync";
    case K::order:
        return formatOrder(command);
    case K::set:
        return formatSet(command);
    case K::map:
        return formatMap(command);
    case K::unmap:
        return "unmap " + command.name;
    case K::clear:
        return "clear";
    case K::layout:
        return "layout " + command.name;
    }
    return "";
}

std::string formatAppEvent(const AppEvent& event, Scheduler::Duration origin,
                           const KeyLayout& layout) {
    return std::to_string(wholeMilliseconds(event.time - origin)) + " " +
           eventTypeName(event.type) + " " + keyLabel(event.keyCode, layout) +
           " keyCode=" + std::to_string(event.keyCode) + " flags=" + hexUpper(event.flags);
}

} // namespace chordwell::script
