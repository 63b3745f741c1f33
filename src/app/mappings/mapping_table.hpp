// The mapping table of the main window as a model and a view. Rows are the
// selected keyboard's mappings in record order; the texts of a row are made
// when the row is drawn, so a record of many thousand mappings costs a copy
// of its records and nothing per row until the row scrolls into view. The
// edit and delete buttons of a row are drawn by the delegate (no widget per
// row), and the keyboard reaches every row: arrows move, Enter edits, Delete
// deletes, Tab leaves the table.
#pragma once

#include "app/conventions.hpp"
#include "model/records.hpp"

#include <QAbstractTableModel>
#include <QIcon>
#include <QStyledItemDelegate>
#include <QTableView>

#include <optional>
#include <vector>

namespace chordwell::app {

/// The two buttons at the end of a row.
enum class RowAction { edit, remove };

class MappingTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { nameColumn = 0, inputColumn, outputColumn, actionsColumn, columnCount_ };
    enum Role {
        /// The caption line below the main text ("" when there is none).
        DetailRole = Qt::UserRole + 1,
        /// Bool: the row is the mapping being edited (its first button
        /// shows "xmark" and cancels).
        BeingEditedRole,
    };

    explicit MappingTableModel(QObject* parent = nullptr);

    /// How keys and the raw usage numbers are shown (this desktop's way
    /// unless a test asks for another).
    void setConventions(const Conventions& conventions);
    const Conventions& conventions() const { return conventions_; }
    /// The user's keyboard layout, which key labels follow (the US labels
    /// without one).
    void setKeyLayout(std::shared_ptr<const KeyLayout> layout);

    /// Shows `mappings`. Appends, one removed row and changed rows in place
    /// are told to the view as such (the view keeps its scroll position
    /// and current row); anything else resets the table. Linear in the
    /// number of rows.
    void setMappings(const std::vector<KeyMapping>& mappings);
    /// The mapping being edited, if any.
    void setEditing(const std::optional<KeyMapping>& editing);
    /// The row buttons are drawn disabled and ignore clicks and keys.
    void setActionsEnabled(bool enabled);
    bool actionsEnabled() const { return actionsEnabled_; }

    /// Shows only the mappings whose name, keys or output contain `text`
    /// (case ignored; "ctrl+a", "Ctrl A" and "ctrla" find the same keys).
    /// Empty: every mapping. Linear in the number of mappings; their
    /// searchable texts are made once, at the first search after a change.
    void setFilter(const QString& text);
    const QString& filter() const { return filter_; }
    /// Every mapping of the record, shown or not.
    int totalCount() const { return static_cast<int>(rows_.size()); }

    const KeyMapping* mappingAt(int row) const;
    bool isBeingEdited(int row) const;
    /// How many times the rows were reset (a test sees that a change was
    /// applied in place).
    int resetCount() const { return resetCount_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void actionsColumnChanged(int firstRow, int lastRow);
    void applyFilter();
    bool filtered() const { return !filter_.isEmpty(); }
    std::size_t rowIndex(int row) const;

    Conventions conventions_ = thisDesktop();
    std::shared_ptr<const KeyLayout> layout_;
    std::vector<KeyMapping> rows_;
    QString filter_;
    // While filtering: the indexes of the shown rows in `rows_`, and each
    // row's searchable text (empty until a search needs it).
    std::vector<std::size_t> shown_;
    std::vector<QString> searchText_;
    std::optional<KeyMapping> editing_;
    bool actionsEnabled_ = true;
    int resetCount_ = 0;
};

/// Draws a row: two lines (main text, caption in the secondary colour) for
/// name, input and output, and the two icon buttons.
class MappingTableDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit MappingTableDelegate(QObject* parent = nullptr);

    /// A button's rectangle inside the actions cell `cell`.
    static QRect buttonRect(const QRect& cell, RowAction action);
    /// Width of the actions column.
    static int actionsColumnWidth();
    /// The height every row has: its lines, or the buttons, and padding.
    int rowHeight(const QFont& font) const;
    /// One line per row (the caption after the main text) or two.
    void setTwoLines(bool twoLines) { twoLines_ = twoLines; }
    bool twoLines() const { return twoLines_; }

    /// The button under the pointer (drawn raised), if any.
    void setHovered(int row, std::optional<RowAction> action);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    /// A cell's whole text ("Paste  Ctrl+V") when the cell in `option.rect`
    /// cuts it short, else ""; shown as the cell's tooltip.
    QString cutShortText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    void paintButtons(QPainter* painter, const QStyleOptionViewItem& option,
                      const QModelIndex& index) const;
    const QIcon& icon(const QString& name, const QPalette& palette) const;

    int hoveredRow_ = -1;
    std::optional<RowAction> hoveredAction_;
    bool twoLines_ = true;
    // Tinted icons, made once per palette text colour.
    mutable QRgb iconTint_ = 0;
    mutable QIcon pencil_, xmark_, trash_;
};

class MappingTableView : public QTableView {
    Q_OBJECT

public:
    explicit MappingTableView(QWidget* parent = nullptr);

    /// Sets the model (a MappingTableModel) and sizes rows and columns.
    void setMappingModel(MappingTableModel* model);
    MappingTableModel* mappingModel() const { return model_; }

    /// Where a row's button is, in viewport coordinates (empty when the row
    /// is not laid out).
    QRect actionRect(int row, RowAction action) const;
    /// The tooltip of a row's button.
    QString actionToolTip(int row, RowAction action) const;

Q_SIGNALS:
    /// A row's button was clicked, or Enter / Delete pressed on the row.
    void actionRequested(int row, chordwell::app::RowAction action);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Hit {
        int row = -1;
        std::optional<RowAction> action;
    };
    Hit hitTest(const QPoint& viewportPos) const;
    void setHover(const Hit& hit);
    void updateRowHeight();

    MappingTableModel* model_ = nullptr;
    MappingTableDelegate* delegate_ = nullptr;
    Hit hover_;
    Hit pressed_;
};

} // namespace chordwell::app
