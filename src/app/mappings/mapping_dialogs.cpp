#include "app/mappings/mapping_dialogs.hpp"

#include "app/controls/theme.hpp"
#include "model/key_labels.hpp"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
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

QString outputText(const OutputBehavior& behavior) {
    if (!behavior.isCustomKeySequence()) {
        return QString::fromStdString(behavior.displayLabel());
    }
    QString text = QString::fromStdString(behavior.name());
    const QString keys = QString::fromStdString(signatureText(behavior.signatures()));
    if (!keys.isEmpty()) {
        text += QStringLiteral("\n") + keys;
    }
    return text;
}

} // namespace

DeleteConfirmationDialog::DeleteConfirmationDialog(const KeyMapping& mapping, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Delete Mapping"));
    setObjectName(QStringLiteral("deleteConfirmation"));
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

    inputSummary_ = QString::fromStdString(signatureText(inputSignatures(mapping)));
    outputSummary_ = outputText(mapping.outputBehavior);
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
    deleteButton_->setDefault(true);
    deleteButton_->setAutoDefault(true);
    markDestructive(deleteButton_);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(deleteButton_);
    layout->addLayout(buttons);

    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(deleteButton_, &QPushButton::clicked, this, &QDialog::accept);
}

QMessageBox* makeImportOptionsDialog(QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("importOptions"));
    box->setWindowTitle(QStringLiteral("Import Options"));
    box->setText(QStringLiteral("Import Options"));
    box->setIcon(QMessageBox::Question);
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
    box->setWindowTitle(QStringLiteral("Clear All"));
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

QMessageBox* makeFileErrorDialog(const QString& title, const QString& message, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("fileError"));
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message);
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

std::optional<std::filesystem::path> FileChooser::chooseImportFile(QWidget* parent) {
    const QString file = QFileDialog::getOpenFileName(
        parent, QStringLiteral("Import Mappings"),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
        QStringLiteral("JSON (*.json)"));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(file.toStdString());
}

std::optional<std::filesystem::path> FileChooser::chooseExportFile(QWidget* parent,
                                                                   const QString& proposedName) {
    const QString start = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                              .filePath(proposedName);
    QFileDialog dialog(parent, QStringLiteral("Export Mappings"), start,
                       QStringLiteral("JSON (*.json)"));
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
