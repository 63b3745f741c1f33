// The keyboard layout on macOS: the selected input source's Unicode key
// layout ('uchr' data), read through UCKeyTranslate for every character key
// plain, with Shift, with Command and with both, so that layouts that type
// QWERTY while Command is held ("Dvorak - QWERTY ⌘") resolve as the system
// resolves Command shortcuts. A source that types no Latin letters (Russian,
// Greek ...) is followed by the ASCII-capable source the system uses for
// Command shortcuts. Followed through the distributed notification
// kTISNotifySelectedKeyboardInputSourceChanged, on the main run loop.
// macOS only.
#pragma once

#include "ports/ports.hpp"

#include <functional>
#include <memory>
#include <string>

namespace chordwell::platform::mac {

class MacKeyboardLayout final : public KeyboardLayout {
public:
    /// Reads the selected input source and starts following it.
    static std::unique_ptr<MacKeyboardLayout> create();
    ~MacKeyboardLayout() override;
    MacKeyboardLayout(const MacKeyboardLayout&) = delete;
    MacKeyboardLayout& operator=(const MacKeyboardLayout&) = delete;

    std::shared_ptr<const KeyLayout> activeLayout() const override { return active_; }
    void setChangeObserver(std::function<void()> observer) override {
        observer_ = std::move(observer);
    }
    std::string source() const override { return "the selected input source"; }

    /// The input source changed: read it again, and tell the observer when
    /// the table differs.
    void selectedSourceChanged();

private:
    MacKeyboardLayout() = default;

    std::shared_ptr<const KeyLayout> active_;
    std::function<void()> observer_;
    bool observing_ = false;
};

/// The table of the selected input source (and of the ASCII-capable one
/// after it, for a layout without Latin letters); the US layout when no
/// source has Unicode key layout data.
std::shared_ptr<const KeyLayout> readSelectedKeyboardLayout();

} // namespace chordwell::platform::mac
