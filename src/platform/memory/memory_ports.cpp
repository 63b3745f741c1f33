#include "platform/memory/memory_ports.hpp"

#include <cstdio>

namespace chordwell::platform {

// ------------------------------------------------------------ preferences

MemoryPreferences::MemoryPreferences(
    std::initializer_list<std::pair<const std::string, PreferenceValue>> values)
    : values_(values.begin(), values.end()) {}

std::optional<PreferenceValue> MemoryPreferences::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void MemoryPreferences::setValue(std::string_view key, const PreferenceValue& value) {
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), value);
}

void MemoryPreferences::removeValue(std::string_view key) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it != values_.end()) {
        values_.erase(it);
    }
}

// ------------------------------------------------------------------ paths

FolderPaths::FolderPaths(std::filesystem::path applicationSupport,
                         std::optional<std::filesystem::path> resources)
    : applicationSupport_(std::move(applicationSupport)), resources_(std::move(resources)) {}

std::optional<std::filesystem::path>
FolderPaths::applicationSupportDirectory(std::error_code& error) const {
    error.clear();
    if (!applicationSupport_) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return std::nullopt;
    }
    std::filesystem::create_directories(*applicationSupport_, error);
    if (error) {
        return std::nullopt;
    }
    if (!std::filesystem::is_directory(*applicationSupport_, error)) {
        if (!error) {
            error = std::make_error_code(std::errc::not_a_directory);
        }
        return std::nullopt;
    }
    return applicationSupport_;
}

namespace {

class CapturingHandle : public SystemLogHandle {
public:
    CapturingHandle(std::shared_ptr<CapturingSystemLog::Store> store, std::string subsystem,
                    std::string category)
        : store_(std::move(store)), subsystem_(std::move(subsystem)),
          category_(std::move(category)) {}

    bool isEnabled(LogLevel) const override { return true; }
    void emit(LogLevel level, std::string_view message) override {
        CapturedLogEntry entry{level, subsystem_, category_, std::string(message)};
        std::lock_guard lock(store_->mutex);
        store_->entries.push_back(std::move(entry));
    }

private:
    std::shared_ptr<CapturingSystemLog::Store> store_;
    std::string subsystem_;
    std::string category_;
};

class NullHandle : public SystemLogHandle {
public:
    bool isEnabled(LogLevel) const override { return false; }
    void emit(LogLevel, std::string_view) override {}
};

} // namespace

// -------------------------------------------------------- capturing log

std::shared_ptr<SystemLogHandle> CapturingSystemLog::makeHandle(std::string_view subsystem,
                                                                std::string_view category) {
    return std::make_shared<CapturingHandle>(store_, std::string(subsystem), std::string(category));
}

std::vector<CapturedLogEntry> CapturingSystemLog::entries() const {
    std::lock_guard lock(store_->mutex);
    return store_->entries;
}

std::vector<std::string> CapturingSystemLog::messages() const {
    std::lock_guard lock(store_->mutex);
    std::vector<std::string> result;
    result.reserve(store_->entries.size());
    for (const auto& entry : store_->entries) {
        result.push_back(entry.message);
    }
    return result;
}

void CapturingSystemLog::clear() {
    std::lock_guard lock(store_->mutex);
    store_->entries.clear();
}

// ------------------------------------------------------------- null log

std::shared_ptr<SystemLogHandle> NullSystemLog::makeHandle(std::string_view, std::string_view) {
    return std::make_shared<NullHandle>();
}

} // namespace chordwell::platform
