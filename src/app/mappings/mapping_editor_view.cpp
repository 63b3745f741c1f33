#include "app/mappings/mapping_editor_view.hpp"

#include "app/controls/symbols.hpp"
#include "app/controls/text_styles.hpp"
#include "app/mappings/recording_field.hpp"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace chordwell::app {

namespace {

const QString kToMenuStyle = QStringLiteral(
    "QToolButton { border: 1px solid palette(mid); border-radius: 4px; padding: 3px 6px; "
    "text-align: left; }"
    "QToolButton:focus { border: 2px solid palette(highlight); padding: 2px 5px; }");

} // namespace

MappingEditorView::MappingEditorView(KeyboardMappingModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("mappingEditor"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    title_ = headlineLabel(QStringLiteral("New Mapping"), this);
    outer->addWidget(title_);
    outer->addWidget(buildForm(), 1);
    addHint(outer);
    addButtons(outer);
    connectControls();
    rebuildToMenu();
    refresh();
}

// The name and the From and To fields, in an area that scrolls.
QScrollArea* MappingEditorView::buildForm() {
    auto* scroll = new QScrollArea(this);
    form_ = scroll;
    // Only its content takes the focus: the area itself would be a Tab stop
    // that shows nothing.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* inner = new QWidget(scroll);
    auto* form = new QVBoxLayout(inner);
    form->setContentsMargins(0, 4, 0, 4);

    nameField_ = new QLineEdit(inner);
    nameField_->setPlaceholderText(QStringLiteral("Mapping Name"));
    nameField_->setAccessibleName(QStringLiteral("Mapping Name"));
    nameField_->installEventFilter(this);
    form->addWidget(nameField_);

    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    grid->addWidget(new QLabel(QStringLiteral("From"), inner), 0, 0);
    fields_ = grid;
    toLabel_ = new QLabel(QStringLiteral("To"), inner);
    grid->addWidget(toLabel_, 0, 1);
    fromField_ = new RecordingField(true, inner);
    grid->addWidget(fromField_, 1, 0, Qt::AlignTop);
    grid->addLayout(buildToColumn(inner), 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    form->addLayout(grid);
    form->addStretch(1);
    scroll->setWidget(inner);
    return scroll;
}

// The menu of what a mapping may do, above the field that records keys.
QVBoxLayout* MappingEditorView::buildToColumn(QWidget* inner) {
    auto* toColumn = new QVBoxLayout();
    toColumn_ = toColumn;
    toColumn->setSpacing(4);
    toMenuButton_ = new QToolButton(inner);
    toMenuButton_->setPopupMode(QToolButton::InstantPopup);
    toMenuButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toMenuButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The outline of the rounded rectangle; with keyboard focus it
    // turns into the highlight colour, as the style's own focus frame would
    // (a style sheet border replaces that frame).
    toMenuButton_->setStyleSheet(kToMenuStyle);
    toMenuButton_->setFocusPolicy(Qt::StrongFocus);
    toMenu_ = new QMenu(toMenuButton_);
    toMenuButton_->setMenu(toMenu_);
    toColumn->addWidget(toMenuButton_);
    toField_ = new RecordingField(false, inner);
    toColumn->addWidget(toField_);
    toColumn->addStretch(1);
    return toColumn;
}

void MappingEditorView::addHint(QVBoxLayout* outer) {
    // Outside the scrolling form, so that it is never scrolled out of sight.
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("recordingHint"));
    hint_->setTextFormat(Qt::PlainText);
    hint_->setWordWrap(true);
    setSecondaryColour(hint_);
    hint_->hide();
    outer->addWidget(hint_);
}

void MappingEditorView::addButtons(QVBoxLayout* outer) {
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    clearButton_ = new QPushButton(QStringLiteral("Clear"), this);
    saveButton_ = new QPushButton(QStringLiteral("Save Mapping"), this);
    // Return anywhere in the editor saves (keyPressEvent); on a focused
    // Clear button it presses Clear, as in a dialog.
    clearButton_->setAutoDefault(true);
    saveButton_->setAutoDefault(true);
    clearButton_->installEventFilter(this);
    saveButton_->installEventFilter(this);
    buttons->addWidget(clearButton_);
    buttons->addWidget(saveButton_);
    outer->addLayout(buttons);
}

void MappingEditorView::connectControls() {
    connect(nameField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setMappingName(text.toStdString()); });
    connect(fromField_, &QAbstractButton::clicked, this, [this] { model_.toggleCaptureFrom(); });
    connect(toField_, &QAbstractButton::clicked, this, [this] { model_.toggleCaptureTo(); });
    connect(clearButton_, &QPushButton::clicked, this, [this] { model_.clearOrCancel(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { save(); });
}

void MappingEditorView::setCompact(bool compact) {
    compact_ = compact;
    // In the narrow column "To" goes under "From": side by side, neither
    // field would have room for its own placeholder.
    fields_->removeWidget(toLabel_);
    fields_->removeItem(toColumn_);
    toColumn_->setParent(nullptr); // a layout with a parent cannot be added again
    if (compact) {
        fields_->addWidget(toLabel_, 2, 0);
        fields_->addLayout(toColumn_, 3, 0);
        fields_->setColumnStretch(1, 0);
    } else {
        fields_->addWidget(toLabel_, 0, 1);
        fields_->addLayout(toColumn_, 1, 1);
        fields_->setColumnStretch(1, 1);
    }
    form_->setVerticalScrollBarPolicy(compact ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    form_->setMinimumHeight(
        compact && form_->widget() != nullptr ? form_->widget()->sizeHint().height() : 0);
}

void MappingEditorView::rebuildToMenu() {
    toMenu_->clear();
    const std::vector<ToMenuGroup> groups = model_.toMenuGroups();
    for (std::size_t g = 0; g < groups.size(); ++g) {
        QMenu* sub = toMenu_->addMenu(QString::fromStdString(groups[g].title));
        for (std::size_t i = 0; i < groups[g].itemTitles.size(); ++i) {
            sub->addAction(QString::fromStdString(groups[g].itemTitles[i]), this,
                           [this, g, i] { model_.chooseCatalogItem(g, i); });
        }
    }
    if (!groups.empty()) {
        toMenu_->addSeparator();
    }
    const std::vector<OutputBehavior>& constants = constantBehaviors();
    for (std::size_t i = 0; i < constants.size(); ++i) {
        toMenu_->addAction(QString::fromStdString(constants[i].displayLabel()), this,
                           [this, i] { model_.chooseConstantBehavior(i); });
    }
}

void MappingEditorView::refresh() {
    const QString title = QString::fromStdString(model_.editorTitle());
    if (title_->text() != title) {
        title_->setText(title);
    }
    const QString hint = QString::fromStdString(model_.recordingHint());
    if (hint_->text() != hint) {
        hint_->setText(hint);
    }
    hint_->setVisible(!hint.isEmpty());
    const QString name = QString::fromStdString(model_.mappingName);
    if (nameField_->text() != name) {
        nameField_->setText(name);
    }
    fromField_->setState(model_.fromField());
    toField_->setState(model_.toField());
    toField_->setVisible(model_.toFieldVisible());
    const QString toLabel = QString::fromStdString(model_.toMenuLabel());
    toMenuButton_->setText(toLabel);
    toMenuButton_->setAccessibleName(QStringLiteral("To: ") + toLabel);
    if (compact_) {
        // Fields come and go ("To" keys, the hint): the form stays whole.
        form_->setMinimumHeight(form_->widget()->sizeHint().height());
    }
    clearButton_->setText(QString::fromStdString(model_.clearButtonTitle()));
    saveButton_->setText(QString::fromStdString(model_.saveButtonTitle()));
    saveButton_->setEnabled(model_.saveButtonEnabled());
    if (!model_.isTextFieldFocused && nameField_->hasFocus()) {
        // A recording took the focus away from the name field.
        fromField_->setFocus(Qt::OtherFocusReason);
    }
}

void MappingEditorView::save() {
    const bool isNew = !model_.isEditingMode;
    const DeviceMapping* before = model_.selectedRecord();
    const std::size_t countBefore = before != nullptr ? before->mappings.size() : 0;
    model_.saveMapping();
    const DeviceMapping* after = model_.selectedRecord();
    if (isNew && after != nullptr && after->mappings.size() > countBefore) {
        Q_EMIT newMappingSaved();
    }
}

bool MappingEditorView::returnSaves() const {
    // While a recording runs, Return is one of the keys being recorded.
    return isEnabled() && saveButton_->isEnabled() && !model_.isCapturingFrom &&
           !model_.isCapturingTo;
}

void MappingEditorView::keyPressEvent(QKeyEvent* event) {
    // Return from any field of the editor reaches here (a line edit, the
    // recording fields and the "To" button pass it on), as a dialog's
    // default button would take it.
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (isReturn && modifiers == Qt::NoModifier) {
        if (returnSaves()) {
            save();
        }
        event->accept();
        return;
    }
    // Escape leaves an edit, as it leaves a dialog, unless a recording
    // takes the key.
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier && model_.isEditingMode &&
        !model_.isCapturingFrom && !model_.isCapturingTo) {
        model_.clearOrCancel();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MappingEditorView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && toMenuButton_ != nullptr) {
        // A style sheet takes its palette() colours once; a theme switched
        // while running would leave the "To" menu in the old colours.
        toMenuButton_->setStyleSheet(QString());
        toMenuButton_->setStyleSheet(kToMenuStyle);
    }
}

bool MappingEditorView::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == clearButton_ || watched == saveButton_) && event->type() == QEvent::KeyPress) {
        // While a recording runs Return is a key being recorded, also when
        // the focus rests on a button (Space still presses it).
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
            (model_.isCapturingFrom || model_.isCapturingTo)) {
            event->accept();
            return true;
        }
    }
    if (watched == nameField_) {
        if (event->type() == QEvent::FocusIn) {
            model_.nameFieldFocused();
        } else if (event->type() == QEvent::FocusOut) {
            model_.isTextFieldFocused = false;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace chordwell::app
