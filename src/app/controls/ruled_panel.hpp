// A container that draws thin rules between its children. The rules are
// paint, not widgets, so assistive technology has no separators to walk
// through and announce.
#pragma once

#include <QPointer>
#include <QWidget>

#include <utility>
#include <vector>

namespace chordwell::app {

class RuledPanel : public QWidget {
    Q_OBJECT

public:
    enum class Edge { top, bottom, left, right };

    explicit RuledPanel(QWidget* parent = nullptr);

    /// Draws a rule along `edge` of `child` (a widget inside this panel),
    /// just outside it: across the whole panel for a top or bottom edge,
    /// along the child's height for a left or right one. Nothing is drawn
    /// while the child is hidden. The layout leaves a pixel for it.
    void addRule(QWidget* child, Edge edge);
    void clearRules();
    /// Where the rules are, in this panel's coordinates (for tests).
    std::vector<QLine> ruleLines() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::pair<QPointer<QWidget>, Edge>> rules_;
};

} // namespace chordwell::app
