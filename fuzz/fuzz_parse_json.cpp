// The one parser of every JSON file, checked against the JSON library's own
// parser on arbitrary text. It must agree with the library on every text that
// is within its limits, and refuse exactly what lies beyond them: nesting
// deeper than the limit, a NUL or other byte after the value, numbers out of
// range.
#include "model/json_reader.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_parse_json: %s\n%s\n", what, detail.c_str());
    std::abort();
}

// The deepest nesting of brackets outside strings (meaningful for valid JSON).
std::size_t nestingDepth(std::string_view text) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto ours = chordwell::parseJson(text);
    const bool hasNul = text.find('\0') != std::string_view::npos;
    // The library stops at a NUL byte as if the text ended there.
    const nlohmann::json reference =
        nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    const bool libraryAccepts = !reference.is_discarded();
    if (ours.ok()) {
        if (hasNul) {
            fail("a text with a NUL byte was accepted", std::string(text));
        }
        if (!libraryAccepts) {
            fail("accepted what the library refuses", std::string(text));
        }
        if (nestingDepth(text) > chordwell::kMaxJsonDepth) {
            fail("accepted nesting beyond the limit", std::string(text));
        }
        if (!(ours.value().value == reference)) {
            fail("a different document than the library's", std::string(text));
        }
        return 0;
    }
    const std::string& error = ours.error();
    if (error.empty() || error.size() > 400) {
        fail("a message that is empty or too long", error);
    }
    if (libraryAccepts && !hasNul && nestingDepth(text) <= chordwell::kMaxJsonDepth &&
        error.find("number out of range") == std::string::npos) {
        fail("refused a text within the limits", error + "\n" + std::string(text));
    }
    return 0;
}
