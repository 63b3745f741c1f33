// validate, show and normalize: the commands that read mapping files.
#include "cli/commands.hpp"
#include "cli/file_input.hpp"
#include "model/json_codec.hpp"
#include "model/key_labels.hpp"

#include <cstdio>
#include <optional>
#include <string>

namespace chordwell::cli {

namespace {

/// Reads and decodes one FILE argument; on failure writes the message that
/// validate prints after "FILE: error: ".
std::optional<DeviceMapping> loadRecord(const std::string& path, std::istream& in,
                                        std::string& error) {
    std::string text;
    if (!readInput(path, in, text, error)) {
        return std::nullopt;
    }
    auto result = decodeDeviceMappingText(text);
    if (!result.ok()) {
        error = result.error();
        return std::nullopt;
    }
    return std::move(result).value();
}

/// A string as a JSON string literal: quoted, with control characters and
/// quotes escaped, so that names from a file cannot drive the terminal.
std::string quoted(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
        std::string error;
        if (auto record = loadRecord(path, in, error)) {
            out << path << ": ok (" << record->mappings.size() << " mappings)\n";
        } else {
            out << path << ": error: " << error << '\n';
            status = kExitFailure;
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
    std::string error;
    auto record = loadRecord(path, in, error);
    if (!record) {
        err << path << ": error: " << error << '\n';
        status = kExitFailure;
    }
    return record;
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
    out << encodeDeviceMapping(*record) << '\n';
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
