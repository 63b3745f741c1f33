#include "app/controls/window_role.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace chordwell::app {

namespace {

constexpr const char* kRoleProperty = "chordwellAccessibleRole";

QAccessibleInterface* windowRoleFactory(const QString& /*className*/, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    const QVariant role = object->property(kRoleProperty);
    if (!role.isValid()) {
        return nullptr;
    }
    return new QAccessibleWidget(static_cast<QWidget*>(object),
                                 static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void announceAsWindow(QWidget* window, bool dialog) {
    static const bool installed = [] {
        QAccessible::installFactory(&windowRoleFactory);
        return true;
    }();
    (void)installed;
    window->setProperty(kRoleProperty,
                        static_cast<int>(dialog ? QAccessible::Dialog : QAccessible::Window));
}

} // namespace chordwell::app
