#include "app/conventions.hpp"

#include "app/shell/platform_composition.hpp"
#include "storage/shortcuts.hpp"

#include <QLocale>
#include <QString>

#include <array>
#include <cstdio>
#include <sstream>
#include <string_view>
#include <vector>

namespace chordwell::app {

Conventions Conventions::of(UiPlatform platform) {
    Conventions c;
    c.platform = platform;
    if (platform == UiPlatform::macOS) {
        c.keyNames = KeyNames::macSymbols;
        c.spokenKeyNames = KeyNames::macWords;
        c.usagesAsCaption = true;
        c.twoLineRows = true;
        c.hexIdentifiers = false;
        c.clearFormAfterSave = false;
        c.titleNamesEditing = false;
        c.confirmationsDefaultToCancel = false;
        c.toggleNeedsKeyboard = false;
        c.titleCaseCatalogNames = false;
        c.sayKeyboard = false;
        c.showBuiltInKeys = false;
    }
    return c;
}

const Conventions& thisDesktop() {
#if defined(__APPLE__)
    static const Conventions conventions = Conventions::of(UiPlatform::macOS);
#else
    static const Conventions conventions = Conventions::of(UiPlatform::linuxDesktop);
#endif
    return conventions;
}

std::string identifierText(std::int64_t identifier, const Conventions& conventions) {
    if (identifier < 0) {
        return "unknown";
    }
    if (!conventions.hexIdentifiers) {
        return std::to_string(identifier);
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%04llx", static_cast<unsigned long long>(identifier));
    return buffer;
}

std::string catalogTitle(const std::string& name, const Conventions& conventions) {
    const std::string capitalised = capitalizedWords(name);
    if (!conventions.titleCaseCatalogNames) {
        return capitalised;
    }
    static constexpr std::array<std::string_view, 18> kSmallWords = {
        "a",  "an", "and", "as", "at",  "but", "by", "for", "from",
        "in", "of", "on",  "or", "per", "the", "to", "via", "with"};
    std::vector<std::string> words;
    std::istringstream in(capitalised);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        std::string lower = word;
        for (char& ch : lower) {
            if (ch >= 'A' && ch <= 'Z') {
                ch = static_cast<char>(ch - 'A' + 'a');
            }
        }
        const bool inner = i > 0 && i + 1 < words.size();
        for (std::string_view small : kSmallWords) {
            if (inner && lower == small) {
                word = lower;
            }
        }
        if (i > 0) {
            out += ' ';
        }
        out += word;
    }
    return out;
}

std::string builtInKeysText(OutputBehavior::Kind kind, KeyNames names) {
    const std::optional<platform::KeyStroke> stroke = thisDesktopsBuiltInShortcut(kind);
    if (!stroke) {
        return {};
    }
    return signatureText(MacKeySignature::masked(stroke->keyCode, stroke->flags), names);
}

std::string countText(std::int64_t count) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<qlonglong>(count)).toStdString();
}

} // namespace chordwell::app
