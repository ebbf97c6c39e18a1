#pragma once
// The program's modal dialogs behind one seam: the window system's boxes and file dialog in the
// program, recorders in tests, so that no test ever waits on a modal window.

#include <optional>
#include <string>

namespace platform {

// What the file-open dialog is asked to show.
struct OpenFileRequest {
    std::string title;         // window title
    std::string filterName;    // description of the one filter entry
    std::string filterPattern; // its pattern, e.g. "*.mdb"
    std::string defaultSuffix; // extension added to a name typed without one
    std::string initialFolder; // folder shown first
};

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A plain message box with an OK button and no icon; returns when the operator closes it.
    virtual void showMessage(const std::string& text) = 0;
    // A box with `caption`, an OK button, no icon and no owner window.
    virtual void messageBox(const std::string& text, const std::string& caption) = 0;
    // The error box in which the event loop reports an error raised out of an event handler.
    virtual void showError(const std::string& text) = 0;
    // The file-open dialog: the chosen existing file's full path, or nothing when cancelled.
    virtual std::optional<std::string> openFile(const OpenFileRequest& request) = 0;
};

// The dialogs in force: those set by setDialogs(), or the window system's.
Dialogs& dialogs();
// The window system's own dialogs (Qt's, or the Windows API's), made on first use.
Dialogs& systemDialogs();
// Puts `replacement` in force (not owned); nullptr goes back to the window system's dialogs.
void setDialogs(Dialogs* replacement);
// The replacement last put in force by setDialogs(), or nullptr while the system's are in force.
Dialogs* installedDialogs();

} // namespace platform
