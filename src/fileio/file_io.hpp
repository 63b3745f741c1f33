// The few file operations every module that keeps files on disk shares:
// guarded whole-file reads, atomic whole-file writes, moving an unreadable
// file aside, and removing temporary files a crashed process left behind.
//
// This library sits at the bottom of the tree beside the model: it knows
// nothing but POSIX and the standard library, so that logging, storage and
// the platform adapters can all use it without depending on each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace chordwell::fileio {

/// Failures of our own making (everything else is an errno value).
enum class FileError {
    notRegularFile = 1, // a FIFO, device, folder, socket ...
    tooLarge,           // beyond the caller's size limit
    noFreeName,         // every set-aside name is taken
};

const std::error_category& fileErrorCategory();
std::error_code make_error_code(FileError error);

/// Writes the whole buffer to `fd`, retrying after signals and short
/// writes; false (errno set) when the descriptor refuses.
bool writeAll(int fd, const char* data, std::size_t size);

} // namespace chordwell::fileio

template <> struct std::is_error_code_enum<chordwell::fileio::FileError> : std::true_type {};

namespace chordwell::fileio {

/// A symbolic link that names a regular file, or a file not created yet in
/// an existing folder, stands for that file: it is read, rewritten and set
/// aside in its place, so the link itself survives. Anything else (not a
/// link, a link to a device, a FIFO or a missing folder, a loop) is returned
/// unchanged and treated as the file itself.
std::filesystem::path resolveRegularLink(const std::filesystem::path& path);

/// The bytes of `path` when it is a regular file of at most `maxBytes`
/// bytes. Never blocks on a FIFO or device: those are refused with
/// FileError::notRegularFile; a larger file with FileError::tooLarge, even
/// when it grows while it is read.
std::optional<std::string> readRegularFile(const std::filesystem::path& path,
                                           std::uintmax_t maxBytes, std::error_code& error);

/// The last `maxBytes` bytes at most of a regular file (all of it when it is
/// smaller), with the same refusals as readRegularFile. `truncated` tells
/// whether the beginning was left out.
std::optional<std::string> readRegularFileTail(const std::filesystem::path& path,
                                               std::uintmax_t maxBytes, bool& truncated,
                                               std::error_code& error);

/// Replaces `path` with `bytes` so that readers see either the old or the new
/// content, never a mix: writes a uniquely named temporary file in the same
/// folder, flushes it to disk, renames it over the target and flushes the
/// folder. The new file keeps the permission bits of the file it replaces; a
/// new file gets `newFileMode` as filtered by the umask, or exactly
/// `forcedMode` when that is given (for files that must stay private). A link
/// to a regular file is followed (see resolveRegularLink). On failure the old
/// file is untouched, the temporary file is removed and `error` says why.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::error_code& error,
                         std::optional<std::filesystem::perms> forcedMode = std::nullopt);

/// Renames `file` (or the regular file its link names) to "<name><suffix>",
/// or "<name><suffix>-2", "-3" ... when that name is taken; an existing file
/// is never replaced. The new path, or nothing with the real cause in
/// `error` (FileError::noFreeName only when every candidate name is taken).
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file,
                                               std::string_view suffix, std::error_code& error);

/// Renames the directory entry `path` itself (a link stays a link and is
/// not followed) as moveAside does: "<name><suffix>", then "-2", "-3" ...,
/// never over an existing entry.
std::optional<std::filesystem::path>
moveEntryAside(const std::filesystem::path& path, std::string_view suffix, std::error_code& error);

struct FileLockAttempt;
FileLockAttempt tryLockFile(const std::filesystem::path& path, std::string_view content);

/// A lock file held with flock(2) for as long as the object lives. The
/// kernel drops the lock when its process ends, so whatever a lock file
/// holds (nothing, garbage, the name of a process long gone or of another
/// host, a time days old) only a live holder keeps others out.
class FileLock {
public:
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    /// Empties the file and lets the lock go. The file itself stays: a
    /// process that opened it just before would otherwise lock a file
    /// nobody else sees any more.
    ~FileLock();

    const std::filesystem::path& path() const { return path_; }

private:
    friend FileLockAttempt tryLockFile(const std::filesystem::path&, std::string_view);
    FileLock(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::filesystem::path path_;
    int fd_ = -1;
};

struct FileLockAttempt {
    /// The lock, when this process holds it now.
    std::optional<FileLock> lock;
    /// Someone else holds it (another process, or another lock of this one).
    bool heldElsewhere = false;
    /// What the holder wrote into the file (at most kMaxLockText bytes).
    std::string holderText;
    /// Where an entry that was no regular file (a FIFO, a folder, a link,
    /// a socket) was moved before the lock was taken.
    std::optional<std::filesystem::path> setAside;
    /// Why there is neither a lock nor a holder: the folder cannot be
    /// written, the file system has no locks ...
    std::error_code error;
};

inline constexpr std::size_t kMaxLockText = 256;

/// Takes the lock file `path` without ever waiting: the file is opened
/// without blocking and not through a link, only a regular file is used
/// (anything else is first moved aside with the suffix ".unusable"), and the
/// holder's text is read with a bound. `content` is written into the file
/// once the lock is held, so that a later process can say who holds it.
FileLockAttempt tryLockFile(const std::filesystem::path& path, std::string_view content);

/// The process id in a temporary file name made by writeFileAtomically
/// (".<name>.tmp-<pid>-<salt>-<counter>"); nothing for any other name.
std::optional<long> temporaryFileOwner(std::string_view fileName);

/// Removes, from `folder` only (not below it), the regular files named like
/// our temporary files whose writing process no longer exists and that
/// belong to this user. Anything else is left alone. Returns how many went.
std::size_t removeStaleTemporaryFiles(const std::filesystem::path& folder);

/// The same for the temporary files of one file only (".<name>.tmp-..."
/// beside it): a mapping file that is a link is written next to the file it
/// names, in a folder that is not ours to sweep.
std::size_t removeStaleTemporaryFilesOf(const std::filesystem::path& file);

/// Whether the process `pid` certainly no longer exists (a process we may
/// not signal exists all the same).
bool processIsGone(long pid);

/// Removes, with everything in them, the folders in `base` named
/// "<prefix><pid>-<anything>" (a scratch folder of one process) whose process
/// no longer exists and that belong to this user; a link or a file of that
/// name, or anyone else's folder, is left alone. Returns how many went.
std::size_t removeStaleProcessFolders(const std::filesystem::path& base, std::string_view prefix);

} // namespace chordwell::fileio
