// Per-model mapping files in the mappings folder.
#pragma once

#include "model/records.hpp"
#include "platform/ports.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace chordwell {

class StorageManager {
public:
    /// Finds or creates the mappings folder; nothing (with `error` set) when
    /// the application-support folder is unavailable or the folder cannot be
    /// created.
    static std::optional<StorageManager> create(const platform::Paths& paths,
                                                std::error_code& error);
    /// A storage rooted at an explicit folder (created when missing).
    static std::optional<StorageManager> createAt(const std::filesystem::path& folder,
                                                  std::error_code& error);

    const std::filesystem::path& folder() const { return folder_; }

    /// "%04X-%04X.json" of vendor and product identifiers (unsigned 32-bit).
    static std::string fileName(std::int64_t vendorID, std::int64_t productID);
    std::filesystem::path fileURL(const KeyboardDevice& keyboard) const;

    /// Never fails: an absent or bad file yields the empty list (a bad file is
    /// moved aside first so that a later save cannot destroy it).
    std::vector<KeyMapping> loadMappings(const KeyboardDevice& keyboard) const;

    /// Writes atomically. Returns false with `errorText` set on failure.
    bool saveMappings(const std::vector<KeyMapping>& mappings, const KeyboardDevice& keyboard,
                      std::string& errorText) const;

private:
    explicit StorageManager(std::filesystem::path folder) : folder_(std::move(folder)) {}
    std::filesystem::path folder_;
};

} // namespace chordwell
