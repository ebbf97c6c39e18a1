#pragma once
// An engine that stands between the program and the real engine, registered under
// "DAO.PrivateDBEngine.36" for its lifetime. Every object it hands out wraps a real one; every
// late-bound call on any wrapped object is counted, then forwarded to the real object with object
// arguments unwrapped, and an object result comes back wrapped. A test can so watch, slow down or
// end a run at any engine call without any change to the program.

#include "automation/Registry.h"

#include <functional>
#include <memory>

namespace testsupport {

class ForwardingEngine {
public:
    // Called with the serial number of every call (1 for the first) before it is forwarded.
    using BeforeCall = std::function<void(long serial)>;

    // Registers a factory that creates an engine through `real` and wraps it; `real` must be a
    // working factory (take it with automation::registeredClass before this replaces it).
    explicit ForwardingEngine(automation::Factory real, BeforeCall beforeCall = {});
    ~ForwardingEngine();
    ForwardingEngine(const ForwardingEngine&) = delete;
    ForwardingEngine& operator=(const ForwardingEngine&) = delete;

    // How many calls the wrapped objects have received so far.
    long calls() const;

    struct State; // shared by the wrappers; defined with them

private:
    std::shared_ptr<State> state_;
    automation::ScopedRegistration registration_;
};

} // namespace testsupport
