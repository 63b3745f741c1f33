// The mapping table's item model: the rows of the selected keyboard's
// mappings, told to the view by difference, and their texts made when a row
// is drawn.
#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/mapping_table.hpp"

#include "model/key_labels.hpp"

#include <algorithm>

namespace chordwell::app {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

bool sameMapping(const KeyMapping& a, const KeyMapping& b) {
    return a.id == b.id && a == b;
}

// Lower case without the characters that separate keys, so that "Ctrl+A",
// "ctrl a" and "ctrla" are one search.
QString folded(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c != QLatin1Char('+') && c != QLatin1Char(',') && !c.isSpace()) {
            out += c.toCaseFolded();
        }
    }
    return out;
}

} // namespace

MappingTableModel::MappingTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void MappingTableModel::setConventions(const Conventions& conventions) {
    beginResetModel();
    conventions_ = conventions;
    searchText_.clear();
    applyFilter();
    endResetModel();
}

void MappingTableModel::setKeyLayout(std::shared_ptr<const KeyLayout> layout) {
    if (layout == layout_) {
        return;
    }
    beginResetModel();
    layout_ = std::move(layout);
    searchText_.clear();
    applyFilter();
    endResetModel();
}

void MappingTableModel::setFilter(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == filter_) {
        return;
    }
    beginResetModel();
    filter_ = trimmed;
    applyFilter();
    endResetModel();
    ++resetCount_;
}

void MappingTableModel::applyFilter() {
    shown_.clear();
    if (!filtered()) {
        return;
    }
    if (searchText_.size() != rows_.size()) {
        // Name, keys in the shown and the spoken words, output and its keys.
        searchText_.clear();
        searchText_.reserve(rows_.size());
        for (const KeyMapping& m : rows_) {
            const std::string output = m.outputBehavior.isCustomKeySequence()
                                           ? m.outputBehavior.name()
                                           : m.outputBehavior.displayLabel();
            searchText_.push_back(folded(
                qs(m.name + "\x1f" + mappingInputText(m, conventions_.keyNames, layout_.get()) +
                   "\x1f" + mappingInputText(m, conventions_.spokenKeyNames, layout_.get()) +
                   "\x1f" + output + "\x1f" +
                   mappingOutputKeysText(m, conventions_.keyNames, conventions_.showBuiltInKeys,
                                         layout_.get()))));
        }
    }
    const QString needle = folded(filter_);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (searchText_[i].contains(needle)) {
            shown_.push_back(i);
        }
    }
}

std::size_t MappingTableModel::rowIndex(int row) const {
    return filtered() ? shown_[static_cast<std::size_t>(row)] : static_cast<std::size_t>(row);
}

void MappingTableModel::setMappings(const std::vector<KeyMapping>& next) {
    if (filtered()) {
        // Rows come and go by the search as well: shown afresh.
        const bool same = next.size() == rows_.size() &&
                          std::equal(next.begin(), next.end(), rows_.begin(), sameMapping);
        if (same) {
            return;
        }
        beginResetModel();
        rows_ = next;
        searchText_.clear();
        applyFilter();
        endResetModel();
        ++resetCount_;
        return;
    }
    searchText_.clear();
    const std::size_t old = rows_.size();
    const std::size_t count = next.size();
    const std::size_t common = std::min(old, count);
    std::size_t prefix = 0;
    while (prefix < common && sameMapping(rows_[prefix], next[prefix])) {
        ++prefix;
    }
    if (prefix == old && count == old) {
        return;
    }
    std::size_t suffix = 0;
    while (suffix < common - prefix &&
           sameMapping(rows_[old - 1 - suffix], next[count - 1 - suffix])) {
        ++suffix;
    }
    const auto first = static_cast<int>(prefix);
    if (count > old && prefix + suffix == old) {
        // Rows inserted in one place (at the end: a new mapping, an import).
        const auto added = static_cast<std::ptrdiff_t>(count - old);
        beginInsertRows({}, first, first + static_cast<int>(added) - 1);
        rows_.insert(rows_.begin() + first, next.begin() + first, next.begin() + first + added);
        endInsertRows();
        return;
    }
    if (count < old && prefix + suffix == count) {
        // Rows removed from one place (a delete, a clear).
        const auto removed = static_cast<std::ptrdiff_t>(old - count);
        beginRemoveRows({}, first, first + static_cast<int>(removed) - 1);
        rows_.erase(rows_.begin() + first, rows_.begin() + first + removed);
        endRemoveRows();
        return;
    }
    if (count == old) {
        // Rows changed in place (an edit).
        const std::size_t end = old - suffix;
        for (std::size_t i = prefix; i < end; ++i) {
            rows_[i] = next[i];
        }
        Q_EMIT dataChanged(index(first, 0), index(static_cast<int>(end) - 1, columnCount_ - 1));
        return;
    }
    beginResetModel();
    rows_ = next;
    endResetModel();
    ++resetCount_;
}

void MappingTableModel::setEditing(const std::optional<KeyMapping>& editing) {
    const bool same = editing.has_value() == editing_.has_value() &&
                      (!editing || sameMapping(*editing, *editing_));
    if (same) {
        return;
    }
    editing_ = editing;
    actionsColumnChanged(0, rowCount() - 1);
}

void MappingTableModel::setActionsEnabled(bool enabled) {
    if (enabled == actionsEnabled_) {
        return;
    }
    actionsEnabled_ = enabled;
    actionsColumnChanged(0, rowCount() - 1);
}

void MappingTableModel::actionsColumnChanged(int firstRow, int lastRow) {
    if (firstRow <= lastRow) {
        Q_EMIT dataChanged(index(firstRow, actionsColumn), index(lastRow, actionsColumn));
    }
}

const KeyMapping* MappingTableModel::mappingAt(int row) const {
    if (row < 0 || row >= rowCount()) {
        return nullptr;
    }
    return &rows_[rowIndex(row)];
}

bool MappingTableModel::isBeingEdited(int row) const {
    const KeyMapping* m = mappingAt(row);
    return m != nullptr && editing_ && *m == *editing_;
}

int MappingTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) {
        return 0;
    }
    return static_cast<int>(filtered() ? shown_.size() : rows_.size());
}

int MappingTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant MappingTableModel::data(const QModelIndex& index, int role) const {
    const KeyMapping* m = index.isValid() ? mappingAt(index.row()) : nullptr;
    if (m == nullptr) {
        return {};
    }
    auto mainText = [&]() -> QString {
        switch (index.column()) {
        case nameColumn:
            return qs(m->name);
        case inputColumn:
            return qs(mappingInputText(*m, conventions_.keyNames, layout_.get()));
        case outputColumn:
            return qs(m->outputBehavior.isCustomKeySequence() ? m->outputBehavior.name()
                                                              : m->outputBehavior.displayLabel());
        default:
            return {};
        }
    };
    auto detailText = [&]() -> QString {
        switch (index.column()) {
        case inputColumn:
            return conventions_.usagesAsCaption ? qs(usagesText(m->inputKeyCodes)) : QString();
        case outputColumn:
            return qs(mappingOutputKeysText(*m, conventions_.keyNames, conventions_.showBuiltInKeys,
                                            layout_.get()));
        default:
            return {};
        }
    };
    switch (role) {
    case Qt::DisplayRole:
        return mainText();
    case DetailRole:
        return detailText();
    case Qt::ToolTipRole:
        // The numbers the keyboard sent, for whoever needs them.
        if (index.column() == inputColumn && !m->inputKeyCodes.empty()) {
            return QStringLiteral("HID usages: ") + qs(usagesText(m->inputKeyCodes));
        }
        return {};
    case Qt::AccessibleTextRole: {
        // Read as words ("Control+A"), never as glyphs and raw numbers.
        switch (index.column()) {
        case actionsColumn:
            return isBeingEdited(index.row()) ? QStringLiteral("Cancel editing, Delete")
                                              : QStringLiteral("Edit, Delete");
        case inputColumn:
            return qs(mappingInputText(*m, conventions_.spokenKeyNames, layout_.get()));
        case outputColumn: {
            const QString keys = qs(mappingOutputKeysText(
                *m, conventions_.spokenKeyNames, conventions_.showBuiltInKeys, layout_.get()));
            return keys.isEmpty() ? mainText() : mainText() + QStringLiteral(", ") + keys;
        }
        default:
            return mainText();
        }
    }
    case Qt::AccessibleDescriptionRole:
        return QStringLiteral("Enter edits the mapping, Delete deletes it");
    case BeingEditedRole:
        return isBeingEdited(index.row());
    default:
        return {};
    }
}

QVariant MappingTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case nameColumn:
        return QStringLiteral("Name");
    case inputColumn:
        return QStringLiteral("Input");
    case outputColumn:
        return QStringLiteral("Output");
    default:
        return QString();
    }
}

Qt::ItemFlags MappingTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace chordwell::app
