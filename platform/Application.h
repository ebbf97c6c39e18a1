#pragma once
// The application object: Qt's, plus the event loop's error box for anything an event handler
// raises.

#include <QApplication>

#include <functional>

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

// Runs an event handler and shows anything it raises through dialogs().showError(). The form
// connects its handlers through this, so an error never unwinds through Qt's own event
// delivery, which is not written to survive it (it would leak the event's data); notify()
// remains the last resort for handlers connected otherwise.
void runHandler(const std::function<void()>& handler);

} // namespace platform
