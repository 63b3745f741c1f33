// The keyboard layouts of the simulated world, written out by hand: us,
// fr (AZERTY), de (QWERTZ), dvorak and ru. The world starts on us, so
// scripts and tests that never choose a layout see US key codes and labels.
#pragma once

#include "model/keyboard_layout.hpp"
#include "ports/ports.hpp"

#include <functional>
#include <memory>
#include <span>
#include <string_view>

namespace chordwell::platform::sim {

/// The names `simLayout` knows, in the order help texts list them.
std::span<const std::string_view> simLayoutNames();

/// The layout of that name; nullptr for a name not in simLayoutNames().
std::shared_ptr<const KeyLayout> simLayout(std::string_view name);

/// The simulated world's keyboard layout: one of the tables above, switched
/// by the world (a script's `layout NAME`), the change told at once.
class SimKeyboardLayout final : public KeyboardLayout {
public:
    SimKeyboardLayout();

    std::shared_ptr<const KeyLayout> activeLayout() const override { return active_; }
    void setChangeObserver(std::function<void()> observer) override {
        observer_ = std::move(observer);
    }
    std::string source() const override { return "the simulated world"; }

    /// Switches to the layout of that name; false (and no change) for an
    /// unknown name.
    bool select(std::string_view name);

private:
    std::shared_ptr<const KeyLayout> active_;
    std::function<void()> observer_;
};

} // namespace chordwell::platform::sim
