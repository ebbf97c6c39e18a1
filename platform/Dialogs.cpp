#include "platform/Dialogs.h"

#include "platform/QtDialogs.h"

namespace platform {

namespace {

Dialogs* replacement = nullptr;

} // namespace

Dialogs& dialogs() {
    if (replacement)
        return *replacement;
    static QtDialogs qtDialogs;
    return qtDialogs;
}

void setDialogs(Dialogs* dialogs) {
    replacement = dialogs;
}

Dialogs* installedDialogs() {
    return replacement;
}

} // namespace platform
