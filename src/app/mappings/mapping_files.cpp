#include "app/mappings/mapping_files.hpp"

#include "fileio/file_io.hpp"
#include "model/json_codec.hpp"

#include <QString>

#include <cerrno>
#include <fstream>
#include <system_error>

namespace chordwell::app {

namespace {

std::string quoted(const std::filesystem::path& path) {
    return "\u201C" + path.filename().string() + "\u201D";
}

// A decoder's complaint in words a user can act on; its exact text follows
// as the detail.
std::string decodeProblemInWords(const std::string& decoderError) {
    if (decoderError.rfind("invalid JSON", 0) == 0) {
        return "its text is not valid JSON.";
    }
    if (decoderError.rfind("mappings[", 0) == 0) {
        // "mappings[1].outputBehavior…": people count from one.
        std::uint64_t index = 0;
        for (std::size_t i = 9; i < decoderError.size() && i < 20; ++i) {
            const char c = decoderError[i];
            if (c < '0' || c > '9') {
                break;
            }
            index = index * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return "mapping number " + std::to_string(index + 1) +
               " in it is incomplete or has a wrong value.";
    }
    return "it does not hold the mappings of a keyboard.";
}

} // namespace

ImportResult readImportFile(const std::filesystem::path& path, std::uintmax_t maxSize) {
    ImportResult result;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        result.error = "The file " + quoted(path) + " could not be found.";
        result.detail = path.string();
        return result;
    }
    // A FIFO or device would block the interface or never end.
    if (!std::filesystem::is_regular_file(status)) {
        result.error = quoted(path) + " is not a regular file. Choose a mapping file (.json).";
        result.detail = path.string();
        return result;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        result.error = "The file " + quoted(path) + " could not be read.";
        result.detail = ec.message();
        return result;
    }
    const std::string tooLarge = "The file " + quoted(path) +
                                 " is too large to be a mapping file (the limit is " +
                                 std::to_string(maxSize / (1024 * 1024)) + " MB).";
    if (size > maxSize) {
        result.error = tooLarge;
        result.detail = std::to_string(size) + " bytes";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int code = errno;
        if (code == EACCES || code == EPERM) {
            result.error = "Chordwell may not read the file " + quoted(path) +
                           ". Check its permissions, or copy it somewhere you can read.";
        } else {
            result.error = "The file " + quoted(path) + " could not be opened.";
        }
        result.detail = std::generic_category().message(code);
        return result;
    }
    // Bounded even if the file grew after its size was taken.
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto got = static_cast<std::uintmax_t>(in.gcount());
    if (in.bad()) {
        result.error = "The file " + quoted(path) + " could not be read.";
        return result;
    }
    if (got > maxSize) {
        result.error = tooLarge;
        return result;
    }
    bytes.resize(static_cast<std::size_t>(got));
    DecodeResult<DeviceMapping> decoded = decodeDeviceMappingText(bytes);
    if (!decoded) {
        result.error = "The file " + quoted(path) +
                       " is not a Chordwell mapping file: " + decodeProblemInWords(decoded.error());
        result.detail = decoded.error();
        return result;
    }
    result.mappings = std::move(decoded).value().mappings;
    return result;
}

std::string proposedExportFileName(const std::string& productName) {
    // QString works on characters, so that a multi-byte character is never
    // cut in half; invalid UTF-8 from a device becomes U+FFFD.
    QString name =
        QString::fromUtf8(productName.data(), static_cast<qsizetype>(productName.size()));
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    for (QChar& c : name) {
        if (forbidden.contains(c) || c.category() == QChar::Other_Control ||
            c.category() == QChar::Other_Format) {
            c = QLatin1Char('-');
        }
    }
    name = name.trimmed();
    // Leading dots would hide the file or name a parent folder.
    while (name.startsWith(QLatin1Char('.'))) {
        name.remove(0, 1);
    }
    // File names are limited to 255 bytes; keep room for the suffix.
    constexpr qsizetype kMaxNameBytes = 200;
    while (name.toUtf8().size() > kMaxNameBytes) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate()) {
            name.chop(1);
        }
    }
    if (name.trimmed().isEmpty()) {
        name = QStringLiteral("Keyboard");
    }
    return name.toStdString() + "-mappings.json";
}

bool writeExportFile(const std::filesystem::path& path, const DeviceMapping& record,
                     std::string& error, std::string* detail) {
    std::error_code ec;
    if (!fileio::writeFileAtomically(path, encodeDeviceMapping(record), ec)) {
        const std::filesystem::path folder =
            path.has_parent_path() ? path.parent_path() : std::filesystem::current_path(ec);
        if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
            ec == std::errc::read_only_file_system) {
            error = "Chordwell may not write into the folder \u201C" + folder.string() +
                    "\u201D. Choose another folder, such as your home folder.";
        } else if (ec == std::errc::no_such_file_or_directory) {
            error = "The folder \u201C" + folder.string() +
                    "\u201D does not exist. Choose another folder.";
        } else if (ec == std::errc::no_space_on_device) {
            error = "There is no room left on the disk for " + quoted(path) +
                    ". Free some space or choose another disk.";
        } else {
            error = "The file " + quoted(path) + " could not be written.";
        }
        if (detail != nullptr) {
            *detail = ec.message();
        }
        return false;
    }
    return true;
}

std::filesystem::path defaultFileFolder(const std::filesystem::path& documents,
                                        const std::filesystem::path& home) {
    std::error_code ec;
    if (!documents.empty() && std::filesystem::is_directory(documents, ec)) {
        return documents;
    }
    return home;
}

} // namespace chordwell::app
