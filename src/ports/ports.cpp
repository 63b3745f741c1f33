#include "ports/ports.hpp"

#include <mutex>

namespace chordwell::platform {

namespace {

struct DevelopmentResources {
    std::mutex mutex;
    std::optional<std::filesystem::path> directory;
};

DevelopmentResources& developmentResources() {
    static DevelopmentResources resources;
    return resources;
}

bool isDirectory(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

} // namespace

void setDevelopmentResourceDirectory(std::filesystem::path directory) {
    DevelopmentResources& resources = developmentResources();
    std::lock_guard lock(resources.mutex);
    if (directory.empty()) {
        resources.directory.reset();
    } else {
        resources.directory = std::move(directory);
    }
}

std::optional<std::filesystem::path> developmentResourceDirectory() {
    DevelopmentResources& resources = developmentResources();
    std::lock_guard lock(resources.mutex);
    return resources.directory;
}

std::optional<std::filesystem::path>
resourceDirectoryBeside(const std::optional<std::filesystem::path>& executable) {
    if (executable && executable->has_parent_path()) {
#if defined(__APPLE__)
        const auto installed = executable->parent_path() / ".." / "Resources";
#else
        const auto installed = executable->parent_path() / ".." / "share" / "chordwell";
#endif
        if (isDirectory(installed)) {
            return installed.lexically_normal();
        }
    }
    if (auto development = developmentResourceDirectory();
        development && isDirectory(*development)) {
        return development;
    }
    return std::nullopt;
}

std::optional<KeyStroke> macBuiltInShortcut(OutputBehavior::Kind kind) {
    switch (kind) {
    case OutputBehavior::Kind::openSearchBar:
        return KeyStroke{49, kMaskCommand}; // Command+Space
    case OutputBehavior::Kind::copyOperation:
        return KeyStroke{8, kMaskCommand}; // Command+C
    case OutputBehavior::Kind::pasteOperation:
        return KeyStroke{9, kMaskCommand}; // Command+V
    case OutputBehavior::Kind::none:
    case OutputBehavior::Kind::customKeySequence:
        break;
    }
    return std::nullopt;
}

std::optional<KeyStroke> EventPoster::builtInShortcut(OutputBehavior::Kind kind) const {
    return macBuiltInShortcut(kind);
}

} // namespace chordwell::platform
