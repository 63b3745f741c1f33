// The mapping editor pane: name, "From" recording, "To" menu and recording,
// Clear / Cancel and Save Mapping / Edit Mapping.
#pragma once

#include "app/mappings/keyboard_mapping_model.hpp"

#include <QWidget>

class QGridLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace chordwell::app {

class RecordingField;

class MappingEditorView : public QWidget {
    Q_OBJECT

public:
    explicit MappingEditorView(KeyboardMappingModel& model, QWidget* parent = nullptr);

    /// Redraws from the model (and the engine under it).
    void refresh();

    QLineEdit* nameField() const { return nameField_; }
    RecordingField* fromField() const { return fromField_; }
    RecordingField* toField() const { return toField_; }
    QToolButton* toMenuButton() const { return toMenuButton_; }
    QMenu* toMenu() const { return toMenu_; }
    QPushButton* clearButton() const { return clearButton_; }
    QPushButton* saveButton() const { return saveButton_; }
    QLabel* title() const { return title_; }
    /// Where to type and how to stop, while a recording runs.
    QLabel* recordingHint() const { return hint_; }

    /// In a scrolling column: the form is as tall as its content instead of
    /// scrolling by itself.
    void setCompact(bool compact);

    /// "Save Mapping" / "Edit Mapping", from the button or Return.
    void save();
    /// Whether Return saves now: the button is enabled and no recording
    /// would take the key.
    bool returnSaves() const;

Q_SIGNALS:
    /// A new mapping was added to the selected keyboard's list (its last row).
    void newMappingSaved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The editor's parts, top to bottom, then their signals.
    QScrollArea* buildForm();
    QVBoxLayout* buildToColumn(QWidget* inner);
    void addHint(QVBoxLayout* outer);
    void addButtons(QVBoxLayout* outer);
    void connectControls();
    void rebuildToMenu();

    KeyboardMappingModel& model_;
    QLabel* title_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    RecordingField* fromField_ = nullptr;
    RecordingField* toField_ = nullptr;
    QToolButton* toMenuButton_ = nullptr;
    QMenu* toMenu_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QLabel* hint_ = nullptr;
    QScrollArea* form_ = nullptr;
    QGridLayout* fields_ = nullptr;
    QLabel* toLabel_ = nullptr;
    QLayout* toColumn_ = nullptr;
    bool compact_ = false;
};

} // namespace chordwell::app
