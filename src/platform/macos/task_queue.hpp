// Work posted to the main thread from any thread. The run-loop scheduler
// pushes here and signals its run-loop source; the source's perform callback
// drains the queue on the main thread. Portable (no system headers).
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace chordwell::platform::mac {

class TaskQueue {
public:
    using Task = std::function<void()>;

    struct DrainResult {
        std::size_t ran = 0;    // tasks that returned normally
        std::size_t failed = 0; // tasks that threw (their exception is dropped)
    };

    /// Appends `task` (empty tasks are ignored). Returns true when the queue
    /// was empty before, i.e. when the owner has to wake the consumer.
    bool push(Task task) {
        if (!task) {
            return false;
        }
        std::lock_guard lock(mutex_);
        const bool wasEmpty = pending_.empty();
        pending_.push_back(std::move(task));
        return wasEmpty;
    }

    /// Runs, in order, the tasks queued before the call. Tasks queued while
    /// it runs stay for the next drain, so a task that posts itself cannot
    /// starve the run loop. An exception ends only its own task.
    DrainResult drain() {
        std::vector<Task> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(pending_);
        }
        DrainResult result;
        for (Task& task : batch) {
            try {
                task();
                ++result.ran;
            } catch (...) {
                ++result.failed;
            }
        }
        return result;
    }

    /// Drops everything still queued (at shutdown).
    void clear() {
        std::vector<Task> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(pending_);
        }
        // The tasks are destroyed outside the lock: their captures may post.
    }

    bool empty() const {
        std::lock_guard lock(mutex_);
        return pending_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Task> pending_;
};

} // namespace chordwell::platform::mac
