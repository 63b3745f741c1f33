// The keyboard the application comes back to. The selected keyboard, and
// whether its mappings are on, are written to the preferences whenever they
// change (a session that ends by logging out gets no quit of its own); at
// launch, when "Resume mappings at launch" is on, the engine is asked to
// follow that keyboard again: selected and intercepted at once when it is
// attached, else as soon as it comes.
#pragma once

#include "engine/keyboard_identity.hpp"
#include "engine/observable.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace chordwell {
class RawKeyboardListener;
namespace platform {
class Preferences;
} // namespace platform
} // namespace chordwell

namespace chordwell::app {

struct RememberedKeyboard {
    KeyboardIdentity keyboard;
    bool intercepting = false;

    friend bool operator==(const RememberedKeyboard&, const RememberedKeyboard&) = default;
};

/// The stored form: {"productName":…,"vendorID":…,"productID":…,
/// "locationID":… (when known),"intercepting":…}.
std::string encodeRememberedKeyboard(const RememberedKeyboard& remembered);
/// Nothing when the text is not such a record (a hand-edited file).
std::optional<RememberedKeyboard> decodeRememberedKeyboard(std::string_view text);

class KeyboardMemory {
public:
    KeyboardMemory(RawKeyboardListener& engine, platform::Preferences& preferences);
    KeyboardMemory(const KeyboardMemory&) = delete;
    KeyboardMemory& operator=(const KeyboardMemory&) = delete;

    /// At launch: follows the remembered keyboard when resuming is on and a
    /// keyboard is remembered. True when it did.
    bool restoreAtLaunch();

    /// What is remembered now, if anything.
    std::optional<RememberedKeyboard> remembered() const;
    /// Writes the selection and interception of now, when they differ from
    /// what is remembered. Runs by itself after every such change of the
    /// engine (on the main queue, once the change took effect).
    void remember();

private:
    RawKeyboardListener& engine_;
    platform::Preferences& preferences_;
    Subscription subscription_;
    bool rememberQueued_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace chordwell::app
