#pragma once
// The program's one window and its event loop, on whichever window system the program is built
// for (Qt on Linux, the Windows API on Windows).

#include "controls/FormHost.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Makes the form inside the window it is given; the result lives as long as the window.
using FormMaker = std::function<std::shared_ptr<void>(controls::FormHost& window)>;

// Starts the window system with the program's arguments and `applicationTitle` (the title of its
// message boxes and task bar entry), has `makeForm` fill a top-level window, shows it centred on
// the screen and serves events until it closes. Returns the program's exit status.
int runMainWindow(int argc, char** argv, const std::string& applicationTitle,
                  const FormMaker& makeForm);

} // namespace platform
