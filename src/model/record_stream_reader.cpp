#include "model/record_stream_reader.hpp"

#include "model/json_reader.hpp"

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

namespace chordwell {

namespace {

// Every method returns false when the text is not what a well-formed record
// holds here; the caller then leaves the text to the full decoder. So the
// checks below are those the full path makes (the JSON grammar, valid
// UTF-8, the depth bound, whole-integer numbers, no repeated keys), made
// more strictly where that is simpler: refusing too much costs time, never
// a wrong answer.
class Reader {
public:
    explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool record(DeviceMapping& out) {
        bool ok = object(
            1,
            [&](std::string_view key, std::size_t depth, Seen& seen) {
                if (key == "id") {
                    return once(seen, 0) && uuid(out.id);
                }
                if (key == "productName") {
                    return once(seen, 1) && string(out.productName);
                }
                if (key == "productID") {
                    return once(seen, 2) && signedInteger(out.productID);
                }
                if (key == "vendorID") {
                    return once(seen, 3) && signedInteger(out.vendorID);
                }
                if (key == "mappings") {
                    return once(seen, 4) && array(depth, [&](std::size_t inner) {
                               KeyMapping mapping;
                               if (!this->mapping(inner, mapping)) {
                                   return false;
                               }
                               out.mappings.push_back(std::move(mapping));
                               return true;
                           });
                }
                return unknown(key, depth, seen);
            },
            0x1F);
        skipSpace();
        return ok && p_ == end_; // nothing but whitespace after the value
    }

private:
    // Keys met in one object: the known ones by bit, the others by name.
    struct Seen {
        std::uint32_t known = 0;
        std::vector<std::string> others;
    };

    static bool once(Seen& seen, unsigned bit) {
        const std::uint32_t mask = 1u << bit;
        if ((seen.known & mask) != 0) {
            return false; // repeated: the full path reports it
        }
        seen.known |= mask;
        return true;
    }

    bool unknown(std::string_view key, std::size_t depth, Seen& seen) {
        for (const std::string& other : seen.others) {
            if (other == key) {
                return false;
            }
        }
        seen.others.emplace_back(key);
        return skipValue(depth);
    }

    bool mapping(std::size_t depth, KeyMapping& out) {
        out.inputTapCodes.reset();
        return object(
            depth,
            [&](std::string_view key, std::size_t inner, Seen& seen) {
                if (key == "id") {
                    return once(seen, 0) && uuid(out.id);
                }
                if (key == "name") {
                    return once(seen, 1) && string(out.name);
                }
                if (key == "inputKeyCodes") {
                    return once(seen, 2) && array(inner, [&](std::size_t) {
                               std::uint64_t usage = 0;
                               if (!unsignedInteger(usage) || usage > 0xFFFF) {
                                   return false;
                               }
                               out.inputKeyCodes.push_back(static_cast<HidUsage>(usage));
                               return true;
                           });
                }
                if (key == "inputTapCodes") {
                    if (!once(seen, 3)) {
                        return false;
                    }
                    if (literal("null")) {
                        return true; // read as absent
                    }
                    std::vector<MacKeySignature> signatures;
                    if (!this->signatures(inner, signatures)) {
                        return false;
                    }
                    out.inputTapCodes = std::move(signatures);
                    return true;
                }
                if (key == "outputBehavior") {
                    return once(seen, 4) && behavior(inner, out.outputBehavior);
                }
                return unknown(key, inner, seen);
            },
            0b10111); // every key but inputTapCodes
    }

    bool behavior(std::size_t depth, OutputBehavior& out) {
        std::optional<OutputBehavior::Kind> kind;
        // "codes" and "name" count only for a custom sequence, whose kind
        // may come after them: their place is kept and read at the end.
        const char* codesAt = nullptr;
        const char* nameAt = nullptr;
        const bool ok = object(
            depth,
            [&](std::string_view key, std::size_t inner, Seen& seen) {
                if (key == "kind") {
                    std::string raw;
                    if (!once(seen, 0) || !string(raw)) {
                        return false;
                    }
                    kind = OutputBehavior::kindFromRawValue(raw);
                    return kind.has_value();
                }
                if (key == "codes") {
                    codesAt = p_;
                    return once(seen, 1) && skipValue(inner);
                }
                if (key == "name") {
                    nameAt = p_;
                    return once(seen, 2) && skipValue(inner);
                }
                return unknown(key, inner, seen);
            },
            0b1);
        if (!ok) {
            return false;
        }
        if (*kind != OutputBehavior::Kind::customKeySequence) {
            switch (*kind) {
            case OutputBehavior::Kind::openSearchBar:
                out = OutputBehavior::openSearchBar();
                break;
            case OutputBehavior::Kind::copyOperation:
                out = OutputBehavior::copyOperation();
                break;
            case OutputBehavior::Kind::pasteOperation:
                out = OutputBehavior::pasteOperation();
                break;
            default:
                out = OutputBehavior::none();
                break;
            }
            return true;
        }
        if (codesAt == nullptr) {
            return false; // required
        }
        const char* after = p_;
        std::vector<MacKeySignature> codes;
        p_ = codesAt;
        if (!signatures(depth + 1, codes)) {
            return false;
        }
        std::string name = "Custom";
        if (nameAt != nullptr) {
            p_ = nameAt;
            if (!literal("null") && !string(name)) {
                return false;
            }
        }
        p_ = after;
        out = OutputBehavior::customKeySequence(std::move(name), std::move(codes));
        return true;
    }

    bool signatures(std::size_t depth, std::vector<MacKeySignature>& out) {
        return array(depth, [&](std::size_t inner) {
            MacKeySignature signature;
            const bool ok = object(
                inner,
                [&](std::string_view key, std::size_t innermost, Seen& seen) {
                    if (key == "keyCode") {
                        return once(seen, 0) && signedInteger(signature.keyCode);
                    }
                    if (key == "modifiers") {
                        return once(seen, 1) && unsignedInteger(signature.modifiers);
                    }
                    return unknown(key, innermost, seen);
                },
                0b11);
            if (ok) {
                out.push_back(signature);
            }
            return ok;
        });
    }

    // ------------------------------------------------------------ grammar

    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) {
            ++p_;
        }
    }

    bool take(char c) {
        skipSpace();
        if (p_ == end_ || *p_ != c) {
            return false;
        }
        ++p_;
        return true;
    }

    bool literal(std::string_view word) {
        skipSpace();
        if (static_cast<std::size_t>(end_ - p_) < word.size() ||
            std::string_view(p_, word.size()) != word) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    /// An object at nesting level `depth` (1 for the outermost value);
    /// `member(key, depth, seen)` reads each value; `required`: the bits of
    /// `seen.known` that must be set at the end.
    template <typename Member>
    bool object(std::size_t depth, Member&& member, std::uint32_t required) {
        if (depth > kMaxJsonDepth || !take('{')) {
            return false;
        }
        Seen seen;
        if (take('}')) {
            return required == 0;
        }
        std::string keyText;
        do {
            std::string_view key;
            if (!this->key(keyText, key) || !take(':') || !member(key, depth + 1, seen)) {
                return false;
            }
        } while (take(','));
        return take('}') && (seen.known & required) == required;
    }

    /// An array at nesting level `depth`; `element(depth + 1)` reads each.
    template <typename Element> bool array(std::size_t depth, Element&& element) {
        if (depth > kMaxJsonDepth || !take('[')) {
            return false;
        }
        if (take(']')) {
            return true;
        }
        do {
            if (!element(depth + 1)) {
                return false;
            }
        } while (take(','));
        return take(']');
    }

    /// Any value, only checked. Numbers must be whole and fit 64 bits.
    bool skipValue(std::size_t depth) {
        skipSpace();
        if (p_ == end_) {
            return false;
        }
        const char c = *p_;
        if (c == '{') {
            std::vector<std::string> keys;
            if (depth > kMaxJsonDepth || !take('{')) {
                return false;
            }
            if (take('}')) {
                return true;
            }
            std::string keyText;
            do {
                std::string_view key;
                if (!this->key(keyText, key)) {
                    return false;
                }
                for (const std::string& k : keys) {
                    if (k == key) {
                        return false;
                    }
                }
                keys.emplace_back(key);
                if (!take(':') || !skipValue(depth + 1)) {
                    return false;
                }
            } while (take(','));
            return take('}');
        }
        if (c == '[') {
            return array(depth, [&](std::size_t inner) { return skipValue(inner); });
        }
        if (c == '"') {
            std::string ignored;
            return string(ignored);
        }
        if (c == 't') {
            return literal("true");
        }
        if (c == 'f') {
            return literal("false");
        }
        if (c == 'n') {
            return literal("null");
        }
        if (c == '-') {
            std::int64_t ignored = 0;
            return signedInteger(ignored);
        }
        std::uint64_t ignored = 0;
        return unsignedInteger(ignored);
    }

    /// The digits of a JSON integer (an optional minus, no leading zeros),
    /// not followed by a fraction or an exponent.
    bool integerText(std::string_view& text) {
        skipSpace();
        const char* start = p_;
        const char* q = p_;
        if (q != end_ && *q == '-') {
            ++q;
        }
        if (q == end_ || *q < '0' || *q > '9') {
            return false;
        }
        if (*q == '0') {
            ++q;
        } else {
            while (q != end_ && *q >= '0' && *q <= '9') {
                ++q;
            }
        }
        if (q != end_ && (*q == '.' || *q == 'e' || *q == 'E' || (*q >= '0' && *q <= '9'))) {
            return false;
        }
        text = std::string_view(start, static_cast<std::size_t>(q - start));
        p_ = q;
        return true;
    }

    bool signedInteger(std::int64_t& out) {
        std::string_view text;
        if (!integerText(text)) {
            return false;
        }
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
        return error == std::errc() && end == text.data() + text.size();
    }

    bool unsignedInteger(std::uint64_t& out) {
        std::string_view text;
        if (!integerText(text) || text.front() == '-') {
            return false;
        }
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
        return error == std::errc() && end == text.data() + text.size();
    }

    bool uuid(Uuid& out) {
        std::string text;
        if (!string(text)) {
            return false;
        }
        auto parsed = Uuid::parse(text);
        if (!parsed) {
            return false;
        }
        out = *parsed;
        return true;
    }

    /// A key: a view into the text when it has no escapes (the usual case),
    /// else decoded into `storage`.
    bool key(std::string& storage, std::string_view& out) {
        skipSpace();
        if (p_ == end_ || *p_ != '"') {
            return false;
        }
        const char* start = p_ + 1;
        const char* q = start;
        while (q != end_ && *q != '"' && *q != '\\' && static_cast<unsigned char>(*q) >= 0x20 &&
               static_cast<unsigned char>(*q) < 0x80) {
            ++q;
        }
        if (q != end_ && *q == '"') {
            out = std::string_view(start, static_cast<std::size_t>(q - start));
            p_ = q + 1;
            return true;
        }
        storage.clear();
        if (!string(storage)) {
            return false;
        }
        out = storage;
        return true;
    }

    static bool continuation(const char* q, const char* end) {
        return q != end && (static_cast<unsigned char>(*q) & 0xC0) == 0x80;
    }

    static void appendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool hex4(std::uint32_t& out) {
        if (end_ - p_ < 4) {
            return false;
        }
        out = 0;
        for (int i = 0; i < 4; ++i, ++p_) {
            const char c = *p_;
            out <<= 4;
            if (c >= '0' && c <= '9') {
                out |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                out |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                out |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    /// A JSON string: escapes decoded, the bytes valid UTF-8, no control
    /// characters.
    bool string(std::string& out) {
        skipSpace();
        if (p_ == end_ || *p_ != '"') {
            return false;
        }
        ++p_;
        out.clear();
        for (;;) {
            // A run of plain characters is copied at once.
            const char* run = p_;
            while (p_ != end_ && *p_ != '"' && *p_ != '\\' &&
                   static_cast<unsigned char>(*p_) >= 0x20 &&
                   static_cast<unsigned char>(*p_) < 0x80) {
                ++p_;
            }
            out.append(run, static_cast<std::size_t>(p_ - run));
            if (p_ == end_) {
                return false;
            }
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (!escape(out)) {
                    return false;
                }
                continue;
            }
            if (!utf8(out)) {
                return false;
            }
        }
    }

    bool escape(std::string& out) {
        ++p_; // the backslash
        if (p_ == end_) {
            return false;
        }
        const char c = *p_++;
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        std::uint32_t code = 0;
        if (!hex4(code)) {
            return false;
        }
        if (code >= 0xDC00 && code <= 0xDFFF) {
            return false; // a low surrogate alone
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            std::uint32_t low = 0;
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') {
                return false;
            }
            p_ += 2;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, code);
        return true;
    }

    /// One multi-byte UTF-8 character, checked as RFC 3629 has it (no
    /// overlong forms, no surrogates, nothing beyond U+10FFFF).
    bool utf8(std::string& out) {
        const auto b0 = static_cast<unsigned char>(p_[0]);
        std::size_t length = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end_ - p_) < length) {
            return false;
        }
        for (std::size_t i = 1; i < length; ++i) {
            if (!continuation(p_ + i, end_)) {
                return false;
            }
        }
        const auto b1 = static_cast<unsigned char>(p_[1]);
        if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 > 0x9F) || (b0 == 0xF0 && b1 < 0x90) ||
            (b0 == 0xF4 && b1 > 0x8F)) {
            return false;
        }
        out.append(p_, length);
        p_ += length;
        return true;
    }

    const char* p_;
    const char* end_;
};

} // namespace

std::optional<DeviceMapping> streamDecodeDeviceMapping(std::string_view text) {
    try {
        Reader reader(text);
        DeviceMapping record;
        if (!reader.record(record)) {
            return std::nullopt;
        }
        return record;
    } catch (...) {
        return std::nullopt; // out of memory: the full path says so
    }
}

} // namespace chordwell
