#include "platform/linux/json_preferences.hpp"

#include "fileio/file_io.hpp"
#include "logging/log.hpp"
#include "model/json_reader.hpp"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <system_error>

namespace chordwell::platform::lnx {

namespace {

constexpr const char* kCategory = "settings";

// A preferences file holds a handful of keys; anything this large is not one.
constexpr std::uintmax_t kMaxFileBytes = 1024 * 1024;

} // namespace

DecodeResult<PreferenceMap> decodePreferences(std::string_view text) {
    auto parsed = parseJson(text);
    if (!parsed) {
        return DecodeResult<PreferenceMap>::failure(parsed.error());
    }
    const nlohmann::json& document = parsed.value().value;
    std::string error;
    if (!json_read::requireObject(document, "", error)) {
        return DecodeResult<PreferenceMap>::failure(std::move(error));
    }
    PreferenceMap values;
    for (const auto& [key, value] : document.items()) {
        if (value.is_boolean()) {
            values[key] = value.get<bool>();
        } else if (value.is_number()) {
            values[key] = value.get<double>();
        } else if (value.is_string()) {
            values[key] = value.get<std::string>();
        } else {
            values[key] = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        }
    }
    return DecodeResult<PreferenceMap>::success(std::move(values));
}

JsonFilePreferences::JsonFilePreferences(std::filesystem::path file,
                                         std::chrono::milliseconds refreshInterval)
    : file_(std::move(file)), refreshInterval_(refreshInterval) {
    load();
    loadedTime_ = modificationTime();
    lastCheck_ = std::chrono::steady_clock::now();
}

std::filesystem::file_time_type JsonFilePreferences::modificationTime() const {
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(file_, ec);
    return ec ? std::filesystem::file_time_type{} : time;
}

void JsonFilePreferences::refreshIfChanged() const {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCheck_ < refreshInterval_) {
        return;
    }
    lastCheck_ = now;
    const auto time = modificationTime();
    if (time == loadedTime_ || time == std::filesystem::file_time_type{}) {
        return;
    }
    loadedTime_ = time;
    // Written by someone else: their values replace ours. A file that cannot
    // be read now (a hand edit in progress) changes nothing.
    std::error_code ec;
    const auto bytes = fileio::readRegularFile(file_, kMaxFileBytes, ec);
    if (!bytes) {
        return;
    }
    auto decoded = decodePreferences(*bytes);
    if (decoded) {
        values_ = std::move(decoded).value();
    }
}

std::optional<std::filesystem::path> JsonFilePreferences::defaultFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config == '/') {
        return std::filesystem::path(config) / "Chordwell" / "preferences.json";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') {
        return std::filesystem::path(home) / ".config" / "Chordwell" / "preferences.json";
    }
    return std::nullopt;
}

void JsonFilePreferences::load() {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(file_, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return;
    }
    auto bytes = fileio::readRegularFile(file_, kMaxFileBytes, ec);
    std::optional<DecodeResult<PreferenceMap>> decoded;
    if (bytes) {
        decoded.emplace(decodePreferences(*bytes));
    }
    if (!decoded || !*decoded) {
        // Keep the user's file: set it aside (never over an earlier copy)
        // and start afresh.
        const std::string reason = decoded ? decoded->error() : ec.message();
        const auto aside = fileio::moveAside(file_, ".unreadable", ec);
        if (!aside) {
            writable_ = false; // never overwrite what could not be read
            log(LogLevel::error,
                "Preferences file " + file_.string() + " cannot be read (" + reason +
                    ") and cannot be set aside (" + ec.message() + "); changes stay in memory.",
                kCategory);
        } else {
            log(LogLevel::warning,
                "Preferences file " + file_.string() + " cannot be read (" + reason +
                    "); kept it as " + aside->string() + " and started with defaults.",
                kCategory);
        }
        return;
    }
    values_ = std::move(*decoded).value();
}

bool JsonFilePreferences::save() const {
    if (!writable_) {
        return false;
    }
    nlohmann::json document = nlohmann::json::object();
    for (const auto& entry : values_) {
        const std::string& key = entry.first;
        std::visit([&](const auto& v) { document[key] = v; }, entry.second);
    }
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    return fileio::writeFileAtomically(
        file_, document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", ec);
}

std::optional<PreferenceValue> JsonFilePreferences::value(std::string_view key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    refreshIfChanged();
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void JsonFilePreferences::setValue(std::string_view key, const PreferenceValue& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_[std::string(key)] = value;
    if (!save()) {
        log(LogLevel::error, "Could not write the preferences file " + file_.string() + ".",
            kCategory);
    }
    loadedTime_ = modificationTime(); // our own write is no news
}

} // namespace chordwell::platform::lnx
