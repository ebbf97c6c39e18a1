#include "platform/MainWindow.h"

#include "platform/win32/Win32Dialogs.h"
#include "platform/win32/Win32Form.h"

#include <windows.h>

#include <commctrl.h>

namespace platform {

int runMainWindow(int, char**, const std::string& applicationTitle, const FormMaker& makeForm) {
    // The standard controls in the look the manifest asks for (common controls 6).
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    setApplicationTitle(applicationTitle);

    Win32Form window;
    const std::shared_ptr<void> form = makeForm(window);
    window.show();

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab, Shift+Tab, Enter and the arrow keys move between the controls as in a dialog box.
        if (!window.closed() && IsDialogMessageW(window.handle(), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace platform
