#include "logging/breadcrumbs.hpp"

#include "logging/log_file.hpp"

#include <algorithm>
#include <utility>

namespace chordwell::logging {

Breadcrumbs& Breadcrumbs::shared() {
    // Never destroyed, like the log file: reachable from any destructor.
    static auto* instance = new Breadcrumbs();
    return *instance;
}

Breadcrumbs::Breadcrumbs(Clock clock) : clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] {
            return std::chrono::system_clock::now();
        };
    }
}

void Breadcrumbs::add(std::string_view text) {
    try {
        Entry entry{clock_(), std::string(text)};
        std::replace_if(
            entry.text.begin(), entry.text.end(), [](char c) { return c == '\n' || c == '\r'; },
            ' ');
        std::lock_guard guard(lock_);
        entries_.push_back(std::move(entry));
        while (entries_.size() > maxCount) {
            entries_.pop_front();
        }
    } catch (...) {
        // A lost breadcrumb is not worth failing the user's action for.
    }
}

std::string Breadcrumbs::dump(std::int64_t n) const {
    std::lock_guard guard(lock_);
    const auto available = static_cast<std::int64_t>(entries_.size());
    const std::int64_t taken = std::clamp<std::int64_t>(n, 0, available);
    if (taken == 0) {
        return std::string(emptyText);
    }
    std::string text;
    for (auto it = entries_.end() - taken; it != entries_.end(); ++it) {
        if (!text.empty()) {
            text += '\n';
        }
        text += formatTimestamp(it->time, false);
        text += "  ";
        text += it->text;
    }
    return text;
}

std::size_t Breadcrumbs::count() const {
    std::lock_guard guard(lock_);
    return entries_.size();
}

void Breadcrumbs::clear() {
    std::lock_guard guard(lock_);
    entries_.clear();
}

} // namespace chordwell::logging
