// The background mode on macOS (chordwellctl run): the engine on the macOS
// adapter, the CFRunLoop scheduler and the application's user defaults,
// without a window. macOS only.
#pragma once

#include <istream>
#include <ostream>

namespace chordwell::cli {

int runMacBackground(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

} // namespace chordwell::cli
