#include "app/diagnostics/diagnostics_view.hpp"

#include "app/controls/symbols.hpp"
#include "app/controls/text_styles.hpp"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <vector>

namespace chordwell::app {
namespace {

// Lays its items out in a row and wraps onto the next line when the row is
// full, so the three buttons stay whole whatever the font and the length of
// the system's name for its file manager.
class FlowLayout : public QLayout {
public:
    explicit FlowLayout(int spacing) { setSpacing(spacing); }
    ~FlowLayout() override {
        while (QLayoutItem* item = takeAt(0)) {
            delete item;
        }
    }
    FlowLayout(const FlowLayout&) = delete;
    FlowLayout& operator=(const FlowLayout&) = delete;

    void addItem(QLayoutItem* item) override { items_.push_back(item); }
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override {
        return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
    }
    QLayoutItem* takeAt(int index) override {
        if (index < 0 || index >= count()) {
            return nullptr;
        }
        QLayoutItem* item = items_[static_cast<std::size_t>(index)];
        items_.erase(items_.begin() + index);
        return item;
    }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }
    QSize sizeHint() const override {
        // One row when there is room for it.
        int width = 0;
        int height = 0;
        for (const QLayoutItem* item : items_) {
            const QSize hint = item->sizeHint();
            width += hint.width() + (width > 0 ? spacing() : 0);
            height = std::max(height, hint.height());
        }
        const QMargins m = contentsMargins();
        return {width + m.left() + m.right(), height + m.top() + m.bottom()};
    }
    QSize minimumSize() const override {
        QSize size;
        for (const QLayoutItem* item : items_) {
            size = size.expandedTo(item->minimumSize());
        }
        const QMargins m = contentsMargins();
        return size + QSize(m.left() + m.right(), m.top() + m.bottom());
    }
    void setGeometry(const QRect& rect) override {
        QLayout::setGeometry(rect);
        arrange(rect, true);
    }

private:
    int arrange(const QRect& rect, bool apply) const {
        const QRect area = rect.marginsRemoved(contentsMargins());
        int x = area.x();
        int y = area.y();
        int lineHeight = 0;
        for (QLayoutItem* item : items_) {
            const QSize hint = item->sizeHint();
            if (x > area.x() && x + hint.width() > area.right() + 1) {
                x = area.x();
                y += lineHeight + spacing();
                lineHeight = 0;
            }
            if (apply) {
                item->setGeometry(QRect(QPoint(x, y), hint));
            }
            x += hint.width() + spacing();
            lineHeight = std::max(lineHeight, hint.height());
        }
        return y + lineHeight - rect.y() + contentsMargins().bottom();
    }

    std::vector<QLayoutItem*> items_;
};

} // namespace

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

    auto* buttons = new FlowLayout(8);
    saveButton_ = new QPushButton(QStringLiteral("Save Diagnostics…"));
    revealButton_ = new QPushButton(QString::fromStdString(revealButtonTitle()));
    emailButton_ = new QPushButton(QStringLiteral("Email Diagnostics"));
    for (QPushButton* button : {saveButton_, revealButton_, emailButton_}) {
        button->setAutoDefault(false);
        setPointingHandCursor(button);
        buttons->addWidget(button);
    }
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
    QFileDialog dialog(window(), tr("Save Diagnostics"), folder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Plain text only: a name typed without an extension gets ".txt".
    dialog.setNameFilter(tr("Plain text (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QString::fromStdString(proposedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString chosen = dialog.selectedFiles().constFirst();
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(chosen.toStdString());
}

} // namespace chordwell::app
