// The engine when the key path has threads of its own (ports/key_path.hpp):
// the lock every operation takes, changes made on a key-path thread waiting
// for the main thread's observers, and the copy of the records that matching
// reads.
#include "engine/raw_keyboard_listener.hpp"

#include "engine/record_lookup.hpp"

#include <utility>

namespace chordwell {

std::unique_lock<std::recursive_mutex> RawKeyboardListener::lock() const {
    if (keyPath_ == nullptr) {
        return {};
    }
    return std::unique_lock<std::recursive_mutex>(keyPath_->mutex());
}

platform::Scheduler& RawKeyboardListener::keyPathScheduler() const {
    return keyPath_ != nullptr ? keyPath_->scheduler() : platform_->scheduler();
}

bool RawKeyboardListener::isRepeating() const {
    const auto guard = lock();
    return repeatTimer_ != 0;
}

void RawKeyboardListener::announceWithKeyPath(const EngineChanges& what) {
    if (keyPath_->isKeyPathThread()) {
        // A key-path thread holds the lock already.
        if ((what.bits() & keyPathInterest_.load(std::memory_order_relaxed)) == 0) {
            return; // nobody to tell (a program without a window)
        }
        // Observers live on the main thread: the change waits for it. The
        // bell rings once for a batch, when the key-path thread is done with
        // its work (its output written), not here.
        const bool wasEmpty = queuedCount_ == 0;
        if (queuedCount_ == kQueuedChanges) {
            queuedChanges_[(queuedFirst_ + queuedCount_ - 1) % kQueuedChanges] |= what;
        } else {
            queuedChanges_[(queuedFirst_ + queuedCount_) % kQueuedChanges] = what;
            ++queuedCount_;
        }
        if (wasEmpty && keyPathBell_) {
            keyPathBell_->ring();
        }
        return;
    }
    const auto guard = lock();
    // What the key path changed before comes first.
    deliverKeyPathChanges();
    willChange_.emit();
    changes_.emit(what);
}

void RawKeyboardListener::deliverKeyPathChanges() {
    const auto guard = lock();
    while (queuedCount_ > 0) {
        const EngineChanges what = queuedChanges_[queuedFirst_];
        queuedFirst_ = (queuedFirst_ + 1) % kQueuedChanges;
        --queuedCount_;
        willChange_.emit();
        changes_.emit(what);
    }
}

void RawKeyboardListener::recordsChanged() {
    rebuildIndex();
}

void RawKeyboardListener::rebuildIndex() {
    installMatching(makeMatching(selectedDeviceMapping_));
}

std::unique_ptr<RawKeyboardListener::Matching>
RawKeyboardListener::makeMatching(const std::optional<DeviceMapping>& listened) const {
    auto next = std::make_unique<Matching>();
    if (!listened) {
        return next;
    }
    const KeyboardModelId model = modelOf(*listened);
    if (keyPath_ == nullptr) {
        next->index.rebuild(allDeviceMappings_, model);
        return next;
    }
    // The records are the main thread's: the copy is made without the
    // lock, and only the swap holds up the key path.
    for (const DeviceMapping& record : allDeviceMappings_) {
        if (isRecordOfModel(record, model)) {
            next->records.push_back(record);
        }
    }
    next->index.rebuild(next->records, model);
    return next;
}

void RawKeyboardListener::installMatching(std::unique_ptr<Matching> next) {
    {
        const auto guard = lock();
        std::swap(matching_, next);
    }
    // `next` holds the old copy now; unless the caller holds the lock, it
    // goes without it.
}

} // namespace chordwell
