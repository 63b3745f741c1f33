#include "app/demo/demo_session.hpp"

#include "ports/ports.hpp"

#include <QCoreApplication>
#include <QDir>

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace chordwell::app {

namespace fs = std::filesystem;

std::optional<fs::path> demoResourcesFolder() {
    std::vector<fs::path> candidates;
    const fs::path exe = QCoreApplication::applicationDirPath().toStdString();
    if (!exe.empty()) {
#if defined(__APPLE__)
        candidates.push_back(exe / ".." / "Resources" / "demo");
#else
        candidates.push_back(exe / ".." / "share" / "chordwell" / "demo");
#endif
    }
    // A program running from the build folder: the source tree's demo,
    // beside its platform's resources.
    if (const auto development = platform::developmentResourceDirectory()) {
        candidates.push_back(*development / "demo");
        candidates.push_back(*development / ".." / "demo");
    }
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (fs::is_regular_file(candidate / "demo.script", error)) {
            return candidate.lexically_normal();
        }
    }
    return std::nullopt;
}

std::optional<DemoSession> DemoSession::create(const fs::path& resources, std::string& error) {
    std::string pattern =
        (fs::path(QDir::tempPath().toStdString()) / "chordwell-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a scratch folder in " + QDir::tempPath().toStdString();
        return std::nullopt;
    }
    DemoSession session(fs::path(pattern), resources);
    std::error_code ec;
    const fs::path mappings = session.folder_ / "Mappings";
    fs::create_directories(mappings, ec);
    // The samples, then this desktop's own versions of them (their custom
    // outputs type this desktop's shortcuts: Undo is Ctrl+Z on Linux).
    std::vector<fs::path> folders = {resources};
#if !defined(__APPLE__)
    folders.push_back(resources / "linux");
#endif
    for (const fs::path& folder : folders) {
        if (folder != resources && !fs::is_directory(folder, ec)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().extension() == ".json" && entry.is_regular_file(ec)) {
                fs::copy_file(entry.path(), mappings / entry.path().filename(),
                              fs::copy_options::overwrite_existing, ec);
                if (ec) {
                    error = "cannot copy " + entry.path().string() + ": " + ec.message();
                    return std::nullopt; // the session removes what it made
                }
            }
        }
        if (ec) {
            error = "cannot read " + folder.string() + ": " + ec.message();
            return std::nullopt;
        }
    }
    return session;
}

DemoSession::DemoSession(DemoSession&& other) noexcept
    : folder_(std::move(other.folder_)), resources_(std::move(other.resources_)),
      keep_(other.keep_) {
    other.folder_.clear();
}

DemoSession::~DemoSession() {
    if (folder_.empty() || keep_) {
        return;
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

} // namespace chordwell::app
