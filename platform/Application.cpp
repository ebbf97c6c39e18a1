#include "platform/Application.h"

#include "platform/Dialogs.h"

#include <exception>

namespace platform {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

void runHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        dialogs().showError(error.what());
    } catch (...) {
        // Not ours to name, but the operator still learns that the action failed.
        dialogs().showError("Неизвестная ошибка");
    }
}

bool Application::notify(QObject* receiver, QEvent* event) {
    bool handled = true;
    runHandler([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace platform
