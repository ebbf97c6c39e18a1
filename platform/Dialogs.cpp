#include "platform/Dialogs.h"

namespace platform {

namespace {

Dialogs* replacement = nullptr;

} // namespace

Dialogs& dialogs() {
    if (replacement)
        return *replacement;
    return systemDialogs();
}

void setDialogs(Dialogs* dialogs) {
    replacement = dialogs;
}

Dialogs* installedDialogs() {
    return replacement;
}

} // namespace platform
