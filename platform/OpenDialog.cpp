#include "platform/OpenDialog.h"

namespace platform {

bool TOpenDialog::Execute() {
    std::optional<std::string> chosen = dialogs().openFile(request);
    if (!chosen)
        return false;
    fileName_ = std::move(*chosen);
    return true;
}

} // namespace platform
