#include "platform/linux/json_preferences.hpp"

#include "logging/log.hpp"
#include "model/json_reader.hpp"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace chordwell::platform::lnx {

namespace {

constexpr const char* kCategory = "settings";

// Writes `content` to a temporary file beside `file`, flushes it to disk and
// renames it over `file`.
bool writeAtomically(const std::filesystem::path& file, const std::string& content) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const std::filesystem::path temp = file.string() + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

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

JsonFilePreferences::JsonFilePreferences(std::filesystem::path file) : file_(std::move(file)) {
    load();
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
    if (!std::filesystem::exists(file_, ec)) {
        return;
    }
    std::ifstream in(file_, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    auto decoded = decodePreferences(buffer.str());
    if (!in || !decoded) {
        // Keep the user's file: set it aside and start afresh.
        const std::filesystem::path aside = file_.string() + ".unreadable";
        std::filesystem::rename(file_, aside, ec);
        const std::string reason = in ? decoded.error() : std::string("cannot read the file");
        if (ec) {
            writable_ = false; // never overwrite what could not be read
            log(LogLevel::error,
                "Preferences file " + file_.string() + " cannot be read (" + reason +
                    ") and cannot be set aside; changes stay in memory.",
                kCategory);
        } else {
            log(LogLevel::warning,
                "Preferences file " + file_.string() + " cannot be read (" + reason +
                    "); kept it as " + aside.string() + " and started with defaults.",
                kCategory);
        }
        return;
    }
    values_ = std::move(decoded).value();
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
    return writeAtomically(
        file_, document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

std::optional<PreferenceValue> JsonFilePreferences::value(std::string_view key) const {
    std::lock_guard<std::mutex> lock(mutex_);
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
}

} // namespace chordwell::platform::lnx
