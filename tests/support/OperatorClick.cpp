#include "support/OperatorClick.h"

#include "platform/qt/QtForm.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

#include <stdexcept>

namespace testsupport {

void clickAsOperator(QWidget* widget) {
    const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QCoreApplication::sendEvent(widget, &release);
}

void clickAsOperator(const controls::TControl& control) {
    QWidget* widget = platform::QtForm::widgetOf(control);
    if (!widget)
        throw std::logic_error("clickAsOperator: the control has no Qt widget");
    clickAsOperator(widget);
}

} // namespace testsupport
