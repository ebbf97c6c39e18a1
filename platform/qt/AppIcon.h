#pragma once
// The program's icon: a database drum with an upward arrow, at 16 and 32 pixels.

#include <QIcon>

namespace platform {

// Both sizes in one icon, for the window and the task bar.
QIcon applicationIcon();

} // namespace platform
