#include "model/display_text.hpp"

#include <cstdint>
#include <cstdio>

namespace chordwell {

std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& codePoint) {
    const auto byte = [&](std::size_t k) {
        return static_cast<unsigned char>(text[k]);
    };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07u, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i + k) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    codePoint = value;
    return length;
}

bool isUnsafeForDisplay(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isPlainPrintableAscii(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            return false;
        }
    }
    return true;
}

std::string terminalSafe(std::string_view text) {
    if (isPlainPrintableAscii(text)) {
        return std::string(text);
    }
    std::string result;
    result.reserve(text.size() + 16);
    char escape[16];
    std::size_t kept = 0; // start of the run of bytes that stay as they are
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = decodeUtf8(text, i, c);
        if (length != 0 && !isUnsafeForDisplay(c)) {
            i += length;
            continue;
        }
        result.append(text.substr(kept, i - kept));
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            i += length;
        }
        result += escape;
        kept = i;
    }
    result.append(text.substr(kept));
    return result;
}

std::string quotedForTerminal(std::string_view text) {
    std::string literal = "\"";
    literal.reserve(text.size() + 2);
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            literal += '\\';
            literal += c;
        } else if (c == '\n') {
            literal += "\\n";
        } else if (c == '\t') {
            literal += "\\t";
        } else if (c == '\r') {
            literal += "\\r";
        } else {
            literal += c;
        }
    }
    literal += '"';
    return terminalSafe(literal);
}

} // namespace chordwell
