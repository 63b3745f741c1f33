#include "model/records.hpp"

#include "model/hash_combine.hpp"

#include <algorithm>
#include <functional>
#include <utility>

namespace chordwell {

namespace {

void hashSignatures(std::size_t& seed, const std::vector<MacKeySignature>& signatures) {
    detail::hashCombine(seed, signatures.size());
    for (const MacKeySignature& s : signatures) {
        detail::hashCombine(seed, static_cast<std::uint64_t>(s.keyCode));
        detail::hashCombine(seed, s.modifiers);
    }
}

} // namespace

std::string_view OutputBehavior::rawValue(Kind kind) {
    switch (kind) {
    case Kind::none:
        return "none";
    case Kind::openSearchBar:
        return "openSearchBar";
    case Kind::copyOperation:
        return "copyOperation";
    case Kind::pasteOperation:
        return "pasteOperation";
    case Kind::customKeySequence:
        return "customKeySequence";
    }
    return "none";
}

std::optional<OutputBehavior::Kind> OutputBehavior::kindFromRawValue(std::string_view raw) {
    for (Kind kind : allKinds) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

OutputBehavior OutputBehavior::customKeySequence(std::string name,
                                                 std::vector<MacKeySignature> signatures) {
    OutputBehavior behavior(Kind::customKeySequence);
    behavior.name_ = std::move(name);
    behavior.signatures_ = std::move(signatures);
    return behavior;
}

std::string OutputBehavior::displayLabel() const {
    switch (kind_) {
    case Kind::none:
        return "No Action";
    case Kind::openSearchBar:
        return "Open Search";
    case Kind::copyOperation:
        return "Copy";
    case Kind::pasteOperation:
        return "Paste";
    case Kind::customKeySequence:
        return name_.empty() ? std::string("Custom") : name_;
    }
    return "No Action";
}

bool operator==(const OutputBehavior& a, const OutputBehavior& b) {
    if (a.kind_ != b.kind_) {
        return false;
    }
    if (a.kind_ != OutputBehavior::Kind::customKeySequence) {
        return true;
    }
    return a.name_ == b.name_ && a.signatures_ == b.signatures_;
}

std::size_t hashValue(const OutputBehavior& behavior) {
    std::size_t seed = 0;
    detail::hashCombine(seed, static_cast<std::uint64_t>(behavior.kind()));
    if (behavior.isCustomKeySequence()) {
        detail::hashCombine(seed, std::hash<std::string>{}(behavior.name()));
        hashSignatures(seed, behavior.signatures());
    }
    return seed;
}

const std::vector<OutputBehavior>& constantBehaviors() {
    static const std::vector<OutputBehavior> behaviors = {
        OutputBehavior::customKeySequence("Custom", {}),
        OutputBehavior::none(),
    };
    return behaviors;
}

std::size_t hashValue(const KeyMapping& mapping) {
    // Leaves out `id`, matching equality: import relies on duplicates that
    // differ only in identity hashing alike.
    std::size_t seed = 0;
    detail::hashCombine(seed, std::hash<std::string>{}(mapping.name));
    detail::hashCombine(seed, mapping.inputKeyCodes.size());
    for (HidUsage usage : mapping.inputKeyCodes) {
        detail::hashCombine(seed, usage);
    }
    detail::hashCombine(seed, mapping.inputTapCodes.has_value() ? 1 : 0);
    if (mapping.inputTapCodes) {
        hashSignatures(seed, *mapping.inputTapCodes);
    }
    detail::hashCombine(seed, hashValue(mapping.outputBehavior));
    return seed;
}

std::vector<MacKeySignature> signaturesFromUsages(const std::vector<HidUsage>& usages) {
    std::vector<MacKeySignature> signatures;
    signatures.reserve(usages.size());
    for (HidUsage usage : usages) {
        const auto keyCode = hidToMacKeyCode(usage);
        if (!keyCode) {
            continue;
        }
        const MacKeySignature signature{static_cast<std::int64_t>(*keyCode), 0};
        // Left and right modifiers share a key code; show such a key once.
        if (std::find(signatures.begin(), signatures.end(), signature) == signatures.end()) {
            signatures.push_back(signature);
        }
    }
    return signatures;
}

std::vector<MacKeySignature> inputSignatures(const KeyMapping& mapping) {
    if (mapping.inputTapCodes) {
        return *mapping.inputTapCodes;
    }
    return signaturesFromUsages(mapping.inputKeyCodes);
}

} // namespace chordwell
