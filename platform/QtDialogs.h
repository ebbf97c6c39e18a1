#pragma once
// The program's real dialogs: Qt message boxes and Qt's file-open dialog.

#include "platform/Dialogs.h"

namespace platform {

class QtDialogs : public Dialogs {
public:
    // A box titled with the application's display name, an OK button and no icon.
    void showMessage(const std::string& text) override;
    // A box titled `caption`, an OK button, no icon, no owner window.
    void messageBox(const std::string& text, const std::string& caption) override;
    // A critical-icon box titled with the application's display name.
    void showError(const std::string& text) override;
    // QFileDialog restricted to existing files of the one filter; nullopt when cancelled.
    std::optional<std::string> openFile(const OpenFileRequest& request) override;
};

} // namespace platform
