#!/usr/bin/env python3
"""Tests scripts/check-function-length: the functions it finds in small sources
that hide braces where a naive count would see them, then random files of
known functions, then the exit status on a made-up tree."""

import importlib.machinery
import importlib.util
import random
import subprocess
import sys
import tempfile
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "check-function-length"
loader = importlib.machinery.SourceFileLoader("check_function_length", str(SCRIPT))
module_spec = importlib.util.spec_from_loader(loader.name, loader)
cfl = importlib.util.module_from_spec(module_spec)
sys.modules[loader.name] = cfl
loader.exec_module(cfl)

# (what, source, [(name, first line, last line), ...])
CASES = [
    ("free function with its return type on its own line",
     "int\nf(int a) {\n    return a;\n}\n", [("f", 1, 4)]),
    ("braces in comments, strings, characters and raw strings",
     'void f() {\n    // }\n    /* { */\n    auto s = "}";\n    char c = \'{\';\n'
     '    auto r = R"x(})x";\n}\nvoid g() {}\n', [("f", 1, 7), ("g", 8, 8)]),
    ("preprocessor lines",
     "#define OPEN {\nvoid f() {\n#define CLOSE \\\n    }\n}\n", [("f", 2, 5)]),
    ("namespaces, classes and their inline members",
     "namespace a {\nnamespace {\nstruct S {\n    int x() const { return 1; }\n};\n}\n"
     "void S2::y() {\n}\n}\n", [("x", 4, 4), ("S2::y", 7, 8)]),
    ("constructor with brace-initialised members",
     "A::A(int a)\n    : x_{a}, y_(a), v_{1, 2} {\n    go();\n}\n", [("A::A", 1, 4)]),
    ("operators and destructors",
     "A& A::operator=(A&& o) noexcept {\n    return *this;\n}\nA::~A() {\n}\n"
     "bool operator==(A, A) { return true; }\n",
     [("A::operator=", 1, 3), ("A::~A", 4, 5), ("operator==", 6, 6)]),
    ("variables and enums with braces are no functions",
     "const int table[] = {1, 2};\nenum class E : int { a, b };\nstd::vector<int> v{f(1)};\n"
     "const auto cb = [](int) {\n    return 1;\n};\nvoid h() {\n}\n", [("h", 7, 8)]),
    ("lambdas and local classes count towards their function",
     "void f() {\n    auto g = [] {\n        struct L { void m() {} };\n    };\n}\n", [("f", 1, 5)]),
    ("Qt macros and access specifiers in a class",
     "class W : public QWidget {\n    Q_OBJECT\n    Q_PROPERTY(int n READ n)\npublic:\n"
     "    int n() const { return 0; }\nsignals:\n    void changed();\nprivate slots:\n"
     "    void tick() {\n    }\n};\n", [("n", 5, 5), ("tick", 9, 10)]),
    ("digit separators are no character literals",
     "int f() {\n    return 1'000'000;\n}\nint g() { return '}'; }\n", [("f", 1, 3), ("g", 4, 4)]),
    ("templates",
     "template <typename T, int N = 2>\nT f(std::array<T, (N > 1 ? N : 1)> a) {\n    return a[0];\n}\n",
     [("f", 1, 4)]),
    ("Objective-C methods",
     "@implementation Box\n- (void)open:(int)a with:(int)b {\n    go();\n}\n@end\n", [("-open", 2, 4)]),
]


def check_cases():
    failures = 0
    for what, source, expected in CASES:
        found = [(f.name, f.first_line, f.last_line) for f in cfl.find_functions("x.cpp", source)]
        if found != expected:
            failures += 1
            print(f"FAIL {what}:\n  found    {found}\n  expected {expected}")
        else:
            print(f"ok   {what}")
    return failures


# Pieces a body may hold; each is (text, how many lines it adds).
BODY_PIECES = [
    ("    x = 1;\n", 1),
    ("    // } a stray brace in a comment\n", 1),
    ('    s = "{{ \\" }";\n', 1),
    ("    if (a) {\n        b();\n    }\n", 3),
    ("    auto l = [&](int v) {\n        return v;\n    };\n", 3),
    ("    /* {\n       } */\n", 2),
    ('    r = R"(})";\n', 1),
    ("    c = '}';\n", 1),
]


def random_file(rng):
    """A file of random functions, with what the check must find in it."""
    lines, expected, line = [], [], 1
    for k in range(rng.randint(1, 8)):
        if rng.random() < 0.3:
            lines.append("// {{ between functions\n")
            line += 1
        name = f"Space::fn{k}"
        head = f"std::string\n{name}(int a)\n    const {{\n"
        first = line
        body = [rng.choice(BODY_PIECES) for _ in range(rng.randint(0, 12))]
        text = head + "".join(t for t, _ in body) + "}\n"
        line += 3 + sum(n for _, n in body) + 1
        lines.append(text)
        expected.append((name, first, line - 1))
    return "".join(lines), expected


def check_random_files(count=300):
    rng = random.Random(28)
    for n in range(count):
        source, expected = random_file(rng)
        found = [(f.name, f.first_line, f.last_line) for f in cfl.find_functions("x.cpp", source)]
        if found != expected:
            print(f"FAIL random file {n}:\n{source}\n  found    {found}\n  expected {expected}")
            return 1
    print(f"ok   {count} random files")
    return 0


def check_exit_status():
    failures = 0
    long_body = "".join("    x();\n" for _ in range(10))
    with tempfile.TemporaryDirectory() as root:
        path = Path(root) / "src" / "m" / "a.cpp"
        path.parent.mkdir(parents=True)
        path.write_text("void shortOne() {\n}\nvoid longOne() {\n" + long_body + "}\n")
        for limit, expected in [(12, 0), (11, 1)]:
            result = subprocess.run([sys.executable, str(SCRIPT), "--root", root, "--limit", str(limit)],
                                    capture_output=True, text=True)
            named = "longOne" in result.stderr
            if result.returncode != expected or named != (expected == 1):
                failures += 1
                print(f"FAIL limit {limit}: exit {result.returncode}, expected {expected}\n{result.stderr}")
            else:
                print(f"ok   limit {limit} exits {expected}")
    return failures


def main():
    return 1 if check_cases() + check_random_files() + check_exit_status() else 0


if __name__ == "__main__":
    sys.exit(main())
