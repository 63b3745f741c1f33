// The walk's check of the mapping data: a reference model of the mapping
// commands played so far (map adds or edits by name, unmap deletes, clear
// empties, all in the selected keyboard's model), compared after every step
// with the records in memory and, once no edit waits for its second half,
// with the mapping files on disk.
#pragma once

#include "engine/raw_keyboard_listener.hpp"
#include "script/script.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace chordwell::walk {

class RecordsModel {
public:
    /// Notes what `command`, which ran without error, does to the mappings.
    /// `engine` is asked only which keyboard is selected.
    void apply(const script::ScriptCommand& command, const RawKeyboardListener& engine);

    /// The first difference between the model and the engine's records, or,
    /// once no edit waits for its second half and no save waits
    /// (`savesWaiting`: the runner's run of adds), between the model and the
    /// files of the engine's storage; nothing when all agree.
    std::optional<std::string> check(const RawKeyboardListener& engine, bool savesWaiting);

private:
    using Model = std::pair<std::int64_t, std::int64_t>; // vendor, product
    std::optional<std::string> checkDisk(const std::filesystem::path& folder, const Model& model,
                                         const std::vector<KeyMapping>& expected) const;

    std::map<Model, std::vector<KeyMapping>> expected_;
    // The model whose edit may still wait for its second half, and when the
    // edit was made.
    std::optional<Model> editedModel_;
    platform::Scheduler::Duration editTime_{};
    // Models whose file may have changed since it was last compared.
    std::set<Model> diskMayDiffer_;
};

/// A folder for the walk's mapping files, removed with the object: in memory
/// (a tmpfs) where the system has one, since every mapping step saves.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace chordwell::walk
