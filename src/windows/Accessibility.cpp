#include "Accessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace {

const char* const oneElementRole = "connectorAccessibleOneElement";

class OneElement : public QAccessibleWidget {
public:
    OneElement(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};

QAccessibleInterface* oneElementFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    const QVariant role = object ? object->property(oneElementRole) : QVariant();
    return widget && role.isValid() ? new OneElement(widget, QAccessible::Role(role.toInt())) : nullptr;
}

} // namespace

namespace Accessibility {

void oneElement(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(oneElementFactory);
        return true;
    }();
    (void)installed;
    widget->setProperty(oneElementRole, int(role));
}

} // namespace Accessibility
