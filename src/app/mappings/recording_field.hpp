// A recording field of the mapping editor: a plain button that shows the
// recorded keys (and, for "From", the HID usages below them) or a
// placeholder, with a green outline and dot while it records.
#pragma once

#include "app/mappings/keyboard_mapping_model.hpp"

#include <QAbstractButton>

namespace chordwell::app {

class RecordingField : public QAbstractButton {
    Q_OBJECT

public:
    /// `isFromField`: shows the usages line and uses the "From" rules.
    explicit RecordingField(bool isFromField, QWidget* parent = nullptr);

    void setState(const RecordingFieldState& state);
    const RecordingFieldState& state() const { return state_; }

    /// The main line as drawn: the keys, or the placeholder.
    QString mainText() const;
    /// The usages line ("" when none is drawn).
    QString detailText() const;

    /// The outline and symbol of a running recording.
    static QColor recordingColour(const QPalette& palette);
    /// The placeholder, the usages line and the idle outline.
    static QColor secondaryColour(const QPalette& palette, bool enabled);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    /// The shown state follows the model only (setState), never a click.
    void nextCheckState() override;

private:
    void updateAccessibleText();

    bool isFromField_;
    RecordingFieldState state_;
};

} // namespace chordwell::app
