#include "app/controls/symbols.hpp"

#include <QFile>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>
#include <QWidget>

#include <memory>

// The icons live in a static library's resource file; make sure its data is
// registered before the first lookup, whoever links us.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace chordwell::app {
namespace {

// The colour every bundled symbol is drawn in; replaced by the tint.
constexpr const char* kDrawingColour = "#000000";

const QStringList& symbolNames() {
    static const QStringList names = {
        QStringLiteral("keyboard"),
        QStringLiteral("checkmark"),
        QStringLiteral("pencil"),
        QStringLiteral("trash"),
        QStringLiteral("xmark"),
        QStringLiteral("play.fill"),
        QStringLiteral("stop.fill"),
        QStringLiteral("record.circle.fill"),
        QStringLiteral("circle"),
        QStringLiteral("tray.and.arrow.down"),
        QStringLiteral("square.and.arrow.up"),
        QStringLiteral("gearshape"),
        QStringLiteral("shield.lefthalf.filled"),
        QStringLiteral("repeat"),
        QStringLiteral("ladybug"),
        QStringLiteral("info.circle"),
        QStringLiteral("checkmark.circle.fill"),
        QStringLiteral("power.circle"),
    };
    return names;
}

QByteArray loadResource(const QString& path) {
    static const bool registered = [] {
        initIconResources();
        return true;
    }();
    (void)registered;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

// Renders SVG data at whatever size the icon is asked for, so that symbols
// stay sharp on every screen scale. Disabled icons are drawn faded.
class SvgIconEngine : public QIconEngine {
public:
    explicit SvgIconEngine(QByteArray svg, qreal opacity = 1.0)
        : svg_(std::move(svg)), opacity_(opacity), renderer_(svg_) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State /*state*/) override {
        if (!renderer_.isValid()) {
            return;
        }
        painter->save();
        painter->setOpacity(painter->opacity() * opacity_ * (mode == QIcon::Disabled ? 0.4 : 1.0));
        // Keep the drawing square and centred whatever the rectangle's shape.
        const int side = std::min(rect.width(), rect.height());
        const QRect square(rect.x() + (rect.width() - side) / 2,
                           rect.y() + (rect.height() - side) / 2, side, side);
        renderer_.render(painter, square);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new SvgIconEngine(svg_, opacity_); }
    bool isNull() override { return !renderer_.isValid(); }
    QString key() const override { return QStringLiteral("ChordwellSvgIconEngine"); }

private:
    QByteArray svg_;
    qreal opacity_;
    QSvgRenderer renderer_;
};

QColor defaultTint() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        return QGuiApplication::palette().color(QPalette::WindowText);
    }
    return QColor(Qt::black);
}

} // namespace

QIcon symbolIcon(const QString& sfSymbolName, const QColor& tint) {
    if (!symbolNames().contains(sfSymbolName)) {
        return {};
    }
    QByteArray svg = loadResource(QStringLiteral(":/icons/%1.svg").arg(sfSymbolName));
    if (svg.isEmpty()) {
        return {};
    }
    const QColor colour = tint.isValid() ? tint : defaultTint();
    svg.replace(kDrawingColour, colour.name(QColor::HexRgb).toLatin1());
    // SVG colour values carry no alpha: a translucent tint fades the drawing.
    return QIcon(new SvgIconEngine(std::move(svg), colour.alphaF()));
}

QStringList knownSymbolNames() {
    return symbolNames();
}

QIcon applicationIcon() {
    QByteArray svg = loadResource(QStringLiteral(":/icons/chordwell.svg"));
    if (svg.isEmpty()) {
        return {};
    }
    return QIcon(new SvgIconEngine(std::move(svg)));
}

void setPointingHandCursor(QWidget* widget) {
    // Qt pushes a widget's own cursor when the pointer enters it and restores
    // the previous one when it leaves, hides or goes away, so the cursor can
    // never stay stuck as a global push / pop pair might.
    if (widget != nullptr) {
        widget->setCursor(Qt::PointingHandCursor);
    }
}

} // namespace chordwell::app
