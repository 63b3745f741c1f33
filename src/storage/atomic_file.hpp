// Whole-file reads and atomic whole-file writes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace chordwell::storage {

/// The bytes of a file; nothing (with `error` set) when it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path& path, std::error_code& error);

/// Replaces `path` with `bytes` so that readers see either the old or the new
/// content, never a mix: writes a temporary file in the same folder, flushes
/// it to disk, renames it over the target and flushes the folder. On failure
/// the old file is untouched, the temporary file is removed and `error` says
/// why.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::error_code& error);

} // namespace chordwell::storage
