#include "cli/file_input.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace chordwell::cli {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string tooLarge() {
    return "file is larger than " + std::to_string(kMaxInputBytes / (1024 * 1024)) + " MiB";
}

bool readStream(std::istream& in, std::string& text, std::string& error) {
    char buffer[64 * 1024];
    while (in) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxInputBytes) {
            error = tooLarge();
            return false;
        }
    }
    if (in.bad()) {
        error = "cannot read standard input";
        return false;
    }
    return true;
}

} // namespace

bool readInput(const std::string& path, std::istream& in, std::string& text, std::string& error) {
    text.clear();
    if (path == "-") {
        return readStream(in, text, error);
    }
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    char buffer[64 * 1024];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        text.append(buffer, n);
        if (text.size() > kMaxInputBytes) {
            error = tooLarge();
            return false;
        }
        if (n < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        // A directory opens fine on some systems and fails here (EISDIR).
        error = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace chordwell::cli
