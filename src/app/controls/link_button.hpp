// A link that is one control: one Tab stop, Return or Space opens it, and
// assistive technology meets a named button rather than a label holding a
// link (which made two stops, the label and the link in it).
#pragma once

#include <QAbstractButton>
#include <QString>

namespace chordwell::app {

class LinkButton : public QAbstractButton {
    Q_OBJECT

public:
    LinkButton(const QString& text, const QString& url, QWidget* parent = nullptr);

    QString url() const { return url_; }
    /// Bold, as the help page's contact links are.
    void setBold(bool bold);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    /// Pressed: the owner opens the address (and says so if it cannot).
    void linkActivated(const QString& url);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString url_;
};

} // namespace chordwell::app
