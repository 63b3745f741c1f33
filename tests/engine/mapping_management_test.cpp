#include "engine_fixture.hpp"

#include "engine/record_lookup.hpp"
#include "model/json_codec.hpp"

#include <fstream>
#include <sstream>

namespace chordwell::testing {
namespace {

class ManagementTest : public EngineTest {
protected:
    std::filesystem::path fileOf(std::int64_t vendor = kVendor, std::int64_t product = kProduct) {
        return folder_ / "Mappings" / StorageManager::fileName(vendor, product);
    }
    std::optional<DeviceMapping> readFile(std::int64_t vendor = kVendor,
                                          std::int64_t product = kProduct) {
        std::ifstream in(fileOf(vendor, product), std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::stringstream text;
        text << in.rdbuf();
        auto decoded = decodeDeviceMappingText(text.str());
        if (!decoded) {
            return std::nullopt;
        }
        return std::move(decoded).value();
    }
    void writeFile(const std::vector<KeyMapping>& mappings, std::int64_t vendor = kVendor,
                   std::int64_t product = kProduct) {
        DeviceMapping r;
        r.productName = "On disk";
        r.vendorID = vendor;
        r.productID = product;
        r.mappings = mappings;
        std::filesystem::create_directories(folder_ / "Mappings");
        std::ofstream(fileOf(vendor, product)) << encodeDeviceMapping(r);
    }
    std::size_t saves() const {
        std::size_t n = 0;
        for (const auto& m : logMessages()) {
            n += m.rfind("Successfully saved mappings for", 0) == 0 ? 1 : 0;
        }
        return n;
    }
    static std::vector<std::string> names(const DeviceMapping& r) {
        std::vector<std::string> out;
        for (const auto& m : r.mappings) {
            out.push_back(m.name);
        }
        return out;
    }
};

TEST_F(ManagementTest, LoadingAppendsARecordOrReplacesOnlyTheMappings) {
    writeFile({makeMapping({0x04}, OutputBehavior::copyOperation(), "from disk")});
    auto kb = attach();
    auto& e = engine();
    EXPECT_TRUE(e.hasStorage());
    e.loadMappings(listed(kb));
    ASSERT_EQ(e.allDeviceMappings().size(), 1u);
    const DeviceMapping& r = e.allDeviceMappings()[0];
    EXPECT_EQ(r.productName, "Magic Keyboard"); // the keyboard's name, not the file's
    EXPECT_EQ(names(r), std::vector<std::string>{"from disk"});
    const Uuid id = r.id;

    addRecord({}, 1, 2, "Other");
    writeFile({makeMapping({0x05}, OutputBehavior::none(), "a"),
               makeMapping({0x06}, OutputBehavior::none(), "b")});
    e.loadMappings(listed(kb));
    ASSERT_EQ(e.allDeviceMappings().size(), 2u);
    EXPECT_EQ(e.allDeviceMappings()[0].id, id);
    EXPECT_EQ(names(e.allDeviceMappings()[0]), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ManagementTest, TwoKeyboardsOfOneModelShareARecordAndAFile) {
    auto a = attach("Magic Keyboard", kVendor, kProduct, 1);
    auto b = attach("Magic Keyboard (2)", kVendor, kProduct, 2);
    auto& e = engine();
    e.loadMappings(listed(a));
    e.loadMappings(listed(b));
    ASSERT_EQ(e.allDeviceMappings().size(), 1u);
    e.mutateAllDeviceMappings([](std::vector<DeviceMapping>& records) {
        records[0].mappings.push_back(makeMapping({0x04}, OutputBehavior::none(), "x"));
    });
    e.saveMappings(listed(b));
    auto file = readFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(names(*file), std::vector<std::string>{"x"});
    EXPECT_EQ(file->productName, "Magic Keyboard (2)");
}

TEST_F(ManagementTest, SavingWithoutARecordDoesNothing) {
    auto kb = attach();
    engine().saveMappings(listed(kb));
    EXPECT_FALSE(std::filesystem::exists(fileOf()));
}

TEST_F(ManagementTest, EditingEmptiesTheRecordThenRestoresItAndSavesOnce) {
    auto kb = attach();
    auto& e = engine();
    const KeyMapping first = makeMapping({0x04}, OutputBehavior::none(), "first");
    KeyMapping second = makeMapping({0x05}, OutputBehavior::none(), "second");
    const KeyMapping third = makeMapping({0x06}, OutputBehavior::none(), "third");
    addRecord({first, second, third});
    clearLog();

    std::vector<std::size_t> seenSizes;
    auto subscription = e.subscribeWillChange(
        [&] { seenSizes.push_back(e.allDeviceMappings()[0].mappings.size()); });
    second.name = "second, edited";
    e.editMapping(listed(kb), e.allDeviceMappings()[0], second);
    EXPECT_TRUE(e.allDeviceMappings()[0].mappings.empty());
    EXPECT_EQ(saves(), 0u);

    world_->advance(milliseconds(99));
    EXPECT_TRUE(e.allDeviceMappings()[0].mappings.empty());
    world_->advance(milliseconds(1));
    EXPECT_EQ(names(e.allDeviceMappings()[0]),
              (std::vector<std::string>{"first", "second, edited", "third"}));
    EXPECT_EQ(e.allDeviceMappings()[0].mappings[1].id, second.id);
    EXPECT_EQ(saves(), 1u);
    // Observers saw the full list, then (at the second change) the empty one.
    ASSERT_GE(seenSizes.size(), 2u);
    EXPECT_EQ(seenSizes.front(), 3u);
    EXPECT_EQ(seenSizes.back(), 0u);
    auto file = readFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(names(*file), (std::vector<std::string>{"first", "second, edited", "third"}));
}

TEST_F(ManagementTest, MatchingSeesNoMappingsBetweenTheTwoHalvesOfAnEdit) {
    KeyMapping m = makeMapping({0x04}, keyOutput(100), "m");
    addRecord({m});
    auto kb = attach();
    intercept(listed(kb));
    engine().editMapping(listed(kb), engine().allDeviceMappings()[0], m);
    tap(*kb, 0x04);
    EXPECT_TRUE(postedDowns().empty());
    world_->advance(milliseconds(100));
    world_->keyDown(*kb, 0x04);
    EXPECT_EQ(postedDowns(), std::vector<std::int64_t>{100});
}

// Two models that share a name and a vendor (a wired and a wireless variant,
// receivers that all call themselves "USB Receiver") and a model renamed
// since its record was made: the edit lands in the record of the template's
// vendor and product identifiers, the one that is loaded, saved and matched.
TEST_F(ManagementTest, EditFindsTheRecordByVendorAndProduct) {
    constexpr std::int64_t kTwin = kProduct + 1;
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::int64_t>> records; // name, product
        std::int64_t product; // of the keyboard and the template
        std::string name;     // of the keyboard and the template
        std::size_t edited;   // index of the record that holds the mapping
    };
    const Case cases[] = {
        {"twin listed first",
         {{"USB Receiver", kTwin}, {"USB Receiver", kProduct}},
         kProduct,
         "USB Receiver",
         1},
        {"twin listed second",
         {{"USB Receiver", kProduct}, {"USB Receiver", kTwin}},
         kProduct,
         "USB Receiver",
         0},
        {"renamed model", {{"Old Name", kProduct}}, kProduct, "New Name", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown(); // a fresh world and engine for each case
        SetUp();
        auto kb = attach(c.name, kVendor, c.product, 1);
        auto& e = engine();
        const KeyMapping m = makeMapping({0x04}, OutputBehavior::none(), "m");
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            // Each record holds a mapping with the same id: only the record
            // chosen may change.
            addRecord({m}, kVendor, c.records[i].second, c.records[i].first);
        }
        DeviceMapping templ;
        templ.productName = c.name;
        templ.vendorID = kVendor;
        templ.productID = c.product;
        KeyMapping changed = m;
        changed.name = "edited";
        clearLog();
        e.editMapping(listed(kb), templ, changed);
        world_->advance(milliseconds(100));
        EXPECT_FALSE(logged("editMapping: device not found"));
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ(names(e.allDeviceMappings()[i]),
                      std::vector<std::string>{i == c.edited ? "edited" : "m"})
                << "record " << i;
        }
        EXPECT_EQ(saves(), 1u);
        const auto file = readFile(kVendor, c.product);
        ASSERT_TRUE(file.has_value());
        EXPECT_EQ(names(*file), std::vector<std::string>{"edited"});
    }
}

TEST_F(ManagementTest, EditReportsAnUnknownModelOrMapping) {
    auto kb = attach();
    const KeyMapping m = makeMapping({0x04}, OutputBehavior::none(), "m");
    addRecord({m});
    auto& e = engine();
    DeviceMapping templ;
    templ.productName = "Magic Keyboard";
    templ.vendorID = kVendor;
    templ.productID = kProduct + 1;
    e.editMapping(listed(kb), templ, m);
    EXPECT_TRUE(logged("editMapping: device not found"));

    templ.productID = kProduct;
    e.editMapping(listed(kb), templ, makeMapping({0x04}, OutputBehavior::none(), "unknown id"));
    EXPECT_TRUE(logged("editMapping: mapping not found"));
    EXPECT_EQ(e.allDeviceMappings()[0].mappings.size(), 1u);
    world_->advance(milliseconds(200));
    EXPECT_EQ(saves(), 0u);
}

TEST_F(ManagementTest, TheDelayedHalfOfAnEditFollowsTheRecordById) {
    auto kb = attach();
    auto& e = engine();
    addRecord({}, 1, 1, "Before");
    const KeyMapping m = makeMapping({0x04}, OutputBehavior::none(), "m");
    addRecord({m});
    e.editMapping(listed(kb), e.allDeviceMappings()[1], m);
    // The record moves to index 0 before the second half runs.
    e.mutateAllDeviceMappings([](auto& records) { records.erase(records.begin()); });
    world_->advance(milliseconds(100));
    ASSERT_EQ(e.allDeviceMappings().size(), 1u);
    EXPECT_EQ(names(e.allDeviceMappings()[0]), std::vector<std::string>{"m"});
}

TEST_F(ManagementTest, AnEditIsSavedBeforeItsRecordIsRemoved) {
    auto kb = attach();
    auto& e = engine();
    const KeyMapping m = makeMapping({0x04}, OutputBehavior::none(), "m");
    addRecord({m});
    addRecord({}, 1, 1, "Survivor");
    KeyMapping changed = m;
    changed.name = "edited";
    e.editMapping(listed(kb), e.allDeviceMappings()[0], changed);
    e.mutateAllDeviceMappings([](auto& records) { records.erase(records.begin()); });
    clearLog();
    world_->advance(milliseconds(100));
    ASSERT_EQ(e.allDeviceMappings().size(), 1u);
    EXPECT_EQ(e.allDeviceMappings()[0].productName, "Survivor");
    EXPECT_TRUE(e.allDeviceMappings()[0].mappings.empty());
    EXPECT_EQ(saves(), 0u);
    const auto file = readFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(names(*file), std::vector<std::string>{"edited"});
}

// An edit empties its record for a moment and then puts the mappings back
// with the change. Whatever comes within that moment (another change, a
// load, a second edit, quitting) must neither be undone by the edit nor
// lose it, in memory and on disk.
TEST_F(ManagementTest, AnEditInterleavedWithAnyOtherChangeLosesNothing) {
    const KeyMapping m1 = makeMapping({0x04}, OutputBehavior::none(), "m1");
    const KeyMapping m2 = makeMapping({0x05}, OutputBehavior::none(), "m2");
    const KeyMapping m3 = makeMapping({0x06}, OutputBehavior::none(), "m3");
    const KeyMapping m4 = makeMapping({0x07}, OutputBehavior::copyOperation(), "m4");
    using Names = std::vector<std::string>;
    struct Case {
        const char* what;
        std::function<void(const KeyboardDevice&)> change;
        Names expected;
    };
    const KeyMapping m5 = makeMapping({0x08}, OutputBehavior::pasteOperation(), "m5");
    const auto append = [&](const KeyboardDevice& kb, const std::vector<KeyMapping>& added) {
        // What the editor (one mapping) and an import (several) do: append,
        // then save.
        engine().mutateAllDeviceMappings([&](auto& records) {
            records[0].mappings.insert(records[0].mappings.end(), added.begin(), added.end());
        });
        engine().saveMappings(kb);
    };
    const Case cases[] = {
        {"add",
         [&](const KeyboardDevice& kb) { append(kb, {m4}); },
         {"m1 edited", "m2", "m3", "m4"}},
        {"delete another",
         [&](const KeyboardDevice& kb) {
             engine().deleteMapping(kb, engine().allDeviceMappings()[0].id, m2);
         },
         {"m1 edited", "m3"}},
        {"delete the edited one",
         [&](const KeyboardDevice& kb) {
             engine().deleteMapping(kb, engine().allDeviceMappings()[0].id, m1);
         },
         {"m2", "m3"}},
        {"clear",
         [&](const KeyboardDevice& kb) {
             engine().clearAllMappings(kb, engine().allDeviceMappings()[0].id);
         },
         {}},
        {"import, replace",
         [&](const KeyboardDevice& kb) {
             engine().mutateRecordsOfModel(modelOf(kb),
                                           [&](auto& records) { records[0].mappings = {m4}; });
             engine().saveMappings(kb);
         },
         {"m4"}},
        {"import, append",
         [&](const KeyboardDevice& kb) {
             append(kb, {m4, m5});
         },
         {"m1 edited", "m2", "m3", "m4", "m5"}},
        {"load again",
         [&](const KeyboardDevice& kb) { engine().loadMappings(kb); },
         {"m1 edited", "m2", "m3"}},
        {"save",
         [&](const KeyboardDevice& kb) { engine().saveMappings(kb); },
         {"m1 edited", "m2", "m3"}},
        {"second edit",
         [&](const KeyboardDevice& kb) {
             KeyMapping changed = m3;
             changed.name = "m3 edited";
             engine().editMapping(kb, engine().allDeviceMappings()[0], changed);
         },
         {"m1 edited", "m2", "m3 edited"}},
        {"quit", [&](const KeyboardDevice&) { engine_.reset(); }, {"m1 edited", "m2", "m3"}},
        {"nothing", [](const KeyboardDevice&) {}, {"m1 edited", "m2", "m3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        writeFile({m1, m2, m3});
        auto kb = attach();
        const KeyboardDevice device = listed(kb);
        engine().loadMappings(device);
        KeyMapping changed = m1;
        changed.name = "m1 edited";
        engine().editMapping(device, engine().allDeviceMappings()[0], changed);
        world_->advance(milliseconds(10));
        c.change(device);
        world_->advance(milliseconds(500));
        if (!engine_) {
            engine().loadMappings(listed(kb)); // the next start
        }
        EXPECT_FALSE(engine().hasPendingEdit());
        EXPECT_EQ(names(engine().allDeviceMappings()[0]), c.expected) << "in memory";
        const auto file = readFile();
        ASSERT_TRUE(file.has_value());
        EXPECT_EQ(names(*file), c.expected) << "on disk";
    }
}

TEST_F(ManagementTest, DeleteRemovesEveryMappingWithThatIdAndSaves) {
    auto kb = attach();
    auto& e = engine();
    const KeyMapping twice = makeMapping({0x04}, OutputBehavior::none(), "twice");
    addRecord({twice, makeMapping({0x05}, OutputBehavior::none(), "keep"), twice});
    e.deleteMapping(listed(kb), e.allDeviceMappings()[0].id, twice);
    EXPECT_EQ(names(e.allDeviceMappings()[0]), std::vector<std::string>{"keep"});
    auto file = readFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(names(*file), std::vector<std::string>{"keep"});
}

TEST_F(ManagementTest, ClearingSavesAnEmptyRecord) {
    auto kb = attach();
    auto& e = engine();
    addRecord({makeMapping({0x04}, OutputBehavior::none(), "x")});
    e.clearAllMappings(listed(kb), e.allDeviceMappings()[0].id);
    EXPECT_TRUE(e.allDeviceMappings()[0].mappings.empty());
    auto file = readFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_TRUE(file->mappings.empty());
}

TEST_F(ManagementTest, UnknownRecordIdsChangeAndSaveNothing) {
    auto kb = attach();
    auto& e = engine();
    const KeyMapping m = makeMapping({0x04}, OutputBehavior::none(), "x");
    addRecord({m});
    clearLog();
    e.deleteMapping(listed(kb), Uuid::random(), m);
    e.clearAllMappings(listed(kb), Uuid::random());
    EXPECT_EQ(e.allDeviceMappings()[0].mappings.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(fileOf()));
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(ManagementTest, AFailedSaveIsLoggedAndMemoryKeepsTheChange) {
    auto kb = attach();
    auto& e = engine();
    addRecord({makeMapping({0x04}, OutputBehavior::none(), "x")});
    // The folder is replaced by a file: nothing can be written there.
    std::filesystem::remove_all(folder_ / "Mappings");
    std::ofstream(folder_ / "Mappings") << "not a folder";
    clearLog();
    e.clearAllMappings(listed(kb), e.allDeviceMappings()[0].id);
    EXPECT_TRUE(e.allDeviceMappings()[0].mappings.empty());
    bool found = false;
    for (const auto& message : logMessages()) {
        found = found || message.rfind("Failed to save mappings for Magic Keyboard: ", 0) == 0;
    }
    EXPECT_TRUE(found);
}

TEST_F(EngineTest, WithoutStorageTheEngineStillWorks) {
    world_ = std::make_shared<SimWorld>(); // no application-support folder
    auto kb = attach();
    auto& e = engine();
    EXPECT_FALSE(e.hasStorage());
    EXPECT_FALSE(e.storageError().empty());
    e.loadMappings(listed(kb));
    ASSERT_EQ(e.allDeviceMappings().size(), 1u);
    EXPECT_TRUE(e.allDeviceMappings()[0].mappings.empty());
    // Selecting the keyboard again keeps what memory holds: it is the only copy.
    e.mutateAllDeviceMappings([](auto& records) {
        records[0].mappings.push_back(makeMapping({0x04}, OutputBehavior::none(), "kept"));
    });
    e.loadMappings(listed(kb));
    EXPECT_EQ(e.allDeviceMappings()[0].mappings.size(), 1u);
    clearLog();
    e.saveMappings(listed(kb));
    ASSERT_EQ(logMessages().size(), 1u);
    EXPECT_EQ(logMessages()[0].rfind("Failed to save mappings for Magic Keyboard: ", 0), 0u);
}

TEST_F(EngineTest, AnExplicitStorageFolderIsUsed) {
    const auto elsewhere = folder_ / "elsewhere";
    engine_ = std::make_unique<RawKeyboardListener>(world_, elsewhere);
    ASSERT_TRUE(engine_->hasStorage());
    EXPECT_EQ(engine_->storage()->folder(), elsewhere);
}

} // namespace
} // namespace chordwell::testing
