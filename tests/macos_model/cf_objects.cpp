// CoreFoundation objects of the model: reference counting with accounting,
// strings, numbers, Booleans, dictionaries and preferences.
#include "model_internal.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <unordered_map>

namespace applemodel {

namespace {

State* gState = nullptr;

// Constants live for the whole process, outside any System.
template <typename T> T* immortal(T* object) {
    object->immortal = true;
    object->refs = std::numeric_limits<long>::max() / 2;
    return object;
}

} // namespace

State& state() {
    if (gState == nullptr) {
        std::fprintf(stderr, "apple model: a framework call without a System\n");
        std::abort();
    }
    return *gState;
}

bool hasState() {
    return gState != nullptr;
}

void installState(State* s) {
    gState = s;
}

void fault(std::string message) {
    if (gState != nullptr) {
        gState->faults.push_back(std::move(message));
    }
}

std::string Object::describe() const {
    return "object";
}

Object* use(const void* ref, const char* function) {
    if (ref == nullptr) {
        fault(std::string(function) + ": NULL argument");
        return nullptr;
    }
    auto* object = static_cast<Object*>(const_cast<void*>(ref));
    if (object->magic != kMagic) {
        fault(std::string(function) + ": not a framework object");
        return nullptr;
    }
    if (object->dead) {
        fault(std::string(function) + ": use after release of " + object->describe());
        return nullptr;
    }
    return object;
}

void retainObject(const Object* object) {
    if (object != nullptr && !object->immortal) {
        ++const_cast<Object*>(object)->refs;
    }
}

void releaseObject(const Object* object) {
    if (object == nullptr || object->immortal) {
        return;
    }
    auto* o = const_cast<Object*>(object);
    if (o->dead || o->refs <= 0) {
        fault("over-release of " + o->describe());
        return;
    }
    if (--o->refs == 0) {
        o->dead = true;
        o->finalize();
    }
}

std::string text(CFStringRef string) {
    if (auto* s = use<AppleModelString>(string, Kind::string, "CFString")) {
        return s->text;
    }
    return {};
}

} // namespace applemodel

using applemodel::Kind;
using applemodel::use;

// ---------------------------------------------------------------- objects

bool AppleModelString::equals(const Object& other) const {
    return other.kind == Kind::string && static_cast<const AppleModelString&>(other).text == text;
}

bool AppleModelNumber::equals(const Object& other) const {
    if (other.kind != Kind::number) {
        return false;
    }
    const auto& n = static_cast<const AppleModelNumber&>(other);
    if (isFloat || n.isFloat) {
        const double a = isFloat ? real : static_cast<double>(integer);
        const double b = n.isFloat ? n.real : static_cast<double>(n.integer);
        return a == b;
    }
    return integer == n.integer;
}

std::string AppleModelNumber::describe() const {
    return "CFNumber " + (isFloat ? std::to_string(real) : std::to_string(integer));
}

void AppleModelDictionary::finalize() {
    for (auto& [key, value] : entries) {
        if (retainsKeys) {
            applemodel::releaseObject(static_cast<const Object*>(key));
        }
        if (retainsValues) {
            applemodel::releaseObject(static_cast<const Object*>(value));
        }
    }
    entries.clear();
}

std::string AppleModelDictionary::describe() const {
    return "CFDictionary of " + std::to_string(entries.size());
}

const CFAllocatorRef kCFAllocatorDefault = nullptr;

CFTypeRef CFRetain(CFTypeRef object) {
    if (auto* o = use(object, "CFRetain")) {
        applemodel::retainObject(o);
    }
    return object;
}

void CFRelease(CFTypeRef object) {
    if (object == nullptr) {
        applemodel::fault("CFRelease: NULL argument");
        return;
    }
    auto* o = static_cast<applemodel::Object*>(const_cast<void*>(object));
    if (o->magic != applemodel::kMagic) {
        applemodel::fault("CFRelease: not a framework object");
        return;
    }
    applemodel::releaseObject(o);
}

CFIndex CFGetRetainCount(CFTypeRef object) {
    auto* o = use(object, "CFGetRetainCount");
    return o == nullptr ? 0 : o->refs;
}

CFTypeID CFGetTypeID(CFTypeRef object) {
    auto* o = use(object, "CFGetTypeID");
    return o == nullptr ? 0 : static_cast<CFTypeID>(o->kind);
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
    auto* x = use(a, "CFEqual");
    auto* y = use(b, "CFEqual");
    if (x == nullptr || y == nullptr) {
        return false;
    }
    return x == y || x->equals(*y);
}

CFHashCode CFHash(CFTypeRef object) {
    auto* o = use(object, "CFHash");
    return o == nullptr ? 0 : static_cast<CFHashCode>(o->hash());
}

CFStringRef CFCopyDescription(CFTypeRef object) {
    auto* o = use(object, "CFCopyDescription");
    return applemodel::make<AppleModelString>(o == nullptr ? std::string() : o->describe());
}

// ----------------------------------------------------------------- strings

CFStringRef AppleModelConstantString(const char* text) {
    // Interned for the life of the process, as the compiler's constant
    // strings are.
    static std::unordered_map<std::string, std::unique_ptr<AppleModelString>> table;
    auto& slot = table[text];
    if (!slot) {
        slot = std::make_unique<AppleModelString>(text);
        slot->immortal = true;
        slot->refs = std::numeric_limits<long>::max() / 2;
    }
    return slot.get();
}

CFTypeID CFStringGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::string);
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex count,
                                    CFStringEncoding encoding, Boolean) {
    if (encoding != kCFStringEncodingUTF8 || count < 0 || (bytes == nullptr && count > 0)) {
        return nullptr;
    }
    std::string value(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
    // CFString refuses bytes that are not UTF-8.
    for (std::size_t i = 0; i < value.size();) {
        const auto c = static_cast<unsigned char>(value[i]);
        const std::size_t length = c < 0x80         ? 1
                                   : (c >> 5) == 6  ? 2
                                   : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30 ? 4
                                                    : 0;
        if (length == 0 || i + length > value.size()) {
            return nullptr;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(value[i + k]) >> 6) != 2) {
                return nullptr;
            }
        }
        i += length;
    }
    return applemodel::make<AppleModelString>(std::move(value));
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text,
                                      CFStringEncoding encoding) {
    if (text == nullptr) {
        return nullptr;
    }
    return CFStringCreateWithBytes(allocator, reinterpret_cast<const UInt8*>(text),
                                   static_cast<CFIndex>(std::strlen(text)), encoding, false);
}

const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding encoding) {
    auto* s = use<AppleModelString>(string, Kind::string, "CFStringGetCStringPtr");
    // Like CF, the fast path may give nothing: then callers copy the bytes.
    if (s == nullptr || encoding != kCFStringEncodingUTF8 || s->text.size() % 2 == 1) {
        return nullptr;
    }
    return s->text.c_str();
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    auto* s = use<AppleModelString>(string, Kind::string, "CFStringGetCString");
    if (s == nullptr || encoding != kCFStringEncodingUTF8 || buffer == nullptr ||
        static_cast<std::size_t>(bufferSize) <= s->text.size()) {
        return false;
    }
    std::memcpy(buffer, s->text.c_str(), s->text.size() + 1);
    return true;
}

namespace {

// UTF-16 units of UTF-8 text, as CFString counts its length.
CFIndex utf16Length(const std::string& text) {
    CFIndex units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

} // namespace

CFIndex CFStringGetLength(CFStringRef string) {
    auto* s = use<AppleModelString>(string, Kind::string, "CFStringGetLength");
    return s == nullptr ? 0 : utf16Length(s->text);
}

CFIndex CFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, UInt8,
                         Boolean, UInt8* buffer, CFIndex maxBufferLength,
                         CFIndex* usedBufferLength) {
    auto* s = use<AppleModelString>(string, Kind::string, "CFStringGetBytes");
    if (s == nullptr || encoding != kCFStringEncodingUTF8) {
        return 0;
    }
    if (range.location != 0 || range.length != utf16Length(s->text)) {
        applemodel::fault("CFStringGetBytes: the model converts whole strings only");
        return 0;
    }
    const auto size = static_cast<CFIndex>(s->text.size());
    if (buffer == nullptr) {
        if (usedBufferLength != nullptr) {
            *usedBufferLength = size;
        }
        return range.length;
    }
    if (maxBufferLength < size) {
        if (usedBufferLength != nullptr) {
            *usedBufferLength = 0;
        }
        return 0;
    }
    std::memcpy(buffer, s->text.data(), s->text.size());
    if (usedBufferLength != nullptr) {
        *usedBufferLength = size;
    }
    return range.length;
}

// ----------------------------------------------------------------- numbers

CFTypeID CFNumberGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::number);
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
    if (valuePtr == nullptr) {
        applemodel::fault("CFNumberCreate: NULL value");
        return nullptr;
    }
    auto* n = applemodel::make<AppleModelNumber>();
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        n->integer = *static_cast<const std::int8_t*>(valuePtr);
        break;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        n->integer = *static_cast<const std::int16_t*>(valuePtr);
        break;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        n->integer = *static_cast<const std::int32_t*>(valuePtr);
        break;
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
    case kCFNumberLongType:
    case kCFNumberCFIndexType:
        n->integer = *static_cast<const std::int64_t*>(valuePtr);
        break;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        n->isFloat = true;
        n->real = *static_cast<const float*>(valuePtr);
        break;
    default:
        n->isFloat = true;
        n->real = *static_cast<const double*>(valuePtr);
        break;
    }
    return n;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr) {
    auto* n = use<AppleModelNumber>(number, Kind::number, "CFNumberGetValue");
    if (n == nullptr || valuePtr == nullptr) {
        return false;
    }
    // Conversions truncate like CF, and say whether the value survived.
    const double asReal = n->isFloat ? n->real : static_cast<double>(n->integer);
    const std::int64_t asInteger = n->isFloat
                                       ? (std::isfinite(n->real) && std::fabs(n->real) < 9.2e18
                                              ? static_cast<std::int64_t>(n->real)
                                              : 0)
                                       : n->integer;
    const bool exactInteger = !n->isFloat || static_cast<double>(asInteger) == n->real;
    switch (type) {
    case kCFNumberSInt32Type:
    case kCFNumberIntType: {
        const auto v = static_cast<std::int32_t>(asInteger);
        std::memcpy(valuePtr, &v, sizeof v);
        return exactInteger && v == asInteger;
    }
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
    case kCFNumberLongType:
    case kCFNumberCFIndexType:
        std::memcpy(valuePtr, &asInteger, sizeof asInteger);
        return exactInteger;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
        std::memcpy(valuePtr, &asReal, sizeof asReal);
        return true;
    default:
        applemodel::fault("CFNumberGetValue: a number type the model does not convert to");
        return false;
    }
}

namespace {
AppleModelBoolean* booleanConstant(bool value) {
    static AppleModelBoolean yes(true);
    static AppleModelBoolean no(false);
    AppleModelBoolean* b = value ? &yes : &no;
    b->immortal = true;
    b->refs = std::numeric_limits<long>::max() / 2;
    return b;
}
} // namespace

const CFBooleanRef kCFBooleanTrue = booleanConstant(true);
const CFBooleanRef kCFBooleanFalse = booleanConstant(false);

CFTypeID CFBooleanGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::boolean);
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    auto* b = use<AppleModelBoolean>(boolean, Kind::boolean, "CFBooleanGetValue");
    return b != nullptr && b->value;
}

// ------------------------------------------------------------- dictionaries

namespace {
const void* retainCallBack(CFAllocatorRef, const void* value) {
    return CFRetain(value);
}
void releaseCallBack(CFAllocatorRef, const void* value) {
    CFRelease(value);
}
} // namespace

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, &retainCallBack, &releaseCallBack, &CFCopyDescription, &CFEqual, &CFHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {
    0, &retainCallBack, &releaseCallBack, &CFCopyDescription, &CFEqual};

CFTypeID CFDictionaryGetTypeID(void) {
    return static_cast<CFTypeID>(Kind::dictionary);
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
    if ((keyCallBacks != nullptr && keyCallBacks != &kCFTypeDictionaryKeyCallBacks) ||
        (valueCallBacks != nullptr && valueCallBacks != &kCFTypeDictionaryValueCallBacks)) {
        applemodel::fault("CFDictionaryCreateMutable: only the CFType call-backs are modelled");
    }
    auto* d = applemodel::make<AppleModelDictionary>();
    d->retainsKeys = keyCallBacks != nullptr;
    d->retainsValues = valueCallBacks != nullptr;
    return d;
}

namespace {
bool keysEqual(const AppleModelDictionary& d, const void* a, const void* b) {
    if (!d.retainsKeys) {
        return a == b;
    }
    auto* x = static_cast<const applemodel::Object*>(a);
    auto* y = static_cast<const applemodel::Object*>(b);
    return x == y || x->equals(*y);
}
} // namespace

void CFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value) {
    auto* d = use<AppleModelDictionary>(dictionary, Kind::dictionary, "CFDictionarySetValue");
    if (d == nullptr) {
        return;
    }
    if (d->retainsKeys && use(key, "CFDictionarySetValue (key)") == nullptr) {
        return;
    }
    if (d->retainsValues && use(value, "CFDictionarySetValue (value)") == nullptr) {
        return;
    }
    if (d->retainsValues) {
        applemodel::retainObject(static_cast<const applemodel::Object*>(value));
    }
    for (auto& entry : d->entries) {
        if (keysEqual(*d, entry.first, key)) {
            if (d->retainsValues) {
                applemodel::releaseObject(static_cast<const applemodel::Object*>(entry.second));
            }
            entry.second = value;
            return;
        }
    }
    if (d->retainsKeys) {
        applemodel::retainObject(static_cast<const applemodel::Object*>(key));
    }
    d->entries.emplace_back(key, value);
}

const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key) {
    auto* d = use<AppleModelDictionary>(dictionary, Kind::dictionary, "CFDictionaryGetValue");
    if (d == nullptr || (d->retainsKeys && use(key, "CFDictionaryGetValue (key)") == nullptr)) {
        return nullptr;
    }
    for (const auto& entry : d->entries) {
        if (keysEqual(*d, entry.first, key)) {
            return entry.second;
        }
    }
    return nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary) {
    auto* d = use<AppleModelDictionary>(dictionary, Kind::dictionary, "CFDictionaryGetCount");
    return d == nullptr ? 0 : static_cast<CFIndex>(d->entries.size());
}

// ------------------------------------------------------------- preferences

const CFStringRef kCFPreferencesCurrentApplication =
    AppleModelConstantString("kCFPreferencesCurrentApplication");

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) {
    const std::string app = applemodel::text(applicationID);
    const std::string name = applemodel::text(key);
    auto& store = applemodel::state().preferences;
    auto domain = store.find(app);
    if (domain == store.end()) {
        return nullptr;
    }
    auto it = domain->second.find(name);
    if (it == domain->second.end()) {
        return nullptr;
    }
    applemodel::retainObject(it->second); // the Copy rule
    return it->second;
}

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID) {
    const std::string app = applemodel::text(applicationID);
    const std::string name = applemodel::text(key);
    auto& domain = applemodel::state().preferences[app];
    if (value != nullptr && use(value, "CFPreferencesSetAppValue") == nullptr) {
        return;
    }
    if (auto it = domain.find(name); it != domain.end()) {
        applemodel::releaseObject(it->second);
        domain.erase(it);
    }
    if (value != nullptr) {
        auto* object = static_cast<const applemodel::Object*>(value);
        applemodel::retainObject(object);
        domain[name] = object;
    }
}

Boolean CFPreferencesAppSynchronize(CFStringRef) {
    return true;
}
