#include "storage/storage_manager.hpp"

#include "logging/log.hpp"
#include "model/json_codec.hpp"
#include "platform/memory/memory_ports.hpp"
#include "support/file_size_limit.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace chordwell {
namespace {

namespace fs = std::filesystem;
using chordwell::testing::readText;
using chordwell::testing::TempDir;
using chordwell::testing::writeText;
using platform::CapturedLogEntry;
using platform::CapturingSystemLog;
using testing::FileSizeLimit;

const std::string kSubsystem = "com.palvane.Chordwell";

CapturedLogEntry storageLine(LogLevel level, std::string message) {
    return {level, kSubsystem, "storage", std::move(message)};
}

KeyboardDevice keyboard(std::string name = "Magic Keyboard", std::int64_t vendor = 0x05AC,
                        std::int64_t product = 0x024F) {
    KeyboardDevice device;
    device.productName = std::move(name);
    device.vendorID = vendor;
    device.productID = product;
    return device;
}

std::vector<KeyMapping> sampleMappings() {
    KeyMapping copy;
    copy.name = "Copy";
    copy.inputKeyCodes = {0x04, 0xE0};
    copy.outputBehavior = OutputBehavior::copyOperation();
    KeyMapping sequence;
    sequence.name = "Sequence";
    sequence.inputKeyCodes = {0x05};
    sequence.inputTapCodes = std::vector<MacKeySignature>{{11, 0}};
    sequence.outputBehavior = OutputBehavior::customKeySequence(
        "Save All", {{1, kMaskCommand}, {1, kMaskCommand | kMaskAlternate}});
    return {copy, sequence};
}

// Every test logs into a fresh capturing log and no log file.
class StorageTest : public ::testing::Test {
protected:
    void SetUp() override { logging::configure(systemLog, std::nullopt); }
    void TearDown() override { logging::configure(nullptr, std::nullopt); }

    StorageManager makeStorage() {
        std::error_code error;
        auto storage = StorageManager::createAt(temp.path() / "Mappings", error);
        EXPECT_TRUE(storage.has_value()) << error.message();
        systemLog->clear();
        return *storage;
    }

    std::shared_ptr<CapturingSystemLog> systemLog = std::make_shared<CapturingSystemLog>();
    TempDir temp;
};

TEST(StorageFileNameTest, PrintsIdentifiersAsUnsigned32BitHex) {
    struct Case {
        std::int64_t vendor;
        std::int64_t product;
        const char* expected;
    };
    const Case cases[] = {
        {0x05AC, 0x024F, "05AC-024F.json"},
        {0x1, 0x2, "0001-0002.json"},
        {0, 0, "0000-0000.json"},
        {0xABCD, 0xFFFF, "ABCD-FFFF.json"},
        {0x12345, 0x1, "12345-0001.json"},
        {-1, -1, "FFFFFFFF-FFFFFFFF.json"},
        {-2, 0x10, "FFFFFFFE-0010.json"},
        {0xFFFFFFFF, 0x7FFFFFFF, "FFFFFFFF-7FFFFFFF.json"},
        // Only the low 32 bits are printed, as the C conversion of an int does.
        {(std::int64_t{1} << 32) + 5, 0x24F, "0005-024F.json"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StorageManager::fileName(c.vendor, c.product), c.expected);
    }
}

TEST(StorageFileNameTest, KeyboardsWithoutIdentifiersAddTheirNamesHash) {
    struct Case {
        std::int64_t vendor;
        std::int64_t product;
        const char* name;
        const char* expected;
    };
    // The names are stable across versions: the files are found by them.
    const Case cases[] = {
        {0x05AC, 0x024F, "Keys-To-Go", "05AC-024F.json"},
        {0, 0x024F, "Keys-To-Go", "0000-024F.json"},
        {0, 0, "Keys-To-Go", "0000-0000-BB1A4ADA.json"},
        {0, 0, "Unknown", "0000-0000-CC200E59.json"},
        {-1, -1, "Keys-To-Go", "FFFFFFFF-FFFFFFFF-BB1A4ADA.json"},
        {-1, 0, "", "FFFFFFFF-0000-811C9DC5.json"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StorageManager::fileName(c.vendor, c.product, c.name), c.expected);
    }
}

TEST(StorageFileNameTest, UnreadableNamesCarryAUtcStamp) {
    using namespace std::chrono;
    const auto time = sys_days{year{2026} / December / 7} + hours{10} + minutes{15} + seconds{0} +
                      milliseconds{999};
    EXPECT_EQ(StorageManager::unreadableFileName("05AC-024F.json", time),
              "05AC-024F.json.unreadable-20261207T101500Z");
}

TEST_F(StorageTest, CreateFindsOrMakesTheMappingsFolder) {
    const platform::FolderPaths paths(temp.path() / "Application Support");
    for (int round = 0; round < 2; ++round) { // the second time the folder exists
        systemLog->clear();
        std::error_code error;
        auto storage = StorageManager::create(paths, error);
        ASSERT_TRUE(storage.has_value()) << error.message();
        EXPECT_FALSE(error);
        const fs::path folder = temp.path() / "Application Support" / "Mappings";
        EXPECT_EQ(storage->folder(), folder);
        EXPECT_TRUE(fs::is_directory(folder));
        const std::vector<CapturedLogEntry> expected = {
            storageLine(LogLevel::debug, "Application Support base: " +
                                             (temp.path() / "Application Support").string()),
            storageLine(LogLevel::debug, "Created or verified folder: " + folder.string()),
        };
        EXPECT_EQ(systemLog->entries(), expected);
    }
}

TEST_F(StorageTest, CreateFailsWithoutApplicationSupportAndLogsNothing) {
    const platform::FolderPaths paths; // a system without the folder
    std::error_code error;
    EXPECT_FALSE(StorageManager::create(paths, error).has_value());
    EXPECT_TRUE(error);
    EXPECT_TRUE(systemLog->entries().empty());
}

TEST_F(StorageTest, CreateFailsWhenTheFolderCannotBeMade) {
    writeText(temp.path() / "Mappings", "a file where the folder should be");
    std::error_code error;
    EXPECT_FALSE(StorageManager::createAt(temp.path() / "Mappings", error).has_value());
    ASSERT_TRUE(error);
    const std::vector<CapturedLogEntry> expected = {storageLine(
        LogLevel::error, "Failed to create folder: " + (temp.path() / "Mappings").string() + ": " +
                             error.message())};
    EXPECT_EQ(systemLog->entries(), expected);
}

TEST_F(StorageTest, SaveThenLoadRoundTripsWithTheExactMessages) {
    StorageManager storage = makeStorage();
    const KeyboardDevice device = keyboard();
    const fs::path file = storage.folder() / "05AC-024F.json";
    EXPECT_EQ(storage.fileURL(device), file);

    std::string errorText;
    ASSERT_TRUE(storage.saveMappings(sampleMappings(), device, errorText)) << errorText;
    EXPECT_TRUE(errorText.empty());
    EXPECT_EQ(storage.loadMappings(device), sampleMappings());

    const std::vector<CapturedLogEntry> expected = {
        storageLine(LogLevel::debug,
                    "Saving 2 mappings for \u201CMagic Keyboard\u201D to " + file.string()),
        storageLine(LogLevel::info, "Successfully saved mappings for \u201CMagic Keyboard\u201D"),
        storageLine(LogLevel::debug,
                    "Loading mappings for \u201CMagic Keyboard\u201D from " + file.string()),
        storageLine(LogLevel::info, "Loaded 2 mappings for \u201CMagic Keyboard\u201D"),
    };
    EXPECT_EQ(systemLog->entries(), expected);

    // The file holds one record of the keyboard, in the one JSON form.
    auto record = decodeDeviceMappingText(readText(file));
    ASSERT_TRUE(record) << record.error();
    EXPECT_EQ(record->productName, "Magic Keyboard");
    EXPECT_EQ(record->vendorID, 0x05AC);
    EXPECT_EQ(record->productID, 0x024F);
    EXPECT_EQ(record->mappings, sampleMappings());
}

TEST_F(StorageTest, LoadUsesTheKeyboardsNameNotTheFiles) {
    StorageManager storage = makeStorage();
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard("Old Name"), errorText));
    systemLog->clear();
    EXPECT_EQ(storage.loadMappings(keyboard("Other Unit")).size(), 2u);
    EXPECT_EQ(systemLog->messages().back(), "Loaded 2 mappings for \u201COther Unit\u201D");
}

TEST_F(StorageTest, AnEmptyListIsSavedAndLoadedAsSuch) {
    StorageManager storage = makeStorage();
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings({}, keyboard(), errorText));
    systemLog->clear();
    EXPECT_TRUE(storage.loadMappings(keyboard()).empty());
    EXPECT_EQ(systemLog->messages().back(), "Loaded 0 mappings for \u201CMagic Keyboard\u201D");
}

TEST_F(StorageTest, TwoSavesDifferOnlyInTheRecordId) {
    StorageManager storage = makeStorage();
    const fs::path file = storage.fileURL(keyboard());
    const auto mappings = sampleMappings();
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings(mappings, keyboard(), errorText));
    auto first = nlohmann::json::parse(readText(file));
    ASSERT_TRUE(storage.saveMappings(mappings, keyboard(), errorText));
    auto second = nlohmann::json::parse(readText(file));

    EXPECT_NE(first["id"], second["id"]);
    first.erase("id");
    second.erase("id");
    EXPECT_EQ(first, second);
    // Nothing but the file itself is left behind (no temporary files).
    EXPECT_EQ(std::distance(fs::directory_iterator(storage.folder()), fs::directory_iterator()), 1);
}

TEST_F(StorageTest, AMissingFileLoadsAsEmptyWithoutTouchingTheFolder) {
    StorageManager storage = makeStorage();
    EXPECT_TRUE(storage.loadMappings(keyboard("Keychron K2", 0x3434, 0x0220)).empty());
    const std::vector<CapturedLogEntry> expected = {
        storageLine(LogLevel::debug, "Loading mappings for \u201CKeychron K2\u201D from " +
                                         (storage.folder() / "3434-0220.json").string()),
        storageLine(LogLevel::info,
                    "No saved mappings found for \u201CKeychron K2\u201D; returning []"),
    };
    EXPECT_EQ(systemLog->entries(), expected);
    EXPECT_TRUE(fs::is_empty(storage.folder()));
}

TEST_F(StorageTest, AnUnreadableFileIsMovedAsideAndNeverOverwritten) {
    const std::string badContents[] = {
        "not json at all",
        "",
        "{}",
        "[]",
        R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","productName":"K","productID":1)",
    };
    for (const std::string& bad : badContents) {
        SCOPED_TRACE(bad);
        TempDir folder;
        std::error_code error;
        auto storage = StorageManager::createAt(folder.path(), error);
        ASSERT_TRUE(storage);
        storage->setClock([] {
            using namespace std::chrono;
            return sys_days{year{2026} / December / 7} + hours{10} + minutes{15};
        });
        const fs::path file = folder.path() / "05AC-024F.json";
        const fs::path moved = folder.path() / "05AC-024F.json.unreadable-20261207T101500Z";
        writeText(file, bad);
        systemLog->clear();

        EXPECT_TRUE(storage->loadMappings(keyboard()).empty());
        EXPECT_FALSE(fs::exists(file));
        ASSERT_TRUE(fs::exists(moved));
        EXPECT_EQ(readText(moved), bad);

        const auto entries = systemLog->entries();
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[1].level, LogLevel::warning);
        EXPECT_NE(entries[1].message.find(moved.string()), std::string::npos) << entries[1].message;
        EXPECT_EQ(entries[2], storageLine(LogLevel::info, "No saved mappings found for "
                                                          "\u201CMagic Keyboard\u201D; "
                                                          "returning []"));

        // A second bad file in the same second gets a name of its own.
        writeText(file, bad + " again");
        EXPECT_TRUE(storage->loadMappings(keyboard()).empty());
        EXPECT_EQ(readText(moved), bad);
        EXPECT_EQ(readText(folder.path() / "05AC-024F.json.unreadable-20261207T101500Z-2"),
                  bad + " again");

        // The next save writes a fresh file and leaves the moved ones alone.
        std::string errorText;
        ASSERT_TRUE(storage->saveMappings(sampleMappings(), keyboard(), errorText));
        EXPECT_EQ(storage->loadMappings(keyboard()), sampleMappings());
        EXPECT_EQ(readText(moved), bad);
    }
}

TEST_F(StorageTest, SavingOverAnUnreadableFileKeepsItsContent) {
    StorageManager storage = makeStorage();
    const fs::path file = storage.fileURL(keyboard());
    writeText(file, "{ truncated");
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText)) << errorText;
    EXPECT_EQ(storage.loadMappings(keyboard()), sampleMappings());

    int movedCopies = 0;
    for (const auto& entry : fs::directory_iterator(storage.folder())) {
        if (entry.path().filename().string().starts_with("05AC-024F.json.unreadable-")) {
            ++movedCopies;
            EXPECT_EQ(readText(entry.path()), "{ truncated");
        }
    }
    EXPECT_EQ(movedCopies, 1);
}

// A save skips reading back a file it wrote itself; a file someone else
// broke since must still be found and kept, however it was changed.
TEST_F(StorageTest, AFileBrokenAfterASaveIsStillSetAsideByTheNext) {
    struct Case {
        const char* name;
        bool inPlaceSameSize; // else replaced by a new file
    };
    for (const Case c : {Case{"replaced", false}, Case{"rewritten in place, same size", true}}) {
        StorageManager storage = makeStorage();
        const fs::path file = storage.fileURL(keyboard());
        std::string errorText;
        ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText)) << errorText;
        std::string broken = readText(file);
        if (c.inPlaceSameSize) {
            broken[0] = '[';
            std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
            out.write(broken.data(), 1);
        } else {
            broken = "{ truncated";
            writeText(file, broken);
        }
        ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText)) << errorText;
        int kept = 0;
        for (const auto& entry : fs::directory_iterator(storage.folder())) {
            if (entry.path().filename().string().starts_with("05AC-024F.json.unreadable-")) {
                ++kept;
                EXPECT_EQ(readText(entry.path()), broken) << c.name;
                fs::remove(entry.path());
            }
        }
        EXPECT_EQ(kept, 1) << c.name;
        EXPECT_EQ(storage.loadMappings(keyboard()), sampleMappings()) << c.name;
    }
}

TEST_F(StorageTest, AFailedWriteLeavesTheOldFileIntact) {
    StorageManager storage = makeStorage();
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText));
    const fs::path file = storage.fileURL(keyboard());
    const std::string before = readText(file);

    std::vector<KeyMapping> many(200, sampleMappings()[1]);
    {
        FileSizeLimit limit(before.size() + 100);
        systemLog->clear();
        EXPECT_FALSE(storage.saveMappings(many, keyboard(), errorText));
    }
    EXPECT_NE(errorText.find(file.string()), std::string::npos) << errorText;
    EXPECT_EQ(readText(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(storage.folder()), fs::directory_iterator()), 1);
    // No success message for a failed save.
    for (const auto& message : systemLog->messages()) {
        EXPECT_EQ(message.find("Successfully"), std::string::npos);
    }
}

TEST_F(StorageTest, SaveFailsWhenTheFolderIsGone) {
    StorageManager storage = makeStorage();
    fs::remove_all(storage.folder());
    std::string errorText;
    EXPECT_FALSE(storage.saveMappings(sampleMappings(), keyboard(), errorText));
    EXPECT_FALSE(errorText.empty());
}

TEST_F(StorageTest, ALinkedMappingFileStaysALink) {
    StorageManager storage = makeStorage();
    const fs::path real = temp.path() / "dotfiles-05AC-024F.json";
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings({}, keyboard(), errorText));
    fs::rename(storage.fileURL(keyboard()), real);
    fs::create_symlink(real, storage.fileURL(keyboard()));

    ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText)) << errorText;
    EXPECT_TRUE(fs::is_symlink(storage.fileURL(keyboard())));
    auto record = decodeDeviceMappingText(readText(real));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->mappings, sampleMappings());
}

TEST_F(StorageTest, RepeatedKeysLoadAsBeforeWithAWarning) {
    StorageManager storage = makeStorage();
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText)) << errorText;
    const fs::path file = storage.folder() / "05AC-024F.json";
    std::string text = readText(file);
    text.insert(text.rfind('}'), R"(,"mappings":[])");
    writeText(file, text);
    systemLog->clear();

    EXPECT_TRUE(storage.loadMappings(keyboard()).empty());
    EXPECT_TRUE(fs::exists(file));
    const auto entries = systemLog->entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[1], storageLine(LogLevel::warning, "Mapping file " + file.string() +
                                                             " repeats the key mappings; the "
                                                             "last one is used"));
}

TEST_F(StorageTest, FilesThatAreNotSmallRegularFilesAreSetAsideWithANotice) {
    // A FIFO would hang the window for ever, a link to /dev/zero eat all
    // memory: both are refused unread, like a file that is too large, and
    // kept aside where the user is told to look.
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        bool keptIsLink;
    };
    const Case cases[] = {
        {"fifo", [](const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, false},
        {"link to a device", [](const fs::path& file) { fs::create_symlink("/dev/zero", file); },
         true},
        {"too large",
         [](const fs::path& file) {
             writeText(file, std::string(StorageManager::maxFileBytes + 1, ' '));
         },
         false},
        {"not a record", [](const fs::path& file) { writeText(file, "[]"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        std::error_code error;
        auto storage = StorageManager::createAt(folder.path(), error);
        ASSERT_TRUE(storage);
        const fs::path file = storage->fileURL(keyboard());
        c.make(file);

        EXPECT_TRUE(storage->loadMappings(keyboard()).empty());
        const std::vector<SetAsideFile> notices = storage->setAsideFiles();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].productName, "Magic Keyboard");
        EXPECT_EQ(notices[0].original, file);
        EXPECT_EQ(notices[0].keptAt.parent_path(), folder.path());
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(notices[0].keptAt)), c.keptIsLink);
        EXPECT_FALSE(fs::exists(fs::symlink_status(file)));

        // The next save writes a fresh file; the copy and its notice stay
        // until the user dismisses the notice.
        std::string errorText;
        ASSERT_TRUE(storage->saveMappings(sampleMappings(), keyboard(), errorText)) << errorText;
        EXPECT_EQ(storage->loadMappings(keyboard()), sampleMappings());
        EXPECT_EQ(storage->setAsideFiles(), notices);
        storage->dismissSetAsideFile(notices[0].keptAt);
        EXPECT_TRUE(storage->setAsideFiles().empty());
        EXPECT_TRUE(fs::exists(fs::symlink_status(notices[0].keptAt)));
    }
}

TEST_F(StorageTest, AnInaccessibleFolderReportsTheRealCause) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> lock;
        std::string cause;
    };
    std::vector<Case> cases = {
        // Every look inside fails, as at mode 000, even for root.
        {"folder replaced by a link loop",
         [](const fs::path& folder) {
             fs::remove_all(folder);
             fs::create_symlink(folder.string() + "-loop", folder);
             fs::create_symlink(folder, folder.string() + "-loop");
         },
         std::make_error_code(std::errc::too_many_symbolic_link_levels).message()},
    };
    if (::geteuid() != 0) { // root passes every permission check
        cases.push_back({"folder at mode 000",
                         [](const fs::path& folder) { fs::permissions(folder, fs::perms::none); },
                         std::make_error_code(std::errc::permission_denied).message()});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir scratch;
        std::error_code error;
        auto storage = StorageManager::createAt(scratch.path() / "Mappings", error);
        ASSERT_TRUE(storage);
        c.lock(storage->folder());
        systemLog->clear();

        EXPECT_TRUE(storage->loadMappings(keyboard()).empty());
        std::string errorText;
        EXPECT_FALSE(storage->saveMappings(sampleMappings(), keyboard(), errorText));
        EXPECT_NE(errorText.find(c.cause), std::string::npos) << errorText;
        bool namedTheCause = false;
        for (const auto& message : systemLog->messages()) {
            EXPECT_EQ(message.find("too many earlier copies"), std::string::npos) << message;
            namedTheCause = namedTheCause || message.find(c.cause) != std::string::npos;
        }
        EXPECT_TRUE(namedTheCause);
        EXPECT_TRUE(storage->setAsideFiles().empty());
        fs::permissions(storage->folder(), fs::perms::owner_all, error);
    }
}

TEST_F(StorageTest, StartUpRemovesTemporaryFilesOfInterruptedSaves) {
    const fs::path folder = temp.path() / "Mappings";
    fs::create_directories(folder);
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const fs::path stale = folder / (".05AC-024F.json.tmp-" + std::to_string(child) + "-5-1");
    const fs::path foreign = folder / "notes.tmp";
    writeText(stale, "{\"half");
    writeText(foreign, "mine");
    std::error_code error;
    ASSERT_TRUE(StorageManager::createAt(folder, error));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(foreign));
}

TEST_F(StorageTest, SavingKeepsTheFilesPermissions) {
    StorageManager storage = makeStorage();
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings({}, keyboard(), errorText));
    const fs::path file = storage.fileURL(keyboard());
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(StorageTest, AnUnreadableLinkedFileIsSetAsideBesideItsTarget) {
    StorageManager storage = makeStorage();
    const fs::path real = temp.path() / "dotfiles-05AC-024F.json";
    writeText(real, "{ broken");
    fs::create_symlink(real, storage.fileURL(keyboard()));

    EXPECT_TRUE(storage.loadMappings(keyboard()).empty());
    ASSERT_EQ(storage.setAsideFiles().size(), 1u);
    const fs::path kept = storage.setAsideFiles()[0].keptAt;
    EXPECT_EQ(kept.parent_path(), temp.path());
    EXPECT_EQ(readText(kept), "{ broken");

    // Saving then rewrites the link's target, and the link stays a link.
    std::string errorText;
    ASSERT_TRUE(storage.saveMappings(sampleMappings(), keyboard(), errorText)) << errorText;
    EXPECT_TRUE(fs::is_symlink(storage.fileURL(keyboard())));
    EXPECT_EQ(storage.loadMappings(keyboard()), sampleMappings());
    EXPECT_EQ(readText(kept), "{ broken");
}

// Keyboards without identifiers kept one shared file before: each now has a
// file of its own, and the shared one is read (never changed) by the
// keyboard whose name it carries until that keyboard saves.
TEST_F(StorageTest, KeyboardsWithoutIdentifiersKeepTheirMappingsApart) {
    StorageManager storage = makeStorage();
    const KeyboardDevice keysToGo = keyboard("Keys-To-Go", 0, 0);
    const KeyboardDevice other = keyboard("Other Keys", 0, 0);
    // An earlier version's shared file, last saved by Keys-To-Go.
    const fs::path shared = storage.folder() / "0000-0000.json";
    DeviceMapping old;
    old.productName = "Keys-To-Go";
    old.vendorID = 0;
    old.productID = 0;
    old.mappings = sampleMappings();
    const std::string oldText = encodeDeviceMapping(old);
    writeText(shared, oldText);

    EXPECT_EQ(storage.loadMappings(keysToGo), sampleMappings());
    EXPECT_TRUE(storage.loadMappings(other).empty()); // not its file

    std::string error;
    ASSERT_TRUE(storage.saveMappings({sampleMappings().at(0)}, other, error)) << error;
    ASSERT_TRUE(storage.saveMappings({sampleMappings().at(1)}, keysToGo, error)) << error;
    EXPECT_EQ(storage.fileURL(keysToGo), storage.folder() / "0000-0000-BB1A4ADA.json");
    EXPECT_NE(storage.fileURL(other), storage.fileURL(keysToGo));
    EXPECT_EQ(storage.loadMappings(keysToGo), std::vector<KeyMapping>{sampleMappings().at(1)});
    EXPECT_EQ(storage.loadMappings(other), std::vector<KeyMapping>{sampleMappings().at(0)});
    EXPECT_EQ(readText(shared), oldText);
}

} // namespace
} // namespace chordwell
