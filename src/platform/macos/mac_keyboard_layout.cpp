#include "platform/macos/mac_keyboard_layout.hpp"

#include "logging/log.hpp"
#include "platform/macos/cf_ref.hpp"

#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>

#include <array>

namespace chordwell::platform::mac {

namespace {

constexpr const char* kCategory = "keyboard";

using InputSource = CFRef<TISInputSourceRef>;

// UCKeyTranslate takes the Carbon modifier word shifted right by 8 bits.
constexpr UInt32 modifierState(bool command, bool shift) {
    return ((command ? static_cast<UInt32>(cmdKey) : 0u) |
            (shift ? static_cast<UInt32>(shiftKey) : 0u)) >>
           8;
}

// One UTF-16 result as one character; 0 for nothing, controls, or more than
// one character.
char32_t singleCharacter(const UniChar* units, UniCharCount length) {
    char32_t c = 0;
    if (length == 1 && (units[0] < 0xD800 || units[0] > 0xDFFF)) {
        c = units[0];
    } else if (length == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 &&
               units[1] <= 0xDFFF) {
        c = 0x10000 + ((static_cast<char32_t>(units[0]) - 0xD800) << 10) +
            (static_cast<char32_t>(units[1]) - 0xDC00);
    }
    if (c < 0x20 || c == 0x7F) {
        return 0;
    }
    return c;
}

// What the key types at one modifier state: its character, or for a dead
// key the accent it shows, marked dead.
char32_t translate(const UCKeyboardLayout* layout, UInt16 keyCode, UInt32 modifiers,
                   UInt32 keyboardType) {
    std::array<UniChar, 4> units{};
    UniCharCount length = 0;
    UInt32 deadKeyState = 0;
    // Pressed for real first: a dead key types nothing and leaves a state.
    const OSStatus down = UCKeyTranslate(layout, keyCode, kUCKeyActionDown, modifiers, keyboardType,
                                         0, &deadKeyState, units.size(), &length, units.data());
    const bool dead = down == noErr && length == 0 && deadKeyState != 0;
    deadKeyState = 0;
    length = 0;
    const OSStatus shown = UCKeyTranslate(layout, keyCode, kUCKeyActionDisplay, modifiers,
                                          keyboardType, kUCKeyTranslateNoDeadKeysMask,
                                          &deadKeyState, units.size(), &length, units.data());
    if (shown != noErr) {
        return 0;
    }
    const char32_t c = singleCharacter(units.data(), length);
    return dead && c != 0 ? (KeyLayout::kDeadKey | c) : c;
}

// The 'uchr' data of a source, or null.
const UCKeyboardLayout* unicodeLayoutOf(const InputSource& source) {
    if (!source) {
        return nullptr;
    }
    const auto data = static_cast<CFDataRef>(
        TISGetInputSourceProperty(source.get(), kTISPropertyUnicodeKeyLayoutData));
    if (data == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
}

std::string sourceID(const InputSource& source) {
    if (!source) {
        return {};
    }
    const auto id = static_cast<CFStringRef>(
        TISGetInputSourceProperty(source.get(), kTISPropertyInputSourceID));
    if (id == nullptr) {
        return {};
    }
    std::array<char, 256> buffer{};
    if (!CFStringGetCString(id, buffer.data(), static_cast<CFIndex>(buffer.size()),
                            kCFStringEncodingUTF8)) {
        return {};
    }
    return buffer.data();
}

bool typesLatinLetters(const KeyLayout& layout, std::size_t group) {
    for (std::int64_t code = 0; code < static_cast<std::int64_t>(KeyLayout::kKeyCodeCount);
         ++code) {
        const char32_t c = layout.character(group, code, KeyLayout::Level::plain);
        if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) {
            return true;
        }
    }
    return false;
}

void addGroup(KeyLayout& table, const UCKeyboardLayout* layout) {
    const auto group = table.addGroup();
    if (!group) {
        return;
    }
    const UInt32 keyboardType = LMGetKbdType();
    for (std::int64_t code = 0; code < static_cast<std::int64_t>(KeyLayout::kKeyCodeCount);
         ++code) {
        if (!isCharacterKeyCode(code)) {
            continue;
        }
        const auto key = static_cast<UInt16>(code);
        using Level = KeyLayout::Level;
        table.setCharacter(*group, code, Level::plain,
                           translate(layout, key, modifierState(false, false), keyboardType));
        table.setCharacter(*group, code, Level::shift,
                           translate(layout, key, modifierState(false, true), keyboardType));
        table.setCharacter(*group, code, Level::command,
                           translate(layout, key, modifierState(true, false), keyboardType));
        table.setCharacter(*group, code, Level::commandShift,
                           translate(layout, key, modifierState(true, true), keyboardType));
    }
}

void sourceChanged(CFNotificationCenterRef /*center*/, void* observer, CFNotificationName /*name*/,
                   const void* /*object*/, CFDictionaryRef /*userInfo*/) {
    if (observer != nullptr) {
        static_cast<MacKeyboardLayout*>(observer)->selectedSourceChanged();
    }
}

} // namespace

std::shared_ptr<const KeyLayout> readSelectedKeyboardLayout() {
    const InputSource selected = InputSource::adopt(TISCopyCurrentKeyboardLayoutInputSource());
    const std::string selectedID = sourceID(selected);
    KeyLayout table(selectedID.empty() ? std::string("unknown input source") : selectedID);
    if (const UCKeyboardLayout* layout = unicodeLayoutOf(selected)) {
        addGroup(table, layout);
    }
    if (table.groupCount() == 0 || !typesLatinLetters(table, 0)) {
        // What the system types Command shortcuts with.
        const InputSource ascii =
            InputSource::adopt(TISCopyCurrentASCIICapableKeyboardLayoutInputSource());
        if (sourceID(ascii) != selectedID || table.groupCount() == 0) {
            if (const UCKeyboardLayout* layout = unicodeLayoutOf(ascii)) {
                addGroup(table, layout);
            }
        }
    }
    if (table.groupCount() == 0) {
        return std::make_shared<const KeyLayout>(usLayout());
    }
    return std::make_shared<const KeyLayout>(std::move(table));
}

std::unique_ptr<MacKeyboardLayout> MacKeyboardLayout::create() {
    std::unique_ptr<MacKeyboardLayout> layout(new MacKeyboardLayout());
    layout->active_ = readSelectedKeyboardLayout();
    // Delivered on the main run loop, where the observer was added.
    CFNotificationCenterAddObserver(CFNotificationCenterGetDistributedCenter(), layout.get(),
                                    &sourceChanged, kTISNotifySelectedKeyboardInputSourceChanged,
                                    nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
    layout->observing_ = true;
    log(LogLevel::info,
        "Keyboard layout " + layout->active_->name() + ", followed as the input source changes.",
        kCategory);
    return layout;
}

MacKeyboardLayout::~MacKeyboardLayout() {
    if (observing_) {
        CFNotificationCenterRemoveObserver(CFNotificationCenterGetDistributedCenter(), this,
                                           kTISNotifySelectedKeyboardInputSourceChanged, nullptr);
    }
}

void MacKeyboardLayout::selectedSourceChanged() {
    auto next = readSelectedKeyboardLayout();
    if (*next == *active_) {
        return;
    }
    active_ = std::move(next);
    if (observer_) {
        observer_();
    }
}

} // namespace chordwell::platform::mac
