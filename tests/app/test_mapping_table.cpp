// The mapping table and the keyboard list as item models: they follow their
// source by difference (checked against the plain answer on random walks),
// the keyboard reaches every row, the keyboard list stays readable in every
// state, and the views do no work for changes they do not show.
#include "app_test_support.hpp"

#include "app/mappings/keyboard_list.hpp"
#include "app/mappings/keyboard_mapping_view.hpp"
#include "app/mappings/mapping_dialogs.hpp"
#include "app/mappings/mapping_editor_view.hpp"
#include "app/mappings/mapping_table.hpp"
#include "app/shell/engine_bridge.hpp"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <random>

using chordwell::KeyboardDevice;
using chordwell::KeyMapping;
using chordwell::OutputBehavior;
using chordwell::app::EngineBridge;
using chordwell::app::KeyboardListDelegate;
using chordwell::app::KeyboardListModel;
using chordwell::app::KeyboardMappingView;
using chordwell::app::MappingTableModel;
using chordwell::app::RowAction;
using chordwell::app::sortedKeyboards;
using chordwell::app::testing::makeMapping;
using chordwell::app::testing::makeRecord;
using chordwell::app::testing::ModelWorld;

namespace {

std::vector<chordwell::Uuid> idsOf(const MappingTableModel& model) {
    std::vector<chordwell::Uuid> ids;
    for (int r = 0; r < model.rowCount(); ++r) {
        ids.push_back(model.mappingAt(r)->id);
    }
    return ids;
}

std::vector<chordwell::Uuid> idsOf(const std::vector<KeyMapping>& mappings) {
    std::vector<chordwell::Uuid> ids;
    for (const KeyMapping& m : mappings) {
        ids.push_back(m.id);
    }
    return ids;
}

// Relative luminance contrast of two colours (1 to 21).
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

TEST(MappingTableModel, FollowsEveryChangeAndKeepsRowsForAppendsDeletesAndEdits) {
    MappingTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::mt19937 random(12);
    std::vector<KeyMapping> list;
    int nextName = 0;
    auto fresh = [&] {
        return makeMapping("m" + std::to_string(nextName++),
                           {0xE0, static_cast<chordwell::HidUsage>(4 + nextName % 20)});
    };
    for (int step = 0; step < 400; ++step) {
        const int resetsBefore = model.resetCount();
        const int op = static_cast<int>(random() % 6);
        bool inPlace = true; // the change reaches the view without a reset
        if (op == 0 || list.empty()) {
            const int count = 1 + static_cast<int>(random() % 5);
            for (int i = 0; i < count; ++i) {
                list.push_back(fresh());
            }
        } else if (op == 1) {
            list.erase(list.begin() + static_cast<long>(random() % list.size()));
        } else if (op == 2) {
            KeyMapping& m = list[random() % list.size()];
            m.name += "*"; // an edit keeps the id
            m.outputBehavior = OutputBehavior::pasteOperation();
        } else if (op == 3) {
            // An equal copy under another id counts as another row.
            list[random() % list.size()].id = chordwell::Uuid::random();
        } else if (op == 4) {
            list.insert(list.begin() + static_cast<long>(random() % list.size()), fresh());
        } else {
            std::shuffle(list.begin(), list.end(), random);
            inPlace = false;
        }
        model.setMappings(list);
        ASSERT_EQ(idsOf(model), idsOf(list)) << "step " << step;
        for (std::size_t i = 0; i < list.size(); ++i) {
            ASSERT_TRUE(*model.mappingAt(static_cast<int>(i)) == list[i]) << "step " << step;
        }
        if (inPlace) {
            EXPECT_EQ(model.resetCount(), resetsBefore) << "step " << step << " op " << op;
        }
    }
    model.setMappings({});
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(MappingTableModel, RowTextsAsTheTableShowsThem) {
    using chordwell::app::Conventions;
    using chordwell::app::UiPlatform;
    MappingTableModel model;
    model.setConventions(Conventions::of(UiPlatform::macOS));
    KeyMapping custom =
        makeMapping("Undo twice", {0xE3, 0x1D},
                    OutputBehavior::customKeySequence(
                        "Undo", {{6, chordwell::kMaskCommand}, {6, chordwell::kMaskCommand}}));
    custom.inputTapCodes = {{55, 0}, {6, 0}};
    model.setMappings({makeMapping("Copy", {0xE0, 0x04}), custom});
    struct Case {
        int row;
        int column;
        QString main;
        QString detail;
    };
    const std::vector<Case> cases = {
        {0, MappingTableModel::nameColumn, "Copy", ""},
        {0, MappingTableModel::inputColumn, "⌃ A", "224, 4"},
        {0, MappingTableModel::outputColumn, "Copy", ""},
        {1, MappingTableModel::inputColumn, "⌘ Z", "227, 29"},
        {1, MappingTableModel::outputColumn, "Undo", "⌘Z, ⌘Z"},
    };
    // Elsewhere: words, the raw numbers in the tooltip, one line per row
    // with what a built-in output types here.
    const QString copyKeys = QString::fromStdString(chordwell::app::builtInKeysText(
        OutputBehavior::Kind::copyOperation, chordwell::KeyNames::pcWords));
    const std::vector<Case> linuxCases = {
        {0, MappingTableModel::nameColumn, "Copy", ""},
        {0, MappingTableModel::inputColumn, "Ctrl+A", ""},
        {0, MappingTableModel::outputColumn, "Copy", copyKeys},
        {1, MappingTableModel::inputColumn, "Super+Z", ""},
        {1, MappingTableModel::outputColumn, "Undo", "Super+Z, Super+Z"},
    };
    for (const auto& [platform, expected] :
         {std::pair{UiPlatform::macOS, cases}, {UiPlatform::linuxDesktop, linuxCases}}) {
        model.setConventions(Conventions::of(platform));
        for (const Case& c : expected) {
            const QModelIndex index = model.index(c.row, c.column);
            EXPECT_EQ(index.data(Qt::DisplayRole).toString(), c.main) << c.row << "," << c.column;
            EXPECT_EQ(index.data(MappingTableModel::DetailRole).toString(), c.detail)
                << c.row << "," << c.column;
        }
        EXPECT_EQ(model.index(0, MappingTableModel::inputColumn).data(Qt::ToolTipRole),
                  "HID usages: 224, 4");
        // Read aloud as words, never as glyphs and numbers.
        EXPECT_EQ(model.index(0, MappingTableModel::inputColumn).data(Qt::AccessibleTextRole),
                  platform == UiPlatform::macOS ? "Control+A" : "Ctrl+A");
    }
    model.setEditing(custom);
    EXPECT_FALSE(model.isBeingEdited(0));
    EXPECT_TRUE(model.isBeingEdited(1));
}

TEST(MappingTableView, ACellTooNarrowForItsTextSaysTheWholeOfItOnHover) {
    using chordwell::app::Conventions;
    using chordwell::app::MappingTableView;
    using chordwell::app::UiPlatform;
    MappingTableModel model;
    model.setConventions(Conventions::of(UiPlatform::linuxDesktop));
    model.setMappings(
        {makeMapping("Undo twice", {0xE3, 0x1D},
                     OutputBehavior::customKeySequence(
                         "Undo", {{6, chordwell::kMaskControl}, {6, chordwell::kMaskControl}})),
         makeMapping("Copy", {0xE0, 0x04})});
    MappingTableView view;
    view.setMappingModel(&model);
    view.show();
    const auto tipOver = [&](int row, int column) {
        QToolTip::hideText();
        const QModelIndex index = model.index(row, column);
        const QPoint at = view.visualRect(index).center();
        QHelpEvent help(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    view.resize(900, 300);
    QApplication::processEvents();
    EXPECT_EQ(tipOver(0, MappingTableModel::outputColumn), QString()) << "room enough";
    EXPECT_EQ(tipOver(0, MappingTableModel::inputColumn), "HID usages: 227, 29");
    view.resize(300, 300);
    QApplication::processEvents();
    EXPECT_EQ(tipOver(0, MappingTableModel::outputColumn), "Undo  Ctrl+Z, Ctrl+Z");
    EXPECT_EQ(tipOver(0, MappingTableModel::nameColumn), "Undo twice");
    // The cell's own tooltip stays, under the whole text.
    EXPECT_TRUE(tipOver(0, MappingTableModel::inputColumn).endsWith("HID usages: 227, 29"));
    QToolTip::hideText();

    // Whatever the width, a cell whose text the painter would cut short
    // offers the whole of it, and one that shows everything offers nothing.
    auto* delegate = static_cast<chordwell::app::MappingTableDelegate*>(view.itemDelegate());
    for (const bool twoLines : {false, true}) {
        delegate->setTwoLines(twoLines);
        for (int row = 0; row < model.rowCount(); ++row) {
            for (const int column : {MappingTableModel::nameColumn, MappingTableModel::inputColumn,
                                     MappingTableModel::outputColumn}) {
                const QModelIndex index = model.index(row, column);
                bool cutAtWider = false;
                for (int width = 400; width >= 10; width -= 3) {
                    QStyleOptionViewItem option;
                    option.font = view.font();
                    option.rect = QRect(0, 0, width, 40);
                    const QString whole = delegate->cutShortText(option, index);
                    const QString main = index.data(Qt::DisplayRole).toString();
                    const QFontMetrics metrics(option.font);
                    if (metrics.elidedText(main, Qt::ElideRight, width - 12) != main) {
                        EXPECT_TRUE(whole.startsWith(main)) << width << " " << main.toStdString();
                    }
                    if (cutAtWider) {
                        EXPECT_FALSE(whole.isEmpty()) << "narrower cells cut at least as much";
                    }
                    cutAtWider = !whole.isEmpty();
                }
            }
        }
    }
}

TEST(KeyboardListModel, FollowsAttachAndDetachInTheSortedOrder) {
    KeyboardListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const std::vector<std::string> names = {"Magic Keyboard", "magic keyboard", "Apple Internal",
                                            "ergo K860",      "Ergo k860",      "Zeta"};
    std::mt19937 random(7);
    std::vector<KeyboardDevice> discovered;
    std::optional<chordwell::Uuid> selected;
    for (int step = 0; step < 300; ++step) {
        if (discovered.empty() || random() % 3 != 0) {
            KeyboardDevice k;
            k.productName = names[random() % names.size()];
            k.vendorID = step;
            discovered.push_back(k);
        } else {
            discovered.erase(discovered.begin() + static_cast<long>(random() % discovered.size()));
        }
        if (random() % 4 == 0) {
            selected = discovered.empty()
                           ? std::nullopt
                           : std::optional(discovered[random() % discovered.size()].id);
        }
        model.sync(discovered, selected);
        const std::vector<KeyboardDevice> expected = sortedKeyboards(discovered);
        ASSERT_EQ(model.rowCount(), static_cast<int>(expected.size())) << "step " << step;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const QModelIndex index = model.index(static_cast<int>(i));
            ASSERT_EQ(model.keyboardAt(static_cast<int>(i))->id, expected[i].id) << "step " << step;
            EXPECT_EQ(index.data(KeyboardListModel::IsSelectedDeviceRole).toBool(),
                      selected == expected[i].id);
            EXPECT_EQ(index.data(KeyboardListModel::VendorTextRole).toString(),
                      QStringLiteral("Vendor: ") +
                          QString::fromStdString(chordwell::app::identifierText(
                              expected[i].vendorID, chordwell::app::thisDesktop())));
        }
    }
}

TEST(KeyboardListDelegate, EveryLineReadableAndStatesConsistent) {
    QPalette light = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2B, 0x2B, 0x2B));
    dark.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    dark.setColor(QPalette::PlaceholderText, QColor(0x99, 0x99, 0x99));
    dark.setColor(QPalette::Highlight, QColor(0x2F, 0x65, 0xCA));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x70, 0x70, 0x70));
    for (const QPalette& palette : {light, dark}) {
        for (bool active : {true, false}) {
            const auto selected = KeyboardListDelegate::colorsFor(palette, true, true, active);
            const QPalette::ColorGroup group = active ? QPalette::Active : QPalette::Inactive;
            EXPECT_GE(contrast(selected.detail, palette.color(group, QPalette::Highlight)), 3.0)
                << "the Vendor/Product lines on the selection highlight";
            EXPECT_EQ(selected.title, selected.detail);

            const auto disabled = KeyboardListDelegate::colorsFor(palette, false, false, active);
            EXPECT_EQ(disabled.title, disabled.detail) << "greyed together while intercepting";
            EXPECT_NE(disabled.title, palette.color(group, QPalette::Text));

            const auto normal = KeyboardListDelegate::colorsFor(palette, true, false, active);
            EXPECT_GE(contrast(normal.detail, palette.color(group, QPalette::Base)), 4.5)
                << "Vendor/Product lines are dimmed, but readable";
            EXPECT_LT(contrast(normal.detail, palette.color(group, QPalette::Base)),
                      contrast(normal.title, palette.color(group, QPalette::Base)));
            EXPECT_EQ(normal.title, palette.color(group, QPalette::Text));
        }
    }
}

namespace {

// The main window's content on a simulated world: "Magic Keyboard" with
// three stored mappings is selected.
std::vector<KeyMapping> threeMappings() {
    return {makeMapping("Copy", {0xE0, 0x04}),
            makeMapping("Paste", {0xE0, 0x19}, OutputBehavior::pasteOperation()),
            makeMapping("Search", {0xE3, 0x2C}, OutputBehavior::openSearchBar())};
}

struct Pane {
    explicit Pane(std::vector<KeyMapping> mappings = threeMappings()) {
        w.writeMappingFile(0x05AC, 0x024F,
                           makeRecord("Magic Keyboard", 0x05AC, 0x024F, std::move(mappings)));
        magic = w.attach("Magic Keyboard", 0x05AC, 0x024F, 1);
        view = std::make_unique<KeyboardMappingView>(*w.model, bridge);
        view->resize(900, 640);
        view->show();
        w.model->selectKeyboard(w.device(magic));
        pump();
    }
    void pump() {
        for (int i = 0; i < 3; ++i) {
            w.world->runMainQueue();
            QCoreApplication::processEvents();
        }
    }
    QWidget* focused() const { return QApplication::focusWidget(); }

    ModelWorld w;
    std::shared_ptr<chordwell::platform::sim::SimKeyboard> magic;
    EngineBridge bridge{*w.engine};
    std::unique_ptr<KeyboardMappingView> view;
};

} // namespace

TEST(MappingTableKeyboard, ArrowsEnterDeleteAndTabLeaves) {
    Pane p;
    auto* table = p.view->table();
    ASSERT_EQ(p.view->tableModel()->rowCount(), 3);
    p.view->activateWindow();
    QApplication::setActiveWindow(p.view.get());
    table->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(p.focused(), table);
    table->setCurrentIndex(p.view->tableModel()->index(0, 0));

    QTest::keyClick(table, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(table->currentIndex().row(), 2);
    QTest::keyClick(table, Qt::Key_Up);
    EXPECT_EQ(table->currentIndex().row(), 1);

    QTest::keyClick(table, Qt::Key_Return); // edits "Paste"
    p.pump();
    EXPECT_TRUE(p.w.model->isEditingMode);
    EXPECT_EQ(p.w.model->mappingName, "Paste");
    EXPECT_TRUE(p.view->tableModel()->isBeingEdited(1));
    QTest::keyClick(table, Qt::Key_Return); // the same key cancels, as the xmark does
    p.pump();
    EXPECT_FALSE(p.w.model->isEditingMode);

    QTest::keyClick(table, Qt::Key_Delete); // asks first
    p.pump();
    ASSERT_NE(p.view->deleteDialog(), nullptr);
    EXPECT_EQ(p.view->deleteDialog()->nameText(), "Name: <b>Paste</b>");
    p.view->deleteDialog()->deleteButton()->click();
    p.pump();
    EXPECT_EQ(p.view->tableModel()->rowCount(), 2);

    // Tab leaves the table in both directions; the table never keeps it.
    table->setFocus(Qt::TabFocusReason);
    QTest::keyClick(table, Qt::Key_Tab);
    EXPECT_NE(p.focused(), table);
    table->setFocus(Qt::TabFocusReason);
    QTest::keyClick(table, Qt::Key_Backtab);
    EXPECT_NE(p.focused(), table);

    // While intercepting, keys change nothing.
    p.w.model->toggleInterception(true);
    p.pump();
    table->setFocus(Qt::TabFocusReason);
    table->setCurrentIndex(p.view->tableModel()->index(0, 0));
    QTest::keyClick(table, Qt::Key_Delete);
    QTest::keyClick(table, Qt::Key_Return);
    p.pump();
    EXPECT_EQ(p.view->deleteDialog(), nullptr);
    EXPECT_FALSE(p.w.model->isEditingMode);
}

TEST(MappingTableUpdates, KeyEventsLeaveTheTableAloneAndAHiddenViewDoesNoWork) {
    Pane p;
    p.w.model->toggleInterception(true);
    p.pump();
    auto* table = p.view->tableModel();
    QSignalSpy reset(table, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(table, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(table, &QAbstractItemModel::dataChanged);
    QSignalSpy keyboards(p.view->keyboardListModel(), &QAbstractItemModel::dataChanged);
    // The first press adds its keys to the engine's captured codes (shown
    // by the editor); later presses change only held keys and pass-throughs.
    p.w.world->keyDown(*p.magic, 0xE0);
    p.w.world->keyDown(*p.magic, 0x04);
    p.w.world->keyUp(*p.magic, 0x04);
    p.w.world->keyUp(*p.magic, 0xE0);
    p.pump();
    const int visibleRefreshes = p.view->refreshCount();
    for (int i = 0; i < 5; ++i) {
        p.w.world->keyDown(*p.magic, 0xE0);
        p.w.world->keyDown(*p.magic, 0x04); // Copy fires, the repeat is armed
        p.w.world->keyUp(*p.magic, 0x04);
        p.w.world->keyUp(*p.magic, 0xE0);
        p.pump();
    }
    EXPECT_EQ(reset.count() + inserted.count() + changed.count() + keyboards.count(), 0);
    EXPECT_EQ(p.view->refreshCount(), visibleRefreshes) << "held keys are not shown";

    p.view->hide();
    const int refreshes = p.view->refreshCount();
    for (int i = 0; i < 5; ++i) {
        p.w.world->keyDown(*p.magic, 0x04);
        p.w.world->keyUp(*p.magic, 0x04);
        p.pump();
    }
    p.w.model->toggleInterception(false); // a change the view shows, made while hidden
    p.pump();
    EXPECT_EQ(p.view->refreshCount(), refreshes) << "hidden: nothing redrawn";
    p.view->show();
    p.pump();
    EXPECT_TRUE(p.view->tableModel()->actionsEnabled()) << "caught up when shown again";
    EXPECT_TRUE(p.view->keyboardPane()->isEnabled());
}

TEST(MappingTableUpdates, ManyKeyboardsArrivingOneByOneEndSortedWithTheSelectionKept) {
    Pane p;
    for (int i = 0; i < 150; ++i) {
        // Attached one after another, each in its own turn of the loop.
        p.w.attach((i % 2 ? "dock " : "Dock ") + std::to_string(149 - i), 0x1000 + i, i, 100 + i);
        p.pump();
    }
    auto* list = p.view->keyboardListModel();
    const std::vector<KeyboardDevice> expected = sortedKeyboards(p.w.engine->discoveredKeyboards());
    ASSERT_EQ(list->rowCount(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(list->keyboardAt(static_cast<int>(i))->id, expected[i].id) << i;
    }
    const QModelIndexList chosen = p.view->keyboardList()->selectionModel()->selectedRows();
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(list->keyboardAt(chosen.front().row())->productName, "Magic Keyboard");
    EXPECT_TRUE(chosen.front().data(KeyboardListModel::IsSelectedDeviceRole).toBool());
}

TEST(MappingTableUpdates, AnEditKeepsThePlaceAndANewMappingIsScrolledIntoView) {
    std::vector<KeyMapping> many;
    for (int i = 0; i < 300; ++i) {
        many.push_back(makeMapping("m" + std::to_string(i),
                                   {0xE1, static_cast<chordwell::HidUsage>(0x100 + i)}));
    }
    Pane p(many);
    auto* table = p.view->table();
    auto* rows = p.view->tableModel();
    ASSERT_EQ(rows->rowCount(), 300);
    table->scrollTo(rows->index(200, 0), QAbstractItemView::PositionAtTop);
    const int top = table->rowAt(0);
    ASSERT_GT(top, 100);

    p.w.model->startEditing(*rows->mappingAt(top));
    p.w.model->setMappingName("renamed");
    p.w.model->saveMapping();
    p.pump();
    EXPECT_EQ(rows->rowCount(), 0) << "the first half of an edit empties the list";
    p.w.advance(std::chrono::milliseconds(150));
    p.pump();
    ASSERT_EQ(rows->rowCount(), 300);
    EXPECT_EQ(rows->mappingAt(top)->name, "renamed");
    EXPECT_EQ(table->rowAt(0), top);

    table->scrollToTop();
    p.w.model->setMappingName("fresh");
    p.w.model->capturedInputCodesFrom = {0xE2, 0x2B};
    p.w.model->saveMapping();
    p.pump();
    ASSERT_EQ(rows->rowCount(), 301);
    const QRect last = table->visualRect(rows->index(300, 0));
    EXPECT_TRUE(table->viewport()->rect().contains(last)) << "the saved mapping is in view";
}
