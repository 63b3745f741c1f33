// The shortcut catalog is a file on disk next to the program; a damaged or
// replaced one must empty the catalog, never crash. What is accepted obeys
// the catalog's rules: key codes 0-65535, modifier words not negative.
#include "storage/shortcuts.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_shortcut_catalog: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto catalog = chordwell::decodeShortcutCatalog(text);
    if (!catalog) {
        if (catalog.error().empty()) {
            fail("a failure without a message");
        }
        return 0;
    }
    if (text.find('\0') != std::string_view::npos) {
        fail("a catalog with a NUL byte was accepted");
    }
    for (const auto& group : catalog.value()) {
        for (const auto& item : group.items) {
            for (const auto& entry : item.codes) {
                if (entry.keyCode < 0 || entry.keyCode > 65535 || entry.modifiers < 0) {
                    fail("an entry outside the catalog's rules was accepted");
                }
            }
            (void)item.outputBehavior();
        }
    }
    return 0;
}
