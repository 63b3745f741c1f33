// Per-model mapping files in the mappings folder.
#pragma once

#include "model/records.hpp"
#include "ports/ports.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace chordwell {

/// A mapping file that could not be read and was renamed so that no later
/// save can destroy it. The user is told where it went.
struct SetAsideFile {
    std::string productName;        // the keyboard whose mappings these are
    std::filesystem::path original; // where the file was
    std::filesystem::path keptAt;   // where it is now
    std::string reason;             // why it could not be read

    friend bool operator==(const SetAsideFile&, const SetAsideFile&) = default;
};

class StorageManager {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    /// Mapping files are a few kilobytes. A stored file larger than this, or
    /// one that is not a regular file (a FIFO, a link to a device), is never
    /// read: it is treated like an unreadable file. The same limit as import.
    static constexpr std::uintmax_t maxFileBytes = 10u * 1024u * 1024u;

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
    /// The file of a keyboard model: fileName(vendorID, productID), except
    /// for keyboards whose identifiers name no model (both 0, or both not
    /// reported), which would all share that one file: theirs adds a hash of
    /// the product name, "0000-0000-1A2B3C4D.json".
    static std::string fileName(std::int64_t vendorID, std::int64_t productID,
                                std::string_view productName);
    std::filesystem::path fileURL(const KeyboardDevice& keyboard) const;

    /// Never fails: an absent or bad file yields the empty list (a bad file is
    /// moved aside first so that a later save cannot destroy it).
    std::vector<KeyMapping> loadMappings(const KeyboardDevice& keyboard) const;

    /// Writes atomically. Returns false with `errorText` set on failure. An
    /// existing file that cannot be read back is moved aside before it is
    /// replaced; if that is impossible the save fails and the file stays.
    bool saveMappings(const std::vector<KeyMapping>& mappings, const KeyboardDevice& keyboard,
                      std::string& errorText) const;

    /// Where an unreadable file is moved: "<file name>.unreadable-<UTC time
    /// stamp>", e.g. "05AC-024F.json.unreadable-20261207T101500Z".
    static std::string unreadableFileName(const std::string& fileName,
                                          std::chrono::system_clock::time_point time);

    /// The clock that stamps moved-aside files (default: system clock).
    void setClock(Clock clock) { clock_ = std::move(clock); }

    /// Files set aside since start-up and not yet dismissed, oldest first.
    /// The main window shows them until the user dismisses them.
    std::vector<SetAsideFile> setAsideFiles() const { return *setAside_; }
    /// Forgets the notice of the file kept at `keptAt` (the file stays).
    void dismissSetAsideFile(const std::filesystem::path& keptAt) const;

private:
    explicit StorageManager(std::filesystem::path folder) : folder_(std::move(folder)) {}

    /// Checks the file at `file`; when it exists but cannot be read or
    /// decoded, moves it aside. False only when such a file had to stay.
    bool preserveUnreadable(const std::filesystem::path& file, const KeyboardDevice& keyboard,
                            std::string& errorText) const;
    /// The mappings of a keyboard without identifiers from the one file that
    /// all such keyboards shared before, when they are this keyboard's.
    std::optional<std::vector<KeyMapping>> loadSharedFile(const KeyboardDevice& keyboard) const;
    /// Notes the content of `file` as a valid record, or forgets it.
    void remember(const std::filesystem::path& file, std::optional<std::string_view> bytes) const;
    std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file,
                                                   const KeyboardDevice& keyboard,
                                                   const std::string& reason,
                                                   std::string& errorText) const;

    std::filesystem::path folder_;
    Clock clock_;
    // Shared by copies, and changed by const operations: the notices are
    // not part of what the storage stores.
    std::shared_ptr<std::vector<SetAsideFile>> setAside_ =
        std::make_shared<std::vector<SetAsideFile>>();
    // The content of each file as this storage last wrote it or read it
    // whole (its size and hash): when a save finds those very bytes, they
    // need not be decoded again to know they are a valid record, which
    // with thousands of mappings costs more than the write itself.
    struct KnownContent {
        std::size_t size = 0;
        std::size_t hash = 0;
        friend bool operator==(const KnownContent&, const KnownContent&) = default;
    };
    static KnownContent knownContent(std::string_view bytes);
    std::shared_ptr<std::map<std::string, KnownContent>> knownFiles_ =
        std::make_shared<std::map<std::string, KnownContent>>();
};

} // namespace chordwell
