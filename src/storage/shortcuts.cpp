#include "storage/shortcuts.hpp"

#include "fileio/file_io.hpp"
#include "logging/log.hpp"
#include "model/json_reader.hpp"

#include <climits>

namespace chordwell {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCategory = "shortcuts";
constexpr std::int64_t kMaximumKeyCode = 65535;

using namespace json_read;

// The catalog decoders follow the mapping records' style: the first fault
// goes to `error` as "PATH: MESSAGE" and the decoder returns false.

bool readEntry(const Json& json, const std::string& path, KeyCodeEntry& entry, std::string& error) {
    if (!requireObject(json, path, error)) {
        return false;
    }
    const Json* keyCode = requireMember(json, "keyCode", path, error);
    const std::string keyCodePath = childPath(path, "keyCode");
    if (keyCode == nullptr || !readInt64(*keyCode, keyCodePath, entry.keyCode, error)) {
        return false;
    }
    if (entry.keyCode < 0 || entry.keyCode > kMaximumKeyCode) {
        error =
            fault(keyCodePath, std::to_string(entry.keyCode) + " is not a key code (0 to 65535)");
        return false;
    }
    entry.modifiers = 0;
    if (const Json* modifiers = optionalMember(json, "modifiers")) {
        const std::string modifiersPath = childPath(path, "modifiers");
        if (!readInt64(*modifiers, modifiersPath, entry.modifiers, error)) {
            return false;
        }
        // A flag word has no sign; a negative one is a mistake in the file,
        // not a request for every modifier at once.
        if (entry.modifiers < 0) {
            error = fault(modifiersPath, "must not be negative");
            return false;
        }
    }
    return true;
}

bool readItem(const Json& json, const std::string& path, ShortcutItem& item, std::string& error) {
    if (!requireObject(json, path, error)) {
        return false;
    }
    const Json* name = requireMember(json, "name", path, error);
    return name != nullptr && readString(*name, childPath(path, "name"), item.name, error) &&
           readRequiredArray(json, "codes", path, item.codes, error, readEntry);
}

bool readGroup(const Json& json, const std::string& path, ShortcutGroup& group,
               std::string& error) {
    if (!requireObject(json, path, error)) {
        return false;
    }
    const Json* groupName = requireMember(json, "groupName", path, error);
    return groupName != nullptr &&
           readString(*groupName, childPath(path, "groupName"), group.groupName, error) &&
           readRequiredArray(json, "items", path, group.items, error, readItem);
}

} // namespace

std::string capitalizedWords(std::string_view text) {
    std::string result(text);
    bool wordStart = true;
    for (char& c : result) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            wordStart = true;
            continue;
        }
        if (c >= 'a' && c <= 'z' && wordStart) {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z' && !wordStart) {
            c = static_cast<char>(c - 'A' + 'a');
        }
        wordStart = false;
    }
    return result;
}

std::vector<MacKeySignature> ShortcutItem::signatures() const {
    std::vector<MacKeySignature> result;
    result.reserve(codes.size());
    for (const KeyCodeEntry& entry : codes) {
        result.push_back(
            MacKeySignature::masked(entry.keyCode, static_cast<EventFlags>(entry.modifiers)));
    }
    return result;
}

std::string ShortcutItem::displayName() const {
    return capitalizedWords(name);
}

OutputBehavior ShortcutItem::outputBehavior() const {
    return OutputBehavior::customKeySequence(displayName(), signatures());
}

DecodeResult<std::vector<ShortcutGroup>>
decodeShortcutCatalog(std::string_view text, std::vector<std::string>* duplicateKeys) {
    using CatalogResult = DecodeResult<std::vector<ShortcutGroup>>;
    auto parsed = parseJson(text);
    if (!parsed) {
        return CatalogResult::failure(parsed.error());
    }
    if (duplicateKeys != nullptr) {
        *duplicateKeys = parsed.value().duplicateKeys;
    }
    std::vector<ShortcutGroup> groups;
    std::string error;
    if (!readArray(parsed.value().value, "", groups, error, readGroup)) {
        return CatalogResult::failure(std::move(error));
    }
    return CatalogResult::success(std::move(groups));
}

std::optional<fs::path> defaultShortcutsPath(const platform::Paths& paths) {
    const std::optional<fs::path> resources = paths.resourceDirectory();
    if (!resources) {
        return std::nullopt;
    }
    fs::path candidate = *resources / "shortcuts.json";
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) {
        return std::nullopt;
    }
    return candidate.lexically_normal();
}

ShortcutsLoader::ShortcutsLoader(std::optional<fs::path> resourcePath)
    : resourcePath_(std::move(resourcePath)) {}

std::vector<ShortcutGroup> ShortcutsLoader::load() const {
    try {
        std::error_code error;
        if (!resourcePath_ || !fs::exists(*resourcePath_, error)) {
            log(LogLevel::error, "shortcuts.json not found in bundle!", kCategory);
            return {};
        }
        // The shipped catalog is a few kilobytes; a megabyte is plenty.
        const auto bytes = fileio::readRegularFile(*resourcePath_, 1024 * 1024, error);
        if (!bytes) {
            log(LogLevel::error, "Failed to decode shortcuts.json: " + error.message(), kCategory);
            return {};
        }
        std::vector<std::string> duplicateKeys;
        auto catalog = decodeShortcutCatalog(*bytes, &duplicateKeys);
        if (!catalog) {
            log(LogLevel::error, "Failed to decode shortcuts.json: " + catalog.error(), kCategory);
            return {};
        }
        for (const std::string& path : duplicateKeys) {
            log(LogLevel::warning,
                "shortcuts.json: " + path + ": duplicate key, the last one counts", kCategory);
        }
        return std::move(catalog).value();
    } catch (...) {
        log(LogLevel::error, "Failed to decode shortcuts.json: out of memory", kCategory);
    }
    return {};
}

} // namespace chordwell
