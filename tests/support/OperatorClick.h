#pragma once
// A mouse click as the operator makes it: press and release at the widget's centre, delivered
// through the application, so whatever the application does with events (its error box
// included) happens as in the program.

class QWidget;

namespace controls {
class TControl;
}

namespace testsupport {

void clickAsOperator(QWidget* widget);
// Clicks the Qt widget behind a control that a platform::QtForm made.
void clickAsOperator(const controls::TControl& control);

} // namespace testsupport
