// The main window's content: what the table's row buttons, the file buttons
// and the dialogs they open do.
#include "app/mappings/keyboard_mapping_view.hpp"

#include "app/mappings/mapping_files.hpp"
#include "logging/log.hpp"

#include <QCheckBox>
#include <QMessageBox>

namespace chordwell::app {

namespace {

constexpr std::string_view kCategoryIo = "io";

} // namespace

void KeyboardMappingView::tableActionRequested(int row, RowAction action) {
    const KeyMapping* shown = tableModel_->mappingAt(row);
    if (shown == nullptr || !model_.controlsEnabled()) {
        return;
    }
    const KeyMapping mapping = *shown;
    if (action == RowAction::edit) {
        if (tableModel_->isBeingEdited(row)) {
            model_.clearOrCancel();
        } else {
            model_.startEditing(mapping);
        }
        return;
    }
    const DeviceMapping* record = model_.selectedRecord();
    const auto& keyboard = model_.engine().selectedDevice();
    if (record != nullptr && keyboard) {
        model_.requestDelete(mapping, *keyboard, record->id);
    }
}

void KeyboardMappingView::refreshDialogs() {
    if (model_.mappingToDelete && deleteDialog_ == nullptr) {
        deleteDialog_ = new DeleteConfirmationDialog(*model_.mappingToDelete, this);
        deleteDialog_->setWindowModality(Qt::WindowModal);
        deleteDialog_->setAttribute(Qt::WA_DeleteOnClose);
        connect(deleteDialog_->dontAskAgain(), &QCheckBox::toggled, this,
                [this](bool on) { model_.dontAskAgainDeleteConfirmation = on; });
        connect(deleteDialog_, &QDialog::finished, this, [this](int result) {
            deleteDialog_ = nullptr;
            if (result == QDialog::Accepted) {
                model_.confirmDelete();
            } else if (model_.mappingToDelete) {
                model_.cancelDelete();
            }
        });
        deleteDialog_->open();
    } else if (!model_.mappingToDelete && deleteDialog_ != nullptr) {
        DeleteConfirmationDialog* dialog = deleteDialog_;
        deleteDialog_ = nullptr;
        dialog->reject();
    }

    if (model_.showingImportChoice && importOptions_ == nullptr) {
        importOptions_ = makeImportOptionsDialog(
            this, QString::fromStdString(pendingImportFile_.filename().string()),
            model_.importedMappings.size());
        importOptions_->setWindowModality(Qt::WindowModal);
        connect(importOptions_, &QMessageBox::buttonClicked, this,
                [this](QAbstractButton* clicked) {
                    const ImportChoice choice = importChoiceFor(importOptions_, clicked);
                    importOptions_ = nullptr;
                    switch (choice) {
                    case ImportChoice::replace:
                        model_.replaceImportedMappings();
                        reportImport(pendingImportFile_);
                        break;
                    case ImportChoice::append:
                        model_.appendImportedMappings();
                        reportImport(pendingImportFile_);
                        break;
                    case ImportChoice::cancel:
                        model_.showingImportChoice = false;
                        break;
                    }
                });
        connect(importOptions_, &QObject::destroyed, this, [this] {
            importOptions_ = nullptr;
            model_.showingImportChoice = false;
        });
        importOptions_->open();
    }
}

void KeyboardMappingView::showError(const QString& title, const QString& message,
                                    const QString& details) {
    errorDialog_ = makeFileErrorDialog(title, message, this, details);
    errorDialog_->setWindowModality(Qt::WindowModal);
    connect(errorDialog_, &QObject::destroyed, this, [this] { errorDialog_ = nullptr; });
    errorDialog_->open();
}

void KeyboardMappingView::importClicked(bool direct) {
    const std::optional<std::filesystem::path> path = files_->chooseImportFile(window());
    if (!path) {
        return;
    }
    ImportResult result = readImportFile(*path);
    if (!result.mappings) {
        log(LogLevel::error,
            "Failed to import mappings: " + result.error +
                (result.detail.empty() ? std::string() : " (" + result.detail + ")"),
            kCategoryIo);
        showError(QStringLiteral("Import Error"), QString::fromStdString(result.error),
                  QString::fromStdString(result.detail));
        return;
    }
    pendingImportFile_ = *path;
    model_.importMappings(*result.mappings, direct);
    if (direct) {
        reportImport(*path);
    }
    refresh();
}

void KeyboardMappingView::reportImport(const std::filesystem::path& file) {
    const auto& report = model_.lastImport();
    if (!report) {
        return;
    }
    const auto mappings = [](std::size_t n) {
        return countText(static_cast<std::int64_t>(n)) + (n == 1 ? " mapping" : " mappings");
    };
    std::string text = "Imported " + mappings(report->added) + " from \u201C" +
                       file.filename().string() + "\u201D";
    if (report->added < report->inFile) {
        text += " (" + countText(static_cast<std::int64_t>(report->inFile - report->added)) +
                " already there)";
    }
    text += ".";
    if (report->repeatedCombinations > 0) {
        // Accepted all the same: only the first of them can ever match.
        text += " " + countText(static_cast<std::int64_t>(report->repeatedCombinations)) +
                (report->repeatedCombinations == 1 ? " of them repeats" : " of them repeat") +
                " the keys of an earlier mapping in the file; the earlier one is the one that "
                "matches.";
    }
    Q_EMIT statusMessage(QString::fromStdString(text));
}

void KeyboardMappingView::exportClicked() {
    const DeviceMapping* record = model_.selectedRecord();
    if (record == nullptr) {
        return;
    }
    const DeviceMapping snapshot = *record;
    const QString proposed = QString::fromStdString(proposedExportFileName(snapshot.productName));
    const std::optional<std::filesystem::path> path = files_->chooseExportFile(window(), proposed);
    if (!path) {
        return;
    }
    std::string error;
    std::string detail;
    if (!writeExportFile(*path, snapshot, error, &detail)) {
        log(LogLevel::error, "Export failed: " + error + " (" + detail + ")", kCategoryIo);
        showError(QStringLiteral("Export Error"), QString::fromStdString(error),
                  QString::fromStdString(detail));
        return;
    }
    model_.exportFinished(path->string());
    const std::size_t n = snapshot.mappings.size();
    Q_EMIT statusMessage(QString::fromStdString(
        "Exported " + countText(static_cast<std::int64_t>(n)) +
        (n == 1 ? " mapping" : " mappings") + " to " + path->string() + "."));
}

void KeyboardMappingView::clearAllClicked() {
    clearConfirmation_ = makeClearConfirmationDialog(this);
    clearConfirmation_->setWindowModality(Qt::WindowModal);
    connect(clearConfirmation_, &QMessageBox::buttonClicked, this,
            [this](QAbstractButton* clicked) {
                QMessageBox* box = clearConfirmation_;
                clearConfirmation_ = nullptr;
                if (box != nullptr && box->buttonRole(clicked) == QMessageBox::DestructiveRole) {
                    model_.clearAllMappings();
                }
            });
    connect(clearConfirmation_, &QObject::destroyed, this,
            [this] { clearConfirmation_ = nullptr; });
    clearConfirmation_->open();
}

} // namespace chordwell::app
