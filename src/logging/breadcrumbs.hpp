// The last few user actions, kept in memory for the diagnostics report.
// Entries describe what the user did, never what was typed: no key names,
// no recorded combinations, no mapping contents. The actions recorded (the
// list in docs/architecture.md says the same):
//   "Keyboard selected: <product name> (vendor <n>, product <n>)"
//   "Selected keyboard disconnected"
//   "Interception turned on for <product name>" / "Interception turned off"
//   "Mapping saved" / "Mapping edited" / "Mapping deleted"
//   "Imported <n> mappings" (with " (append)" or " (replace)"),
//   "Exported mappings", "Cleared all mappings"
//   settings changes, e.g. "Key repeat timings set to …"
//   "Diagnostics saved" / "Diagnostics e-mailed" /
//   "Diagnostics copied to the clipboard"
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace chordwell::logging {

class Breadcrumbs {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::size_t maxCount = 20;
    static constexpr std::string_view emptyText = "(no recorded actions this session)";

    /// The process-wide instance.
    static Breadcrumbs& shared();

    /// `clock` stamps the entries (default: system clock).
    explicit Breadcrumbs(Clock clock = {});

    /// Records an action; only the newest maxCount entries are kept. Line
    /// breaks in `text` become spaces so that each entry stays one line.
    void add(std::string_view text);

    /// The last `n` entries, oldest first, one per line:
    /// "2026-03-05T14:07:09Z  Mapping saved". emptyText when nothing is
    /// selected (no entries, or `n` not positive).
    std::string dump(std::int64_t n) const;

    std::size_t count() const;
    void clear();

private:
    struct Entry {
        std::chrono::system_clock::time_point time;
        std::string text;
    };

    Clock clock_;
    mutable std::mutex lock_;
    std::deque<Entry> entries_;
};

} // namespace chordwell::logging
