#include "walk_records.hpp"

#include "fileio/file_io.hpp"
#include "model/json_codec.hpp"
#include "storage/storage_manager.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace chordwell::walk {

namespace {

using script::ScriptCommand;
using K = ScriptCommand::Kind;

std::string modelText(std::int64_t vendor, std::int64_t product) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04llX:%04llX", static_cast<long long>(vendor),
                  static_cast<long long>(product));
    return buffer;
}

std::string namesOf(const std::vector<KeyMapping>& mappings) {
    std::string text = "[";
    for (const KeyMapping& m : mappings) {
        text += (text.size() > 1 ? ", " : "") + m.name;
    }
    return text + "]";
}

// Same mappings in the same order; ids are the engine's business.
bool sameMappings(const std::vector<KeyMapping>& actual, const std::vector<KeyMapping>& expected) {
    return actual == expected;
}

std::string difference(const char* where, std::int64_t vendor, std::int64_t product,
                       const std::vector<KeyMapping>& actual,
                       const std::vector<KeyMapping>& expected) {
    std::string text = std::string(where) + " of " + modelText(vendor, product) + " holds " +
                       namesOf(actual) + " where the mapping commands give " + namesOf(expected);
    if (actual.size() == expected.size()) {
        text += " (same names, other keys or outputs)";
    }
    return text;
}

} // namespace

void RecordsModel::apply(const ScriptCommand& command, const RawKeyboardListener& engine) {
    if (command.kind != K::map && command.kind != K::unmap && command.kind != K::clear) {
        return;
    }
    const auto& selected = engine.selectedDevice();
    if (!selected) {
        return; // the command failed: nothing changed
    }
    const Model model{selected->vendorID, selected->productID};
    std::vector<KeyMapping>& list = expected_[model];
    auto named = std::find_if(list.begin(), list.end(),
                              [&](const KeyMapping& m) { return m.name == command.name; });
    switch (command.kind) {
    case K::map:
        if (named != list.end()) {
            named->inputKeyCodes = command.usages;
            named->outputBehavior = command.output;
            editedModel_ = model;
            editTime_ = engine.platform().scheduler().now();
        } else {
            KeyMapping added;
            added.name = command.name;
            added.inputKeyCodes = command.usages;
            added.outputBehavior = command.output;
            list.push_back(std::move(added));
        }
        break;
    case K::unmap:
        if (named != list.end()) {
            list.erase(named);
        }
        break;
    default:
        list.clear();
        break;
    }
    diskMayDiffer_.insert(model);
}

std::optional<std::string> RecordsModel::check(const RawKeyboardListener& engine,
                                               bool savesWaiting) {
    const bool pending = engine.hasPendingEdit();
    if (pending) {
        if (!editedModel_) {
            return "an edit waits for its second half although none was made";
        }
        if (engine.platform().scheduler().now() - editTime_ >=
            RawKeyboardListener::kEditRestoreDelay) {
            return "an edit still waits for its second half after its delay";
        }
    }
    static const std::vector<KeyMapping> kNone;
    std::size_t recordsWithMappings = 0;
    for (const DeviceMapping& record : engine.allDeviceMappings()) {
        const Model model{record.vendorID, record.productID};
        const auto it = expected_.find(model);
        const std::vector<KeyMapping>& expected = it == expected_.end() ? kNone : it->second;
        recordsWithMappings += expected.empty() ? 0 : 1;
        if (pending && model == *editedModel_) {
            // Between the two halves of an edit the record shows nothing.
            if (!record.mappings.empty()) {
                return "the record of " + modelText(record.vendorID, record.productID) +
                       " shows mappings between the two halves of an edit";
            }
            continue;
        }
        if (!sameMappings(record.mappings, expected)) {
            return difference("the record in memory", record.vendorID, record.productID,
                              record.mappings, expected);
        }
    }
    const auto modelsWithMappings = static_cast<std::size_t>(
        std::count_if(expected_.begin(), expected_.end(),
                      [](const auto& entry) { return !entry.second.empty(); }));
    if (recordsWithMappings != modelsWithMappings) {
        return "a keyboard model with mappings has no record in memory";
    }
    if (pending) {
        // Its second half saves the record.
        diskMayDiffer_.insert(*editedModel_);
        return std::nullopt;
    }
    editedModel_.reset();
    if (savesWaiting || !engine.storage()) {
        return std::nullopt;
    }
    for (const Model& model : diskMayDiffer_) {
        const auto it = expected_.find(model);
        if (auto fault = checkDisk(engine.storage()->folder(), model,
                                   it == expected_.end() ? kNone : it->second)) {
            return fault;
        }
    }
    diskMayDiffer_.clear();
    return std::nullopt;
}

std::optional<std::string> RecordsModel::checkDisk(const std::filesystem::path& folder,
                                                   const Model& model,
                                                   const std::vector<KeyMapping>& expected) const {
    const auto file = folder / StorageManager::fileName(model.first, model.second);
    std::error_code error;
    const auto bytes = fileio::readRegularFile(file, 10 * 1024 * 1024, error);
    if (!bytes) {
        if (error == std::errc::no_such_file_or_directory && expected.empty()) {
            return std::nullopt;
        }
        return "the mapping file of " + modelText(model.first, model.second) +
               " cannot be read: " + error.message();
    }
    auto decoded = decodeDeviceMappingText(*bytes);
    if (!decoded) {
        return "the mapping file of " + modelText(model.first, model.second) +
               " does not decode: " + decoded.error();
    }
    if (!sameMappings(decoded.value().mappings, expected)) {
        return difference("the file on disk", model.first, model.second, decoded.value().mappings,
                          expected);
    }
    return std::nullopt;
}

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::error_code error;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, error) || ::access(base.c_str(), W_OK) != 0) {
        base = std::filesystem::temp_directory_path(error);
    }
    path_ =
        base / ("chordwell-walk-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path_, error);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace chordwell::walk
