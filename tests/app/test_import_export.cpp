// Import (append, replace, direct), export names and files, clear.
#include "app_test_support.hpp"

#include "app/mappings/mapping_dialogs.hpp"
#include "app/mappings/mapping_files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using chordwell::DeviceMapping;
using chordwell::KeyMapping;
using chordwell::OutputBehavior;
using chordwell::app::proposedExportFileName;
using chordwell::app::readImportFile;
using chordwell::app::writeExportFile;
using chordwell::app::testing::makeMapping;
using chordwell::app::testing::makeRecord;
using chordwell::app::testing::ModelWorld;

namespace {

std::vector<std::string> names(const DeviceMapping* record) {
    std::vector<std::string> out;
    if (record != nullptr) {
        for (const KeyMapping& m : record->mappings) {
            out.push_back(m.name);
        }
    }
    return out;
}

struct Importing {
    explicit Importing(std::vector<KeyMapping> stored, bool withRecord = true) {
        if (withRecord) {
            w.writeMappingFile(1, 1, makeRecord("Board", 1, 1, std::move(stored)));
        }
        kb = w.attach("Board", 1, 1, 1);
        w.model->selectKeyboard(w.device(kb));
    }
    const DeviceMapping* record() const { return w.model->selectedRecord(); }
    std::vector<std::string> fileNames() const {
        const auto file = w.readMappingFile(1, 1);
        return file ? names(&*file) : std::vector<std::string>{"<no file>"};
    }

    ModelWorld w;
    std::shared_ptr<chordwell::platform::sim::SimKeyboard> kb;
};

} // namespace

TEST(ImportMappings, NonDirectImportAsksFirst) {
    Importing i({makeMapping("A", {0x04})});
    const std::vector<KeyMapping> incoming = {makeMapping("B", {0x05})};
    i.w.model->importMappings(incoming, false);
    EXPECT_TRUE(i.w.model->showingImportChoice);
    EXPECT_EQ(i.w.model->importedMappings.size(), 1u);
    EXPECT_EQ(names(i.record()), (std::vector<std::string>{"A"})) << "nothing changes yet";
    EXPECT_TRUE(i.w.logged("Mappings loaded: 1"));
}

TEST(ImportMappings, AppendFiltersMappingsAlreadyInTheRecord) {
    const KeyMapping a = makeMapping("A", {0x04});
    KeyMapping sameIdOtherContent = makeMapping("A changed", {0x07});
    sameIdOtherContent.id = a.id;
    const KeyMapping equalOtherId = makeMapping("A", {0x04}); // fresh id, same content
    const KeyMapping fresh1 = makeMapping("New", {0x05});
    const KeyMapping fresh2 = makeMapping("New", {0x05}); // equal to fresh1, other id

    Importing i({a});
    i.w.model->importMappings({sameIdOtherContent, equalOtherId, fresh1, fresh2}, false);
    i.w.model->appendImportedMappings();
    EXPECT_FALSE(i.w.model->showingImportChoice);
    // Two equal mappings of the file that are not in the record are both appended.
    EXPECT_EQ(names(i.record()), (std::vector<std::string>{"A", "New", "New"}));
    EXPECT_EQ(i.fileNames(), (std::vector<std::string>{"A", "New", "New"}));
}

TEST(ImportMappings, AppendOfNothingNewStoresNothing) {
    const KeyMapping a = makeMapping("A", {0x04});
    Importing i({a});
    const auto file = i.w.mappingsFolder() / chordwell::StorageManager::fileName(1, 1);
    // Make the stored file recognisable: a save would rewrite it.
    const auto before = std::filesystem::last_write_time(file);
    std::filesystem::last_write_time(file, before - std::chrono::hours(1));
    const auto marked = std::filesystem::last_write_time(file);
    i.w.model->importMappings({a}, false); // same id
    i.w.model->appendImportedMappings();
    EXPECT_EQ(names(i.record()), (std::vector<std::string>{"A"}));
    EXPECT_EQ(std::filesystem::last_write_time(file), marked) << "nothing was stored";
}

TEST(ImportMappings, ReplaceKeepsTheImportedIdsSoALaterAppendAddsNothing) {
    Importing i({makeMapping("Old", {0x04})});
    const std::vector<KeyMapping> incoming = {makeMapping("X", {0x05}), makeMapping("Y", {0x06})};
    i.w.model->importMappings(incoming, false);
    i.w.model->replaceImportedMappings();
    EXPECT_EQ(names(i.record()), (std::vector<std::string>{"X", "Y"}));
    EXPECT_EQ(i.record()->mappings[0].id, incoming[0].id);
    EXPECT_EQ(i.fileNames(), (std::vector<std::string>{"X", "Y"}));

    i.w.model->importMappings(incoming, false);
    i.w.model->appendImportedMappings();
    EXPECT_EQ(names(i.record()), (std::vector<std::string>{"X", "Y"}));
}

TEST(ImportMappings, ReplaceWithAnEmptyFileEmptiesTheRecord) {
    Importing i({makeMapping("Old", {0x04})});
    i.w.model->importMappings({}, false);
    i.w.model->replaceImportedMappings();
    EXPECT_TRUE(names(i.record()).empty());
    EXPECT_TRUE(i.fileNames().empty());
    EXPECT_TRUE(i.w.logged("Mappings loaded: 0"));
}

TEST(ImportMappings, DirectImportIntoAKeyboardWithoutMappingsTakesEverything) {
    Importing i({}, false);
    // Loading an absent file made an empty record: direct import appends.
    const KeyMapping dup1 = makeMapping("Dup", {0x04});
    const KeyMapping dup2 = makeMapping("Dup", {0x04});
    i.w.model->importMappings({dup1, dup2}, true);
    EXPECT_FALSE(i.w.model->showingImportChoice);
    EXPECT_EQ(names(i.record()), (std::vector<std::string>{"Dup", "Dup"}));
    EXPECT_EQ(i.fileNames(), (std::vector<std::string>{"Dup", "Dup"}));
}

TEST(ImportMappings, DirectImportWithNoRecordAtAllCreatesOne) {
    Importing i({}, false);
    i.w.engine->setAllDeviceMappings({}); // as if loading had made nothing
    i.w.model->importMappings({makeMapping("Dup", {0x04}), makeMapping("Dup", {0x04})}, true);
    ASSERT_NE(i.record(), nullptr);
    EXPECT_EQ(i.record()->productName, "Board");
    EXPECT_EQ(i.record()->productID, 1);
    EXPECT_EQ(names(i.record()), (std::vector<std::string>{"Dup", "Dup"}));
    EXPECT_EQ(i.fileNames(), (std::vector<std::string>{"Dup", "Dup"}));
}

TEST(ClearAllMappings, EmptiesTheRecordAndTheFile) {
    Importing i({makeMapping("A", {0x04}), makeMapping("B", {0x05})});
    i.w.model->clearAllMappings();
    EXPECT_EQ(i.w.model->mappingPaneState(), chordwell::app::MappingPaneState::noMappings);
    EXPECT_TRUE(i.fileNames().empty());
    EXPECT_EQ(i.w.breadcrumbs.back(), "Cleared all mappings");
}

TEST(ImportFile, ReadsOneRecordsMappingsAndRefusesEverythingElse) {
    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(root / name) << text;
        return root / name;
    };
    const DeviceMapping record = makeRecord("Other", 5, 6, {makeMapping("A", {0x04})});
    const auto good = write("good.json", chordwell::encodeDeviceMapping(record));
    const auto array =
        write("array.json", "[" + chordwell::toJson(record.mappings[0]).dump() + "]");
    const auto garbage = write("garbage.json", "{not json");
    const auto empty = write("empty.json", "");
    std::string broken = chordwell::encodeDeviceMapping(
        makeRecord("Other", 5, 6, {makeMapping("A", {0x04}), makeMapping("B", {0x05})}));
    broken.replace(broken.rfind("\"copyOperation\""), 15, "\"frobnicate\"");
    const auto badMapping = write("bad-mapping.json", broken);
    std::filesystem::create_directories(root / "folder.json");
    ASSERT_EQ(::mkfifo((root / "fifo.json").c_str(), 0600), 0);

    const auto ok = readImportFile(good);
    ASSERT_TRUE(ok.mappings) << ok.error;
    ASSERT_EQ(ok.mappings->size(), 1u);
    EXPECT_EQ((*ok.mappings)[0].id, record.mappings[0].id) << "each mapping keeps its id";

    // The file and the problem in words; the reader's own words as detail.
    struct Case {
        std::filesystem::path path;
        std::string error;
        std::string detailStart;
    };
    const std::vector<Case> refused = {
        {array,
         "The file “array.json” is not a Chordwell mapping file: it does not hold the mappings "
         "of a keyboard.",
         ""},
        {garbage,
         "The file “garbage.json” is not a Chordwell mapping file: its text is not valid JSON.",
         "invalid JSON"},
        {empty,
         "The file “empty.json” is not a Chordwell mapping file: its text is not valid JSON.",
         "invalid JSON"},
        {badMapping,
         "The file “bad-mapping.json” is not a Chordwell mapping file: mapping number 2 in it is "
         "incomplete or has a wrong value.",
         "mappings[1]."},
        {root / "missing.json", "The file “missing.json” could not be found.", ""},
        {root / "folder.json",
         "“folder.json” is not a regular file. Choose a mapping file (.json).", ""},
        {root / "fifo.json", "“fifo.json” is not a regular file. Choose a mapping file (.json).",
         ""}, // would block for ever
    };
    for (const Case& c : refused) {
        const auto result = readImportFile(c.path);
        EXPECT_FALSE(result.mappings) << c.path;
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.detail.rfind(c.detailStart, 0), 0u) << result.detail;
        EXPECT_FALSE(result.detail.empty()) << c.path << ": the detail comes second";
    }
}

TEST(ImportFile, AFileAboveTheSizeBoundIsRefusedBeforeItIsRead) {
    QTemporaryDir dir;
    const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "big.json";
    const std::string text =
        chordwell::encodeDeviceMapping(makeRecord("Board", 1, 1, {makeMapping("A", {0x04})}));
    std::ofstream(file) << text;
    EXPECT_TRUE(readImportFile(file, text.size()).mappings) << "exactly at the bound";
    const auto refused = readImportFile(file, text.size() - 1);
    EXPECT_FALSE(refused.mappings);
    EXPECT_NE(refused.error.find("too large"), std::string::npos) << refused.error;
    EXPECT_EQ(chordwell::app::kMaxImportFileSize, 10u * 1024u * 1024u);
}

TEST(ExportFile, ProposedNameIsSafeForAnyDeviceName) {
    struct Case {
        std::string productName;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Magic Keyboard", "Magic Keyboard-mappings.json"},
        {"USB/PS2 Keyboard", "USB-PS2 Keyboard-mappings.json"},
        {"../../etc/passwd", "-..-etc-passwd-mappings.json"},
        {"a\\b:c*d?e\"f<g>h|i", "a-b-c-d-e-f-g-h-i-mappings.json"},
        {std::string("Tab\tNew\nLine", 12), "Tab-New-Line-mappings.json"},
        {"", "Keyboard-mappings.json"},
        {"  ...  ", "Keyboard-mappings.json"},
        {"Clavier français", "Clavier français-mappings.json"},
        {"\xff\xfe broken", "\xef\xbf\xbd\xef\xbf\xbd broken-mappings.json"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(proposedExportFileName(c.productName), c.expected) << c.productName;
    }
    const std::string longName(400, 'k');
    const std::string proposed = proposedExportFileName(longName);
    EXPECT_LE(proposed.size(), 255u);
    EXPECT_EQ(proposed.substr(proposed.size() - 14), "-mappings.json");
    // A multi-byte character is never cut in half.
    const std::string emoji =
        proposedExportFileName(std::string(100, 'x') + std::string(60, ' ') +
                               "\xF0\x9F\x8E\xB9\xF0\x9F\x8E\xB9" + std::string(100, 'y'));
    EXPECT_TRUE(QString::fromStdString(emoji).toStdString() == emoji);
}

TEST(ExportFile, WritesTheCompactRecordThatImportReadsBack) {
    QTemporaryDir dir;
    const std::filesystem::path file = std::filesystem::path(dir.path().toStdString()) / "out.json";
    const DeviceMapping record = makeRecord("Board", 1, 2, {makeMapping("A", {0x04})});
    std::string error;
    ASSERT_TRUE(writeExportFile(file, record, error)) << error;
    std::ifstream in(file);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    EXPECT_EQ(text, chordwell::encodeDeviceMapping(record));
    EXPECT_EQ(text.find('\n'), std::string::npos) << "compact";
    const auto back = readImportFile(file);
    ASSERT_TRUE(back.mappings);
    EXPECT_EQ(*back.mappings, record.mappings);

    // A failure names the folder and says what to do.
    const std::filesystem::path root = dir.path().toStdString();
    std::string detail;
    EXPECT_FALSE(writeExportFile(root / "no" / "x.json", record, error, &detail));
    EXPECT_EQ(error,
              "The folder “" + (root / "no").string() + "” does not exist. Choose another folder.");
    EXPECT_FALSE(detail.empty());
    if (::geteuid() != 0) { // the superuser writes anywhere
        std::filesystem::create_directories(root / "locked");
        std::filesystem::permissions(root / "locked", std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_exec);
        EXPECT_FALSE(writeExportFile(root / "locked" / "x.json", record, error));
        EXPECT_EQ(error, "Chordwell may not write into the folder “" + (root / "locked").string() +
                             "”. Choose another folder, such as your home folder.");
        std::filesystem::permissions(root / "locked", std::filesystem::perms::owner_all);
    }
}

TEST(ExportFile, TheFileDialogsOpenInAFolderThatExists) {
    QTemporaryDir dir;
    const std::filesystem::path home = dir.path().toStdString();
    EXPECT_EQ(chordwell::app::defaultFileFolder(home / "Documents", home), home)
        << "a fresh account may have no Documents folder";
    std::filesystem::create_directories(home / "Documents");
    EXPECT_EQ(chordwell::app::defaultFileFolder(home / "Documents", home), home / "Documents");
    EXPECT_EQ(chordwell::app::defaultFileFolder({}, home), home);
}

TEST(ImportMappings, BreadcrumbCountsTheMappingsActuallyAdded) {
    const KeyMapping a = makeMapping("A", {0x04});
    const KeyMapping b = makeMapping("B", {0x05});
    struct Case {
        const char* what;
        std::vector<KeyMapping> incoming;
        bool direct;
        std::string crumb;
    };
    const std::vector<Case> cases = {
        {"all duplicates", {a}, false, "Imported 0 mappings (append)"},
        {"one new of two", {a, b}, false, "Imported 1 mappings (append)"},
        {"direct, all duplicates", {a, a}, true, "Imported 0 mappings"},
        {"direct, one new", {a, b}, true, "Imported 1 mappings"},
    };
    for (const Case& c : cases) {
        Importing i({a});
        i.w.model->importMappings(c.incoming, c.direct);
        if (!c.direct) {
            i.w.model->appendImportedMappings();
        }
        ASSERT_FALSE(i.w.breadcrumbs.empty()) << c.what;
        EXPECT_EQ(i.w.breadcrumbs.back(), c.crumb) << c.what;
    }
}

TEST(ExportMappings, ATypedNameWithoutExtensionGetsJson) {
    struct Case {
        const char* typed;
        const char* saved;
    };
    const std::vector<Case> cases = {
        {"Magic Keyboard-mappings", "Magic Keyboard-mappings.json"},
        {"keys.json", "keys.json"},
        {"keys.JSON", "keys.JSON"},
        {"keys.txt", "keys.txt"},
        {"v1.2 keys", "v1.2 keys.json"},
        {"keys.", "keys..json"},
        {".keys", ".keys.json"}, // a hidden file; the dot is no extension
        {"..keys", "..keys.json"},
        {".keys.json", ".keys.json"},
    };
    for (const Case& c : cases) {
        const std::filesystem::path folder = "/tmp/exports";
        EXPECT_EQ(chordwell::app::withJsonExtension(folder / c.typed), folder / c.saved) << c.typed;
    }
}
