#pragma once
// The program's real dialogs on Windows: MessageBoxW and the common file-open dialog
// (GetOpenFileNameW).

#include "platform/Dialogs.h"

namespace platform {

class Win32Dialogs : public Dialogs {
public:
    // A box titled with the application's title, an OK button and no icon, owned by the active
    // window so that it stays on top of it.
    void showMessage(const std::string& text) override;
    // A box titled `caption`, an OK button, no icon, no owner window.
    void messageBox(const std::string& text, const std::string& caption) override;
    // An error-icon box titled with the application's title.
    void showError(const std::string& text) override;
    // The common dialog restricted to existing files of the one filter, opened on the initial
    // folder; nullopt when cancelled.
    std::optional<std::string> openFile(const OpenFileRequest& request) override;
};

// The title of the program's own message boxes.
void setApplicationTitle(const std::string& title);

} // namespace platform
