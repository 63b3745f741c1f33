// The dialogs of the main window: delete confirmation, import options, clear
// confirmation, import and export errors, and the file choosers. Each dialog
// is built here and opened window-modal (a sheet on macOS) by the caller, so
// that tests can look at its buttons and press them.
#pragma once

#include "model/records.hpp"

#include <QDialog>
#include <QString>

#include <cstddef>
#include <filesystem>
#include <optional>

class QAbstractButton;
class QCheckBox;
class QMessageBox;
class QPushButton;
class QWidget;

namespace chordwell::app {

/// "Confirm: Delete Mapping" with the mapping's summary and "Do not ask
/// again"; accepted = "Delete".
class DeleteConfirmationDialog : public QDialog {
    Q_OBJECT

public:
    DeleteConfirmationDialog(const KeyMapping& mapping, QWidget* parent = nullptr);

    QCheckBox* dontAskAgain() const { return dontAskAgain_; }
    QPushButton* deleteButton() const { return deleteButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    /// The styled "Name: <b>…</b>" text.
    QString nameText() const { return nameText_; }
    QString inputSummary() const { return inputSummary_; }
    QString outputSummary() const { return outputSummary_; }

private:
    QCheckBox* dontAskAgain_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QString nameText_;
    QString inputSummary_;
    QString outputSummary_;
};

/// The choice after a non-direct import.
enum class ImportChoice { replace, append, cancel };

/// "Import Options": "Replace existing mappings", "Append new ones to
/// existing mappings", "Cancel", saying how many mappings `fileName` holds.
QMessageBox* makeImportOptionsDialog(QWidget* parent, const QString& fileName = {},
                                     std::size_t mappingsInFile = 0);
/// Which choice a button of that dialog stands for.
ImportChoice importChoiceFor(QMessageBox* dialog, QAbstractButton* clicked);

/// The clear confirmation: "Clear All" (destructive) and "Cancel".
QMessageBox* makeClearConfirmationDialog(QWidget* parent);
/// "Import Error" / "Export Error" with the reason in words, then the
/// system's own words (`details`), and "OK".
QMessageBox* makeFileErrorDialog(const QString& title, const QString& message, QWidget* parent,
                                 const QString& details = {});

/// A dialog's window as a dialog: a title bar with a close button and no
/// minimise or maximise button.
void makeDialogWindow(QWidget* dialog);

/// The export's file name with ".json" added when the name typed has no
/// extension. Leading dots are kept (they make a hidden file) and do not
/// count as an extension: ".keys" becomes ".keys.json". A name with any
/// extension of its own is left as it is.
std::filesystem::path withJsonExtension(const std::filesystem::path& chosen);

/// The system's file dialogs, replaceable in tests.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    /// One JSON file to import; nothing when cancelled.
    virtual std::optional<std::filesystem::path> chooseImportFile(QWidget* parent);
    /// Where to export, starting from `proposedName`; nothing when cancelled.
    virtual std::optional<std::filesystem::path> chooseExportFile(QWidget* parent,
                                                                  const QString& proposedName);
};

} // namespace chordwell::app
