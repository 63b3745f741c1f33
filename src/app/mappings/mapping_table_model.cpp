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

QString outputDetail(const KeyMapping& m) {
    if (!m.outputBehavior.isCustomKeySequence()) {
        return {};
    }
    QString out;
    for (const MacKeySignature& s : m.outputBehavior.signatures()) {
        if (!out.isEmpty()) {
            out += QStringLiteral(", ");
        }
        out += qs(signatureText(s));
    }
    return out;
}

} // namespace

MappingTableModel::MappingTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void MappingTableModel::setMappings(const std::vector<KeyMapping>& next) {
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
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return &rows_[static_cast<std::size_t>(row)];
}

bool MappingTableModel::isBeingEdited(int row) const {
    const KeyMapping* m = mappingAt(row);
    return m != nullptr && editing_ && *m == *editing_;
}

int MappingTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
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
            return qs(signatureText(inputSignatures(*m)));
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
            return qs(usagesText(m->inputKeyCodes));
        case outputColumn:
            return outputDetail(*m);
        default:
            return {};
        }
    };
    switch (role) {
    case Qt::DisplayRole:
        return mainText();
    case DetailRole:
        return detailText();
    case Qt::AccessibleTextRole: {
        if (index.column() == actionsColumn) {
            return isBeingEdited(index.row()) ? QStringLiteral("Cancel editing, Delete")
                                              : QStringLiteral("Edit, Delete");
        }
        const QString detail = detailText();
        return detail.isEmpty() ? mainText() : mainText() + QStringLiteral(", ") + detail;
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
