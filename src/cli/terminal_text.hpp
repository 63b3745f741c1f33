// Text from files, scripts and devices on its way to the terminal: the one
// set of rules of model/display_text.hpp, which the application's simulate
// output and the log share.
#pragma once

#include "model/display_text.hpp"

namespace chordwell::cli {

using chordwell::quotedForTerminal;
using chordwell::terminalSafe;

} // namespace chordwell::cli
