#pragma once
// The application object: Qt's, plus the event loop's error box for anything an event handler
// raises.

#include "platform/Handlers.h"

#include <QApplication>

namespace platform {

class Application : public QApplication {
public:
    // Same arguments as QApplication; `argc` must outlive the object.
    Application(int& argc, char** argv);

    // Delivers the event; an exception escaping the receiver's handler is shown through
    // dialogs().showError() and the event counts as handled, so the program goes on serving
    // windows.
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace platform
