// The worlds a walk plays on, behind one face: the simulated world (through
// the script runner, as chordwellctl simulate plays a script) and the macOS
// adapter on the model of the Apple frameworks (the same commands, acted
// out on the model).
#pragma once

#include "walk.hpp"

#include "engine/raw_keyboard_listener.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace chordwell::walk {

/// An event that reached the focused application.
struct WorldEvent {
    platform::EventType type = platform::EventType::keyDown;
    std::int64_t keyCode = 0;
    EventFlags flags = 0;
    bool synthetic = false;
};

class World {
public:
    virtual ~World() = default;
    /// Runs one command; false when it failed as a script line (an unknown
    /// keyboard, say), and then nothing changed.
    virtual bool execute(const script::ScriptCommand& command) = 0;
    virtual RawKeyboardListener& engine() = 0;
    /// Events posted so far (also those the system dropped).
    virtual std::uint64_t postedEventCount() const = 0;
    /// Events that reached the application so far.
    virtual std::uint64_t appEventCount() const = 0;
    /// The events after the first `count`, or nothing when they are no
    /// longer kept.
    virtual std::optional<std::vector<WorldEvent>> eventsSince(std::uint64_t count) const = 0;
    virtual std::size_t keysDownAtApplication() const = 0;
    virtual bool isDownAtApplication(std::int64_t keyCode) const = 0;
    /// Our taps that are enabled and in the run loop.
    virtual std::size_t activeTapCount() const = 0;
    /// Mapping changes not saved yet (the script runner saves a run of adds
    /// at once, as chordwellctl simulate does).
    virtual bool hasUnsavedChanges() const = 0;
    virtual std::optional<platform::KeyStroke> builtInShortcut(OutputBehavior::Kind kind) = 0;
    /// Whether the engine listens to the keyboard plugged in at `location`.
    virtual bool listensTo(std::int64_t location) const = 0;
    /// Whether a keyboard is plugged in at `location`.
    virtual bool isAttached(std::int64_t location) const = 0;
    virtual platform::Scheduler::Duration now() const = 0;
};

/// A world whose engine keeps its mapping files in `storageFolder`.
std::unique_ptr<World> makeWorld(WalkWorld kind, const std::filesystem::path& storageFolder);

} // namespace chordwell::walk
