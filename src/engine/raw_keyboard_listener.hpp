// The keyboard engine: discovers keyboards, reads the raw input of the chosen
// one, records combinations, matches held keys against the loaded mappings,
// posts the mapped output with key repeat, swallows the system's own handling
// through the tap blocker, and manages the loaded mapping records.
//
// The user interface calls it on the main thread. The key path (HID values,
// tap events, key repeat) runs on the main thread too, unless the platform
// gives it threads of its own (ports/key_path.hpp); then every operation
// below takes the key path's lock, and observers still hear of every change
// on the main thread. The engine talks to the operating system only through
// the platform ports it was built with.
//
// One class, its members implemented by job: raw_keyboard_listener.cpp
// (construction, published fields), keyboard_discovery.cpp, listening.cpp
// (the listening lifecycle and the interception switch),
// keyboard_following.cpp (the keyboard that went away and comes back, sleep
// and wake), key_matching.cpp (held keys and matching), key_output.cpp
// (output and key repeat), mapping_records.cpp (load / save / edit /
// delete of the records), key_path_threads.cpp (the lock, changes made
// on key-path threads, the matching snapshot those threads read) and
// layout_following.cpp (the user's layout).
#pragma once

#include "engine/engine_changes.hpp"
#include "engine/keyboard_identity.hpp"
#include "engine/mapping_index.hpp"
#include "engine/observable.hpp"
#include "engine/tap_blocker_listener.hpp"
#include "model/inline_list.hpp"
#include "model/keys.hpp"
#include "model/records.hpp"
#include "ports/key_path.hpp"
#include "ports/ports.hpp"
#include "storage/storage_manager.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace chordwell {

/// What a listening period recorded: the HID usages pressed (first-press
/// order) and the signatures the tap blocker saw for them.
struct ListeningResult {
    std::vector<HidUsage> codes;
    std::vector<MacKeySignature> taps;
};

/// Sorts a handful of keys in place (held sets are small: an insertion sort
/// does it in fewer steps than a general sort, on every key).
template <typename List> void sortKeys(List& keys) {
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        const HidUsage key = *it;
        auto at = it;
        for (; at != keys.begin() && *(at - 1) > key; --at) {
            *at = *(at - 1);
        }
        *at = key;
    }
}

class RawKeyboardListener {
public:
    /// Keys held at once on the listened keyboard that are tracked; further
    /// keys are not tracked (and so cannot complete a mapping).
    static constexpr std::size_t kMaxHeldKeys = 32;
    using HeldKeys = InlineList<HidUsage, kMaxHeldKeys>;

    /// Builds the engine on `platform`. The mapping storage lives in
    /// `storageFolder` when given, otherwise in the platform's mappings
    /// folder. When the storage cannot be made the engine logs the error and
    /// runs without persistence (see hasStorage()).
    explicit RawKeyboardListener(std::shared_ptr<platform::Platform> platform,
                                 std::optional<std::filesystem::path> storageFolder = std::nullopt);
    /// Builds the engine with a ready storage (or none).
    RawKeyboardListener(std::shared_ptr<platform::Platform> platform,
                        std::optional<StorageManager> storage);
    RawKeyboardListener(const RawKeyboardListener&) = delete;
    RawKeyboardListener& operator=(const RawKeyboardListener&) = delete;
    /// Unregisters every callback and releases the HID manager.
    ~RawKeyboardListener();

    /// The process-wide engine, built on first access with the platform of
    /// the factory (the native platform unless set before).
    static RawKeyboardListener& shared();
    static void setSharedPlatformFactory(std::function<std::shared_ptr<platform::Platform>()> f);

    // ------------------------------------------------------------ published
    // Every change is announced before it takes effect, twice: first to the
    // subscribeWillChange observers (something changes), then to the
    // subscribeChanges observers with what changes (see EngineChanges). Both
    // run on the main thread and from the key path too (held keys, capture,
    // pass-throughs, recorded signatures), so observers should note the
    // change and re-read the engine later (once per turn of the event loop)
    // rather than work at once. When the key path has threads of its own,
    // its changes reach the observers a moment later, on the main thread, in
    // the order they were made (before any later change of the main
    // thread's), with the key path's lock held.
    //
    // The records (allDeviceMappings and what changes them) belong to the
    // main thread; the key path matches against a copy made whenever they
    // change. The key path's own state (capture, held keys, the blocker)
    // is read under lock() by any other thread.

    /// Holds the key path's lock while it lives; holds nothing when the key
    /// path runs on the main thread. Another thread holds it to read the key
    /// path's state (capturedInputCodes(), currentPressedCodes(), the
    /// blocker's lists); the operations below take it themselves.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> lock() const;

    const std::vector<DeviceMapping>& allDeviceMappings() const { return allDeviceMappings_; }
    /// Every change of the records below first finishes the edits still
    /// waiting for their second half (see finishPendingEdits()), so that the
    /// change applies to the whole record and no edit is lost under it.
    void setAllDeviceMappings(std::vector<DeviceMapping> records);
    /// Changes the records in place: `f(std::vector<DeviceMapping>&)`.
    template <typename F> void mutateAllDeviceMappings(F&& f) {
        finishPendingEdits();
        changeRecords(EngineChange::records, std::forward<F>(f));
    }
    /// The same, announced as a change of one model's records: `f` may change
    /// (or add) the record of `model` only.
    template <typename F> void mutateRecordsOfModel(KeyboardModelId model, F&& f) {
        finishPendingEdits();
        changeRecords(EngineChanges::recordsOf(model), std::forward<F>(f));
    }

    const std::vector<KeyboardDevice>& discoveredKeyboards() const { return discoveredKeyboards_; }

    bool isCapturingInput() const { return isCapturingInput_; }
    void setIsCapturingInput(bool value);
    bool isIntercepting() const { return isIntercepting_; }
    void setIsIntercepting(bool value);
    bool isForceBlockTap() const { return isForceBlockTap_; }
    void setIsForceBlockTap(bool value);

    const std::vector<HidUsage>& capturedInputCodes() const { return capturedInputCodes_; }
    void setCapturedInputCodes(std::vector<HidUsage> codes);

    /// Keys held now on the listened keyboard, in press order.
    std::span<const HidUsage> currentPressedCodes() const { return currentPressedCodes_.span(); }
    /// A copy taken under the blocker's lock (the tap's snapshot).
    HeldKeys currentPressedCodesSnapshot() const;

    /// The blocker of the current listening period, or nullptr.
    TapBlockerListener* tapBlockerListener() const { return tapBlockerListener_.get(); }
    std::shared_ptr<TapBlockerListener> sharedTapBlockerListener() const {
        return tapBlockerListener_;
    }

    /// The keyboard selected in the main window. Set by the interface, and
    /// by the engine when it follows its keyboard (below). Choosing another
    /// keyboard (or none) while the engine waits for one ends the waiting.
    const std::optional<KeyboardDevice>& selectedDevice() const { return selectedDevice_; }
    void setSelectedDevice(std::optional<KeyboardDevice> device);

    // ------------------------------------------------ following the keyboard
    // The engine follows the keyboard it intercepts. When that keyboard goes
    // away, interception pauses: repeat stops, the held keys are forgotten,
    // listening ends (the tap with it), while isIntercepting stays true,
    // since the user did not turn it off. The selection is then the absent
    // keyboard (a value without device handle) and the engine waits for it;
    // the keyboard that comes back (findKeyboardAgain) is selected and
    // listened to again. Turning interception off, or choosing another
    // keyboard, ends the waiting. The waiting is announced as an
    // `interception` change.

    /// The keyboard the engine waits for, or nothing.
    const std::optional<KeyboardIdentity>& awaitedKeyboard() const { return awaitedKeyboard_; }
    /// The identity of the selected keyboard (the awaited one while waiting).
    std::optional<KeyboardIdentity> selectedKeyboardIdentity() const;
    /// Selects the keyboard `identity` describes and, with `intercept`,
    /// intercepts it: at once when it is attached, else when it comes,
    /// waiting meanwhile (without `intercept` nothing is selected while it
    /// waits). What the application does at launch. Ends whatever ran.
    void followKeyboard(const KeyboardIdentity& identity, bool intercept);

    /// Before the machine sleeps: repeat stops, the held keys are forgotten
    /// and every key held at the output is released. After it woke: the
    /// keyboards are checked again and a tap the system turned off is turned
    /// on. Called through the platform's Power port.
    void systemWillSleep();
    void systemDidWake();

    /// Told before any published change; says nothing about what changes.
    [[nodiscard]] Subscription subscribeWillChange(std::function<void()> observer) {
        keyPathInterest_.fetch_or(~std::uint32_t{0}, std::memory_order_relaxed);
        return willChange_.subscribe(std::move(observer));
    }
    /// Told before each published change, with what changes; right after the
    /// subscribeWillChange observers of the same change. One announcement
    /// holds one kind; a view that coalesces unites them with `|=`. With
    /// `interest`, only changes of those kinds are told: a program that
    /// cares for none of the key path's kinds (held keys, pass-throughs) is
    /// then not woken on its main thread for every key.
    [[nodiscard]] Subscription
    subscribeChanges(std::function<void(const EngineChanges&)> observer,
                     std::optional<EngineChanges> interest = std::nullopt) {
        if (!interest) {
            keyPathInterest_.fetch_or(~std::uint32_t{0}, std::memory_order_relaxed);
            return changes_.subscribe(std::move(observer));
        }
        const std::uint32_t bits = interest->bits();
        keyPathInterest_.fetch_or(bits, std::memory_order_relaxed);
        return changes_.subscribe([bits, f = std::move(observer)](const EngineChanges& what) {
            if ((what.bits() & bits) != 0) {
                f(what);
            }
        });
    }

    // -------------------------------------------------------- other state

    bool hasStorage() const { return storage_.has_value(); }
    /// Why the storage could not be made ("" when it exists).
    const std::string& storageError() const { return storageError_; }
    const std::optional<StorageManager>& storage() const { return storage_; }

    const std::set<std::int64_t>& seenKeyboardLocationIDs() const {
        return seenKeyboardLocationIDs_;
    }
    const HidDeviceRef& selectedDeviceIOHIDDevice() const { return selectedDeviceIOHIDDevice_; }
    const std::optional<DeviceMapping>& selectedDeviceMapping() const {
        return selectedDeviceMapping_;
    }
    /// The sorted combination of the running repeat, if any.
    std::optional<std::vector<HidUsage>> repeatingCombo() const;
    bool isRepeating() const;

    platform::Platform& platform() const { return *platform_; }
    /// Where the key path's timers and deferred work run: the key path's
    /// scheduler, or the main one when the key path has no threads.
    platform::Scheduler& keyPathScheduler() const;

    // ----------------------------------------------------- keyboard layout
    // Built-in outputs and catalog shortcuts mean characters; they are
    // resolved through the user's layout (model/keyboard_layout.hpp), which
    // the engine follows through the platform's KeyboardLayout port.

    /// The user's layout; the US one where the platform cannot tell.
    const std::shared_ptr<const KeyLayout>& keyboardLayout() const { return layout_; }
    /// Keys stored as US positions (a catalog shortcut) as the keys that type
    /// the same characters on the user's layout.
    std::vector<MacKeySignature>
    resolvedForKeyboardLayout(const std::vector<MacKeySignature>& keys) const;
    /// The key a built-in output posts on the user's layout: worked out when
    /// the layout changes, so that posting only reads it.
    std::optional<platform::KeyStroke> builtInStroke(OutputBehavior::Kind kind) const;

    // ----------------------------------------------------------- listening

    /// Begins reading `device` (and a capture); makes a fresh blocker when
    /// intercepting or recording.
    void startListening(const KeyboardDevice& device);
    /// Stops reading; returns what was captured and what the blocker saw.
    ListeningResult stopListening();
    void stopIntercepting();

    /// The mapping whose key set equals `codes` (any order) on the listened
    /// keyboard model; first record and first mapping win. nullptr when not
    /// listening or nothing matches.
    const KeyMapping* findMapping(std::span<const HidUsage> codes) const;

    // ------------------------------------------------------- port callbacks

    static void handleInputValue(void* context, const platform::HidDevice& sender,
                                 const platform::HidInputValue& value);
    static void handleDeviceMatched(void* context, int result, const HidDeviceRef& device);
    static void handleDeviceRemoved(void* context, int result, const HidDeviceRef& device);
    static void handlePowerEvent(void* context, platform::Power::Event event);

    // ---------------------------------------------------------- output side

    void triggerOutput(const OutputBehavior& behavior);
    /// Registers a one-shot pass-through with the blocker; false when there
    /// is no blocker or its tap is not live (nothing would consume it).
    bool allowThrough(std::int64_t keyCode, EventFlags flags);
    /// Posts key-down and key-up; returns whether the key-down was posted.
    bool postKeyStroke(std::int64_t keyCode, EventFlags flags);
    void startRepeat(std::span<const HidUsage> combination, const OutputBehavior& behavior);
    void stopRepeat();

    // -------------------------------------------------- mapping management

    void loadMappings(const KeyboardDevice& keyboard);
    void saveMappings(const KeyboardDevice& keyboard);
    void editMapping(const KeyboardDevice& keyboard, const DeviceMapping& templ,
                     const KeyMapping& mapping);
    void deleteMapping(const KeyboardDevice& keyboard, const Uuid& recordId,
                       const KeyMapping& mapping);
    void clearAllMappings(const KeyboardDevice& keyboard, const Uuid& recordId);

    /// Delay of the second half of editMapping.
    static constexpr std::chrono::milliseconds kEditRestoreDelay{100};
    /// Runs the second half of every edit still waiting for it, now: the
    /// edited record gets its mappings back (with the edit) and is saved.
    /// Every change of the records does this first; a caller that reads the
    /// records in order to change them (find by name, then add or edit)
    /// calls it before reading, and the application before it quits.
    void finishPendingEdits();
    /// Whether an edit waits for its second half (its record shows no
    /// mappings until then).
    bool hasPendingEdit() const { return !pendingEdits_.empty(); }

private:
    friend class TapBlockerListener;

    void announce(const EngineChanges& what) {
        if (keyPath_ != nullptr) {
            announceWithKeyPath(what);
            return;
        }
        willChange_.emit();
        changes_.emit(what);
    }
    void announceWithKeyPath(const EngineChanges& what);
    /// Tells the observers, on the main thread, of the changes the key path
    /// made since the last time, in order.
    void deliverKeyPathChanges();
    void setupHIDManager();
    void attachKeyPath();
    void followKeyboardLayout();
    void keyboardLayoutChanged();
    void setTapBlockerListener(std::shared_ptr<TapBlockerListener> blocker);
    void recordsChanged();
    void rebuildIndex();
    void onDeviceMatched(const HidDeviceRef& device);
    void onDeviceRemoved(const HidDeviceRef& device);
    void onInputValue(const platform::HidDevice& sender, const platform::HidInputValue& value);
    void fireRepeat(std::uint64_t generation);
    void clearPressedCodes();
    template <typename F> void changeRecords(const EngineChanges& what, F&& f) {
        announce(what);
        std::forward<F>(f)(allDeviceMappings_);
        recordsChanged();
    }
    struct PendingEdit;
    /// The second half of one edit; `announced` is false only while the
    /// engine goes away (nobody may be told then).
    void completeEdit(PendingEdit edit, bool announced);
    /// saveMappings without finishing pending edits first.
    void saveRecordOf(const KeyboardDevice& keyboard);
    void selectDevice(std::optional<KeyboardDevice> device);
    void pauseForAbsentKeyboard(const HidDeviceRef& gone);
    void resumeWithKeyboard(const KeyboardDevice& keyboard);
    void keyboardArrived(const KeyboardDevice& keyboard);
    void endWaiting();
    void loadMappingsIfAbsent(const KeyboardDevice& keyboard);

    std::shared_ptr<platform::Platform> platform_;

    // Published fields.
    std::vector<DeviceMapping> allDeviceMappings_;
    std::vector<KeyboardDevice> discoveredKeyboards_;
    bool isCapturingInput_ = false;
    bool isIntercepting_ = false;
    bool isForceBlockTap_ = false;
    std::vector<HidUsage> capturedInputCodes_;
    HeldKeys currentPressedCodes_;
    std::shared_ptr<TapBlockerListener> tapBlockerListener_;
    std::optional<KeyboardDevice> selectedDevice_;

    Subscription blockerCancellable_;
    const TapBlockerListener* blockerSubscribedTo_ = nullptr;
    std::set<std::int64_t> seenKeyboardLocationIDs_;
    HidDeviceRef selectedDeviceIOHIDDevice_;
    std::optional<DeviceMapping> selectedDeviceMapping_;
    // The listened keyboard as it was when listening began (its location
    // can no longer be read once it is gone), and the one awaited.
    std::optional<KeyboardIdentity> listenedIdentity_;
    std::optional<KeyboardIdentity> awaitedKeyboard_;
    std::unique_ptr<platform::HidManager> manager_;
    std::optional<StorageManager> storage_;
    std::string storageError_;

    // Key repeat. The behaviour is kept here rather than in the timer's
    // closure so that arming a repeat copies into reused storage.
    platform::Scheduler::TimerId repeatTimer_ = 0;
    HeldKeys repeatingCombo_;
    OutputBehavior repeatingBehavior_;
    std::uint64_t repeatGeneration_ = 0;
    OutputBehavior matchedBehavior_; // the behaviour of the last match
    bool isRepeatFiring_ = false;    // repeats do not log again what the key-down logged

    // The user's layout and what the built-in outputs post on it (Open
    // Search, Copy, Paste), replaced together on the main thread when the
    // layout changes.
    std::shared_ptr<const KeyLayout> layout_;
    std::array<std::optional<platform::KeyStroke>, 3> builtInStrokes_{};

    // What matching reads. Without key-path threads the index points into
    // allDeviceMappings_; with them into a copy of the listened model's
    // records, made on the main thread and swapped in under the lock, so
    // that the main thread changes its records without holding up keys.
    struct Matching {
        std::vector<DeviceMapping> records; // with key-path threads only
        MappingIndex index;
    };
    std::unique_ptr<Matching> matching_ = std::make_unique<Matching>();
    /// What matching needs for the `listened` model (none: nothing matches).
    std::unique_ptr<Matching> makeMatching(const std::optional<DeviceMapping>& listened) const;
    void installMatching(std::unique_ptr<Matching> next);

    // Key-path threads (null: none). Their changes wait here, in order,
    // for the main thread; a full queue merges into its last entry.
    platform::KeyPath* keyPath_ = nullptr;
    std::unique_ptr<platform::MainThreadBell> keyPathBell_;
    static constexpr std::size_t kQueuedChanges = 256;
    std::array<EngineChanges, kQueuedChanges> queuedChanges_{};
    // The kinds some observer was ever told of (it only grows): the key
    // path queues nothing else. Atomic, since observers subscribe on the
    // main thread without the lock; the signals' own lists are the main
    // thread's.
    std::atomic<std::uint32_t> keyPathInterest_{0};
    std::size_t queuedCount_ = 0;
    std::size_t queuedFirst_ = 0;
    // Edits whose second half has not run yet: the record's mappings as they
    // were (set aside while the record shows none), the changed mapping, and
    // the keyboard to save for.
    struct PendingEdit {
        std::uint64_t serial = 0;
        platform::Scheduler::TimerId timer = 0;
        Uuid recordId;
        std::vector<KeyMapping> setAside;
        KeyMapping edited;
        KeyboardDevice keyboard;
    };
    std::vector<PendingEdit> pendingEdits_;
    std::uint64_t nextEditSerial_ = 1;

    WillChangeSignal willChange_;
    ValueSignal<EngineChanges> changes_;
    // Expires with the engine: queued main-thread work must not touch it then.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

/// The routine behind every interception switch: with no selected keyboard
/// nothing happens; while intercepting (or waiting for the keyboard) it
/// stops; otherwise it logs, sets isIntercepting and starts listening to the
/// selected keyboard, or waits for it when it is not attached.
void toggleInterception(RawKeyboardListener& engine);

} // namespace chordwell
