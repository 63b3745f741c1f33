// Reading JSON text that comes from outside the process: mapping files,
// imports, the shortcut catalog, the preferences file, the command line.
//
// parseJson() is the one parser for all of them. Beyond the JSON grammar it
// enforces what the decoders above it rely on:
// - containers nest at most kMaxJsonDepth levels, so a file of "[[[[…" costs
//   memory in proportion to its size and cannot exhaust the stack;
// - nothing but whitespace may follow the value: a NUL byte or any other
//   trailing byte is an error that names its offset;
// - a number that does not fit (an integer beyond 64 bits, 1e400) is an error
//   that names its JSON path and quotes only the start of the number;
// - a key that repeats inside one object is kept the way JSON libraries
//   commonly do it (the last one counts) but reported in `duplicateKeys`, so
//   that callers can warn or refuse.
//
// The helpers below it are the one way decoders read members and arrays and
// word their faults: "PATH: MESSAGE", e.g. `mappings[1].name: missing`.
#pragma once

#include "model/json_codec.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace chordwell {

/// The deepest nesting of arrays and objects parseJson() accepts. A mapping
/// file needs six levels; the catalog four.
inline constexpr std::size_t kMaxJsonDepth = 64;

struct ParsedJson {
    nlohmann::json value;
    /// JSON paths of keys that appeared more than once in their object, in
    /// the order they were met; at most kMaxReportedDuplicates of them.
    std::vector<std::string> duplicateKeys;
    static constexpr std::size_t kMaxReportedDuplicates = 8;
};

/// Parses a whole text. Faults of the text itself start with "invalid JSON";
/// depth and number faults name the JSON path. Never throws.
DecodeResult<ParsedJson> parseJson(std::string_view text);

namespace json_read {

using Json = nlohmann::json;

/// "mappings" + "name" → "mappings.name"; a key that is not a plain word is
/// written as ["…"], escaped and shortened, so that any path is safe to print.
std::string childPath(const std::string& path, std::string_view key);
/// "mappings" + 2 → "mappings[2]".
std::string indexPath(const std::string& path, std::size_t index);
/// "PATH: MESSAGE", or MESSAGE alone at the root.
std::string fault(const std::string& path, std::string_view message);
/// At most `limit` bytes of `text` as a JSON string literal, with "…" inside
/// the quotes when cut, and every byte outside printable ASCII escaped.
std::string quotedPrefix(std::string_view text, std::size_t limit = 24);

bool requireObject(const Json& value, const std::string& path, std::string& error);
/// The member `key` of an object, or null after reporting "PATH.key: missing".
const Json* requireMember(const Json& object, std::string_view key, const std::string& path,
                          std::string& error);
/// The member `key` of an object, or null when it is missing or JSON null.
const Json* optionalMember(const Json& object, std::string_view key);

bool readString(const Json& value, const std::string& path, std::string& out, std::string& error);
/// Only JSON integers count: 1.0 and 1e3 are "expected an integer".
bool readInt64(const Json& value, const std::string& path, std::int64_t& out, std::string& error);
bool readUInt64(const Json& value, const std::string& path, std::uint64_t& out, std::string& error);

/// An array whose every element `readElement(element, elementPath, T&, error)`
/// decodes; the first fault wins and `out` is left cleared.
template <typename T, typename ReadElement>
bool readArray(const Json& value, const std::string& path, std::vector<T>& out, std::string& error,
               ReadElement&& readElement) {
    out.clear();
    if (!value.is_array()) {
        error = fault(path, "expected an array");
        return false;
    }
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        T element{};
        if (!readElement(value[i], indexPath(path, i), element, error)) {
            out.clear();
            return false;
        }
        out.push_back(std::move(element));
    }
    return true;
}

/// The required member `key` of `object`, read as an array with readArray().
template <typename T, typename ReadElement>
bool readRequiredArray(const Json& object, std::string_view key, const std::string& path,
                       std::vector<T>& out, std::string& error, ReadElement&& readElement) {
    const Json* member = requireMember(object, key, path, error);
    return member != nullptr && readArray(*member, childPath(path, key), out, error,
                                          std::forward<ReadElement>(readElement));
}

} // namespace json_read

} // namespace chordwell
