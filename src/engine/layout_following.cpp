// The user's keyboard layout: followed through the platform's port, and the
// built-in outputs worked out on it whenever it changes, so that the key
// path only reads a small table when it posts one.
#include "engine/raw_keyboard_listener.hpp"

#include "logging/log.hpp"

namespace chordwell {

namespace {

constexpr std::string_view kCategory = "keyboard";

constexpr OutputBehavior::Kind kBuiltIns[] = {
    OutputBehavior::Kind::openSearchBar,
    OutputBehavior::Kind::copyOperation,
    OutputBehavior::Kind::pasteOperation,
};

constexpr std::optional<std::size_t> builtInIndex(OutputBehavior::Kind kind) {
    for (std::size_t i = 0; i < std::size(kBuiltIns); ++i) {
        if (kBuiltIns[i] == kind) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace

void RawKeyboardListener::followKeyboardLayout() {
    if (auto* layout = platform_->keyboardLayout()) {
        layout->setChangeObserver([this] { keyboardLayoutChanged(); });
    }
    keyboardLayoutChanged();
}

void RawKeyboardListener::keyboardLayoutChanged() {
    platform::KeyboardLayout* port = platform_->keyboardLayout();
    std::shared_ptr<const KeyLayout> next = port != nullptr ? port->activeLayout() : nullptr;
    if (!next) {
        next = std::shared_ptr<const KeyLayout>(std::shared_ptr<const KeyLayout>{}, &usLayout());
    }
    if (layout_ && *layout_ == *next) {
        return;
    }
    std::array<std::optional<platform::KeyStroke>, std::size(kBuiltIns)> strokes{};
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        if (auto stroke = platform_->eventPoster().builtInShortcut(kBuiltIns[i])) {
            const MacKeySignature key =
                resolvedForLayout(*next, MacKeySignature{stroke->keyCode, stroke->flags});
            strokes[i] = platform::KeyStroke{key.keyCode, key.modifiers};
        }
    }
    if (layout_) {
        log(LogLevel::info,
            "Keyboard layout " + next->name() +
                (port != nullptr && !port->source().empty() ? " (from " + port->source() + ")"
                                                            : std::string()) +
                ": built-in outputs and catalog shortcuts follow it.",
            kCategory);
    }
    // A key-path thread reads the strokes when it posts a built-in.
    const auto guard = lock();
    announce(EngineChange::keyboardLayout);
    layout_ = std::move(next);
    builtInStrokes_ = strokes;
}

std::vector<MacKeySignature>
RawKeyboardListener::resolvedForKeyboardLayout(const std::vector<MacKeySignature>& keys) const {
    return resolvedForLayout(*layout_, keys);
}

std::optional<platform::KeyStroke>
RawKeyboardListener::builtInStroke(OutputBehavior::Kind kind) const {
    const auto guard = lock();
    if (const auto index = builtInIndex(kind)) {
        return builtInStrokes_[*index];
    }
    return std::nullopt;
}

} // namespace chordwell
