// One wrapper object per native handle. IOKit hands the same IOHIDDeviceRef
// to the matching callback and, later, to the removal callback; the engine
// compares the handles it keeps, so both callbacks must see the very same
// shared wrapper. The registry holds the wrappers weakly: the engine's lists
// decide how long a wrapper lives, and a handle whose wrapper is gone gets a
// fresh one. Portable (no system headers), main-thread use only.
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <utility>

namespace chordwell::platform::mac {

template <typename Handle, typename Object> class HandleRegistry {
public:
    /// The live wrapper of `handle`, or the one `make()` builds (then
    /// remembered). `make` returns std::shared_ptr<Object>; a null result is
    /// returned as is and not remembered.
    template <typename Make> std::shared_ptr<Object> findOrCreate(Handle handle, Make&& make) {
        if (auto existing = find(handle)) {
            return existing;
        }
        std::shared_ptr<Object> created = std::forward<Make>(make)();
        if (created) {
            purgeExpired();
            wrappers_.insert_or_assign(handle, std::weak_ptr<Object>(created));
        }
        return created;
    }

    /// The live wrapper of `handle`, or nothing.
    std::shared_ptr<Object> find(Handle handle) const {
        auto it = wrappers_.find(handle);
        if (it == wrappers_.end()) {
            return nullptr;
        }
        return it->second.lock();
    }

    /// Forgets `handle` (after its removal was reported); wrappers still held
    /// elsewhere stay valid.
    void forget(Handle handle) { wrappers_.erase(handle); }

    void clear() { wrappers_.clear(); }

    /// Number of remembered handles whose wrapper is still alive.
    std::size_t liveCount() const {
        std::size_t count = 0;
        for (const auto& entry : wrappers_) {
            if (!entry.second.expired()) {
                ++count;
            }
        }
        return count;
    }

    /// Number of entries kept, dead ones included (bounded by purging).
    std::size_t entryCount() const { return wrappers_.size(); }

private:
    void purgeExpired() {
        for (auto it = wrappers_.begin(); it != wrappers_.end();) {
            if (it->second.expired()) {
                it = wrappers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::unordered_map<Handle, std::weak_ptr<Object>> wrappers_;
};

} // namespace chordwell::platform::mac
