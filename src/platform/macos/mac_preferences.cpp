#include "platform/macos/mac_preferences.hpp"

#include "platform/macos/cf_ref.hpp"
#include "platform/macos/mach_clock.hpp"

#include <utility>

namespace chordwell::platform::mac {

namespace {

constexpr std::chrono::seconds kCacheLifetime{1};

// The domain argument of CFPreferences: the named application, or the
// running one.
CFRef<CFStringRef> domainString(const std::string& domain) {
    if (domain.empty()) {
        return CFRef<CFStringRef>::retain(kCFPreferencesCurrentApplication);
    }
    return makeCFString(domain);
}

} // namespace

MacPreferences::MacPreferences(std::string domain) : domain_(std::move(domain)) {}

std::optional<PreferenceValue> MacPreferences::value(std::string_view key) const {
    const auto now = machNow();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cachedAt_ || now - *cachedAt_ >= kCacheLifetime) {
        cache_.clear();
        cachedAt_ = now;
    }
    if (auto it = cache_.find(key); it != cache_.end()) {
        return it->second;
    }
    std::optional<PreferenceValue> read = readStored(key);
    cache_.emplace(std::string(key), read);
    return read;
}

std::optional<PreferenceValue> MacPreferences::readStored(std::string_view key) const {
    CFRef<CFStringRef> cfKey = makeCFString(key);
    CFRef<CFStringRef> domain = domainString(domain_);
    if (!cfKey || !domain) {
        return std::nullopt;
    }
    CFRef<CFPropertyListRef> stored =
        CFRef<CFPropertyListRef>::adopt(CFPreferencesCopyAppValue(cfKey.get(), domain.get()));
    if (!stored) {
        return std::nullopt;
    }
    const CFTypeID type = CFGetTypeID(stored.get());
    if (type == CFBooleanGetTypeID()) {
        return PreferenceValue(
            static_cast<bool>(CFBooleanGetValue(static_cast<CFBooleanRef>(stored.get()))));
    }
    if (type == CFNumberGetTypeID()) {
        double number = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(stored.get()), kCFNumberDoubleType, &number);
        return PreferenceValue(number);
    }
    if (type == CFStringGetTypeID()) {
        if (auto text = toUtf8(static_cast<CFStringRef>(stored.get()))) {
            return PreferenceValue(std::move(*text));
        }
        return PreferenceValue(std::string());
    }
    CFRef<CFStringRef> description = CFRef<CFStringRef>::adopt(CFCopyDescription(stored.get()));
    return PreferenceValue(toUtf8(description.get()).value_or(std::string()));
}

void MacPreferences::setValue(std::string_view key, const PreferenceValue& value) {
    CFRef<CFStringRef> cfKey = makeCFString(key);
    CFRef<CFStringRef> domain = domainString(domain_);
    if (!cfKey || !domain) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cache_.erase(std::string(key)); // read back as stored at the next read
    }
    if (const bool* flag = std::get_if<bool>(&value)) {
        CFPreferencesSetAppValue(cfKey.get(), *flag ? kCFBooleanTrue : kCFBooleanFalse,
                                 domain.get());
    } else if (const double* number = std::get_if<double>(&value)) {
        CFRef<CFNumberRef> cfNumber = CFRef<CFNumberRef>::adopt(
            CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, number));
        if (cfNumber) {
            CFPreferencesSetAppValue(cfKey.get(), cfNumber.get(), domain.get());
        }
    } else if (const std::string* text = std::get_if<std::string>(&value)) {
        CFRef<CFStringRef> cfText = makeCFString(*text);
        if (cfText) {
            CFPreferencesSetAppValue(cfKey.get(), cfText.get(), domain.get());
        }
    }
    // Written to disk now, so that another process reading the domain sees it.
    (void)CFPreferencesAppSynchronize(domain.get());
}

} // namespace chordwell::platform::mac
