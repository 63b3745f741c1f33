// The whole application with many mappings and many keyboards: the main
// window (Qt, offscreen) on the simulated platform, driven by the Qt
// scheduler and QSettings preferences as the real application is.
//
// Without arguments it runs one child process per scenario (so that each
// peak memory figure is its own) and prints two tables:
//   bench_app_scale                   every scenario
//   bench_app_scale --mappings N      one keyboard with N stored mappings
//   bench_app_scale --keyboards K     K keyboards attached one after another
//   bench_app_scale --key-delay N     how long keys wait while the window
//                                     works, with N mappings per keyboard
//   bench_app_scale --key-delay-main N  the same with the keys served on the
//                                     main thread (the simulate mode's way)
//
// Times are wall-clock unless called CPU (the main thread's CPU time).
#include "app/help/help_view.hpp"
#include "app/help/help_window.hpp"
#include "app/mappings/keyboard_list.hpp"
#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/mappings/mapping_files.hpp"
#include "app/mappings/mapping_table.hpp"
#include "app/settings/settings_view.hpp"
#include "app/settings/settings_window.hpp"
#include "app/shell/engine_bridge.hpp"
#include "app/shell/main_window.hpp"
#include "app/shell/platform_composition.hpp"
#include "engine/raw_keyboard_listener.hpp"
#include "logging/log.hpp"
#include "model/json_codec.hpp"
#include "platform/memory/memory_ports.hpp"
#include "platform/qt/qt_desktop.hpp"
#include "platform/qt/qt_fd_watcher.hpp"
#include "platform/qt/qt_preferences.hpp"
#include "platform/qt/qt_scheduler.hpp"
#include "platform/sim/sim_world.hpp"
#include "storage/settings.hpp"
#include "storage/storage_manager.hpp"

#include "support/allocation_counter.hpp"
#include "support/key_path_sim_platform.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

namespace chordwell {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kVendor = 0x05AC;
constexpr std::int64_t kProduct = 0x024F;

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// "VmRSS" or "VmHWM" (the peak) of this process, in MB.
double memoryMb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream in(line.substr(field.size() + 1));
            double kb = 0;
            in >> kb;
            return kb / 1024.0;
        }
    }
    return -1;
}

// `count` mappings with distinct two-key sets, names and a mix of outputs,
// as a user's file would hold them; Control+A to "Copy" is among them.
std::vector<KeyMapping> makeMappings(int count, int salt) {
    std::vector<KeyMapping> out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        KeyMapping m;
        m.name = "Mapping " + std::to_string(salt) + "-" + std::to_string(i);
        m.inputKeyCodes = {static_cast<HidUsage>(0xE1 + i % 3),
                           static_cast<HidUsage>(0x100 + salt * 20000 + i)};
        m.inputTapCodes = {MacKeySignature{56, 0}, MacKeySignature{i % 50, 0}};
        switch (i % 3) {
        case 0:
            m.outputBehavior = OutputBehavior::pasteOperation();
            break;
        case 1:
            m.outputBehavior = OutputBehavior::customKeySequence(
                "Sequence " + std::to_string(i),
                {MacKeySignature{i % 40, kMaskCommand}, MacKeySignature{(i + 1) % 40, 0}});
            break;
        default:
            m.outputBehavior = OutputBehavior::openSearchBar();
            break;
        }
        out.push_back(std::move(m));
    }
    if (salt == 0 && count > 0) {
        KeyMapping& copy = out[static_cast<std::size_t>(count / 2)];
        copy.name = "Copy";
        copy.inputKeyCodes = {0xE0, 0x04};
        copy.inputTapCodes = {};
        copy.outputBehavior = OutputBehavior::copyOperation();
    }
    return out;
}

// The application's parts, as ChordwellApp builds them in simulate mode.
// With `keyPathThread` the simulated keyboards and taps live on a key-path
// thread of their own, as the Linux platform's input does in the
// application (the simulate mode itself keeps everything on the main
// thread).
struct App {
    explicit App(const std::filesystem::path& root, bool keyPathThread = false) {
        logging::configure(std::make_shared<platform::NullSystemLog>(), std::nullopt);
        scheduler = std::make_shared<platform::qt::QtScheduler>();
        preferences = std::make_shared<platform::qt::QtPreferences>(std::make_unique<QSettings>(
            QString::fromStdString((root / "preferences.ini").string()), QSettings::IniFormat));
        if (keyPathThread) {
            mainLoop = std::make_shared<platform::qt::QtFdWatcher>();
            threaded = std::make_shared<testsupport::KeyPathSimPlatform>(
                scheduler, mainLoop, std::optional(root), preferences);
            composition.simWorld = threaded->sharedWorld();
            composition.platform = threaded;
        } else {
            composition = app::composeSimulatedPlatform(scheduler, preferences, false);
        }
        engine = std::make_unique<RawKeyboardListener>(composition.platform, root / "Mappings");
        model = std::make_unique<app::KeyboardMappingModel>(*engine, *preferences);
        bridge = std::make_unique<app::EngineBridge>(*engine);
        window = std::make_unique<app::MainWindow>(*model, *bridge, presence, desktop,
                                                   app::MainWindow::Actions{});
        window->show();
        settle();
    }
    ~App() {
        window.reset();
        bridge.reset();
        model.reset();
        engine.reset();
        logging::configure(nullptr, std::nullopt);
    }

    app::KeyboardMappingView& view() const { return *window->mappingView(); }
    app::MappingTableModel& table() const { return *view().tableModel(); }

    void settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    }
    // Turns the event loop until `done` (bounded, so a fault cannot hang).
    // It sleeps while nothing is due, as the application's own loop does:
    // a spinning wait would count its own CPU time into whatever runs after
    // a delay (the second half of an edit). The ticker bounds each sleep.
    bool turnUntil(const std::function<bool()>& done, int boundMs = 20000) {
        const auto start = Clock::now();
        QTimer ticker;
        ticker.start(10);
        while (!done()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (msSince(start) > boundMs) {
                return false;
            }
        }
        return true;
    }
    std::shared_ptr<platform::sim::SimKeyboard> attach(const std::string& name, std::int64_t vendor,
                                                       std::int64_t product,
                                                       std::int64_t location) {
        const auto keyPath = engine->lock(); // the world may be the key path's
        platform::sim::SimKeyboardProperties p;
        p.product = name;
        p.vendorID = vendor;
        p.productID = product;
        p.locationID = location;
        return composition.simWorld->attachKeyboard(p);
    }

    std::shared_ptr<platform::qt::QtScheduler> scheduler;
    std::shared_ptr<platform::qt::QtPreferences> preferences;
    std::shared_ptr<platform::qt::QtFdWatcher> mainLoop; // rings the main thread's bells
    std::shared_ptr<testsupport::KeyPathSimPlatform> threaded;
    app::Composition composition;
    std::unique_ptr<RawKeyboardListener> engine;
    std::unique_ptr<app::KeyboardMappingModel> model;
    std::unique_ptr<app::EngineBridge> bridge;
    platform::qt::NoopAppPresence presence;
    platform::qt::QtDesktop desktop;
    std::unique_ptr<app::MainWindow> window;
};

std::filesystem::path makeRoot() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "chordwell-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return pattern;
}

using Results = std::vector<std::pair<std::string, double>>;

void print(const Results& results) {
    for (const auto& [key, value] : results) {
        std::printf("%s=%.4f\n", key.c_str(), value);
    }
}

// One key press of A while Control is held and Control+A is mapped: the
// HID value, the match, the output, the repeat armed; then the release.
// `turn`: the event loop turns after each key event (the views' update).
double keyEventMicros(App& a, platform::sim::SimKeyboard& keyboard, int presses, bool turn) {
    platform::sim::SimWorld& world = *a.composition.simWorld;
    const double cpu0 = threadCpuMs();
    for (int i = 0; i < presses; ++i) {
        world.keyDown(keyboard, 0x04);
        if (turn) {
            QCoreApplication::processEvents();
        }
        world.keyUp(keyboard, 0x04);
        if (turn) {
            QCoreApplication::processEvents();
        }
    }
    return (threadCpuMs() - cpu0) * 1000.0 / (2.0 * presses);
}

int runMappings(int count) {
    const std::filesystem::path root = makeRoot();
    Results r;
    r.emplace_back("mappings", count);
    {
        DeviceMapping record;
        record.productName = "Magic Keyboard";
        record.vendorID = kVendor;
        record.productID = kProduct;
        record.mappings = makeMappings(count, 0);
        std::filesystem::create_directories(root / "Mappings");
        std::ofstream(root / "Mappings" / StorageManager::fileName(kVendor, kProduct))
            << encodeDeviceMapping(record);
    }
    App a(root);
    auto keyboard = a.attach("Magic Keyboard", kVendor, kProduct, 1);
    a.turnUntil([&] { return a.view().keyboardListModel()->rowCount() == 1; });
    r.emplace_back("rss_before_select_mb", memoryMb("VmRSS"));

    // Select the keyboard as a click in the list does, until the table is
    // drawn with its rows.
    auto start = Clock::now();
    double cpu = threadCpuMs();
    a.view().keyboardList()->selectionModel()->select(a.view().keyboardListModel()->index(0),
                                                      QItemSelectionModel::ClearAndSelect);
    a.turnUntil([&] { return a.table().rowCount() == count; });
    a.window->repaint();
    r.emplace_back("select_ms", msSince(start));
    r.emplace_back("select_cpu_ms", threadCpuMs() - cpu);
    a.settle();
    r.emplace_back("rss_shown_mb", memoryMb("VmRSS"));
    r.emplace_back("peak_rss_shown_mb", memoryMb("VmHWM"));

    // Key events while intercepting, Control held.
    a.model->toggleInterception(true);
    a.settle();
    a.composition.simWorld->keyDown(*keyboard, 0xE0);
    a.settle();
    keyEventMicros(a, *keyboard, 300, true); // warm-up
    r.emplace_back("key_visible_us", keyEventMicros(a, *keyboard, 3000, true));
    a.window->hide();
    a.settle();
    keyEventMicros(a, *keyboard, 300, true);
    r.emplace_back("key_hidden_us", keyEventMicros(a, *keyboard, 3000, true));
    a.window->show();
    a.settle();
    {
        // Heap allocations on the key path itself (engine, Qt scheduler,
        // QSettings preferences), and over whole turns of the loop.
        keyEventMicros(a, *keyboard, 300, false);
        testsupport::AllocationCounter counter;
        keyEventMicros(a, *keyboard, 1000, false);
        r.emplace_back("allocs_per_key_event", static_cast<double>(counter.stop()) / 2000.0);
        testsupport::AllocationCounter turns;
        keyEventMicros(a, *keyboard, 1000, true);
        r.emplace_back("allocs_per_key_event_with_turns",
                       static_cast<double>(turns.stop()) / 2000.0);
    }
    r.emplace_back("timer_slots", static_cast<double>(a.scheduler->timerSlotCount()));
    a.composition.simWorld->keyUp(*keyboard, 0xE0);
    a.model->toggleInterception(false);
    a.settle();

    // Add one mapping through the editor (file write included).
    a.model->setMappingName("Added");
    a.model->capturedInputCodesFrom = {0xE2, 0x2B};
    a.model->capturedCustomCodesFrom = {MacKeySignature{58, 0}, MacKeySignature{48, 0}};
    start = Clock::now();
    cpu = threadCpuMs();
    a.model->saveMapping();
    a.turnUntil([&] { return a.table().rowCount() == count + 1; });
    a.window->repaint();
    r.emplace_back("add_ms", msSince(start));
    r.emplace_back("add_cpu_ms", threadCpuMs() - cpu);

    // Edit the middle row: the first half empties the list, the second
    // half (a timer later) brings it back changed and writes the file.
    const KeyMapping* middle = a.table().mappingAt(a.table().rowCount() / 2);
    a.model->startEditing(*middle);
    a.model->setMappingName("Edited");
    start = Clock::now();
    cpu = threadCpuMs();
    a.model->saveMapping();
    a.turnUntil([&] { return a.table().rowCount() == 0; });
    a.window->repaint();
    r.emplace_back("edit_first_half_ms", msSince(start));
    r.emplace_back("edit_first_half_cpu_ms", threadCpuMs() - cpu);
    cpu = threadCpuMs();
    a.turnUntil([&] { return a.table().rowCount() == count + 1; });
    a.window->repaint();
    r.emplace_back("edit_second_half_cpu_ms", threadCpuMs() - cpu);

    // Delete the middle row without the confirmation sheet.
    settings::setSuppressDeleteConfirmation(*a.preferences, true);
    const KeyMapping doomed = *a.table().mappingAt(a.table().rowCount() / 2);
    const DeviceMapping* record = a.model->selectedRecord();
    start = Clock::now();
    cpu = threadCpuMs();
    a.model->requestDelete(doomed, *a.engine->selectedDevice(), record->id);
    a.turnUntil([&] { return a.table().rowCount() == count; });
    a.window->repaint();
    r.emplace_back("delete_ms", msSince(start));
    r.emplace_back("delete_cpu_ms", threadCpuMs() - cpu);

    // Import 10,000 new mappings with "Append new ones to existing mappings".
    const std::vector<KeyMapping> imported = makeMappings(10000, 1);
    start = Clock::now();
    cpu = threadCpuMs();
    a.model->importMappings(imported, false);
    a.model->appendImportedMappings();
    a.turnUntil([&] { return a.table().rowCount() == count + 10000; });
    a.window->repaint();
    r.emplace_back("import_10000_ms", msSince(start));
    r.emplace_back("import_10000_cpu_ms", threadCpuMs() - cpu);
    r.emplace_back("peak_rss_end_mb", memoryMb("VmHWM"));
    print(r);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}

int runKeyboards(int count) {
    const std::filesystem::path root = makeRoot();
    Results r;
    r.emplace_back("keyboards", count);
    {
        App a(root);
        auto* list = a.view().keyboardListModel();
        std::vector<std::shared_ptr<platform::sim::SimKeyboard>> attached;
        const double cpu = threadCpuMs();
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i) {
            // Names in no order, some equal but for case.
            const int n = (i * 7919) % count;
            attached.push_back(a.attach((i % 2 ? "dock keyboard " : "Dock Keyboard ") +
                                            std::to_string(n % (count / 2 + 1)),
                                        0x1000 + i, i, 10 + i));
            a.turnUntil([&] { return list->rowCount() == i + 1; });
        }
        r.emplace_back("attach_cpu_ms", threadCpuMs() - cpu);
        r.emplace_back("attach_ms", msSince(start));
        const std::vector<KeyboardDevice> expected =
            app::sortedKeyboards(a.engine->discoveredKeyboards());
        bool sorted = list->rowCount() == static_cast<int>(expected.size());
        for (std::size_t i = 0; sorted && i < expected.size(); ++i) {
            sorted = list->keyboardAt(static_cast<int>(i))->id == expected[i].id;
        }
        r.emplace_back("sorted_and_complete", sorted ? 1 : 0);
    }
    print(r);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}

// ------------------------------------------------------------- key delay

// Keys typed on the intercepted keyboard at random moments, independent of
// what the window does, as a typist's keys are: a feeder thread makes each
// key available (its time stamp into a queue, then a byte on an eventfd, as
// the kernel makes an evdev node readable), and the thread that serves the
// keyboard's input picks it up, has the engine decide it (match, output,
// tap decision) and notes how long the key waited. The delay is what the
// key suffers from whatever else that thread was doing.
class KeyFeed {
public:
    static constexpr int kActions = 16; // the last one counts for nothing

    /// `type`: one key change on the intercepted keyboard, run on the
    /// serving thread.
    KeyFeed(platform::FdWatcher& watcher, std::function<void(HidUsage, bool)> type)
        : watcher_(watcher), type_(std::move(type)), fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        for (auto& list : samples_) {
            list.reserve(200000);
        }
        watch_ = watcher_.watchReadable(fd_, [this] { serve(); });
    }
    ~KeyFeed() {
        stop();
        watcher_.unwatch(watch_);
        ::close(fd_);
    }
    KeyFeed(const KeyFeed&) = delete;
    KeyFeed& operator=(const KeyFeed&) = delete;

    void start() {
        running_ = true;
        feeder_ = std::thread([this] { feed(); });
    }
    /// Stops the feeder and waits (turning `turn`) until every key it made
    /// available has been served.
    void stop(const std::function<void()>& turn = {}) {
        if (!running_.exchange(false)) {
            return;
        }
        feeder_.join();
        while (served_.load() != made_.load()) {
            if (turn) {
                turn();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    /// Keys made available from now on count for `action`.
    void setAction(int action) { action_ = action; }
    /// Delays of `action` in microseconds (read after stop()).
    const std::vector<double>& samples(int action) const {
        return samples_[static_cast<std::size_t>(action)];
    }

private:
    struct Entry {
        std::int64_t madeNs = 0;
        int action = 0;
    };
    static constexpr std::size_t kRing = 1 << 16;

    static std::int64_t nowNs() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    }

    void feed() {
        std::mt19937_64 random(12345);
        // About 2,000 keys a second, at random moments (exponential gaps).
        std::exponential_distribution<double> gapUs(1.0 / 500.0);
        while (running_.load()) {
            const auto gap = std::chrono::microseconds(static_cast<long>(gapUs(random)) + 20);
            std::this_thread::sleep_for(gap);
            const std::uint64_t n = made_.load();
            if (n - served_.load() >= kRing) {
                continue; // the server is far behind: this key is not typed
            }
            ring_[n % kRing] = Entry{nowNs(), action_.load()};
            made_.store(n + 1);
            const std::uint64_t one = 1;
            (void)!::write(fd_, &one, sizeof one);
        }
    }

    void serve() {
        std::uint64_t count = 0;
        (void)!::read(fd_, &count, sizeof count);
        // Control stays held; A (mapped to Copy) and B (not mapped) go down
        // and up in turn.
        static constexpr std::array<std::pair<HidUsage, bool>, 4> kKeys = {
            {{0x04, true}, {0x04, false}, {0x05, true}, {0x05, false}}};
        for (std::uint64_t n = served_.load(); n != made_.load(); ++n) {
            const Entry entry = ring_[n % kRing];
            const auto& [usage, down] = kKeys[n % kKeys.size()];
            type_(usage, down);
            samples_[static_cast<std::size_t>(entry.action)].push_back(
                static_cast<double>(nowNs() - entry.madeNs) / 1000.0);
            served_.store(n + 1);
        }
    }

    platform::FdWatcher& watcher_;
    std::function<void(HidUsage, bool)> type_;
    int fd_ = -1;
    platform::FdWatcher::WatchId watch_ = 0;
    std::thread feeder_;
    std::atomic<bool> running_{false};
    std::atomic<int> action_{0};
    std::atomic<std::uint64_t> made_{0};
    std::atomic<std::uint64_t> served_{0};
    std::array<Entry, kRing> ring_{};
    std::array<std::vector<double>, kActions> samples_;
};

// The actions of the window during which keys are typed, in the order run.
const std::vector<std::pair<std::string, std::string>>& keyDelayActions() {
    static const std::vector<std::pair<std::string, std::string>> actions = {
        {"idle", "nothing (the window idle)"},
        {"select", "select a keyboard (its file loaded, table drawn)"},
        {"add", "add a mapping"},
        {"edit", "edit a mapping (both halves)"},
        {"delete", "delete a mapping"},
        {"import", "import a file, replacing"},
        {"export", "export"},
        {"settings", "open Settings"},
        {"help", "open Help"},
        {"scroll", "scroll the mapping list"},
        {"resize", "resize the window"},
    };
    return actions;
}

int runKeyDelay(int count, bool keyPathThread) {
    const std::filesystem::path root = makeRoot();
    const auto storeRecord = [&](const std::filesystem::path& file, const std::string& name,
                                 std::int64_t product, std::vector<KeyMapping> mappings) {
        DeviceMapping record;
        record.productName = name;
        record.vendorID = kVendor;
        record.productID = product;
        record.mappings = std::move(mappings);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << encodeDeviceMapping(record);
    };
    // Two keyboard models with `count` mappings each; the import file holds
    // the first one's mappings again (so that Control+A stays mapped).
    storeRecord(root / "Mappings" / StorageManager::fileName(kVendor, kProduct), "Magic Keyboard",
                kProduct, makeMappings(count, 0));
    storeRecord(root / "Mappings" / StorageManager::fileName(kVendor, kProduct + 1),
                "Travel Keyboard", kProduct + 1, makeMappings(count, 2));
    storeRecord(root / "import.json", "Magic Keyboard", kProduct, makeMappings(count, 0));

    App a(root, keyPathThread);
    settings::setSuppressDeleteConfirmation(*a.preferences, true);
    auto magic = a.attach("Magic Keyboard", kVendor, kProduct, 1);
    auto travel = a.attach("Travel Keyboard", kVendor, kProduct + 1, 2);
    a.turnUntil([&] { return a.view().keyboardListModel()->rowCount() == 2; });
    const auto deviceOf = [&](std::int64_t product) {
        for (const KeyboardDevice& d : a.engine->discoveredKeyboards()) {
            if (d.productID == product) {
                return d;
            }
        }
        std::fprintf(stderr, "keyboard %lld not found\n", static_cast<long long>(product));
        std::exit(1);
    };
    const KeyboardDevice deviceA = deviceOf(kProduct);
    const KeyboardDevice deviceB = deviceOf(kProduct + 1);
    // The table shows the record of `product` with its `rows` rows.
    const auto shows = [&](std::int64_t product, int rows) {
        const DeviceMapping* record = a.model->selectedRecord();
        return record != nullptr && record->productID == product && a.table().rowCount() == rows &&
               (rows == 0 || a.table().mappingAt(0)->id == record->mappings.front().id);
    };
    const auto select = [&](const KeyboardDevice& device) {
        a.model->selectKeyboard(device);
        a.turnUntil([&] {
            const DeviceMapping* record = a.model->selectedRecord();
            return record != nullptr &&
                   shows(device.productID, static_cast<int>(record->mappings.size()));
        });
        a.window->repaint();
    };
    select(deviceA);
    a.model->toggleInterception(true);
    a.settle();
    platform::sim::SimWorld& world = *a.composition.simWorld;
    {
        const auto keyPath = a.engine->lock();
        world.keyDown(*magic, 0xE0); // Control, held throughout
    }

    // The keyboard's input is served where the platform serves it: on the
    // key path's loop when it has one, else on the main thread's.
    platform::qt::QtFdWatcher mainLoop;
    platform::FdWatcher& inputLoop =
        a.threaded ? static_cast<platform::FdWatcher&>(*a.threaded->keyLoop().loop())
                   : static_cast<platform::FdWatcher&>(mainLoop);
    std::optional<KeyFeed> feedStorage;
    {
        const auto guard = a.engine->lock();
        feedStorage.emplace(inputLoop, [&](HidUsage usage, bool down) {
            if (down) {
                world.keyDown(*magic, usage);
            } else {
                world.keyUp(*magic, usage);
            }
        });
    }
    KeyFeed& feed = *feedStorage;

    const auto& actions = keyDelayActions();
    const auto indexOf = [&](const std::string& key) {
        for (std::size_t i = 0; i < actions.size(); ++i) {
            if (actions[i].first == key) {
                return static_cast<int>(i);
            }
        }
        return 0;
    };
    // Runs `step` (with its repetition number) at least 6 times and for at
    // least a second, while keys are typed. `restore` puts back what a step
    // took away; keys that arrive meanwhile count for no action.
    const int unattributed = static_cast<int>(actions.size());
    const auto during = [&](const std::string& key, const std::function<void(int)>& step,
                            const std::function<void(int)>& restore = {}) {
        const auto start = Clock::now();
        for (int rep = 0; rep < 400 && (rep < 6 || msSince(start) < 1000); ++rep) {
            feed.setAction(indexOf(key));
            step(rep);
            if (restore) {
                feed.setAction(unattributed);
                restore(rep);
            }
        }
        feed.setAction(unattributed);
    };
    const auto currentRows = [&] {
        const DeviceMapping* record = a.model->selectedRecord();
        return record != nullptr ? static_cast<int>(record->mappings.size()) : 0;
    };

    feed.start();
    during("idle", [&](int) { a.turnUntil([&] { return false; }, 200); });
    during("select", [&](int) {
        select(deviceB);
        select(deviceA);
    });
    int added = 0;
    const auto add = [&](int) {
        const int before = currentRows();
        a.model->setMappingName("Added " + std::to_string(added));
        a.model->capturedInputCodesFrom = {0xE2, static_cast<HidUsage>(0x200 + added % 0x1000)};
        a.model->capturedCustomCodesFrom = {MacKeySignature{58, 0}, MacKeySignature{48, 0}};
        ++added;
        a.model->saveMapping();
        a.turnUntil([&] { return a.table().rowCount() == before + 1; });
        a.window->repaint();
    };
    during("add", add);
    during("edit", [&](int rep) {
        const int before = currentRows();
        a.model->startEditing(*a.table().mappingAt(before / 2));
        a.model->setMappingName("Edited " + std::to_string(rep));
        a.model->saveMapping();
        a.turnUntil([&] { return a.table().rowCount() == 0; });
        a.window->repaint();
        a.turnUntil([&] { return a.table().rowCount() == before; });
        a.window->repaint();
    });
    during(
        "delete",
        [&](int) {
            const int before = currentRows();
            const KeyMapping doomed = *a.table().mappingAt(before / 2);
            a.model->requestDelete(doomed, deviceA, a.model->selectedRecord()->id);
            a.turnUntil([&] { return a.table().rowCount() == before - 1; });
            a.window->repaint();
        },
        add);
    during("import", [&](int) {
        app::ImportResult imported = app::readImportFile(root / "import.json");
        if (!imported.mappings) {
            std::fprintf(stderr, "import failed: %s\n", imported.error.c_str());
            std::exit(1);
        }
        const int rows = static_cast<int>(imported.mappings->size());
        a.model->importMappings(*imported.mappings, false);
        // The "Import Options" dialog comes up; the user replaces.
        QMessageBox* options = nullptr;
        a.turnUntil([&] {
            options = a.view().findChild<QMessageBox*>(QStringLiteral("importOptions"));
            return options != nullptr && options->isVisible();
        });
        bool finished = false;
        QObject::connect(options, &QDialog::finished, [&finished] { finished = true; });
        for (QAbstractButton* button : options->buttons()) {
            if (button->text().startsWith(QStringLiteral("Replace"))) {
                button->click();
            }
        }
        a.turnUntil([&] { return finished; });
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        a.turnUntil([&] { return shows(kProduct, rows); });
        a.window->repaint();
    });
    during("export", [&](int) {
        const DeviceMapping snapshot = *a.model->selectedRecord();
        std::string error;
        if (!app::writeExportFile(root / "export.json", snapshot, error)) {
            std::fprintf(stderr, "export failed: %s\n", error.c_str());
            std::exit(1);
        }
        a.model->exportFinished((root / "export.json").string());
        a.settle();
    });
    platform::qt::XdgAutostartLoginItem loginItem(root / "autostart", "/bin/true");
    std::unique_ptr<app::SettingsWindow> settingsWindow;
    during("settings", [&](int) {
        // Built the first time, refreshed later, as the application does.
        if (!settingsWindow) {
            settingsWindow = std::make_unique<app::SettingsWindow>(new app::SettingsView(
                *a.preferences, loginItem, a.desktop, app::DiagnosticsSources::shared()));
        } else if (auto* view = settingsWindow->findChild<app::SettingsView*>()) {
            view->refresh();
        }
        settingsWindow->show();
        settingsWindow->repaint();
        a.settle();
        settingsWindow->hide();
        a.settle();
    });
    std::unique_ptr<app::HelpWindow> helpWindow;
    during("help", [&](int) {
        if (!helpWindow) {
            helpWindow = std::make_unique<app::HelpWindow>(new app::HelpView(a.desktop));
        }
        helpWindow->show();
        helpWindow->repaint();
        a.settle();
        helpWindow->hide();
        a.settle();
    });
    during("scroll", [&](int rep) {
        QScrollBar* bar = a.view().table()->verticalScrollBar();
        const int pages = std::max(1, bar->maximum() / std::max(1, bar->pageStep()));
        bar->setValue((rep * 7919 % (pages + 1)) * bar->pageStep());
        a.view().table()->viewport()->repaint();
        a.settle();
    });
    const QSize size = a.window->size();
    during("resize", [&](int rep) {
        a.window->resize(size + (rep % 2 == 0 ? QSize(160, 120) : QSize(0, 0)));
        a.window->repaint();
        a.settle();
    });
    feed.stop([&] { a.settle(); });
    std::vector<std::vector<double>> delays;
    for (std::size_t i = 0; i < actions.size(); ++i) {
        delays.push_back(feed.samples(static_cast<int>(i)));
    }
    {
        const auto keyPath = a.engine->lock();
        world.keyUp(*magic, 0xE0);
        feedStorage.reset(); // unwatched on its loop
    }

    Results r;
    r.emplace_back("mappings", count);
    for (std::size_t i = 0; i < actions.size(); ++i) {
        std::vector<double>& samples = delays[i];
        std::sort(samples.begin(), samples.end());
        const auto at = [&](double q) {
            return samples.empty()
                       ? -1.0
                       : samples[std::min(
                             samples.size() - 1,
                             static_cast<std::size_t>(q * static_cast<double>(samples.size())))];
        };
        const std::string& key = actions[i].first;
        r.emplace_back("delay_" + key + "_keys", static_cast<double>(samples.size()));
        r.emplace_back("delay_" + key + "_p50_us", at(0.5));
        r.emplace_back("delay_" + key + "_p99_us", at(0.99));
        r.emplace_back("delay_" + key + "_max_us", samples.empty() ? -1.0 : samples.back());
    }
    settingsWindow.reset();
    helpWindow.reset();
    print(r);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}

std::map<std::string, double> runChild(const std::string& self, const std::string& args) {
    std::map<std::string, double> out;
    FILE* pipe = ::popen((self + " " + args).c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        const auto eq = text.find('=');
        if (eq != std::string::npos) {
            out[text.substr(0, eq)] = std::atof(text.c_str() + eq + 1);
        }
    }
    ::pclose(pipe);
    return out;
}

// The delay keys suffer while the window works, at 10 and 10,000 mappings:
// with the key path on a thread of its own (the application), and with the
// keys served on the main thread (the simulate mode) for comparison.
void printKeyDelayTable(const std::string& self, const std::string& mode,
                        const std::string& where) {
    const std::vector<int> counts = {10, 10000};
    std::vector<std::map<std::string, double>> rows;
    for (int n : counts) {
        rows.push_back(runChild(self, mode + " " + std::to_string(n)));
    }
    std::printf("\nKey delay while the window works, %s (µs from the key's input being "
                "available to its decision):\n\n",
                where.c_str());
    std::printf("| window action | N = 10: p50 | p99 | max | N = 10,000: p50 | p99 | max | keys "
                "|\n|---|---|---|---|---|---|---|---|\n");
    for (const auto& [key, title] : keyDelayActions()) {
        std::printf("| %s |", title.c_str());
        double keys = 0;
        for (const auto& row : rows) {
            for (const char* q : {"p50", "p99", "max"}) {
                const auto it = row.find("delay_" + key + "_" + q + "_us");
                if (it == row.end()) {
                    std::printf(" – |");
                } else {
                    std::printf(" %.0f |", it->second);
                }
            }
            const auto n = row.find("delay_" + key + "_keys");
            keys += n == row.end() ? 0 : n->second;
        }
        std::printf(" %.0f |\n", keys);
    }
}

int runAll(const std::string& self) {
    const std::vector<int> counts = {10, 1000, 10000};
    std::vector<std::map<std::string, double>> rows;
    for (int n : counts) {
        rows.push_back(runChild(self, "--mappings " + std::to_string(n)));
    }
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"select_ms", "select keyboard until table drawn (ms)"},
        {"select_cpu_ms", "  main-thread CPU (ms)"},
        {"key_visible_us", "key event, intercepting, window visible (µs CPU)"},
        {"key_hidden_us", "key event, intercepting, window hidden (µs CPU)"},
        {"allocs_per_key_event", "heap allocations per key event (key path)"},
        {"allocs_per_key_event_with_turns", "  with the event loop's turns"},
        {"add_ms", "add one mapping, file written (ms)"},
        {"add_cpu_ms", "  main-thread CPU (ms)"},
        {"edit_first_half_ms", "edit: first half (ms)"},
        {"edit_first_half_cpu_ms", "  main-thread CPU (ms)"},
        {"edit_second_half_cpu_ms", "edit: delayed second half, file written (ms CPU)"},
        {"delete_ms", "delete one mapping, file written (ms)"},
        {"delete_cpu_ms", "  main-thread CPU (ms)"},
        {"import_10000_ms", "import 10,000 by append, file written (ms)"},
        {"import_10000_cpu_ms", "  main-thread CPU (ms)"},
        {"peak_rss_shown_mb", "peak RSS with the table shown (MB)"},
        {"peak_rss_end_mb", "peak RSS at the end, after the import (MB)"},
    };
    std::printf("| measure | N = 10 | N = 1,000 | N = 10,000 |\n|---|---|---|---|\n");
    for (const auto& [key, title] : lines) {
        std::printf("| %s |", title.c_str());
        for (const auto& row : rows) {
            const auto it = row.find(key);
            if (it == row.end()) {
                std::printf(" – |");
            } else {
                std::printf(" %.3g |", it->second);
            }
        }
        std::printf("\n");
    }
    printKeyDelayTable(self, "--key-delay", "key path on a thread of its own");
    printKeyDelayTable(self, "--key-delay-main", "keys served on the main thread");
    const auto k = runChild(self, "--keyboards 1000");
    std::printf("\n1,000 keyboards attached one after another: %.0f ms main-thread CPU "
                "(%.0f ms wall), list sorted and complete: %s\n",
                k.count("attach_cpu_ms") ? k.at("attach_cpu_ms") : -1.0,
                k.count("attach_ms") ? k.at("attach_ms") : -1.0,
                k.count("sorted_and_complete") && k.at("sorted_and_complete") > 0 ? "yes" : "NO");
    return 0;
}

} // namespace
} // namespace chordwell

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string self = argv[0];
    if (argc == 1) {
        return chordwell::runAll(self);
    }
    const std::string mode = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 0;
    QApplication application(argc, argv);
    if (mode == "--mappings" && count >= 0) {
        return chordwell::runMappings(count);
    }
    if (mode == "--keyboards" && count > 0) {
        return chordwell::runKeyboards(count);
    }
    if (mode == "--key-delay" && count > 0) {
        return chordwell::runKeyDelay(count, true);
    }
    if (mode == "--key-delay-main" && count > 0) {
        return chordwell::runKeyDelay(count, false);
    }
    std::cerr << "usage: bench_app_scale [--mappings N | --keyboards K | --key-delay N | "
                 "--key-delay-main N]\n";
    return 2;
}
