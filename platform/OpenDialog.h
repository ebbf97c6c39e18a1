#pragma once
// The file-open dialog as a form component: its settings live in the object, and Execute() shows
// it through the dialogs in force.

#include "platform/Dialogs.h"

#include <string>

namespace platform {

class TOpenDialog {
public:
    // What the dialog shows; the form fills it in once.
    OpenFileRequest request;

    // Shows the dialog modally; on confirmation stores the chosen file in FileName() and returns
    // true; on cancellation returns false and keeps FileName() as it was.
    bool Execute();
    // The full path of the file last confirmed (empty until then).
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};

} // namespace platform
