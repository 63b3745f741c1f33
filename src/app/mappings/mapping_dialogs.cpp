#include "app/mappings/mapping_dialogs.hpp"

#include "app/controls/theme.hpp"
#include "app/conventions.hpp"
#include "app/mappings/keyboard_mapping_model.hpp"
#include "app/mappings/mapping_files.hpp"
#include "model/key_labels.hpp"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>

namespace chordwell::app {

namespace {

constexpr const char* kImportChoiceProperty = "importChoice";

QLabel* summaryBox(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("QLabel { border: 1px solid rgba(128,128,128,0.6); "
                                        "border-radius: 6px; padding: 4px 8px; }"));
    return label;
}

// A destructive button's text in red, as readable on its face as any text.
void markDestructive(QPushButton* button) {
    QPalette palette = button->palette();
    const QColor red = theme::destructiveColour(palette);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::ButtonText, red);
    }
    button->setPalette(palette);
}

QString outputText(const KeyMapping& mapping) {
    const Conventions& c = thisDesktop();
    const OutputBehavior& behavior = mapping.outputBehavior;
    QString text = QString::fromStdString(behavior.isCustomKeySequence() ? behavior.name()
                                                                         : behavior.displayLabel());
    const QString keys =
        QString::fromStdString(mappingOutputKeysText(mapping, c.keyNames, c.showBuiltInKeys));
    if (!keys.isEmpty()) {
        text += QStringLiteral("\n") + keys;
    }
    return text;
}

// Message boxes size themselves to their text: a long file name would be
// wrapped mid-name or make the box as wide as the screen.
void widenMessageBox(QMessageBox* box, int width) {
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

} // namespace

DeleteConfirmationDialog::DeleteConfirmationDialog(const KeyMapping& mapping, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Delete Mapping"));
    setObjectName(QStringLiteral("deleteConfirmation"));
    makeDialogWindow(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(12);

    auto* title = new QLabel(QStringLiteral("Confirm: Delete Mapping"), this);
    QFont f = title->font();
    f.setBold(true);
    title->setFont(f);
    layout->addWidget(title);

    nameText_ = QStringLiteral("Name: <b>") + QString::fromStdString(mapping.name).toHtmlEscaped() +
                QStringLiteral("</b>");
    auto* name = new QLabel(nameText_, this);
    name->setTextFormat(Qt::RichText);
    layout->addWidget(name);

    inputSummary_ = QString::fromStdString(mappingInputText(mapping, thisDesktop().keyNames));
    outputSummary_ = outputText(mapping);
    auto* summary = new QHBoxLayout();
    summary->addWidget(summaryBox(inputSummary_, this));
    summary->addWidget(new QLabel(QStringLiteral("→"), this));
    summary->addWidget(summaryBox(outputSummary_, this));
    summary->addStretch(1);
    layout->addLayout(summary);

    dontAskAgain_ = new QCheckBox(QStringLiteral("Do not ask again"), this);
    layout->addWidget(dontAskAgain_);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    deleteButton_ = new QPushButton(QStringLiteral("Delete"), this);
    markDestructive(deleteButton_);
    // Return does what cannot be undone only where the desktop's own
    // confirmations do so.
    QPushButton* byDefault =
        thisDesktop().confirmationsDefaultToCancel ? cancelButton_ : deleteButton_;
    cancelButton_->setAutoDefault(true);
    deleteButton_->setAutoDefault(true);
    byDefault->setDefault(true);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(deleteButton_);
    layout->addLayout(buttons);

    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(deleteButton_, &QPushButton::clicked, this, &QDialog::accept);
}

QMessageBox* makeImportOptionsDialog(QWidget* parent, const QString& fileName,
                                     std::size_t mappingsInFile) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("importOptions"));
    box->setWindowTitle(QStringLiteral("Import Options"));
    box->setText(QStringLiteral("Import Options"));
    const QString count =
        QString::fromStdString(countText(static_cast<std::int64_t>(mappingsInFile)) +
                               (mappingsInFile == 1 ? " mapping" : " mappings"));
    box->setInformativeText(fileName.isEmpty()
                                ? QStringLiteral("The file holds %1.").arg(count)
                                : QStringLiteral("\u201C%1\u201D holds %2.").arg(fileName, count));
    box->setIcon(QMessageBox::Question);
    makeDialogWindow(box);
    // The platform's button layout sorts buttons by role (Cancel first on
    // some desktops, the destructive one apart on others). One role for all
    // three keeps the order in which the choices are offered; the choice is
    // told by the button itself.
    const auto add = [box](const QString& text, ImportChoice choice) {
        QPushButton* button = box->addButton(text, QMessageBox::ActionRole);
        button->setProperty(kImportChoiceProperty, static_cast<int>(choice));
        return button;
    };
    add(QStringLiteral("Replace existing mappings"), ImportChoice::replace);
    QPushButton* append =
        add(QStringLiteral("Append new ones to existing mappings"), ImportChoice::append);
    QPushButton* cancel = add(QStringLiteral("Cancel"), ImportChoice::cancel);
    box->setDefaultButton(append);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

ImportChoice importChoiceFor(QMessageBox* dialog, QAbstractButton* clicked) {
    if (dialog == nullptr || clicked == nullptr || !dialog->buttons().contains(clicked)) {
        return ImportChoice::cancel;
    }
    const QVariant choice = clicked->property(kImportChoiceProperty);
    if (!choice.isValid()) {
        return ImportChoice::cancel;
    }
    switch (static_cast<ImportChoice>(choice.toInt())) {
    case ImportChoice::replace:
        return ImportChoice::replace;
    case ImportChoice::append:
        return ImportChoice::append;
    case ImportChoice::cancel:
        break;
    }
    return ImportChoice::cancel;
}

QMessageBox* makeClearConfirmationDialog(QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("clearConfirmation"));
    box->setWindowTitle(QStringLiteral("Clear All Mappings"));
    makeDialogWindow(box);
    box->setText(
        QStringLiteral("Are you sure you want to clear all mappings? This cannot be undone."));
    box->setIcon(QMessageBox::Warning);
    QPushButton* clear = box->addButton(QStringLiteral("Clear All"), QMessageBox::DestructiveRole);
    markDestructive(clear);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

QMessageBox* makeFileErrorDialog(const QString& title, const QString& message, QWidget* parent,
                                 const QString& details) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("fileError"));
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    makeDialogWindow(box);
    if (thisDesktop().platform == UiPlatform::macOS) {
        // A sheet shows no window title: the title heads the message.
        box->setText(title);
        box->setInformativeText(details.isEmpty() ? message
                                                  : message + QStringLiteral("\n\n") + details);
    } else {
        box->setText(message);
        box->setInformativeText(details);
    }
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    widenMessageBox(box, 520);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

void makeDialogWindow(QWidget* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
}

namespace {

// Where the file dialogs open: the documents folder only when there is one
// (a fresh account may have none), else home.
QString startFolder() {
    const std::filesystem::path folder = defaultFileFolder(
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString(),
        QDir::homePath().toStdString());
    return QString::fromStdString(folder.string());
}

} // namespace

std::optional<std::filesystem::path> FileChooser::chooseImportFile(QWidget* parent) {
    const QString file =
        QFileDialog::getOpenFileName(parent, QStringLiteral("Import Mappings"), startFolder(),
                                     QStringLiteral("Mapping files (*.json)"));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(file.toStdString());
}

std::optional<std::filesystem::path> FileChooser::chooseExportFile(QWidget* parent,
                                                                   const QString& proposedName) {
    const QString start = QDir(startFolder()).filePath(proposedName);
    QFileDialog dialog(parent, QStringLiteral("Export Mappings"), start,
                       QStringLiteral("Mapping files (*.json)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog adds the suffix before it asks about overwriting.
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.selectFile(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString file = dialog.selectedFiles().constFirst();
    if (file.isEmpty()) {
        return std::nullopt;
    }
    // A system dialog may hand back the name exactly as typed.
    return withJsonExtension(std::filesystem::path(file.toStdString()));
}

std::filesystem::path withJsonExtension(const std::filesystem::path& chosen) {
    const std::string name = chosen.filename().string();
    if (name.empty() || name == "." || name == "..") {
        return chosen;
    }
    // Leading dots make a hidden file, not an extension: ".keys" gets one.
    const std::string::size_type firstNonDot = name.find_first_not_of('.');
    if (firstNonDot == std::string::npos) {
        return chosen;
    }
    // "keys.json", "keys.txt": the user chose an extension. "v1.2 keys" has
    // a dot but no extension (an extension is a short run of letters and
    // digits after the last dot).
    const std::string::size_type lastDot = name.rfind('.');
    if (lastDot != std::string::npos && lastDot > firstNonDot) {
        const std::string suffix = name.substr(lastDot + 1);
        const bool isExtension = !suffix.empty() && suffix.size() <= 8 &&
                                 std::all_of(suffix.begin(), suffix.end(),
                                             [](unsigned char c) { return std::isalnum(c); });
        if (isExtension) {
            return chosen;
        }
    }
    std::filesystem::path result = chosen;
    result += ".json";
    return result;
}

} // namespace chordwell::app
