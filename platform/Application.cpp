#include "platform/Application.h"

#include "platform/Dialogs.h"

#include <exception>

namespace platform {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        dialogs().showError(error.what());
    } catch (...) {
        // Not ours to name, but the operator still learns that the action failed.
        dialogs().showError("Неизвестная ошибка");
    }
    return true;
}

} // namespace platform
