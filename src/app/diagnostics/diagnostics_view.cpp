#include "app/diagnostics/diagnostics_view.hpp"

#include "app/controls/symbols.hpp"
#include "app/controls/text_styles.hpp"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace chordwell::app {

DiagnosticsView::DiagnosticsView(platform::Desktop& desktop, DiagnosticsSources sources,
                                 QWidget* parent)
    : DiagnosticsView(desktop, std::move(sources), DiagnosticsIdentity::current(), parent) {}

DiagnosticsView::DiagnosticsView(platform::Desktop& desktop, DiagnosticsSources sources,
                                 DiagnosticsIdentity identity, QWidget* parent)
    : QWidget(parent), model_(desktop, std::move(sources), std::move(identity)) {
    chooser_ = [this](const std::string& proposedName) {
        return askForPath(proposedName);
    };
    build();
}

void DiagnosticsView::setSavePathChooser(DiagnosticsModel::SavePathChooser chooser) {
    chooser_ = std::move(chooser);
}

void DiagnosticsView::reset() {
    model_.resetConfirmation();
    refreshStatus();
}

void DiagnosticsView::build() {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 4, 0, 0);
    stack->setSpacing(8);

    auto* intro =
        new QLabel(QStringLiteral("If something goes wrong, share your logs so we can help."));
    intro->setWordWrap(true);
    makeSecondaryCaption(intro);
    stack->addWidget(intro);

    auto* supportRow = new QHBoxLayout;
    supportRow->setSpacing(6);
    auto* supportLabel = new QLabel(QStringLiteral("Support:"));
    makeSecondaryCaption(supportLabel);
    auto* address = new QLabel(QString::fromStdString(model_.identity().supportEmail));
    address->setObjectName(QStringLiteral("supportAddress"));
    address->setTextFormat(Qt::PlainText);
    address->setFont(monospacedFont(captionFont(font())));
    address->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    supportRow->addWidget(supportLabel);
    supportRow->addWidget(address);
    supportRow->addStretch(1);
    stack->addLayout(supportRow);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    saveButton_ = new QPushButton(QStringLiteral("Save Diagnostics…"));
    revealButton_ = new QPushButton(QString::fromStdString(revealButtonTitle()));
    emailButton_ = new QPushButton(QStringLiteral("Email Diagnostics"));
    for (QPushButton* button : {saveButton_, revealButton_, emailButton_}) {
        button->setAutoDefault(false);
        setPointingHandCursor(button);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    stack->addLayout(buttons);

    statusLabel_ = new QLabel;
    statusLabel_->setObjectName(QStringLiteral("diagnosticsStatus"));
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setWordWrap(true);
    statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    makeSecondaryCaption(statusLabel_);
    stack->addWidget(statusLabel_);

    connect(saveButton_, &QPushButton::clicked, this, [this] {
        model_.saveDiagnostics(chooser_);
        refreshStatus();
    });
    connect(revealButton_, &QPushButton::clicked, this, [this] {
        model_.revealLog();
        refreshStatus();
    });
    connect(emailButton_, &QPushButton::clicked, this, [this] {
        model_.emailDiagnostics();
        refreshStatus();
    });
    refreshStatus();
}

void DiagnosticsView::refreshStatus() {
    const std::optional<std::string>& status = model_.savedConfirmation();
    statusLabel_->setText(status ? QString::fromStdString(*status) : QString());
    statusLabel_->setVisible(status.has_value());
}

std::optional<std::filesystem::path> DiagnosticsView::askForPath(const std::string& proposedName) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    const QString chosen = QFileDialog::getSaveFileName(
        window(), tr("Save Diagnostics"),
        QDir(folder).filePath(QString::fromStdString(proposedName)), tr("Plain text (*.txt)"));
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(chosen.toStdString());
}

} // namespace chordwell::app
