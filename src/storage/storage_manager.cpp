#include "storage/storage_manager.hpp"

#include "fileio/file_io.hpp"
#include "logging/log.hpp"
#include "model/json_codec.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

namespace chordwell {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCategory = "storage";

std::string quoted(const std::string& productName) {
    return "\u201C" + productName + "\u201D";
}

// Result of reading a mapping file back.
struct ReadOutcome {
    enum class Status {
        missing,      // no file: nothing was ever saved
        inaccessible, // cannot even tell whether there is a file (folder locked)
        unreadable,   // a file is there but cannot be read, is refused or is not a record
        ok,
    } status = Status::missing;
    DeviceMapping record;
    std::string problem; // why it is unreadable or inaccessible
    std::string bytes;   // what was read, when it decoded
};

ReadOutcome readMappingFile(const fs::path& file) {
    ReadOutcome outcome;
    std::error_code error;
    const auto status = fs::symlink_status(file, error);
    if (status.type() == fs::file_type::not_found) {
        return outcome;
    }
    if (error) {
        outcome.status = ReadOutcome::Status::inaccessible;
        outcome.problem = error.message();
        return outcome;
    }
    // A link whose file is not there (yet) stores nothing; the next save
    // creates the file it names.
    if (fs::is_symlink(status) && fs::status(file, error).type() == fs::file_type::not_found) {
        return outcome;
    }
    outcome.status = ReadOutcome::Status::unreadable;
    // The same guard as import: a FIFO would hang the window for ever and a
    // link to /dev/zero would eat all memory.
    auto bytes = fileio::readRegularFile(file, StorageManager::maxFileBytes, error);
    if (!bytes) {
        outcome.problem = "cannot be read: " + error.message();
        return outcome;
    }
    std::vector<std::string> duplicateKeys;
    auto decoded = decodeDeviceMappingText(*bytes, &duplicateKeys);
    if (!decoded) {
        outcome.problem = "is not a valid mapping record: " + decoded.error();
        return outcome;
    }
    // Loaded as always (the last of repeated keys counts), but said, since
    // another JSON reader may take the first one.
    for (const std::string& path : duplicateKeys) {
        log(LogLevel::warning,
            "Mapping file " + file.string() + " repeats the key " + path + "; the last one is used",
            kCategory);
    }
    outcome.status = ReadOutcome::Status::ok;
    outcome.record = std::move(decoded).value();
    outcome.bytes = std::move(*bytes);
    return outcome;
}

} // namespace

std::optional<StorageManager> StorageManager::create(const platform::Paths& paths,
                                                     std::error_code& error) {
    try {
        error.clear();
        const auto base = paths.applicationSupportDirectory(error);
        if (!base) {
            if (!error) {
                error = std::make_error_code(std::errc::no_such_file_or_directory);
            }
            return std::nullopt;
        }
        log(LogLevel::debug, "Application Support base: " + base->string(), kCategory);
        return createAt(paths.mappingsFolder(*base), error);
    } catch (const std::bad_alloc&) {
        error = std::make_error_code(std::errc::not_enough_memory);
        return std::nullopt;
    }
}

std::optional<StorageManager> StorageManager::createAt(const fs::path& folder,
                                                       std::error_code& error) {
    try {
        error.clear();
        fs::create_directories(folder, error);
        if (!error && !fs::is_directory(folder, error) && !error) {
            error = std::make_error_code(std::errc::not_a_directory);
        }
        if (error) {
            log(LogLevel::error,
                "Failed to create folder: " + folder.string() + ": " + error.message(), kCategory);
            return std::nullopt;
        }
        log(LogLevel::debug, "Created or verified folder: " + folder.string(), kCategory);
        // Saves cut short by a crash leave their temporary files behind: here,
        // and beside the file a mapping file that is a link names (a save
        // writes there). Only that file's own temporaries are touched there.
        std::size_t removed = fileio::removeStaleTemporaryFiles(folder);
        std::error_code listError;
        for (fs::directory_iterator it(folder, listError), end; !listError && it != end;
             it.increment(listError)) {
            if (!it->is_symlink(listError)) {
                continue;
            }
            const fs::path target = fileio::resolveRegularLink(it->path());
            if (target != it->path() && target.parent_path() != folder) {
                removed += fileio::removeStaleTemporaryFilesOf(target);
            }
        }
        if (removed > 0) {
            log(LogLevel::info,
                "Removed " + std::to_string(removed) + " temporary files of interrupted saves",
                kCategory);
        }
        return StorageManager(folder);
    } catch (const std::bad_alloc&) {
        error = std::make_error_code(std::errc::not_enough_memory);
        return std::nullopt;
    }
}

std::string StorageManager::fileName(std::int64_t vendorID, std::int64_t productID) {
    // Identifiers are printed as unsigned 32-bit values, as the C "%X"
    // conversion of an int would: -1 (not reported) becomes FFFFFFFF.
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%04X-%04X.json",
                  static_cast<unsigned>(static_cast<std::uint32_t>(vendorID)),
                  static_cast<unsigned>(static_cast<std::uint32_t>(productID)));
    return buffer.data();
}

std::string StorageManager::fileName(std::int64_t vendorID, std::int64_t productID,
                                     std::string_view productName) {
    std::string name = fileName(vendorID, productID);
    if (identifiersNameModel(vendorID, productID)) {
        return name;
    }
    // FNV-1a over the name's bytes: the same name gives the same file in
    // every run and on every platform.
    std::uint32_t hash = 2166136261u;
    for (const char c : productName) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    std::array<char, 16> suffix{};
    std::snprintf(suffix.data(), suffix.size(), "-%08X.json", static_cast<unsigned>(hash));
    name.resize(name.size() - std::string_view(".json").size());
    return name + suffix.data();
}

fs::path StorageManager::fileURL(const KeyboardDevice& keyboard) const {
    return folder_ / fileName(keyboard.vendorID, keyboard.productID, keyboard.productName);
}

std::string StorageManager::unreadableFileName(const std::string& fileName,
                                               std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(time);
    const auto day = floor<days>(secs);
    const year_month_day date{day};
    const hh_mm_ss<seconds> clock{secs - day};
    std::array<char, 32> stamp{};
    std::snprintf(stamp.data(), stamp.size(), "%04d%02u%02uT%02d%02d%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return fileName + ".unreadable-" + stamp.data();
}

std::optional<fs::path> StorageManager::moveAside(const fs::path& file,
                                                  const KeyboardDevice& keyboard,
                                                  const std::string& reason,
                                                  std::string& errorText) const {
    const auto now = clock_ ? clock_() : std::chrono::system_clock::now();
    const std::string stamped = unreadableFileName("", now);
    std::error_code error;
    auto target = fileio::moveAside(file, stamped, error);
    if (!target) {
        errorText = "Could not move unreadable mappings file " + file.string() +
                    " aside: " + error.message();
        log(LogLevel::error, errorText, kCategory);
        return std::nullopt;
    }
    log(LogLevel::warning,
        "Mappings file " + file.string() + " " + reason + "; moved it aside to " + target->string(),
        kCategory);
    setAside_->push_back(SetAsideFile{keyboard.productName, file, *target, reason});
    remember(file, std::nullopt);
    return target;
}

void StorageManager::dismissSetAsideFile(const fs::path& keptAt) const {
    std::erase_if(*setAside_, [&](const SetAsideFile& f) { return f.keptAt == keptAt; });
}

bool StorageManager::preserveUnreadable(const fs::path& file, const KeyboardDevice& keyboard,
                                        std::string& errorText) const {
    if (const auto known = knownFiles_->find(file.string()); known != knownFiles_->end()) {
        std::error_code error;
        const auto bytes = fileio::readRegularFile(file, maxFileBytes, error);
        if (bytes && knownContent(*bytes) == known->second) {
            return true; // what this storage wrote or read whole
        }
        knownFiles_->erase(known);
    }
    ReadOutcome outcome = readMappingFile(file);
    if (outcome.status == ReadOutcome::Status::inaccessible) {
        errorText = "Could not write " + file.string() + ": " + outcome.problem;
        return false;
    }
    if (outcome.status != ReadOutcome::Status::unreadable) {
        return true;
    }
    return moveAside(file, keyboard, outcome.problem, errorText).has_value();
}

StorageManager::KnownContent StorageManager::knownContent(std::string_view bytes) {
    return KnownContent{bytes.size(), std::hash<std::string_view>{}(bytes)};
}

void StorageManager::remember(const fs::path& file, std::optional<std::string_view> bytes) const {
    if (bytes) {
        knownFiles_->insert_or_assign(file.string(), knownContent(*bytes));
    } else {
        knownFiles_->erase(file.string());
    }
}

std::vector<KeyMapping> StorageManager::loadMappings(const KeyboardDevice& keyboard) const {
    try {
        const fs::path file = fileURL(keyboard);
        const std::string name = quoted(keyboard.productName);
        log(LogLevel::debug, "Loading mappings for " + name + " from " + file.string(), kCategory);

        ReadOutcome outcome = readMappingFile(file);
        if (outcome.status == ReadOutcome::Status::missing &&
            !identifiersNameModel(keyboard.vendorID, keyboard.productID)) {
            if (auto mappings = loadSharedFile(keyboard)) {
                return std::move(*mappings);
            }
        }
        if (outcome.status == ReadOutcome::Status::ok) {
            remember(file, outcome.bytes);
            log(LogLevel::info,
                "Loaded " + std::to_string(outcome.record.mappings.size()) + " mappings for " +
                    name,
                kCategory);
            return std::move(outcome.record.mappings);
        }
        if (outcome.status == ReadOutcome::Status::unreadable) {
            // Keep what the user once saved: the next save would replace it.
            std::string ignored;
            moveAside(file, keyboard, outcome.problem, ignored);
        } else if (outcome.status == ReadOutcome::Status::inaccessible) {
            log(LogLevel::error,
                "Could not read mappings file " + file.string() + ": " + outcome.problem,
                kCategory);
        }
        log(LogLevel::info, "No saved mappings found for " + name + "; returning []", kCategory);
    } catch (...) {
        // Out of memory while reading: behave as if nothing were stored.
    }
    return {};
}

std::optional<std::vector<KeyMapping>>
StorageManager::loadSharedFile(const KeyboardDevice& keyboard) const {
    // Earlier versions kept every keyboard without identifiers in one file,
    // named by the identifiers alone. What it holds is this keyboard's only
    // when the last keyboard that saved it had this name; it is read, never
    // changed or set aside (another keyboard's mappings may be in it), and
    // the next save writes the keyboard's own file.
    const fs::path shared = folder_ / fileName(keyboard.vendorID, keyboard.productID);
    ReadOutcome outcome = readMappingFile(shared);
    if (outcome.status != ReadOutcome::Status::ok ||
        outcome.record.productName != keyboard.productName) {
        return std::nullopt;
    }
    log(LogLevel::info,
        "Loaded " + std::to_string(outcome.record.mappings.size()) + " mappings for " +
            quoted(keyboard.productName) + " from " + shared.string() +
            ", which keyboards without identifiers shared; they are saved to " +
            fileURL(keyboard).string() + " from now on",
        kCategory);
    return std::move(outcome.record.mappings);
}

bool StorageManager::saveMappings(const std::vector<KeyMapping>& mappings,
                                  const KeyboardDevice& keyboard, std::string& errorText) const {
    try {
        errorText.clear();
        const fs::path file = fileURL(keyboard);
        DeviceMapping record;
        record.id = Uuid::random();
        record.productName = keyboard.productName;
        record.productID = keyboard.productID;
        record.vendorID = keyboard.vendorID;
        record.mappings = mappings;

        const std::string name = quoted(keyboard.productName);
        log(LogLevel::debug,
            "Saving " + std::to_string(mappings.size()) + " mappings for " + name + " to " +
                file.string(),
            kCategory);

        const std::string bytes = encodeDeviceMapping(record);
        if (!preserveUnreadable(file, keyboard, errorText)) {
            return false;
        }
        // A mapping file the user linked elsewhere (a dotfiles folder, say)
        // stays a link: the new content goes to the file it points to, just
        // as an unreadable one is set aside there.
        std::error_code error;
        if (!fileio::writeFileAtomically(file, bytes, error)) {
            remember(file, std::nullopt);
            errorText = "Could not write " + file.string() + ": " + error.message();
            return false;
        }
        remember(file, bytes);
        log(LogLevel::info, "Successfully saved mappings for " + name, kCategory);
        return true;
    } catch (const std::exception& exception) {
        errorText = exception.what();
    } catch (...) {
        errorText = "unknown error";
    }
    return false;
}

} // namespace chordwell
