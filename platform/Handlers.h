#pragma once
// Event handlers run through one guard: whatever a handler raises is shown to the operator in the
// error box, and the window goes on serving events.

#include <functional>

namespace platform {

// Runs an event handler and shows anything it raises through dialogs().showError(). Front ends
// call every handler of the form through this, so an error never unwinds through the window
// system's own event delivery, which is not written to survive it.
void runHandler(const std::function<void()>& handler);

} // namespace platform
