// Scripts of `chordwellctl simulate` and `chordwell --simulate` are typed by
// users and pasted from bug reports: the parser may refuse them, never crash.
// What it accepts must be well-formed: commands in line order, each on a
// line of the text, waits never negative.
#include "script/script.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_parse_script: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using chordwell::script::ScriptCommand;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = chordwell::script::parseScript(text);
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (parsed.error) {
        if (parsed.error->message.empty() || parsed.error->line < 1 || parsed.error->line > lines) {
            fail("an error without a message or outside the text");
        }
        return 0;
    }
    int previous = 0;
    for (const ScriptCommand& command : parsed.commands) {
        if (command.line < 1 || command.line > lines || command.line < previous) {
            fail("a command outside the text or out of order");
        }
        previous = command.line;
        if (command.kind == ScriptCommand::Kind::wait && command.milliseconds < 0) {
            fail("a negative wait was accepted");
        }
    }
    return 0;
}
