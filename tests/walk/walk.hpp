// A random walk of the engine on the simulated world: three keyboards (two of
// one model, one of another), key presses and releases with modifiers,
// waits, selection changes, interception on and off, mapping changes,
// preference changes, unplugging and re-plugging, in every posting mode and
// delivery order. Every step is a script command, so a failing walk shrinks
// to a script that `chordwellctl simulate` replays.
//
// After every step the walk checks what must hold in every mode:
//  - no key is down at the application once all physical keys are up and no
//    repeat runs, and a repeat runs only while its keys are held;
//  - nothing is posted while interception is off;
//  - a key-down that completes a mapping makes its output arrive, and does
//    not reach the application itself;
//  - a key-down reaches the application whenever no mapping is held;
//  - the records in memory hold what the mapping commands so far give, and
//    once no edit waits for its second half, so do the files on disk
//    (walk_records.hpp).
#pragma once

#include "script/script.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chordwell::walk {

struct WalkFailure {
    std::size_t step = 0; // index of the command after which a check failed
    std::string message;
};

/// The commands of a walk of `steps` steps from `seed`. With `everyMode`
/// the walk also switches the world's posting mode and delivery order and
/// adds mappings without input keys; without, it stays in the default mode
/// (posting at once, HID value first) and every mapping has keys.
std::vector<script::ScriptCommand> generateWalk(std::uint64_t seed, std::size_t steps,
                                                bool everyMode = true);

/// Plays `commands` on a fresh world and engine, checking after each one.
/// Commands that fail (an unknown keyboard, say) change nothing and are
/// skipped. Returns the first failure.
std::optional<WalkFailure> playWalk(const std::vector<script::ScriptCommand>& commands);

/// Shrinks a failing command list to a short one that still fails (any
/// check), and drops the commands that would fail as script lines.
std::vector<script::ScriptCommand> shrinkWalk(std::vector<script::ScriptCommand> commands,
                                              std::size_t maxPlays = 400);

/// The commands as script text, one a line.
std::string walkScript(const std::vector<script::ScriptCommand>& commands);

} // namespace chordwell::walk
