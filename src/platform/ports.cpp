#include "platform/ports.hpp"

namespace chordwell::platform {

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
