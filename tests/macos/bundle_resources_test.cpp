// The application bundle's declarations: the Info.plist written from the
// template, and the ICNS icon container.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ------------------------------------------------------------ property list

struct PlistValue {
    enum class Kind { string, boolean } kind = Kind::string;
    std::string text;
    bool flag = false;
};

// Reads the flat dictionary of an Info.plist (string and Boolean values, the
// only kinds the template uses). Anything else, a duplicate key, a bad
// entity or an unbalanced tag is an error.
class PlistReader {
public:
    explicit PlistReader(std::string_view text) : text_(text) {}

    std::optional<std::map<std::string, PlistValue>> read(std::string& error) {
        skipSpace();
        if (!skipDeclaration("<?xml", "?>") || !skipDeclaration("<!DOCTYPE plist", ">") ||
            !expect("<plist version=\"1.0\">") || !expect("<dict>")) {
            error = "bad prologue at offset " + std::to_string(pos_);
            return std::nullopt;
        }
        std::map<std::string, PlistValue> dict;
        while (true) {
            skipSpace();
            if (consume("</dict>")) {
                break;
            }
            std::string key;
            if (!expect("<key>") || !readText(key) || !expect("</key>")) {
                error = "bad key at offset " + std::to_string(pos_);
                return std::nullopt;
            }
            skipSpace();
            PlistValue value;
            if (consume("<true/>")) {
                value = {PlistValue::Kind::boolean, {}, true};
            } else if (consume("<false/>")) {
                value = {PlistValue::Kind::boolean, {}, false};
            } else if (consume("<string>")) {
                if (!readText(value.text) || !expect("</string>")) {
                    error = "bad string for " + key;
                    return std::nullopt;
                }
            } else {
                error = "unexpected value for " + key;
                return std::nullopt;
            }
            if (!dict.emplace(key, value).second) {
                error = "duplicate key " + key;
                return std::nullopt;
            }
        }
        if (!expect("</plist>")) {
            error = "missing </plist>";
            return std::nullopt;
        }
        skipSpace();
        if (pos_ != text_.size()) {
            error = "text after </plist>";
            return std::nullopt;
        }
        return dict;
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[pos_]) != std::string_view::npos) {
            ++pos_;
        }
    }
    bool consume(std::string_view token) {
        if (text_.substr(pos_, token.size()) == token) {
            pos_ += token.size();
            return true;
        }
        return false;
    }
    bool expect(std::string_view token) {
        skipSpace();
        return consume(token);
    }
    bool skipDeclaration(std::string_view open, std::string_view close) {
        skipSpace();
        if (!consume(open)) {
            return false;
        }
        const auto end = text_.find(close, pos_);
        if (end == std::string_view::npos) {
            return false;
        }
        pos_ = end + close.size();
        return true;
    }
    bool readText(std::string& out) {
        while (pos_ < text_.size() && text_[pos_] != '<') {
            if (text_[pos_] == '&') {
                static const std::pair<std::string_view, char> entities[] = {{"&amp;", '&'},
                                                                             {"&lt;", '<'},
                                                                             {"&gt;", '>'},
                                                                             {"&quot;", '"'},
                                                                             {"&apos;", '\''}};
                bool known = false;
                for (const auto& [entity, character] : entities) {
                    if (consume(entity)) {
                        out.push_back(character);
                        known = true;
                        break;
                    }
                }
                if (!known) {
                    return false;
                }
                continue;
            }
            out.push_back(text_[pos_++]);
        }
        return pos_ < text_.size();
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::map<std::string, PlistValue> generatedInfoPlist() {
    std::string error;
    const std::string text = readFile(CHORDWELL_TEST_INFO_PLIST);
    auto dict = PlistReader(text).read(error);
    EXPECT_TRUE(dict.has_value()) << error;
    return dict.value_or(std::map<std::string, PlistValue>{});
}

TEST(InfoPlist, IsAWellFormedDictionaryWithoutPlaceholdersLeft) {
    const auto dict = generatedInfoPlist();
    ASSERT_FALSE(dict.empty());
    for (const auto& [key, value] : dict) {
        // CMake configures the file a second time for the bundle: any "@" or
        // "${" left in it would be replaced by nothing.
        EXPECT_EQ(value.text.find('@'), std::string::npos) << key;
        EXPECT_EQ(value.text.find("${"), std::string::npos) << key;
    }
}

TEST(InfoPlist, DeclaresTheBundleAsTheSystemReadsIt) {
    const auto dict = generatedInfoPlist();
    const std::map<std::string, std::string> expectedStrings = {
        {"CFBundleIdentifier", "com.palvane.Chordwell"},
        {"CFBundleDisplayName", "Chordwell"},
        {"CFBundleName", "Chordwell"},
        {"CFBundleExecutable", "Chordwell"},
        {"CFBundlePackageType", "APPL"},
        {"CFBundleInfoDictionaryVersion", "6.0"},
        {"CFBundleShortVersionString", CHORDWELL_TEST_PROJECT_VERSION},
        {"CFBundleVersion", "42"},
        {"LSMinimumSystemVersion", "13.0"},
        {"CFBundleIconFile", "AppIcon"},
        {"NSPrincipalClass", "NSApplication"},
    };
    for (const auto& [key, expected] : expectedStrings) {
        auto it = dict.find(key);
        ASSERT_NE(it, dict.end()) << key;
        EXPECT_EQ(it->second.kind, PlistValue::Kind::string) << key;
        EXPECT_EQ(it->second.text, expected) << key;
    }
}

TEST(InfoPlist, StartsAsAnAgentAndExplainsBothPermissions) {
    const auto dict = generatedInfoPlist();
    auto agent = dict.find("LSUIElement");
    ASSERT_NE(agent, dict.end());
    EXPECT_EQ(agent->second.kind, PlistValue::Kind::boolean);
    EXPECT_TRUE(agent->second.flag);
    for (const char* key :
         {"NSInputMonitoringUsageDescription", "NSAccessibilityUsageDescription"}) {
        auto it = dict.find(key);
        ASSERT_NE(it, dict.end()) << key;
        EXPECT_GT(it->second.text.size(), 40u) << key;
    }
}

TEST(InfoPlistReader, RejectsWhatWouldBreakTheBundle) {
    const std::string head = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist x>\n<plist "
                             "version=\"1.0\">\n<dict>\n";
    const std::string tail = "</dict>\n</plist>\n";
    std::string error;
    EXPECT_TRUE(
        PlistReader(head + "<key>A</key><string>x &amp; y</string>" + tail).read(error).has_value())
        << error;
    for (const std::string body :
         {"<key>A</key><string>1</string><key>A</key><true/>", "<key>A</key><string>x & y</string>",
          "<key>A</key><string>unclosed", "<key>A</key><integer>1</integer>", "<key>A</key>"}) {
        EXPECT_FALSE(PlistReader(head + body + tail).read(error).has_value()) << body;
    }
}

// --------------------------------------------------------------------- icon

std::uint32_t bigEndian32(const std::string& data, std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(data[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 3]));
}

TEST(AppIcon, IsAnIcnsContainerOfPngImagesOfTheDeclaredSizes) {
    const std::string data = readFile(CHORDWELL_TEST_APP_ICON);
    ASSERT_GE(data.size(), 8u);
    ASSERT_EQ(data.substr(0, 4), "icns");
    ASSERT_EQ(bigEndian32(data, 4), data.size());

    // Pixel size of each PNG-carrying entry type.
    const std::map<std::string, std::uint32_t> sizes = {
        {"icp4", 16},   {"icp5", 32}, {"icp6", 64}, {"ic07", 128}, {"ic08", 256}, {"ic09", 512},
        {"ic10", 1024}, {"ic11", 32}, {"ic12", 64}, {"ic13", 256}, {"ic14", 512}};
    const std::string pngSignature("\x89PNG\r\n\x1a\n", 8);
    std::set<std::string> seen;
    std::size_t at = 8;
    while (at < data.size()) {
        ASSERT_LE(at + 8, data.size());
        const std::string type = data.substr(at, 4);
        const std::uint32_t length = bigEndian32(data, at + 4);
        ASSERT_GE(length, 8u + 24u) << type;
        ASSERT_LE(at + length, data.size()) << type;
        EXPECT_TRUE(seen.insert(type).second) << "duplicate " << type;
        auto size = sizes.find(type);
        ASSERT_NE(size, sizes.end()) << "unexpected entry " << type;
        const std::string png = data.substr(at + 8, length - 8);
        EXPECT_EQ(png.substr(0, 8), pngSignature) << type;
        EXPECT_EQ(png.substr(12, 4), "IHDR") << type;
        EXPECT_EQ(bigEndian32(png, 16), size->second) << type << " width";
        EXPECT_EQ(bigEndian32(png, 20), size->second) << type << " height";
        at += length;
    }
    EXPECT_EQ(at, data.size());
    // Finder, the Dock and the app switcher pick from 16 to 1024 pixels.
    for (const char* needed : {"icp4", "icp5", "ic07", "ic08", "ic09", "ic10"}) {
        EXPECT_TRUE(seen.count(needed)) << needed;
    }
}

} // namespace
