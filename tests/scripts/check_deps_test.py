#!/usr/bin/env python3
"""Runs scripts/check-deps over small made-up trees: each case is a set of
files and the exit status the check must give for them."""

import subprocess
import sys
import tempfile
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "check-deps"

BASE = {
    "src/model/keys.hpp": "#pragma once\n#include <vector>\n",
    "src/ports/ports.hpp": '#include "model/keys.hpp"\n',
    "src/platform/memory/memory_ports.hpp": '#include "ports/ports.hpp"\n',
    "src/logging/log.hpp": '#include "ports/ports.hpp"\n',
    "src/engine/engine.hpp": '#include "logging/log.hpp"\n',
    "src/platform/linux/fd.hpp": '#include "platform/memory/memory_ports.hpp"\n',
    "src/platform/qt/watch.hpp": "#include <QObject>\n",
    "src/app/main.cpp": '#include "engine/engine.hpp"\n#include "platform/qt/watch.hpp"\n',
    "src/logging/CMakeLists.txt": "add_library(chordwell_logging log.cpp)\n"
                                  "target_link_libraries(chordwell_logging PUBLIC chordwell_ports)\n",
    "src/ports/CMakeLists.txt": "add_library(chordwell_ports ports.cpp)\n",
    "src/platform/CMakeLists.txt": "add_subdirectory(memory)\nadd_subdirectory(linux)\n",
    "src/platform/memory/CMakeLists.txt": "add_library(chordwell_memory_ports m.cpp)\n",
    "src/platform/linux/CMakeLists.txt": "add_library(chordwell_linux a.cpp)\n",
    "src/platform/qt/CMakeLists.txt": "add_library(chordwell_qt_ports q.cpp)\n"
                                      '# once linked chordwell_linux\ninstall(FILES "x/chordwell_linux")\n',
}

CASES = [
    ("layered tree", {}, 0),
    ("logging includes an adapter", {"src/logging/log.cpp": '#include "platform/memory/memory_ports.hpp"\n'}, 1),
    ("adapter includes another adapter", {"src/platform/qt/w.hpp": '#include "platform/linux/fd.hpp"\n'}, 1),
    ("adapter includes the engine", {"src/platform/linux/x.cpp": '#include "engine/engine.hpp"\n'}, 1),
    ("model includes the ports", {"src/model/x.cpp": '#include "ports/ports.hpp"\n'}, 1),
    ("relative include of a library above", {"src/logging/y.cpp": '#include "../engine/engine.hpp"\n'}, 1),
    ("adapter links another adapter",
     {"src/platform/qt/CMakeLists.txt": "add_library(chordwell_qt_ports q.cpp)\n"
                                        "target_link_libraries(chordwell_qt_ports PUBLIC chordwell_linux)\n"}, 1),
    ("storage calls an OS-specific API", {"src/storage/s.cpp": "#include <mach-o/dyld.h>\n"}, 1),
    ("engine includes Qt", {"src/engine/e.cpp": "#include <QTimer>\n"}, 1),
    ("storage writes files with POSIX calls", {"src/storage/a.cpp": "#include <unistd.h>\n#include <fcntl.h>\n"}, 0),
    ("engine includes a POSIX header", {"src/engine/e.cpp": "#include <unistd.h>\n"}, 1),
    ("folder that no library claims", {"src/newlib/x.cpp": "\n"}, 2),
    ("a port left among the adapters", {"src/platform/desktop.hpp": '#include "ports/ports.hpp"\n'}, 2),
    ("storage includes an adapter", {"src/storage/s.cpp": '#include "platform/linux/fd.hpp"\n'}, 1),
    ("in-memory adapter includes another adapter",
     {"src/platform/memory/m.cpp": '#include "platform/qt/watch.hpp"\n'}, 1),
]


def run_case(files):
    with tempfile.TemporaryDirectory() as root:
        for name, text in {**BASE, **files}.items():
            path = Path(root) / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        result = subprocess.run([sys.executable, str(SCRIPT), "--root", root],
                                capture_output=True, text=True)
        return result.returncode, result.stderr


def main():
    failures = 0
    for name, files, expected in CASES:
        status, errors = run_case(files)
        if status != expected:
            failures += 1
            print(f"FAIL {name}: exit {status}, expected {expected}\n{errors}")
        else:
            print(f"ok   {name}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
