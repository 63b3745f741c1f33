// A symbol shown as a picture in the label's text colour. The picture is
// drawn again when the palette changes (light to dark and back), so the
// symbol never stays in the colour of the theme it was first drawn for.
#pragma once

#include <QLabel>
#include <QString>

namespace chordwell::app {

class SymbolLabel : public QLabel {
    Q_OBJECT

public:
    SymbolLabel(const QString& sfSymbolName, int side, QWidget* parent = nullptr);

    QString symbol() const { return symbol_; }
    void setSymbol(const QString& sfSymbolName);

protected:
    void changeEvent(QEvent* event) override;

private:
    void redraw();

    QString symbol_;
    int side_;
};

} // namespace chordwell::app
