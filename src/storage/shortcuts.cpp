#include "storage/shortcuts.hpp"

#include "logging/log.hpp"
#include "storage/atomic_file.hpp"

#include <climits>

namespace chordwell {
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

constexpr std::string_view kCategory = "shortcuts";
constexpr std::int64_t kMaximumKeyCode = 65535;

template <typename T> using Result = DecodeResult<T>;

// A JSON integer that fits a signed 64-bit value.
std::optional<std::int64_t> integerValue(const Json& json) {
    if (json.is_number_integer() && !json.is_number_unsigned()) {
        return json.get<std::int64_t>();
    }
    if (json.is_number_unsigned()) {
        const auto value = json.get<std::uint64_t>();
        if (value <= static_cast<std::uint64_t>(INT64_MAX)) {
            return static_cast<std::int64_t>(value);
        }
    }
    return std::nullopt;
}

Result<KeyCodeEntry> decodeEntry(const Json& json, const std::string& path) {
    if (!json.is_object()) {
        return Result<KeyCodeEntry>::failure(path + ": expected an object");
    }
    KeyCodeEntry entry;
    const auto keyCode = json.find("keyCode");
    if (keyCode == json.end()) {
        return Result<KeyCodeEntry>::failure(path + ".keyCode: missing");
    }
    const auto code = integerValue(*keyCode);
    if (!code) {
        return Result<KeyCodeEntry>::failure(path + ".keyCode: expected an integer");
    }
    if (*code < 0 || *code > kMaximumKeyCode) {
        return Result<KeyCodeEntry>::failure(path + ".keyCode: " + std::to_string(*code) +
                                             " is not a key code (0 to 65535)");
    }
    entry.keyCode = *code;

    const auto modifiers = json.find("modifiers");
    if (modifiers != json.end() && !modifiers->is_null()) {
        const auto flags = integerValue(*modifiers);
        if (!flags) {
            return Result<KeyCodeEntry>::failure(path + ".modifiers: expected an integer");
        }
        // A flag word has no sign; a negative one is a mistake in the file,
        // not a request for every modifier at once.
        if (*flags < 0) {
            return Result<KeyCodeEntry>::failure(path + ".modifiers: must not be negative");
        }
        entry.modifiers = *flags;
    }
    return Result<KeyCodeEntry>::success(entry);
}

Result<ShortcutItem> decodeItem(const Json& json, const std::string& path) {
    if (!json.is_object()) {
        return Result<ShortcutItem>::failure(path + ": expected an object");
    }
    ShortcutItem item;
    const auto name = json.find("name");
    if (name == json.end() || !name->is_string()) {
        return Result<ShortcutItem>::failure(
            path + ".name: " + (name == json.end() ? "missing" : "expected a string"));
    }
    item.name = name->get<std::string>();
    const auto codes = json.find("codes");
    if (codes == json.end() || !codes->is_array()) {
        return Result<ShortcutItem>::failure(
            path + ".codes: " + (codes == json.end() ? "missing" : "expected an array"));
    }
    item.codes.reserve(codes->size());
    for (std::size_t i = 0; i < codes->size(); ++i) {
        auto entry = decodeEntry((*codes)[i], path + ".codes[" + std::to_string(i) + "]");
        if (!entry) {
            return Result<ShortcutItem>::failure(entry.error());
        }
        item.codes.push_back(entry.value());
    }
    return Result<ShortcutItem>::success(std::move(item));
}

Result<ShortcutGroup> decodeGroup(const Json& json, const std::string& path) {
    if (!json.is_object()) {
        return Result<ShortcutGroup>::failure(path + ": expected an object");
    }
    ShortcutGroup group;
    const auto groupName = json.find("groupName");
    if (groupName == json.end() || !groupName->is_string()) {
        return Result<ShortcutGroup>::failure(
            path + ".groupName: " + (groupName == json.end() ? "missing" : "expected a string"));
    }
    group.groupName = groupName->get<std::string>();
    const auto items = json.find("items");
    if (items == json.end() || !items->is_array()) {
        return Result<ShortcutGroup>::failure(
            path + ".items: " + (items == json.end() ? "missing" : "expected an array"));
    }
    group.items.reserve(items->size());
    for (std::size_t i = 0; i < items->size(); ++i) {
        auto item = decodeItem((*items)[i], path + ".items[" + std::to_string(i) + "]");
        if (!item) {
            return Result<ShortcutGroup>::failure(item.error());
        }
        group.items.push_back(std::move(item).value());
    }
    return Result<ShortcutGroup>::success(std::move(group));
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

DecodeResult<std::vector<ShortcutGroup>> decodeShortcutCatalog(std::string_view text) {
    using CatalogResult = DecodeResult<std::vector<ShortcutGroup>>;
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::exception& exception) {
        return CatalogResult::failure(std::string("invalid JSON: ") + exception.what());
    }
    if (!json.is_array()) {
        return CatalogResult::failure("expected an array of groups");
    }
    std::vector<ShortcutGroup> groups;
    groups.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        auto group = decodeGroup(json[i], "[" + std::to_string(i) + "]");
        if (!group) {
            return CatalogResult::failure(group.error());
        }
        groups.push_back(std::move(group).value());
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
        const auto bytes = storage::readFile(*resourcePath_, error);
        if (!bytes) {
            log(LogLevel::error, "Failed to decode shortcuts.json: " + error.message(), kCategory);
            return {};
        }
        auto catalog = decodeShortcutCatalog(*bytes);
        if (!catalog) {
            log(LogLevel::error, "Failed to decode shortcuts.json: " + catalog.error(), kCategory);
            return {};
        }
        return std::move(catalog).value();
    } catch (...) {
        log(LogLevel::error, "Failed to decode shortcuts.json: out of memory", kCategory);
    }
    return {};
}

} // namespace chordwell
