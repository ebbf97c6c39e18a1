#pragma once
// The program's form in a Qt window, as the program shows it. The window, and with it the panels'
// windows, goes before the form and its panels, so no panel window outlives its panel.

#include "forms/M_Patch16.h"
#include "platform/qt/QtForm.h"

#include <QCoreApplication>

#include <memory>
#include <string>

namespace testsupport {

// Holds the window, made before the form that fills it.
struct QtWindowHolder {
    std::unique_ptr<platform::QtForm> qtWindow = std::make_unique<platform::QtForm>();
};

class FormWindow : public QtWindowHolder, public TForm1 {
public:
    // The form made in a new window with `programFolder` (ending in a separator); not shown yet.
    explicit FormWindow(const std::string& programFolder) : TForm1(*qtWindow, programFolder) {}
    ~FormWindow() { qtWindow.reset(); }

    platform::QtForm& window() { return *qtWindow; }
    // Shows the window and lets it be exposed, so the meter's repaints really paint.
    void show() {
        qtWindow->show();
        QCoreApplication::processEvents();
    }
};

} // namespace testsupport
