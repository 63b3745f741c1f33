// Reading scripts: lines into tokens, tokens into commands.
#include "script/script.hpp"
#include "script/script_detail.hpp"

#include "model/display_text.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <locale>
#include <sstream>

namespace chordwell::script {

using platform::Scheduler;

namespace detail {

std::string quote(std::string_view text) {
    // Messages quote what they refuse, but never more than a glimpse of it
    // (a line may be megabytes long), and escaped, so that no control
    // character of the script reaches the terminal.
    constexpr std::size_t kShown = 80;
    if (text.size() <= kShown) {
        return quotedForTerminal(text);
    }
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0u) == 0x80u) {
        --cut; // not inside a UTF-8 sequence
    }
    std::string quoted = quotedForTerminal(text.substr(0, cut));
    quoted.insert(quoted.size() - 1, "\u2026");
    return quoted + " (" + std::to_string(text.size()) + " bytes)";
}

std::int64_t wholeMilliseconds(Scheduler::Duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// Milliseconds as the clock's nanoseconds; a wait beyond the clock's range
// lasts to its end instead of wrapping around.
Scheduler::Duration clockDuration(std::int64_t milliseconds) {
    constexpr std::int64_t kMaxMilliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(Scheduler::Duration::max()).count();
    if (milliseconds >= kMaxMilliseconds) {
        return Scheduler::Duration::max();
    }
    return std::chrono::milliseconds(std::max<std::int64_t>(milliseconds, 0));
}

} // namespace detail

using detail::clockDuration;
using detail::quote;

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

// "a,b,c" as its items; an empty text is no item.
std::vector<std::string> splitList(std::string_view text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        items.emplace_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

std::optional<ScriptCommand::Kind> commandKind(std::string_view word) {
    using K = ScriptCommand::Kind;
    static constexpr std::pair<std::string_view, K> kWords[] = {
        {"keyboard", K::keyboard}, {"remove", K::remove},
        {"select", K::select},     {"intercept", K::intercept},
        {"down", K::down},         {"up", K::up},
        {"wait", K::wait},         {"list", K::list},
        {"status", K::status},     {"posting", K::posting},
        {"order", K::order},       {"set", K::set},
        {"map", K::map},           {"unmap", K::unmap},
        {"clear", K::clear},       {"layout", K::layout},
    };
    for (const auto& [name, kind] : kWords) {
        if (word == name) {
            return kind;
        }
    }
    return std::nullopt;
}

// "" when the command has exactly n arguments; otherwise the message for
// too few (missing) or too many.
std::string expectArgs(const std::vector<std::string>& tokens, std::size_t n,
                       const std::string& missing) {
    const std::size_t argc = tokens.size() - 1;
    if (argc < n) {
        return missing;
    }
    if (argc > n) {
        return "too many arguments for " + tokens[0];
    }
    return "";
}

std::string parseSet(const std::vector<std::string>& tokens, ScriptCommand& command) {
    if (auto e = expectArgs(tokens, 1, "missing KEY=VALUE"); !e.empty()) {
        return e;
    }
    const auto eq = tokens[1].find('=');
    if (eq == std::string::npos || eq == 0) {
        return "expected KEY=VALUE, got " + quote(tokens[1]);
    }
    command.key = tokens[1].substr(0, eq);
    command.value = parsePreferenceValue(std::string_view(tokens[1]).substr(eq + 1));
    return "";
}

// The one argument of a command that names a mapping or a keyboard.
std::string parseName(const std::vector<std::string>& tokens, ScriptCommand& command,
                      const char* missing) {
    if (auto e = expectArgs(tokens, 1, missing); !e.empty()) {
        return e;
    }
    command.name = tokens[1];
    return "";
}

// A list of key codes with optional flags ("12/256,13"), or one of the
// named operations.
std::string parseMapOutput(const std::string& output, ScriptCommand& command) {
    if (output == "none") {
        command.output = OutputBehavior::none();
    } else if (output == "copy") {
        command.output = OutputBehavior::copyOperation();
    } else if (output == "paste") {
        command.output = OutputBehavior::pasteOperation();
    } else if (output == "search") {
        command.output = OutputBehavior::openSearchBar();
    } else {
        std::vector<MacKeySignature> keys;
        for (const std::string& item : splitList(output == "-" ? "" : output)) {
            const auto slash = item.find('/');
            const auto code = parseNumber(std::string_view(item).substr(0, slash));
            std::optional<std::int64_t> flags = 0;
            if (slash != std::string::npos) {
                flags = parseNumber(std::string_view(item).substr(slash + 1));
            }
            if (!code || !flags || *flags < 0) {
                return "bad output key " + quote(item);
            }
            keys.push_back(MacKeySignature{*code, static_cast<EventFlags>(*flags)});
        }
        command.output = OutputBehavior::customKeySequence("", std::move(keys));
    }
    return "";
}

std::string parseMap(const std::vector<std::string>& tokens, ScriptCommand& command) {
    const std::size_t argc = tokens.size() - 1;
    if (argc < 1) {
        return "missing mapping name";
    }
    if (auto e = expectArgs(tokens, 3, argc < 2 ? "missing usages" : "missing output");
        !e.empty()) {
        return e;
    }
    command.name = tokens[1];
    if (tokens[2] != "-") {
        for (const std::string& item : splitList(tokens[2])) {
            const auto usage = parseNumber(item);
            if (!usage || *usage < 0 || *usage > 0xFFFF) {
                return "bad usage " + quote(item);
            }
            command.usages.push_back(static_cast<HidUsage>(*usage));
        }
    }
    return parseMapOutput(tokens[3], command);
}

std::string parseLayout(const std::vector<std::string>& tokens, ScriptCommand& command) {
    const auto names = platform::sim::simLayoutNames();
    std::string known;
    for (std::string_view name : names) {
        known += (known.empty() ? "" : ", ") + std::string(name);
    }
    if (auto e = expectArgs(tokens, 1, "missing layout (" + known + ")"); !e.empty()) {
        return e;
    }
    if (std::find(names.begin(), names.end(), tokens[1]) == names.end()) {
        return "unknown layout " + quote(tokens[1]) + " (" + known + ")";
    }
    command.name = tokens[1];
    return "";
}

// down/up KEYBOARD USAGE
std::string parseKeyChange(const std::vector<std::string>& tokens, ScriptCommand& command) {
    if (tokens.size() - 1 < 1) {
        return "missing keyboard name";
    }
    if (auto e = expectArgs(tokens, 2, "missing usage"); !e.empty()) {
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

std::string parseWait(const std::vector<std::string>& tokens, ScriptCommand& command) {
    if (auto e = expectArgs(tokens, 1, "missing milliseconds"); !e.empty()) {
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

std::string parsePosting(const std::vector<std::string>& tokens, ScriptCommand& command) {
    if (auto e = expectArgs(tokens, 1, "missing mode (sync or async)"); !e.empty()) {
        return e;
    }
    if (tokens[1] == "sync") {
        command.posting = platform::sim::PostingMode::sync;
    } else if (tokens[1] == "async") {
        command.posting = platform::sim::PostingMode::async;
    } else {
        return "unknown posting mode " + quote(tokens[1]);
    }
    return "";
}

std::string parseOrder(const std::vector<std::string>& tokens, ScriptCommand& command) {
    using platform::sim::DeliveryOrder;
    if (tokens.size() - 1 < 1) {
        return "missing order (hid-first, tap-first or random SEED)";
    }
    if (tokens[1] == "random") {
        if (auto e = expectArgs(tokens, 2, "missing seed"); !e.empty()) {
            return e;
        }
        const auto seed = parseNumber(tokens[2]);
        if (!seed || *seed < 0) {
            return "bad seed " + quote(tokens[2]);
        }
        command.order = DeliveryOrder::random;
        command.seed = static_cast<std::uint64_t>(*seed);
        return "";
    }
    if (auto e = expectArgs(tokens, 1, ""); !e.empty()) {
        return e;
    }
    if (tokens[1] == "hid-first") {
        command.order = DeliveryOrder::hidFirst;
    } else if (tokens[1] == "tap-first") {
        command.order = DeliveryOrder::tapFirst;
    } else {
        return "unknown order " + quote(tokens[1]);
    }
    return "";
}

// keyboard NAME [name=TEXT] [vendor=N] [product=N] [location=N]
std::string parseKeyboard(const std::vector<std::string>& tokens, ScriptCommand& command) {
    if (tokens.size() - 1 < 1) {
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

// Parses one non-empty line's tokens; returns an error message or "".
std::string parseCommand(const std::vector<std::string>& tokens, ScriptCommand& command) {
    using K = ScriptCommand::Kind;
    const auto kind = commandKind(tokens[0]);
    if (!kind) {
        return "unknown command " + quote(tokens[0]);
    }
    command.kind = *kind;
    switch (command.kind) {
    case K::intercept:
    case K::list:
    case K::status:
    case K::clear:
        return expectArgs(tokens, 0, "");
    case K::set:
        return parseSet(tokens, command);
    case K::unmap:
        return parseName(tokens, command, "missing mapping name");
    case K::map:
        return parseMap(tokens, command);
    case K::layout:
        return parseLayout(tokens, command);
    case K::remove:
    case K::select:
        return parseName(tokens, command, "missing keyboard name");
    case K::down:
    case K::up:
        return parseKeyChange(tokens, command);
    case K::wait:
        return parseWait(tokens, command);
    case K::posting:
        return parsePosting(tokens, command);
    case K::order:
        return parseOrder(tokens, command);
    case K::keyboard:
        return parseKeyboard(tokens, command);
    }
    return "unknown command " + quote(tokens[0]);
}

} // namespace

platform::PreferenceValue parsePreferenceValue(std::string_view text) {
    if (text == "true") {
        return true;
    }
    if (text == "false") {
        return false;
    }
    // A stream in the classic locale rather than floating-point from_chars,
    // which the libc++ of older macOS SDKs lacks.
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());
    in >> std::noskipws;
    double number = 0;
    if (!text.empty() && (in >> number) && in.peek() == std::char_traits<char>::eof()) {
        return number;
    }
    return std::string(text);
}

std::string ScriptError::text() const {
    return "line " + std::to_string(line) + ": " + message;
}

std::optional<ScriptError> ScriptReader::line(std::string_view text, const OnCommand& onCommand) {
    ++lineNumber_;
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    tokens_.clear();
    std::string error;
    if (!tokenize(text, tokens_, error)) {
        return ScriptError{lineNumber_, error};
    }
    if (tokens_.empty()) {
        return std::nullopt;
    }
    ScriptCommand command;
    command.line = lineNumber_;
    error = parseCommand(tokens_, command);
    if (!error.empty()) {
        return ScriptError{lineNumber_, error};
    }
    return onCommand(command);
}

std::optional<ScriptError> ScriptReader::feed(std::string_view bytes, const OnCommand& onCommand) {
    if (failed_) {
        return failed_;
    }
    auto stop = [&](ScriptError error) {
        failed_ = std::move(error);
        partial_.clear();
        partial_.shrink_to_fit();
        return failed_;
    };
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (partial_.size() + piece.size() > kMaxLineBytes) {
            return stop(ScriptError{lineNumber_ + 1, "line longer than " +
                                                         std::to_string(kMaxLineBytes) + " bytes"});
        }
        if (end == std::string_view::npos) {
            partial_.append(piece);
            return std::nullopt;
        }
        std::optional<ScriptError> error;
        if (partial_.empty()) {
            error = line(piece, onCommand);
        } else {
            partial_.append(piece);
            error = line(partial_, onCommand);
            partial_.clear();
        }
        if (error) {
            return stop(std::move(*error));
        }
        bytes.remove_prefix(end + 1);
    }
    return std::nullopt;
}

std::optional<ScriptError> ScriptReader::finish(const OnCommand& onCommand) {
    if (failed_) {
        return failed_;
    }
    // The text after the last newline is a line of its own, even when empty.
    std::string last;
    last.swap(partial_);
    if (auto error = line(last, onCommand)) {
        failed_ = error;
        return error;
    }
    return std::nullopt;
}

ParsedScript parseScript(std::string_view text) {
    ParsedScript result;
    ScriptReader reader;
    const auto collect = [&](const ScriptCommand& command) -> std::optional<ScriptError> {
        result.commands.push_back(command);
        return std::nullopt;
    };
    result.error = reader.feed(text, collect);
    if (!result.error) {
        result.error = reader.finish(collect);
    }
    return result;
}

} // namespace chordwell::script
