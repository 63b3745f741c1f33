// Ownership of CoreFoundation-style references (CF types, IOKit HID objects,
// CGEvent, CFMachPort ...). A reference obtained from a Create or Copy
// function is adopted; one obtained from a Get function is retained. The
// wrapper releases what it owns exactly once. macOS only.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace chordwell::platform::mac {

template <typename Ref> class CFRef {
public:
    CFRef() noexcept = default;
    CFRef(std::nullptr_t) noexcept {}

    /// Takes over a reference the caller owns (Create / Copy rule).
    static CFRef adopt(Ref ref) noexcept { return CFRef(ref); }
    /// Shares a reference the caller does not own (Get rule).
    static CFRef retain(Ref ref) noexcept {
        if (ref != nullptr) {
            CFRetain(ref);
        }
        return CFRef(ref);
    }

    CFRef(const CFRef& other) noexcept : ref_(other.ref_) {
        if (ref_ != nullptr) {
            CFRetain(ref_);
        }
    }
    CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    CFRef& operator=(CFRef other) noexcept {
        std::swap(ref_, other.ref_);
        return *this;
    }
    ~CFRef() { reset(); }

    Ref get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }

    /// Releases the held reference (if any) and holds nothing.
    void reset() noexcept {
        if (ref_ != nullptr) {
            CFRelease(ref_);
            ref_ = nullptr;
        }
    }

private:
    explicit CFRef(Ref ref) noexcept : ref_(ref) {}

    Ref ref_ = nullptr;
};

/// A CFString holding `text` (UTF-8); null only when CoreFoundation cannot
/// make one (invalid UTF-8, no memory).
inline CFRef<CFStringRef> makeCFString(std::string_view text) {
    return CFRef<CFStringRef>::adopt(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

/// The UTF-8 text of a CFString; nothing for null or unconvertible strings.
inline std::optional<std::string> toUtf8(CFStringRef string) {
    if (string == nullptr) {
        return std::nullopt;
    }
    if (const char* direct = CFStringGetCStringPtr(string, kCFStringEncodingUTF8)) {
        return std::string(direct);
    }
    const CFIndex length = CFStringGetLength(string);
    CFIndex bytes = 0;
    CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, 0, false, nullptr, 0,
                     &bytes);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    CFIndex used = 0;
    const CFIndex converted =
        CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, 0, false,
                         reinterpret_cast<UInt8*>(text.data()), bytes, &used);
    if (converted != length) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(used));
    return text;
}

/// The value of a CF property as text: strings as they are; nothing for
/// other types.
inline std::optional<std::string> stringValue(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) {
        return std::nullopt;
    }
    return toUtf8(static_cast<CFStringRef>(value));
}

/// The value of a CF property as a signed 64-bit integer: numbers only
/// (floating-point numbers are truncated, as CFNumberGetValue does).
inline std::optional<std::int64_t> integerValue(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) {
        return std::nullopt;
    }
    std::int64_t result = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &result);
    return result;
}

} // namespace chordwell::platform::mac
