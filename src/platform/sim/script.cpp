#include "platform/sim/script.hpp"

#include "model/key_labels.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace chordwell::platform::sim {

namespace {

// Splits one line into tokens. Whitespace separates tokens except inside
// double quotes (which may hold \" and \\); "#" outside quotes ends the line.
bool tokenize(std::string_view line, std::vector<std::string>& tokens, std::string& error) {
    std::string current;
    bool inToken = false;
    bool inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes) {
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                current.push_back(line[++i]);
            } else if (c == '"') {
                inQuotes = false;
            } else {
                current.push_back(c);
            }
            continue;
        }
        if (c == '#') {
            break;
        }
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (inToken) {
                tokens.push_back(std::move(current));
                current.clear();
                inToken = false;
            }
            continue;
        }
        inToken = true;
        if (c == '"') {
            inQuotes = true;
        } else {
            current.push_back(c);
        }
    }
    if (inQuotes) {
        error = "unterminated string";
        return false;
    }
    if (inToken) {
        tokens.push_back(std::move(current));
    }
    return true;
}

std::optional<std::int64_t> parseNumber(std::string_view text) {
    bool negative = false;
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (ec != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    constexpr std::uint64_t kMax = 0x7FFFFFFFFFFFFFFFULL;
    if (magnitude > kMax + (negative ? 1 : 0)) {
        return std::nullopt;
    }
    if (negative) {
        return magnitude == kMax + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    }
    return static_cast<std::int64_t>(magnitude);
}

std::string quote(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::optional<ScriptCommand::Kind> commandKind(std::string_view word) {
    using K = ScriptCommand::Kind;
    static constexpr std::pair<std::string_view, K> kWords[] = {
        {"keyboard", K::keyboard},   {"remove", K::remove}, {"select", K::select},
        {"intercept", K::intercept}, {"down", K::down},     {"up", K::up},
        {"wait", K::wait},           {"list", K::list},     {"status", K::status},
    };
    for (const auto& [name, kind] : kWords) {
        if (word == name) {
            return kind;
        }
    }
    return std::nullopt;
}

// Parses one non-empty line's tokens; returns an error message or "".
std::string parseCommand(const std::vector<std::string>& tokens, ScriptCommand& command) {
    using K = ScriptCommand::Kind;
    const auto kind = commandKind(tokens[0]);
    if (!kind) {
        return "unknown command " + quote(tokens[0]);
    }
    command.kind = *kind;
    const std::size_t argc = tokens.size() - 1;

    auto expectArgs = [&](std::size_t n, const char* missing) -> std::string {
        if (argc < n) {
            return missing;
        }
        if (argc > n) {
            return "too many arguments for " + tokens[0];
        }
        return "";
    };

    switch (command.kind) {
    case K::intercept:
    case K::list:
    case K::status:
        return expectArgs(0, "");
    case K::remove:
    case K::select:
        if (auto e = expectArgs(1, "missing keyboard name"); !e.empty()) {
            return e;
        }
        command.name = tokens[1];
        return "";
    case K::down:
    case K::up: {
        if (argc < 1) {
            return "missing keyboard name";
        }
        if (auto e = expectArgs(2, "missing usage"); !e.empty()) {
            return e;
        }
        command.name = tokens[1];
        const auto usage = parseNumber(tokens[2]);
        if (!usage) {
            return "bad number " + quote(tokens[2]);
        }
        if (*usage < 0 || *usage > 0xFFFF) {
            return "usage out of range " + quote(tokens[2]);
        }
        command.usage = static_cast<HidUsage>(*usage);
        return "";
    }
    case K::wait: {
        if (auto e = expectArgs(1, "missing milliseconds"); !e.empty()) {
            return e;
        }
        const auto ms = parseNumber(tokens[1]);
        if (!ms) {
            return "bad number " + quote(tokens[1]);
        }
        if (*ms < 0) {
            return "negative wait " + quote(tokens[1]);
        }
        command.milliseconds = *ms;
        return "";
    }
    case K::keyboard: {
        if (argc < 1) {
            return "missing keyboard name";
        }
        command.name = tokens[1];
        for (std::size_t i = 2; i < tokens.size(); ++i) {
            const std::string& token = tokens[i];
            const auto eq = token.find('=');
            if (eq == std::string::npos) {
                return "expected KEY=VALUE, got " + quote(token);
            }
            const std::string key = token.substr(0, eq);
            const std::string value = token.substr(eq + 1);
            if (key == "name") {
                command.productName = value;
                continue;
            }
            std::optional<std::int64_t>* target = key == "vendor"     ? &command.vendor
                                                  : key == "product"  ? &command.product
                                                  : key == "location" ? &command.location
                                                                      : nullptr;
            if (target == nullptr) {
                return "unknown property " + quote(key);
            }
            const auto number = parseNumber(value);
            if (!number) {
                return "bad number " + quote(value);
            }
            *target = *number;
        }
        return "";
    }
    }
    return "unknown command " + quote(tokens[0]);
}

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

std::int64_t wholeMilliseconds(Scheduler::Duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

} // namespace

std::string ScriptError::text() const {
    return "line " + std::to_string(line) + ": " + message;
}

ParsedScript parseScript(std::string_view text) {
    ParsedScript result;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        ++lineNumber;
        std::vector<std::string> tokens;
        std::string error;
        if (!tokenize(line, tokens, error)) {
            result.error = ScriptError{lineNumber, error};
            return result;
        }
        if (!tokens.empty()) {
            ScriptCommand command;
            command.line = lineNumber;
            error = parseCommand(tokens, command);
            if (!error.empty()) {
                result.error = ScriptError{lineNumber, error};
                return result;
            }
            result.commands.push_back(std::move(command));
        }
        if (end == text.size()) {
            break;
        }
        start = end + 1;
    }
    return result;
}

std::string formatAppEvent(const AppEvent& event, Scheduler::Duration origin) {
    return std::to_string(wholeMilliseconds(event.time - origin)) + " " +
           eventTypeName(event.type) + " " + keyLabel(event.keyCode) +
           " keyCode=" + std::to_string(event.keyCode) + " flags=" + hexUpper(event.flags);
}

// ------------------------------------------------------------------ runner

ScriptRunner::ScriptRunner(SimWorld& world, RawKeyboardListener& engine, OutputLine output,
                           Wait wait)
    : world_(world), engine_(engine), output_(std::move(output)), wait_(std::move(wait)),
      origin_(world.scheduler().now()) {
    world_.setAppEventSink([this](const AppEvent& event) {
        if (output_) {
            output_(formatAppEvent(event, origin_));
        }
    });
}

ScriptRunner::~ScriptRunner() {
    world_.setAppEventSink(nullptr);
}

std::int64_t ScriptRunner::elapsedMilliseconds() const {
    return wholeMilliseconds(world_.scheduler().now() - origin_);
}

std::shared_ptr<SimKeyboard> ScriptRunner::keyboardNamed(const std::string& name) const {
    auto it = keyboards_.find(name);
    return it == keyboards_.end() ? nullptr : it->second;
}

void ScriptRunner::followMainWindow() {
    // The main window forgets a selected keyboard that has gone away.
    const auto& selected = engine_.selectedDevice();
    if (!selected) {
        return;
    }
    const auto& listed = engine_.discoveredKeyboards();
    const bool present = std::any_of(listed.begin(), listed.end(),
                                     [&](const KeyboardDevice& k) { return k.id == selected->id; });
    if (!present) {
        if (engine_.isIntercepting()) {
            engine_.stopIntercepting();
        }
        engine_.setSelectedDevice(std::nullopt);
    }
}

std::optional<ScriptError> ScriptRunner::execute(const ScriptCommand& command) {
    using K = ScriptCommand::Kind;
    auto fail = [&](std::string message) {
        return std::optional<ScriptError>(ScriptError{command.line, std::move(message)});
    };

    std::shared_ptr<SimKeyboard> keyboard;
    if (command.kind == K::remove || command.kind == K::select || command.kind == K::down ||
        command.kind == K::up) {
        keyboard = keyboardNamed(command.name);
        if (!keyboard) {
            return fail("unknown keyboard " + quote(command.name));
        }
    }

    switch (command.kind) {
    case K::keyboard: {
        if (keyboardNamed(command.name)) {
            return fail("keyboard " + quote(command.name) + " already exists");
        }
        SimKeyboardProperties properties;
        properties.product = command.productName;
        properties.vendorID = command.vendor;
        properties.productID = command.product;
        properties.locationID = command.location;
        keyboards_[command.name] = world_.attachKeyboard(std::move(properties));
        break;
    }
    case K::remove:
        keyboards_.erase(command.name);
        world_.detachKeyboard(keyboard);
        break;
    case K::select: {
        const auto& listed = engine_.discoveredKeyboards();
        auto it = std::find_if(listed.begin(), listed.end(), [&](const KeyboardDevice& k) {
            return platform::sameDevice(k.deviceRef, keyboard);
        });
        if (it == listed.end()) {
            return fail("keyboard " + quote(command.name) + " is not listed");
        }
        const KeyboardDevice device = *it;
        engine_.setSelectedDevice(device);
        engine_.loadMappings(device);
        break;
    }
    case K::intercept:
        toggleInterception(engine_);
        break;
    case K::down:
        world_.keyDown(*keyboard, command.usage);
        break;
    case K::up:
        world_.keyUp(*keyboard, command.usage);
        break;
    case K::wait:
        if (wait_) {
            wait_(std::chrono::milliseconds(command.milliseconds));
        } else {
            world_.advance(std::chrono::milliseconds(command.milliseconds));
        }
        break;
    case K::list: {
        const std::string time = std::to_string(elapsedMilliseconds());
        for (const KeyboardDevice& k : engine_.discoveredKeyboards()) {
            output_(time + " keyboard " + quote(k.productName) + " vendor=" +
                    std::to_string(k.vendorID) + " product=" + std::to_string(k.productID));
        }
        break;
    }
    case K::status: {
        const auto& selected = engine_.selectedDevice();
        output_(std::to_string(elapsedMilliseconds()) +
                " status intercepting=" + (engine_.isIntercepting() ? "true" : "false") +
                " selected=" + (selected ? quote(selected->productName) : std::string("none")));
        break;
    }
    }
    world_.runMainQueue();
    followMainWindow();
    world_.runMainQueue();
    return std::nullopt;
}

std::optional<ScriptError> ScriptRunner::run(const std::vector<ScriptCommand>& commands) {
    for (const ScriptCommand& command : commands) {
        if (auto error = execute(command)) {
            return error;
        }
    }
    return std::nullopt;
}

} // namespace chordwell::platform::sim
