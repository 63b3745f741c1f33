// chordwellctl: checks, shows and normalises mapping files, and runs the
// commands other modules add (see cli/commands.hpp).
#include "cli/commands.hpp"
#include "ports/ports.hpp"

#include <iostream>

int main(int argc, char** argv) {
#ifdef CHORDWELL_DEVELOPMENT_RESOURCES
    // Running from the build folder: resources are the source tree's. The
    // installed program is built without this.
    chordwell::platform::setDevelopmentResourceDirectory(CHORDWELL_DEVELOPMENT_RESOURCES);
#endif
    const int status = chordwell::cli::runCli(argc, argv, std::cin, std::cout, std::cerr);
    // A full disk or closed pipe must not turn into a reported success.
    if (!std::cout.flush()) {
        std::cerr << "chordwellctl: cannot write to standard output\n";
        return chordwell::cli::kExitFailure;
    }
    return status;
}
