#include "app/mappings/mapping_files.hpp"

#include "fileio/file_io.hpp"
#include "model/json_codec.hpp"

#include <QString>

#include <fstream>
#include <system_error>

namespace chordwell::app {

ImportResult readImportFile(const std::filesystem::path& path, std::uintmax_t maxSize) {
    ImportResult result;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        result.error = "The file “" + path.filename().string() + "” could not be found.";
        return result;
    }
    // A FIFO or device would block the interface or never end.
    if (!std::filesystem::is_regular_file(status)) {
        result.error = "“" + path.filename().string() + "” is not a regular file.";
        return result;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        result.error =
            "The file “" + path.filename().string() + "” could not be read: " + ec.message() + ".";
        return result;
    }
    const std::string tooLarge = "The file “" + path.filename().string() +
                                 "” is too large to be a mapping file (the limit is " +
                                 std::to_string(maxSize / (1024 * 1024)) + " MB).";
    if (size > maxSize) {
        result.error = tooLarge;
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.error = "The file “" + path.filename().string() + "” could not be opened.";
        return result;
    }
    // Bounded even if the file grew after its size was taken.
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto got = static_cast<std::uintmax_t>(in.gcount());
    if (in.bad()) {
        result.error = "The file “" + path.filename().string() + "” could not be read.";
        return result;
    }
    if (got > maxSize) {
        result.error = tooLarge;
        return result;
    }
    bytes.resize(static_cast<std::size_t>(got));
    DecodeResult<DeviceMapping> decoded = decodeDeviceMappingText(bytes);
    if (!decoded) {
        result.error = "The file “" + path.filename().string() +
                       "” is not a valid mapping file: " + decoded.error();
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
                     std::string& error) {
    std::error_code ec;
    if (!fileio::writeFileAtomically(path, encodeDeviceMapping(record), ec)) {
        error = "The file “" + path.filename().string() +
                "” could not be written: " + ec.message() + ".";
        return false;
    }
    return true;
}

} // namespace chordwell::app
