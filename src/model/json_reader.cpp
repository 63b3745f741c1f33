#include "model/json_reader.hpp"

#include <algorithm>
#include <exception>
#include <limits>
#include <new>

namespace chordwell {

namespace json_read {

namespace {

bool isPlainKey(std::string_view key) {
    constexpr std::size_t kLongestPlainKey = 32;
    if (key.empty() || key.size() > kLongestPlainKey || (key[0] >= '0' && key[0] <= '9')) {
        return false;
    }
    return std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

} // namespace

std::string childPath(const std::string& path, std::string_view key) {
    if (!isPlainKey(key)) {
        return path + "[" + quotedPrefix(key) + "]";
    }
    if (path.empty()) {
        return std::string(key);
    }
    std::string result = path;
    result += '.';
    result += key;
    return result;
}

std::string indexPath(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

std::string fault(const std::string& path, std::string_view message) {
    if (path.empty()) {
        return std::string(message);
    }
    std::string result = path;
    result += ": ";
    result += message;
    return result;
}

std::string quotedPrefix(std::string_view text, std::size_t limit) {
    const bool cut = text.size() > limit;
    std::string_view shown = text.substr(0, limit);
    // Cut on a character boundary, not inside a UTF-8 sequence.
    if (cut) {
        while (!shown.empty() && (static_cast<unsigned char>(text[shown.size()]) & 0xC0) == 0x80) {
            shown.remove_suffix(1);
        }
    }
    // ensure_ascii escapes everything outside printable ASCII, so neither
    // control characters nor direction overrides survive into a message.
    std::string result =
        Json(std::string(shown)).dump(-1, ' ', true, Json::error_handler_t::replace);
    if (cut) {
        result.insert(result.size() - 1, "\\u2026");
    }
    return result;
}

bool requireObject(const Json& value, const std::string& path, std::string& error) {
    if (!value.is_object()) {
        error = fault(path, "expected an object");
        return false;
    }
    return true;
}

const Json* requireMember(const Json& object, std::string_view key, const std::string& path,
                          std::string& error) {
    auto it = object.find(key);
    if (it == object.end()) {
        error = fault(childPath(path, key), "missing");
        return nullptr;
    }
    return &*it;
}

const Json* optionalMember(const Json& object, std::string_view key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

bool readString(const Json& value, const std::string& path, std::string& out, std::string& error) {
    if (!value.is_string()) {
        error = fault(path, "expected a string");
        return false;
    }
    out = value.get_ref<const std::string&>();
    return true;
}

// The parser keeps "1.0" and "1e3" as floating-point numbers; they are
// rejected rather than truncated.
bool readInt64(const Json& value, const std::string& path, std::int64_t& out, std::string& error) {
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            error = fault(path, std::to_string(u) + " is outside the signed 64-bit range");
            return false;
        }
        out = static_cast<std::int64_t>(u);
        return true;
    }
    if (value.is_number_integer()) {
        out = value.get<std::int64_t>();
        return true;
    }
    error = fault(path, "expected an integer");
    return false;
}

bool readUInt64(const Json& value, const std::string& path, std::uint64_t& out,
                std::string& error) {
    if (value.is_number_unsigned()) {
        out = value.get<std::uint64_t>();
        return true;
    }
    if (value.is_number_integer()) {
        const auto i = value.get<std::int64_t>();
        if (i < 0) {
            error = fault(path, std::to_string(i) + " is negative");
            return false;
        }
        out = static_cast<std::uint64_t>(i);
        return true;
    }
    error = fault(path, "expected an integer");
    return false;
}

} // namespace json_read

namespace {

using json_read::Json;

// Builds the document from the parser's events, like the library's own DOM
// builder, and additionally keeps the path of the value being read (for
// messages), bounds the depth and notes repeated keys.
class BoundedBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    explicit BoundedBuilder(ParsedJson& result) : result_(result) {}

    bool null() { return put(Json(nullptr)) != nullptr; }
    bool boolean(bool value) { return put(Json(value)) != nullptr; }
    bool number_integer(number_integer_t value) { return put(Json(value)) != nullptr; }
    bool number_unsigned(number_unsigned_t value) { return put(Json(value)) != nullptr; }
    bool number_float(number_float_t value, const string_t& text) {
        // The library turns an integer too long for 64 bits into a double,
        // silently losing digits; no reader here wants that.
        if (text.find_first_of(".eE") == string_t::npos) {
            return numberOutOfRange(text);
        }
        return put(Json(value)) != nullptr;
    }
    bool string(string_t& value) { return put(Json(std::move(value))) != nullptr; }
    bool binary(binary_t& value) { return put(Json(std::move(value))) != nullptr; }

    bool start_object(std::size_t) { return open(Json::value_t::object); }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Json::value_t::array); }
    bool end_array() { return close(); }

    bool key(string_t& key) {
        Frame& top = frames_.back();
        if (top.container->contains(key) &&
            result_.duplicateKeys.size() < ParsedJson::kMaxReportedDuplicates) {
            top.key = key;
            result_.duplicateKeys.push_back(currentPath());
        }
        top.key = std::move(key);
        top.slot = &(*top.container)[top.key];
        return true;
    }

    bool parse_error(std::size_t position, const std::string& lastToken,
                     const nlohmann::detail::exception& exception) {
        if (exception.id == 406) { // a number beyond the range of a double
            return numberOutOfRange(lastToken);
        }
        syntaxError_ = true;
        position_ = position;
        lastToken_ = lastToken.substr(0, 64);
        what_ = exception.what();
        return false;
    }

    const std::string& error() const { return error_; }
    bool syntaxError() const { return syntaxError_; }
    std::size_t position() const { return position_; }
    const std::string& lastToken() const { return lastToken_; }
    const std::string& what() const { return what_; }

private:
    struct Frame {
        Json* container;
        std::string key; // the member being read, in an object
        Json* slot = nullptr;
    };

    Json* put(Json value) {
        if (frames_.empty()) {
            result_.value = std::move(value);
            return &result_.value;
        }
        Frame& top = frames_.back();
        if (top.container->is_array()) {
            top.container->push_back(std::move(value));
            return &top.container->back();
        }
        *top.slot = std::move(value);
        return top.slot;
    }

    bool open(Json::value_t type) {
        if (frames_.size() >= kMaxJsonDepth) {
            error_ =
                json_read::fault(shortened(currentPath()),
                                 "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
            return false;
        }
        Json* container = put(Json(type));
        frames_.push_back(Frame{container, {}, nullptr});
        return true;
    }

    bool close() {
        frames_.pop_back();
        return true;
    }

    bool numberOutOfRange(const std::string& text) {
        error_ = json_read::fault(shortened(currentPath()),
                                  "number out of range: " + json_read::quotedPrefix(text));
        return false;
    }

    // The path of the value being read: for arrays the element that comes
    // next (or, further up, the one that holds the current container).
    std::string currentPath() const {
        std::string path;
        for (std::size_t i = 0; i < frames_.size(); ++i) {
            const Frame& frame = frames_[i];
            if (frame.container->is_array()) {
                std::size_t index = frame.container->size();
                if (i + 1 < frames_.size() && index > 0) {
                    --index;
                }
                path = json_read::indexPath(path, index);
            } else if (frame.slot != nullptr) {
                path = json_read::childPath(path, frame.key);
            }
        }
        return path;
    }

    // Deep paths are cut at the front; the innermost part says most.
    static std::string shortened(std::string path) {
        constexpr std::size_t kLongest = 160;
        if (path.size() > kLongest) {
            path.erase(0, path.size() - kLongest);
            // Start at a whole step of the path.
            const auto step = path.find_first_of("[.");
            path.erase(0, step == std::string::npos ? path.size() : step);
            if (!path.empty() && path.front() == '.') {
                path.erase(0, 1);
            }
            path.insert(0, "\u2026");
        }
        return path;
    }

    ParsedJson& result_;
    std::vector<Frame> frames_;
    std::string error_;
    bool syntaxError_ = false;
    std::size_t position_ = 0;
    std::string lastToken_;
    std::string what_;
};

// "parse error at line 1, column 2: syntax error while parsing value -
// invalid literal; last read: 'nul'" → "invalid literal".
std::string syntaxReason(const std::string& what) {
    std::string reason = what;
    if (auto pos = reason.find(": "); pos != std::string::npos) {
        reason.erase(0, pos + 2);
    }
    for (const char* prefix :
         {"syntax error while parsing value - ", "syntax error while parsing object key - ",
          "syntax error while parsing object separator - ", "syntax error while parsing object - ",
          "syntax error while parsing array - "}) {
        if (reason.rfind(prefix, 0) == 0) {
            reason.erase(0, std::string_view(prefix).size());
            break;
        }
    }
    if (auto pos = reason.find("; last read: "); pos != std::string::npos) {
        reason.erase(pos);
    }
    return reason;
}

std::string invalidAt(std::string_view text, std::size_t offset, const std::string& reason) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const auto line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const auto lineStart = before.rfind('\n');
    const std::size_t column =
        lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
    return "invalid JSON at line " + std::to_string(line) + ", column " + std::to_string(column) +
           " (offset " + std::to_string(offset) + "): " + reason;
}

} // namespace

DecodeResult<ParsedJson> parseJson(std::string_view text) {
    try {
        // The library's lexer takes a NUL byte for the end of the input, so
        // the text is parsed up to the first NUL and the NUL itself is the
        // fault when everything before it was fine.
        const std::size_t nul = text.find('\0');
        const std::string_view body = text.substr(0, nul);
        ParsedJson result;
        BoundedBuilder builder(result);
        const bool ok = Json::sax_parse(body.begin(), body.end(), &builder);
        if (!ok && !builder.syntaxError()) {
            return DecodeResult<ParsedJson>::failure(builder.error());
        }
        if (!ok) {
            // Positions count the byte that failed, starting at 1.
            const std::size_t offset = builder.position() > 0 ? builder.position() - 1 : 0;
            if (nul != std::string_view::npos && offset >= body.size()) {
                return DecodeResult<ParsedJson>::failure(invalidAt(text, nul, "a NUL byte"));
            }
            std::string reason = syntaxReason(builder.what());
            if (reason.find("; expected end of input") != std::string::npos) {
                reason = "unexpected bytes after the JSON value";
            } else if (!builder.lastToken().empty() && offset < body.size()) {
                reason += "; last read: " + json_read::quotedPrefix(builder.lastToken());
            }
            return DecodeResult<ParsedJson>::failure(invalidAt(text, offset, reason));
        }
        if (nul != std::string_view::npos) {
            return DecodeResult<ParsedJson>::failure(
                invalidAt(text, nul, "a NUL byte after the JSON value"));
        }
        return DecodeResult<ParsedJson>::success(std::move(result));
    } catch (const std::bad_alloc&) {
        return DecodeResult<ParsedJson>::failure("out of memory");
    } catch (const std::exception& e) {
        return DecodeResult<ParsedJson>::failure(std::string("invalid JSON: ") + e.what());
    } catch (...) {
        return DecodeResult<ParsedJson>::failure("invalid JSON");
    }
}

} // namespace chordwell
