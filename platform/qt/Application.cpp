#include "platform/qt/Application.h"

namespace platform {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    bool handled = true;
    runHandler([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace platform
