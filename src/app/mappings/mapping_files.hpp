// Reading an imported mapping file and writing an exported one. Both hold
// one DeviceMapping in the JSON form of the mapping files.
#pragma once

#include "model/records.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace chordwell::app {

/// Mapping files are a few kilobytes; anything beyond this is not one and is
/// refused before it is read into memory.
inline constexpr std::uintmax_t kMaxImportFileSize = 10u * 1024u * 1024u;

struct ImportResult {
    /// The file's mappings in file order; nothing on failure.
    std::optional<std::vector<KeyMapping>> mappings;
    /// Why the file was refused, in words, naming the file (shown, logged).
    std::string error;
    /// What the system or the JSON reader said exactly ("" when nothing
    /// more): shown after the words, for whoever wants to repair the file.
    std::string detail;
};

/// Reads and decodes one record; only its mappings are used.
ImportResult readImportFile(const std::filesystem::path& path,
                            std::uintmax_t maxSize = kMaxImportFileSize);

/// The proposed name of an export: the product name followed by
/// "-mappings.json". The product name is what the keyboard calls itself,
/// so characters that cannot stand in a file name ("/" among them) become
/// "-", and a name with nothing usable left becomes "Keyboard".
std::string proposedExportFileName(const std::string& productName);

/// Writes the record atomically in the compact JSON form; false with
/// `error` set (in words, naming the file or the folder that refused it, and
/// what to do) and `detail` (the system's words) when it cannot.
bool writeExportFile(const std::filesystem::path& path, const DeviceMapping& record,
                     std::string& error, std::string* detail = nullptr);

/// The folder an export or import dialog opens in: the documents folder when
/// it exists, else the home folder.
std::filesystem::path defaultFileFolder(const std::filesystem::path& documents,
                                        const std::filesystem::path& home);

} // namespace chordwell::app
