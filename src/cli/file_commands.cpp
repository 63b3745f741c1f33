// validate, show and normalize: the commands that read mapping files.
#include "cli/commands.hpp"
#include "cli/file_input.hpp"
#include "cli/terminal_text.hpp"
#include "model/json_codec.hpp"
#include "model/key_labels.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace chordwell::cli {

namespace {

/// One FILE argument, decoded, with what validate reports beyond decoding.
struct LoadedRecord {
    std::optional<DeviceMapping> record;
    std::string error;         // the message after "FILE: error: " when no record
    int status = kExitFailure; // the exit status an error calls for
    std::vector<std::string> duplicateKeys;
};

LoadedRecord loadRecord(const std::string& path, std::istream& in) {
    LoadedRecord loaded;
    std::string text;
    InputFailure failure;
    if (!readInput(path, in, text, failure)) {
        loaded.error = failure.message;
        loaded.status = failure.status;
        return loaded;
    }
    auto result = decodeDeviceMappingText(text, &loaded.duplicateKeys);
    if (!result.ok()) {
        loaded.error = result.error();
        return loaded;
    }
    loaded.record = std::move(result).value();
    return loaded;
}

/// JSON text with the characters that could drive or reorder the terminal
/// (DEL, C1 controls, bidirectional marks, which JSON allows raw inside
/// strings) written as \uXXXX escapes: the same JSON, safe to print. The
/// encoder already escapes C0 controls, and nothing of the kind can stand
/// outside a string.
std::string escapedForTerminal(const std::string& json) {
    if (isPlainPrintableAscii(json)) {
        return json;
    }
    std::string out;
    out.reserve(json.size() + 16);
    char escape[8];
    for (std::size_t i = 0; i < json.size();) {
        char32_t c = 0;
        const std::size_t length = decodeUtf8(json, i, c);
        if (length != 0 && isUnsafeForDisplay(c)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out.append(json, i, length == 0 ? 1 : length); // the encoder writes only UTF-8
        }
        i += length == 0 ? 1 : length;
    }
    return out;
}

/// A string as a quoted literal, so that names from a file cannot drive the
/// terminal.
std::string quoted(const std::string& text) {
    return quotedForTerminal(text);
}

std::string decimalAndHex(std::int64_t value) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%04llX",
                  static_cast<unsigned long long>(static_cast<std::uint64_t>(value)));
    return std::to_string(value) + " (0x" + hex + ")";
}

std::string keysText(const std::vector<MacKeySignature>& signatures) {
    return signatures.empty() ? std::string("(no keys)") : signatureText(signatures);
}

std::string outputText(const OutputBehavior& behavior) {
    if (!behavior.isCustomKeySequence()) {
        return behavior.displayLabel();
    }
    return quoted(behavior.displayLabel()) + " " + keysText(behavior.signatures());
}

int runValidate(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    if (argc < 2) {
        printCommandUsage(*findCliCommand("validate"), err);
        return kExitUsage;
    }
    int status = kExitOk;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        const std::string shownPath = terminalSafe(path);
        LoadedRecord loaded = loadRecord(path, in);
        if (!loaded.record) {
            out << shownPath << ": error: " << terminalSafe(loaded.error) << '\n';
            status = std::max(status, loaded.status);
            continue;
        }
        // Another JSON reader may take the first of repeated keys where we
        // take the last: the file means different things to different tools.
        if (!loaded.duplicateKeys.empty()) {
            for (const std::string& key : loaded.duplicateKeys) {
                out << shownPath << ": error: " << terminalSafe(key) << ": duplicate key\n";
            }
            status = std::max(status, kExitFailure);
            continue;
        }
        const auto& mappings = loaded.record->mappings;
        out << shownPath << ": ok (" << mappings.size() << " mappings)\n";
        for (std::size_t m = 0; m < mappings.size(); ++m) {
            if (mappings[m].inputKeyCodes.empty()) {
                out << shownPath << ": warning: mappings[" << m
                    << "].inputKeyCodes: no input keys, the mapping never matches\n";
            }
        }
    }
    return status;
}

// The one FILE argument of `show` and `normalize`, decoded; nothing (with
// `status` set and the message on `err`) on a usage error or a bad file.
std::optional<DeviceMapping> loadOnlyRecord(const char* command, int argc, char** argv,
                                            std::istream& in, std::ostream& err, int& status) {
    if (argc != 2) {
        printCommandUsage(*findCliCommand(command), err);
        status = kExitUsage;
        return std::nullopt;
    }
    const std::string path = argv[1];
    LoadedRecord loaded = loadRecord(path, in);
    if (!loaded.record) {
        err << terminalSafe(path) << ": error: " << terminalSafe(loaded.error) << '\n';
        status = loaded.status;
    }
    return std::move(loaded.record);
}

int runShow(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    int status = kExitOk;
    const auto record = loadOnlyRecord("show", argc, argv, in, err, status);
    if (!record) {
        return status;
    }
    out << "Product name: " << quoted(record->productName) << '\n'
        << "Vendor ID: " << decimalAndHex(record->vendorID) << '\n'
        << "Product ID: " << decimalAndHex(record->productID) << '\n'
        << "Record ID: " << record->id.toString() << '\n'
        << "Mappings: " << record->mappings.size() << '\n';
    std::size_t number = 0;
    for (const KeyMapping& mapping : record->mappings) {
        out << ++number << ". " << quoted(mapping.name) << ": "
            << keysText(inputSignatures(mapping)) << " -> " << outputText(mapping.outputBehavior)
            << '\n';
    }
    return kExitOk;
}

int runNormalize(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
    int status = kExitOk;
    const auto record = loadOnlyRecord("normalize", argc, argv, in, err, status);
    if (!record) {
        return status;
    }
    out << escapedForTerminal(encodeDeviceMapping(*record)) << '\n';
    return kExitOk;
}

} // namespace

extern const CliCommand validateCommand;
extern const CliCommand showCommand;
extern const CliCommand normalizeCommand;

const CliCommand validateCommand{"validate", "validate FILE...", runValidate,
                                 "check that mapping files decode"};
const CliCommand showCommand{"show", "show FILE", runShow, "print a mapping file as text"};
const CliCommand normalizeCommand{"normalize", "normalize FILE", runNormalize,
                                  "print a mapping file in its one JSON form"};

} // namespace chordwell::cli
