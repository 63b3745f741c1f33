#include "app/controls/ruled_panel.hpp"

#include <QPainter>

namespace chordwell::app {

RuledPanel::RuledPanel(QWidget* parent) : QWidget(parent) {}

void RuledPanel::addRule(QWidget* child, Edge edge) {
    rules_.emplace_back(child, edge);
    update();
}

void RuledPanel::clearRules() {
    rules_.clear();
    update();
}

std::vector<QLine> RuledPanel::ruleLines() const {
    std::vector<QLine> lines;
    for (const auto& [child, edge] : rules_) {
        if (child == nullptr || !child->isVisibleTo(this)) {
            continue;
        }
        const QRect r(child->mapTo(this, QPoint(0, 0)), child->size());
        // Across the container the child stands in.
        const QWidget* container = child->parentWidget();
        const QRect across = container == this || container == nullptr
                                 ? rect()
                                 : QRect(container->mapTo(this, QPoint(0, 0)), container->size());
        switch (edge) {
        case Edge::top:
            lines.emplace_back(across.left(), r.top() - 1, across.right(), r.top() - 1);
            break;
        case Edge::bottom:
            lines.emplace_back(across.left(), r.bottom() + 1, across.right(), r.bottom() + 1);
            break;
        case Edge::left:
            lines.emplace_back(r.left() - 1, r.top(), r.left() - 1, r.bottom());
            break;
        case Edge::right:
            lines.emplace_back(r.right() + 1, r.top(), r.right() + 1, r.bottom());
            break;
        }
    }
    return lines;
}

void RuledPanel::paintEvent(QPaintEvent* /*event*/) {
    const std::vector<QLine> lines = ruleLines();
    if (lines.empty()) {
        return;
    }
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    for (const QLine& line : lines) {
        painter.drawLine(line);
    }
}

} // namespace chordwell::app
