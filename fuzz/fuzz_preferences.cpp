// The preferences file is the user's to edit by hand. Whatever it holds, the
// reader either refuses it (the file is then set aside) or yields values
// that survive being written and read back unchanged.
#include "platform/linux/json_preferences.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <variant>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_preferences: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using chordwell::platform::lnx::decodePreferences;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto first = decodePreferences(text);
    if (!first) {
        if (first.error().empty()) {
            fail("a failure without a message");
        }
        return 0;
    }
    // Written the way the preferences store writes its file.
    nlohmann::json document = nlohmann::json::object();
    for (const auto& [key, value] : first.value()) {
        std::visit([&, &k = key](const auto& v) { document[k] = v; }, value);
    }
    const auto second =
        decodePreferences(document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
    if (!second) {
        fail("written preferences do not read back");
    }
    if (second.value() != first.value()) {
        fail("preferences changed on the way through the file");
    }
    return 0;
}
