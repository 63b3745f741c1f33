// Book-keeping of the run-loop scheduler's timers: which native timer
// belongs to which id and task. The native timer's callback identifies
// itself by its handle, so a timer cancelled (and erased here) just before
// it fires finds nothing and does nothing. Portable (no system headers);
// `Native` is the timer handle type (CFRunLoopTimerRef on macOS).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace chordwell::platform::mac {

template <typename Native> class TimerTable {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    /// What a firing timer has to do.
    struct Firing {
        /// The task to run; null when the timer is no longer known.
        std::shared_ptr<const Task> task;
        /// Set when the timer is finished (one-shot): the caller releases it.
        std::optional<Native> finished;
    };

    /// Remembers a new timer; ids start at 1 and are never reused.
    TimerId add(Native native, Task task, bool repeating) {
        std::lock_guard lock(mutex_);
        const TimerId id = nextId_++;
        entries_.emplace(id,
                         Entry{native, std::make_shared<const Task>(std::move(task)), repeating});
        ids_.insert_or_assign(native, id);
        return id;
    }

    /// Called when `native` fires. A one-shot timer is forgotten here, before
    /// its task runs, so that the task may schedule or cancel freely.
    Firing fire(Native native) {
        std::lock_guard lock(mutex_);
        Firing firing;
        auto idIt = ids_.find(native);
        if (idIt == ids_.end()) {
            return firing;
        }
        auto entryIt = entries_.find(idIt->second);
        if (entryIt == entries_.end()) {
            ids_.erase(idIt);
            return firing;
        }
        firing.task = entryIt->second.task;
        if (!entryIt->second.repeating) {
            firing.finished = entryIt->second.native;
            entries_.erase(entryIt);
            ids_.erase(idIt);
        }
        return firing;
    }

    /// Forgets timer `id`; returns its native handle for the caller to
    /// invalidate and release, or nothing for unknown or finished ids.
    std::optional<Native> cancel(TimerId id) {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(id);
        if (it == entries_.end()) {
            return std::nullopt;
        }
        Native native = it->second.native;
        ids_.erase(native);
        entries_.erase(it);
        return native;
    }

    /// Forgets every timer; returns their handles (at shutdown).
    std::vector<Native> takeAll() {
        std::lock_guard lock(mutex_);
        std::vector<Native> all;
        all.reserve(entries_.size());
        for (auto& entry : entries_) {
            all.push_back(entry.second.native);
        }
        entries_.clear();
        ids_.clear();
        return all;
    }

    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }

private:
    struct Entry {
        Native native;
        std::shared_ptr<const Task> task;
        bool repeating = false;
    };

    mutable std::mutex mutex_;
    TimerId nextId_ = 1;
    std::map<TimerId, Entry> entries_;
    std::unordered_map<Native, TimerId> ids_;
};

} // namespace chordwell::platform::mac
