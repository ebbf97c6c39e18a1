#include "platform/Handlers.h"

#include "platform/Dialogs.h"

#include <exception>

namespace platform {

void runHandler(const std::function<void()>& handler) {
    if (!handler)
        return;
    try {
        handler();
    } catch (const std::exception& error) {
        dialogs().showError(error.what());
    } catch (...) {
        // Not ours to name, but the operator still learns that the action failed.
        dialogs().showError("Неизвестная ошибка");
    }
}

} // namespace platform
