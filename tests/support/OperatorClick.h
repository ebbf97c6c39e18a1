#pragma once
// A mouse click as the operator makes it: press and release at the widget's centre, delivered
// through the application, so whatever the application does with events (its error box
// included) happens as in the program.

class QWidget;

namespace testsupport {

void clickAsOperator(QWidget* widget);

} // namespace testsupport
